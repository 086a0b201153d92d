#!/usr/bin/env bash
# System calls the proxy makes per request under c50 (strace -c), for one or
# more builds of the program side by side, with an nginx origin on loopback.
#
#   bench/syscalls.sh build/app/vantrel [other/vantrel ...]
#   SECONDS_RUN=5 CONNECTIONS=50 bench/syscalls.sh ...
#
# Counts, not times: strace slows the proxy down, but what it counts per
# request is what the kernel is asked to do. Loopback only; bounded runs.
set -euo pipefail

[ $# -gt 0 ] || { echo "usage: $0 VANTREL_BINARY..." >&2; exit 2; }
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SECONDS_RUN=${SECONDS_RUN:-5}
CONNECTIONS=${CONNECTIONS:-50}
ORIGIN_PORT=${ORIGIN_PORT:-18180}
PROXY_PORT=${PROXY_PORT:-18190}

source "$here/lib.sh"
need_tools nginx wrk strace
start_nginx "$ORIGIN_PORT"
wait_port "$ORIGIN_PORT"

load() { # load SECONDS: prints wrk's BENCH line
  BENCH_PATH="http://127.0.0.1:$ORIGIN_PORT/1k" BENCH_HOST="127.0.0.1:$ORIGIN_PORT" \
    wrk -t2 -c"$CONNECTIONS" -d"$1"s --timeout 10s -s "$here/proxy_get.lua" \
    "http://127.0.0.1:$PROXY_PORT" | grep '^BENCH'
}

printf '| build | requests | system calls per request | top calls per request |\n|---|---|---|---|\n'
for binary in "$@"; do
  mkdir -p "$run/data"
  "$binary" --headless --port "$PROXY_PORT" --data-dir "$run/data" >"$run/proxy.log" 2>&1 &
  proxy=$!
  pids+=($proxy)
  wait_port "$PROXY_PORT"
  load 1 >/dev/null  # warm up: connections made, pages touched
  strace -c -f -qq -o "$run/strace.txt" -p "$proxy" &
  tracer=$!
  sleep 0.5
  line="$(load "$SECONDS_RUN")"
  kill -INT "$tracer"; wait "$tracer" 2>/dev/null || true
  kill "$proxy"; wait "$proxy" 2>/dev/null || true
  rm -rf "$run/data"
  requests="$(sed 's/.*requests=\([0-9]*\).*/\1/' <<<"$line")"
  # strace -c rows: % time, seconds, usecs/call, calls, [errors,] syscall
  total="$(awk '$NF == "total" {print $4}' "$run/strace.txt")"
  top="$(awk -v n="$requests" '$4 ~ /^[0-9]+$/ && $NF != "total" {printf "%s %.2f\n", $NF, $4 / n}' \
         "$run/strace.txt" | sort -k2 -nr | head -8 | awk '{printf "%s%s %s", sep, $1, $2; sep="; "}')"
  printf '| %s | %s | %.2f | %s |\n' "$binary" "$requests" "$(awk -v t="$total" -v n="$requests" 'BEGIN{print t/n}')" "$top"
done
