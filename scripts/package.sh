#!/usr/bin/env bash
# Builds the Debian packages (vantrel and vantrel-headless) from this tree and
# checks them with lintian and desktop-file-validate.
#
#   scripts/package.sh [OUTDIR]
#
# OUTDIR (default: $TMPDIR/vantrel-package or /tmp/vantrel-package) receives
# the .deb, .changes and .buildinfo files; the tree is copied to OUTDIR/build
# first, so the checkout gets no build files and its parent folder none of
# dpkg-buildpackage's results. The last line printed is OUTDIR.
# VANTREL_JOBS (default 2) caps the parallel compile jobs.
source "$(dirname "$0")/common.sh"

need_packages build-essential debhelper dpkg-dev cmake ninja-build pkg-config \
  libc-ares-dev qt6-base-dev lintian desktop-file-utils

out="${1:-${TMPDIR:-/tmp}/vantrel-package}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
jobs="${VANTREL_JOBS:-2}"

version="$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)"
upstream="${version%-*}"
work="$out/build"
src="$work/vantrel-$upstream"
rm -rf "$work"
mkdir -p "$src"

# The files a checkout holds, committed or not, without build folders or
# anything .gitignore names.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    tar --null --no-recursion -T - -cf -) | tar -xf - -C "$src"
else
  tar -C "$root" --exclude='./build*' --exclude='./fuzz/corpus-*' -cf - . | tar -xf - -C "$src"
fi

echo "== dpkg-buildpackage in $src"
options="${DEB_BUILD_OPTIONS:-}"
case " $options " in *" parallel="*) ;; *) options="$options parallel=$jobs" ;; esac
(cd "$src" && DEB_BUILD_OPTIONS="${options# }" dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 || {
  tail -n 60 "$work/build.log"
  echo "dpkg-buildpackage failed; the whole log: $work/build.log" >&2
  exit 1
}

# Results of an earlier run in OUTDIR would be mistaken for this one's.
rm -f "$out"/vantrel*_*.deb "$out"/vantrel_*.changes "$out"/vantrel_*.buildinfo
mv "$work"/vantrel*_"${version}"_*.deb "$work"/vantrel_"${version}"_*.changes \
  "$work"/vantrel_"${version}"_*.buildinfo "$out"/
changes="$(ls "$out"/vantrel_"${version}"_*.changes)"

status=0
echo "== lintian"
# Checks the .changes, and with it every .deb it lists.
lintian --fail-on error --info --display-level '>=warning' "$changes" || status=1

echo "== desktop-file-validate"
for desktop in "$root/packaging/vantrel.desktop" "$root/packaging/autostart/vantrel.desktop"; do
  desktop-file-validate "$desktop" || { echo "invalid: $desktop" >&2; status=1; }
done
# The file the package really installs.
unpacked="$work/unpacked"
dpkg-deb -x "$out"/vantrel_"${version}"_*.deb "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/vantrel.desktop" || status=1

if [ $status -ne 0 ]; then
  echo "PACKAGE CHECKS FAILED" >&2
  exit 1
fi
ls -1 "$out"/*.deb
echo "$out"
