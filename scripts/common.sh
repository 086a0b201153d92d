# Shared by run.sh and test.sh: installs what a fresh Debian 12 machine lacks.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

build_packages=(cmake ninja-build g++ pkg-config libc-ares-dev)
# The desktop window; without it the build is the headless program only.
gui_packages=(qt6-base-dev)
# A display for the window's screenshots, without a screen.
xvfb_packages=(xvfb xauth)

# A fresh private runtime folder for Qt (it warns about a shared one and
# keeps its local sockets there).
fresh_runtime_dir() {
  local dir
  dir="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-xdg-XXXXXX")"
  chmod 0700 "$dir"
  echo "$dir"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir="$1"; shift
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$root/$dir"
}

# fetch_tor_geoip DIR: extracts Debian's tor-geoipdb (Tor's IPv4 country data)
# into DIR/tor-geoipdb without installing tor, for the import test on real
# data. Prints the data file's path; prints nothing when the package cannot be
# had, and that test is then skipped.
fetch_tor_geoip() {
  local dir="$1" file="$1/tor-geoipdb/usr/share/tor/geoip" work
  if [ ! -f "$file" ]; then
    work="$(mktemp -d)" || return 0
    if (cd "$work" && apt-get download tor-geoipdb) >/dev/null 2>&1; then
      mkdir -p "$dir" && dpkg-deb -x "$work"/tor-geoipdb_*.deb "$dir/tor-geoipdb" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
  fi
  if [ -f "$file" ]; then echo "$file"; fi
  return 0
}
