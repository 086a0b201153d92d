#!/usr/bin/env bash
# Slow clients: N connections that send one byte of a request header and then
# nothing, against the real binary with a short HeaderTimeout, while a normal
# client is served through the same proxy. Reports the proxy's descriptors and
# RSS idle, with the crowd and after the timeout, and the normal client's p99.
#
#   bench/slow_clients.sh [N] [HEADER_TIMEOUT]     default 10000 and 3 s
#   VANTREL=build/app/vantrel bench/slow_clients.sh   an already built program
#
# Everything listens on 127.0.0.1; the proxy runs on CPU 1, the load on CPU 0.
# Descriptor limits are raised for the run, within the hard limit.
set -euo pipefail
n="${1:-10000}"
timeout="${2:-3}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/common.sh"

if [ -z "${VANTREL:-}" ]; then
  need_packages "${build_packages[@]}" python3
  cmake -S "$root" -B "$root/build-slow" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTREL_TESTS=OFF -DVANTREL_GUI=OFF >/dev/null
  cmake --build "$root/build-slow" --target vantrel >/dev/null
  VANTREL="$root/build-slow/app/vantrel"
fi
VANTREL="$(realpath "$VANTREL")"

hard=$(ulimit -Hn)
want=$((n + 256))
if [ "$hard" != unlimited ] && [ "$hard" -lt "$want" ]; then
  echo "$n connections need $want descriptors per process; the hard limit is $hard" >&2
  exit 1
fi

proxy_port=18290 origin_port=18281
source "$here/lib.sh"
mkdir -p "$run/data"
printf '[CONFIG]\nHeaderTimeout=%d\n' "$timeout" >"$run/data/proxy.ini"

(on_cpu 0 python3 "$here/soak_peers.py" origin "$origin_port") & pids+=($!)
(ulimit -n "$want"; on_cpu 1 "$VANTREL" --headless --port "$proxy_port" \
  --data-dir "$run/data" >/dev/null 2>"$run/proxy.err") & proxy=$!; pids+=($proxy)
for port in $proxy_port $origin_port; do
  wait_port "$port"
done
sleep 2  # the idle proxy settles

status=0
(ulimit -n "$want"; on_cpu 0 timeout $((timeout + 120)) python3 "$here/slow_clients.py" run \
  "$proxy" "$proxy_port" "$origin_port" "$n" "$timeout") || status=$?
kill -0 "$proxy" 2>/dev/null || { echo "the proxy died:"; cat "$run/proxy.err"; exit 1; }
exit $status
