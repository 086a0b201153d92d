#!/usr/bin/env bash
# Soak test: the real binary under a mixed loopback load for a bounded time,
# with its RSS and open descriptors sampled every second.
#
#   bench/soak.sh [SECONDS]      default 180 (about a million requests here);
#                                the load stops by itself
#   VANTREL=build/app/vantrel bench/soak.sh 60     an already built program
#   PROXY_PORT=18390 NGINX_PORT=18380 ORIGIN_PORT=18381 bench/soak.sh   other ports
#
# Load, all at once: keep-alive GETs and pipelined GETs (wrk, against nginx),
# CONNECT tunnels, uploads, clients that vanish mid-request and origins that
# reset (bench/soak_peers.py). Everything listens on 127.0.0.1. The proxy runs
# on CPU 1, the load on CPU 0. Prints the request totals, then RSS and
# descriptor figures under load after the warm-up (its first fifth) with their
# slopes, and the idle proxy's figures before and after the load.
set -euo pipefail
seconds="${1:-180}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/common.sh"

if [ -n "${VANTREL:-}" ]; then
  need_packages nginx wrk python3
  vantrel="$(realpath "$VANTREL")"
else
  need_packages "${build_packages[@]}" nginx wrk python3
  configure_and_build build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TESTS=OFF >/dev/null
  vantrel="$root/build-soak/app/vantrel"
fi

proxy_port=${PROXY_PORT:-18190} nginx_port=${NGINX_PORT:-18180} origin_port=${ORIGIN_PORT:-18181}
source "$here/lib.sh"
mkdir -p "$run/data"
start_nginx "$nginx_port"
(on_cpu 0 python3 "$here/soak_peers.py" origin "$origin_port") & pids+=($!)
(on_cpu 1 "$vantrel" --headless --port "$proxy_port" --data-dir "$run/data" \
  >/dev/null 2>"$run/proxy.err") & proxy=$!; pids+=($proxy)

for port in $proxy_port $nginx_port $origin_port; do
  wait_port "$port"
done

# One sample a second: milliseconds since start, RSS in KiB, open descriptors.
(
  start=$(date +%s%N)
  while kill -0 "$proxy" 2>/dev/null; do
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$proxy/status" 2>/dev/null) || break
    fds=$(ls "/proc/$proxy/fd" 2>/dev/null | wc -l)
    echo "$(( ($(date +%s%N) - start) / 1000000 )) $rss $fds"
    sleep 1
  done
) >"$run/samples" & pids+=($!)

sleep 2  # a sample or two of the idle proxy first
url="http://127.0.0.1:$nginx_port/1k"
export SOAK_URL="$url" SOAK_HOST="127.0.0.1:$nginx_port"
(SOAK_DEPTH=1 on_cpu 0 wrk -t1 -c40 -d"${seconds}s" --timeout 5s -s "$here/soak.lua" \
  "http://127.0.0.1:$proxy_port" >"$run/keepalive") & ka=$!
(SOAK_DEPTH=8 on_cpu 0 wrk -t1 -c8 -d"${seconds}s" --timeout 5s -s "$here/soak.lua" \
  "http://127.0.0.1:$proxy_port" >"$run/pipelined") & pl=$!
(on_cpu 0 timeout $((seconds + 30)) python3 "$here/soak_peers.py" chaos "$proxy_port" \
  "$origin_port" "$seconds" >"$run/chaos") & ch=$!
pids+=($ka $pl $ch)
wait $ka $pl $ch
sleep 3  # the idle proxy again, once every connection has ended

kill -0 "$proxy" 2>/dev/null || { echo "the proxy died:"; cat "$run/proxy.err"; exit 1; }
echo "keep-alive GETs:  $(grep -h SOAK "$run/keepalive")"
echo "pipelined GETs:   $(grep -h SOAK "$run/pipelined")"
echo "odd clients:      $(cat "$run/chaos")"
total=$(grep -ho 'SOAK requests=[0-9]*' "$run/keepalive" "$run/pipelined" | cut -d= -f2 | awk '{s += $1} END {print s}')
echo "requests in all:  $total (plus the odd clients above) in $seconds s"
python3 "$here/soak_peers.py" report "$run/samples" "$(( 2 + seconds / 5 ))" "$(( 2 + seconds ))"
