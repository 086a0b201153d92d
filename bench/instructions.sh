#!/usr/bin/env bash
# User-space instructions the proxy executes per request and per MiB relayed,
# counted by valgrind (callgrind), for one or more builds side by side. Counts
# do not depend on what else the machine runs, so a change of a few percent
# shows even where rates swing from run to run.
#
#   bench/instructions.sh before/vantrel after/vantrel
#   REQUESTS=2000 bench/instructions.sh build/app/vantrel
#
# Per request: the difference between runs of 2N and N keep-alive GETs of 1 KiB,
# divided by N, so start-up and exit cancel out. Per MiB: one GET of 64 MiB
# less start-up and exit, over 64. Kernel work is not counted; see
# syscalls.sh for that. Loopback only; every run is bounded.
set -euo pipefail

[ $# -gt 0 ] || { echo "usage: $0 VANTREL_BINARY..." >&2; exit 2; }
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
REQUESTS=${REQUESTS:-2000}
ORIGIN_PORT=${ORIGIN_PORT:-18180}
PROXY_PORT=${PROXY_PORT:-18190}

source "$here/lib.sh"
need_tools nginx valgrind python3
start_nginx "$ORIGIN_PORT"
head -c $((64 << 20)) /dev/zero >"$run/www/64m"
wait_port "$ORIGIN_PORT"

instructions() { # instructions BINARY LOAD...: Ir of the whole run
  mkdir -p "$run/data"
  valgrind --tool=callgrind --callgrind-out-file="$run/callgrind.out" \
    "$1" --headless --port "$PROXY_PORT" --data-dir "$run/data" >"$run/proxy.log" 2>&1 &
  local proxy=$!
  pids+=($proxy)
  wait_port "$PROXY_PORT"
  shift
  timeout 300 python3 "$here/instructions.py" "$1" "$PROXY_PORT" "$ORIGIN_PORT" "${@:2}"
  kill "$proxy"
  wait "$proxy" 2>/dev/null || true
  rm -rf "$run/data"
  sed -n 's/^summary: //p' "$run/callgrind.out"
}

printf '| build | instructions per request | instructions per MiB |\n|---|---|---|\n'
for binary in "$@"; do
  one="$(instructions "$binary" requests "$REQUESTS")"
  two="$(instructions "$binary" requests $((2 * REQUESTS)))"
  bulk="$(instructions "$binary" bulk)"
  per_request=$(((two - one) / REQUESTS))
  start_and_exit=$((one - REQUESTS * per_request))
  printf '| %s | %d | %d |\n' "$binary" "$per_request" $(((bulk - start_and_exit) / 64))
done
