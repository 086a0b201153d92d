#!/usr/bin/env bash
# Builds and runs the whole test suite: once optimised, once under AddressSanitizer
# and UndefinedBehaviorSanitizer. Exits non-zero on any failure.
source "$(dirname "$0")/common.sh"

need_packages "${build_packages[@]}" "${gui_packages[@]}" "${xvfb_packages[@]}" libgtest-dev libgmock-dev curl clang libclang-rt-14-dev iproute2 \
  gsettings-desktop-schemas libglib2.0-bin

jobs=$(nproc)
# Twice as many tests as cores in the first suite: a test that races with
# another for a port or a file shows up here, not on a busy user's machine.
busy_jobs=$((2 * jobs))
status=0

run_suite() {
  local dir="$1"; shift
  echo "== $dir: $*"
  configure_and_build "$dir" -DVANTREL_TESTS=ON -DVANTREL_WERROR=ON "$@" || return 1
  # The window tests run offscreen, with a runtime folder of their own.
  local runtime rc=0
  runtime="$(fresh_runtime_dir)"
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" \
    ctest --test-dir "$root/$dir" -j "${ctest_jobs:-$jobs}" --output-on-failure --timeout 300 "${ctest_args[@]}" || rc=1
  rm -rf "$runtime"
  return $rc
}

# Real country data for the import test; without it that test is skipped.
VANTREL_TEST_TOR_GEOIP="$(fetch_tor_geoip "$root/build")"
export VANTREL_TEST_TOR_GEOIP
[ -n "$VANTREL_TEST_TOR_GEOIP" ] || echo "tor-geoipdb not available: the import test on real data will be skipped"

# A real browser for the browser test; without it that test is skipped.
need_packages chromium || echo "chromium not available: the browser test will be skipped"

bash "$root/scripts/check-layers.sh" || status=1

ctest_args=()
ctest_jobs=$busy_jobs run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo || status=1

# Packagers build Release: it must build cleanly too, tests included.
echo "== build-release: Release build"
configure_and_build build-release -DCMAKE_BUILD_TYPE=Release -DVANTREL_TESTS=ON -DVANTREL_WERROR=ON || status=1

# Without Qt the program is the headless one, and must still build: Qt is
# hidden from CMake as on a machine that lacks it.
echo "== build-headless: no Qt"
configure_and_build build-headless -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DVANTREL_TESTS=OFF -DVANTREL_WERROR=ON || status=1
"$root/build-headless/app/vantrel" --version >/dev/null || status=1

# A short fuzzing run of every parser of client input; longer runs: fuzz/run.sh SECONDS.
"$root/fuzz/run.sh" 20 || status=1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON || status=1

# Builds both .debs, installs them in turn, runs the installed program and its service.
bash "$root/scripts/package-test.sh" || status=1

if [ $status -eq 0 ]; then echo "ALL TEST SUITES PASSED"; else echo "TEST FAILURES"; fi
exit $status
