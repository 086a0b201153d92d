#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh), then installs vantrel-headless
# and, over it, vantrel, and checks each installed program: a proxy on loopback
# in front of a loopback origin, its default data folder, its signals, the
# logrotate example, the desktop window on a virtual display, and, where
# systemd runs, the service. Purges both packages at the end. Needs root (it
# installs packages).
#
#   scripts/package-test.sh [OUTDIR]     (OUTDIR is handed to package.sh)
source "$(dirname "$0")/common.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test.sh installs and purges packages: run it as root" >&2
  exit 1
fi
need_packages curl python3 logrotate xvfb xauth

for p in vantrel vantrel-headless; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    echo "$p is installed already; this test installs and purges its own build: remove $p first" >&2
    exit 1
  fi
done

out="${1:-${TMPDIR:-/tmp}/vantrel-package}"
bash "$root/scripts/package.sh" "$out"
out="$(cd "$out" && pwd)"
version="$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)"
arch="$(dpkg --print-architecture)"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-package-test.XXXXXX")"
failures=0
service_unit=""
service_state=""

cleanup() {
  local pid
  # Only this script's own background jobs that are still running.
  for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
  if [ -n "$service_unit" ]; then
    systemctl stop "$service_unit" >/dev/null 2>&1 || true
    systemctl reset-failed "$service_unit" >/dev/null 2>&1 || true
  fi
  if [ -n "$service_state" ]; then
    rm -rf "/var/lib/private/$service_state" "/var/lib/$service_state"
  fi
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vantrel vantrel-headless >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_until TENTHS COMMAND...: runs COMMAND every 0.1 s until it succeeds or
# TENTHS tries have passed.
wait_until() {
  local tries="$1"; shift
  local i
  for ((i = 0; i < tries; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# A loopback origin with one known file.
origin_dir="$scratch/origin"
mkdir -p "$origin_dir"
body="vantrel package test $$ $RANDOM"
echo "$body" >"$origin_dir/hello.txt"
origin_port="$(free_port)"
python3 -m http.server --bind 127.0.0.1 --directory "$origin_dir" "$origin_port" >/dev/null 2>&1 &
origin_url="http://127.0.0.1:$origin_port/hello.txt"
origin_up() { curl -fsS --noproxy '*' -o /dev/null "$origin_url" 2>/dev/null; }
if ! wait_until 100 origin_up; then
  echo "the loopback origin on port $origin_port did not start" >&2
  exit 1
fi

# The installed program's process, its port and its output (set by start_proxy).
proxy_pid=""
proxy_port=""
proxy_out=""

proxy_started() { grep -q "Proxy Started" "$proxy_out" 2>/dev/null; }
proxy_alive() { kill -0 "$proxy_pid" 2>/dev/null; }
proxy_gone() { ! kill -0 "$proxy_pid" 2>/dev/null; }

# start_proxy NAME ENV...: runs /usr/bin/vantrel --headless --port N with the
# given environment and waits until it listens. A port taken meanwhile by
# someone else is tried again with another one.
start_proxy() {
  local name="$1"; shift
  local _
  for _ in 1 2 3; do
    proxy_port="$(free_port)"
    proxy_out="$scratch/$name.out"
    env -u XDG_CONFIG_HOME "$@" /usr/bin/vantrel --headless --port "$proxy_port" \
      >"$proxy_out" 2>"$scratch/$name.err" &
    proxy_pid=$!
    if wait_until 100 proxy_started; then return 0; fi
    if proxy_alive; then kill "$proxy_pid"; fi
    wait "$proxy_pid" 2>/dev/null || true
    grep -q "in use" "$scratch/$name.err" || break
  done
  cat "$proxy_out" "$scratch/$name.err" >&2
  return 1
}

# stop_proxy SIGNAL: sends SIGNAL and sets proxy_status to the exit status
# (or "timeout").
proxy_status=""
stop_proxy() {
  kill -s "$1" "$proxy_pid" 2>/dev/null || true
  if ! wait_until 100 proxy_gone; then
    kill -KILL "$proxy_pid" 2>/dev/null || true
    proxy_status=timeout
    return
  fi
  proxy_status=0
  wait "$proxy_pid" || proxy_status=$?
}

fetch_through_proxy() {
  curl -fsS --max-time 10 -x "http://127.0.0.1:$proxy_port" "$origin_url"
}

check_installed_files() {
  local package="$1" f
  for f in /usr/bin/vantrel /usr/share/man/man1/vantrel.1.gz /lib/systemd/system/vantrel.service \
    /usr/lib/systemd/user/vantrel.service "/usr/share/doc/$package/examples/vantrel.logrotate" \
    "/usr/share/doc/$package/copyright"; do
    if [ "$(dpkg-query -S "$f" 2>/dev/null | cut -d: -f1)" = "$package" ]; then
      pass "$package owns $f"
    else
      fail "$f is not installed by $package ($(dpkg-query -S "$f" 2>&1 | head -n 1))"
    fi
  done
  if [ "$package" = vantrel ]; then
    for f in /usr/share/applications/vantrel.desktop /usr/share/icons/hicolor/scalable/apps/vantrel.svg; do
      [ "$(dpkg-query -S "$f" 2>/dev/null | cut -d: -f1)" = vantrel ] && pass "vantrel owns $f" ||
        fail "$f is not installed by vantrel"
    done
  fi
  # Installing must not switch the services on.
  if [ -e /etc/systemd/system/multi-user.target.wants/vantrel.service ]; then
    fail "$package enabled the system service"
  else
    pass "$package leaves the system service disabled"
  fi
  if [ -d /run/systemd/system ] && systemctl is-active --quiet vantrel.service; then
    fail "$package started the system service"
  fi
  if [ -e /etc/systemd/user/default.target.wants/vantrel.service ]; then
    fail "$package enabled the user service for every user"
  else
    pass "$package leaves the user service disabled"
  fi
  # It reports unknown or unusable settings but still exits 0 for them.
  if systemd-analyze verify --man=no /lib/systemd/system/vantrel.service \
    /usr/lib/systemd/user/vantrel.service >"$scratch/verify.out" 2>&1 &&
    [ ! -s "$scratch/verify.out" ]; then
    pass "systemd-analyze verify accepts both units"
  else
    fail "systemd-analyze verify: $(cat "$scratch/verify.out")"
  fi
}

check_command_line() {
  local package="$1" status version expected
  # The program's version is the package's upstream version.
  version="$(dpkg-query -W -f='${Version}' "$package")"
  expected="Vantrel v${version%-*}"
  if [ "$(/usr/bin/vantrel --version)" = "$expected" ]; then pass "$package: --version"; else
    fail "$package: --version printed '$(/usr/bin/vantrel --version)', not '$expected'"; fi
  /usr/bin/vantrel --help >/dev/null && pass "$package: --help exits 0" || fail "$package: --help"
  status=0
  /usr/bin/vantrel --no-such-option >/dev/null 2>&1 || status=$?
  [ "$status" -eq 2 ] && pass "$package: a bad option exits 2" || fail "$package: a bad option exited $status"
}

# The default data folder of a program under /usr: ~/.config/vantrel, made
# by the program, and nothing of it in /usr/bin.
check_default_data_folder() {
  local package="$1" home="$scratch/home-$1" f stray=""
  mkdir -p "$home"
  if ! start_proxy "$package-home" HOME="$home"; then
    fail "$package: the installed program did not start"
    return
  fi
  if [ "$(fetch_through_proxy)" = "$body" ]; then pass "$package: a request through the proxy"; else
    fail "$package: no answer from the origin through the proxy"; fi
  stop_proxy TERM
  [ "$proxy_status" = 0 ] && pass "$package: SIGTERM ends it with 0" ||
    fail "$package: SIGTERM: exit status $proxy_status"
  local folder="$home/.config/vantrel"
  if grep -qF "data folder \"$folder\"" "$proxy_out" && [ -d "$folder/log" ]; then
    pass "$package: uses $folder"
  else
    fail "$package: did not use $folder: $(grep -F 'data folder' "$proxy_out")"
  fi
  for f in "$folder"/* "$folder"/.[!.]*; do
    [ -e "$f" ] || continue
    if [ -e "/usr/bin/$(basename "$f")" ]; then stray="$stray /usr/bin/$(basename "$f")"; fi
  done
  [ -z "$stray" ] && pass "$package: none of its files in /usr/bin" || fail "$package: files in /usr/bin:$stray"
}

# Signals, with $XDG_CONFIG_HOME set and the log file switched on.
check_signals() {
  local package="$1" xdg="$scratch/xdg-$1" log
  mkdir -p "$xdg/vantrel"
  printf '[CONFIG]\nWriteLog=1\n' >"$xdg/vantrel/proxy.ini"
  if ! start_proxy "$package-signals" HOME="$scratch/nohome" XDG_CONFIG_HOME="$xdg"; then
    fail "$package: the installed program did not start with XDG_CONFIG_HOME"
    return
  fi
  [ "$(fetch_through_proxy)" = "$body" ] || fail "$package: no answer through the proxy"
  kill -USR1 "$proxy_pid" 2>/dev/null || fail "$package: the program ended before SIGUSR1"
  wait_until 50 grep -q "^Local Internet:" "$proxy_out" && pass "$package: SIGUSR1 prints the totals" ||
    fail "$package: no totals after SIGUSR1"
  kill -HUP "$proxy_pid" 2>/dev/null || fail "$package: the program ended before SIGHUP"
  wait_until 50 grep -q "Configuration reloaded" "$proxy_out" && pass "$package: SIGHUP reloads" ||
    fail "$package: no reload after SIGHUP"
  proxy_alive || fail "$package: SIGHUP ended the program"
  stop_proxy TERM
  [ "$proxy_status" = 0 ] || fail "$package: SIGTERM: exit status $proxy_status"
  log="$xdg/vantrel/log/$(date +%Y%m%d).log"
  if grep -q "received from Client 127.0.0.1" "$log" 2>/dev/null && grep -q "Configuration reloaded" "$log"; then
    pass "$package: the day's log file holds the request and the reload"
  else
    fail "$package: $log lacks the request or the reload"
  fi
  grep -q '^WriteLog=1' "$xdg/vantrel/proxy.ini" || fail "$package: proxy.ini lost its setting"
  [ ! -e "$scratch/nohome" ] || fail "$package: wrote into HOME although XDG_CONFIG_HOME was set"
}

# The shipped logrotate example on a scratch copy of the log folder: a
# finished day is compressed, today's file is left alone, and compressed
# days older than 90 days go.
check_logrotate_example() {
  local package="$1" dir="$scratch/logrotate-$1"
  local example="/usr/share/doc/$package/examples/vantrel.logrotate"
  local today old ancient
  today="$(date +%Y%m%d)"
  old="$(date -d '3 days ago' +%Y%m%d)"
  ancient="$(date -d '120 days ago' +%Y%m%d)"
  mkdir -p "$dir/log"
  sed "s#/var/lib/vantrel/log#$dir/log#g" "$example" >"$dir/conf"
  echo today >"$dir/log/$today.log"
  echo old >"$dir/log/$old.log"
  touch -d '3 days ago' "$dir/log/$old.log"
  echo ancient | gzip >"$dir/log/$ancient.log.1.gz"
  touch -d '120 days ago' "$dir/log/$ancient.log.1.gz"
  # As if logrotate had seen both files two days ago (it rotates nothing on
  # first sight).
  {
    echo "logrotate state -- version 2"
    echo "\"$dir/log/$today.log\" $(date -d '2 days ago' +%Y-%-m-%-d-%-H:0:0)"
    echo "\"$dir/log/$old.log\" $(date -d '2 days ago' +%Y-%-m-%-d-%-H:0:0)"
  } >"$dir/state"
  if ! logrotate -s "$dir/state" "$dir/conf" >"$dir/out" 2>&1; then
    fail "$package: logrotate refused the example: $(cat "$dir/out")"
    return
  fi
  if [ "$(cat "$dir/log/$today.log" 2>/dev/null)" = today ] &&
    [ "$(zcat "$dir/log/$old.log.1.gz" 2>/dev/null)" = old ] && [ ! -e "$dir/log/$old.log" ] &&
    [ ! -e "$dir/log/$ancient.log.1.gz" ]; then
    pass "$package: the logrotate example compresses finished days and removes old ones"
  else
    fail "$package: the logrotate example left: $(ls "$dir/log")"
  fi
}

service_ended() { [ "$(systemctl show -p SubState --value "$service_unit")" != running ]; }

# The desktop program on a virtual X display (loopback only: -nolisten tcp),
# with "Start Proxy Automatically" on: it opens its window, proxies, and ends
# with status 0 on SIGTERM. Without a display it refuses with status 2.
check_window() {
  local home="$scratch/home-window" display_file="$scratch/display" xvfb_pid display status=0
  if ! ldd /usr/bin/vantrel | grep -q libQt6Widgets; then
    echo "NOTE: this vantrel was built without the window (no Qt linked); its window is not tested"
    return
  fi
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" /usr/bin/vantrel >/dev/null 2>&1 ||
    status=$?
  [ "$status" = 2 ] && pass "vantrel: without a display it exits 2" ||
    fail "vantrel: without a display it exited $status"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  display_ready() { [ -s "$display_file" ]; }
  if ! wait_until 100 display_ready; then
    fail "vantrel: Xvfb did not start"
    return
  fi
  display=":$(head -n 1 "$display_file")"
  install -d -m 0700 "$scratch/runtime"
  mkdir -p "$home/.config/vantrel"
  printf '[CONFIG]\nStartAutomatically=1\n' >"$home/.config/vantrel/proxy.ini"
  proxy_port="$(free_port)"
  proxy_out="$scratch/window.out"
  env -u WAYLAND_DISPLAY HOME="$home" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    XDG_RUNTIME_DIR="$scratch/runtime" /usr/bin/vantrel --port "$proxy_port" >"$proxy_out" 2>&1 &
  proxy_pid=$!
  if wait_until 100 fetch_through_proxy >/dev/null 2>&1 && [ "$(fetch_through_proxy)" = "$body" ]; then
    pass "vantrel: the window's proxy answers"
  else
    fail "vantrel: no answer through the window's proxy: $(head -c 2000 "$proxy_out")"
  fi
  stop_proxy TERM
  [ "$proxy_status" = 0 ] && pass "vantrel: the window ends with 0 on SIGTERM" ||
    fail "vantrel: the window's exit status after SIGTERM: $proxy_status"
  kill "$xvfb_pid" 2>/dev/null || true
}

# The system unit's settings under systemd: a transient service with the
# unit's sandbox, in a state folder of its own, on a port of its own.
check_service() {
  local unit_file=/lib/systemd/system/vantrel.service
  if [ ! -d /run/systemd/system ]; then
    echo "SKIP: service test: systemd is not running here (PID 1 is $(ps -p 1 -o comm= 2>/dev/null || echo unknown))"
    return
  fi
  service_unit="vantrel-package-test-$$"
  service_state="vantrel-package-test-$$"
  local port props=() line key value status log
  port="$(free_port)"
  while IFS= read -r line; do
    key="${line%%=*}"
    value="${line#*=}"
    case "$key" in
      Type | DynamicUser | ProtectSystem | ProtectHome | NoNewPrivileges) props+=(-p "$key=$value") ;;
      StateDirectory) props+=(-p "StateDirectory=$service_state") ;;
    esac
  done < <(sed -n '/^\[Service\]/,/^\[/p' "$unit_file")
  # A configuration that writes the log file, where the service will find it.
  install -d -m 0700 /var/lib/private
  mkdir -p "/var/lib/private/$service_state"
  printf '[CONFIG]\nWriteLog=1\n' >"/var/lib/private/$service_state/proxy.ini"
  if ! systemd-run --quiet --remain-after-exit --unit="$service_unit" "${props[@]}" \
    /usr/bin/vantrel --headless --data-dir "/var/lib/$service_state" --port "$port"; then
    fail "service: systemd-run could not start it"
    return
  fi
  proxy_port="$port"
  if ! wait_until 100 fetch_through_proxy >/dev/null 2>&1; then
    fail "service: no answer through the proxy on port $port"
    systemctl status --no-pager "$service_unit" >&2 || true
    return
  fi
  [ "$(fetch_through_proxy)" = "$body" ] && pass "service: a request through the proxy" ||
    fail "service: wrong answer through the proxy"
  log="/var/lib/private/$service_state/log/$(date +%Y%m%d).log"
  systemctl kill -s HUP "$service_unit" || fail "service: systemctl kill -s HUP"
  wait_until 50 grep -q "Configuration reloaded" "$log" && pass "service: SIGHUP reloads" ||
    fail "service: no reload after SIGHUP"
  [ "$(systemctl show -p SubState --value "$service_unit")" = running ] ||
    fail "service: not running after SIGHUP"
  systemctl kill -s TERM "$service_unit" || fail "service: systemctl kill -s TERM"
  wait_until 100 service_ended || true
  status="$(systemctl show -p ExecMainStatus --value "$service_unit")"
  [ "$status" = 0 ] && pass "service: SIGTERM ends it with 0" ||
    fail "service: exit status $status after SIGTERM ($(systemctl show -p SubState --value "$service_unit"))"
  grep -q "received from Client 127.0.0.1" "$log" 2>/dev/null && pass "service: its log file is in its state folder" ||
    fail "service: $log lacks the request"
  if [ "$(stat -c %u "/var/lib/private/$service_state/log")" != 0 ]; then
    pass "service: its files belong to its dynamic user"
  else
    fail "service: its files belong to root"
  fi
}

install_deb() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$1" >"$scratch/apt.out" 2>&1 || {
    cat "$scratch/apt.out" >&2
    return 1
  }
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

test_package() {
  local package="$1"
  echo "== $package"
  check_installed_files "$package"
  check_command_line "$package"
  check_default_data_folder "$package"
  check_signals "$package"
  check_logrotate_example "$package"
}

echo "== installing vantrel-headless"
if install_deb "$out/vantrel-headless_${version}_$arch.deb"; then
  test_package vantrel-headless
  check_service
else
  fail "apt-get could not install vantrel-headless"
fi

echo "== installing vantrel over vantrel-headless"
if install_deb "$out/vantrel_${version}_$arch.deb"; then
  if installed vantrel && ! installed vantrel-headless; then
    pass "vantrel replaced vantrel-headless"
  else
    fail "both packages are installed, or neither"
  fi
  test_package vantrel
  check_window
else
  fail "apt-get could not install vantrel in place of vantrel-headless"
fi

if [ $failures -eq 0 ]; then
  echo "PACKAGE TESTS PASSED"
else
  echo "PACKAGE TESTS FAILED: $failures"
  exit 1
fi
