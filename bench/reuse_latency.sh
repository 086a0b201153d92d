#!/usr/bin/env bash
# Latency of one client's 1 KiB GETs over a link with delay: direct, and
# through each given build of the proxy, in one run. A relay of our own
# (delay_relay.py) stands in front of an nginx origin: 5 ms each way for
# every chunk, and one round trip (10 ms) before each new connection, since
# the kernels here have no netem. A proxy that opens a connection per request
# pays that round trip on every request; one that keeps its connections does
# not.
#
#   bench/reuse_latency.sh BEFORE/vantrel AFTER/vantrel [...]
#   bench/reuse_latency.sh squid build/app/vantrel   # "squid": the peers' squid set-up
#   SECONDS_RUN=10 REPS=2 DELAY_MS=5 CONNECT_MS=10 bench/reuse_latency.sh ...
#
# Prints p50 and p99 per target and repetition (wrk -c1), then the median
# p50. Loopback only; each load run is bounded, and everything started here
# is stopped by its PID at the end.
set -euo pipefail
PATH="$PATH:/usr/sbin"  # where squid lives

[ $# -gt 0 ] || { echo "usage: $0 VANTREL_BINARY..." >&2; exit 2; }
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SECONDS_RUN=${SECONDS_RUN:-10}
REPS=${REPS:-2}
DELAY_MS=${DELAY_MS:-5}
CONNECT_MS=${CONNECT_MS:-10}
ORIGIN_PORT=${ORIGIN_PORT:-18280}
RELAY_PORT=${RELAY_PORT:-18281}
PROXY_PORT=${PROXY_PORT:-18290}
PEERS=${PEERS:-$here/../../shared/bench}

source "$here/lib.sh"
need_tools nginx wrk python3
start_nginx "$ORIGIN_PORT"
python3 "$here/delay_relay.py" "$RELAY_PORT" "$ORIGIN_PORT" --delay-ms "$DELAY_MS" \
  --connect-ms "$CONNECT_MS" --max-seconds $((REPS * ($# + 1) * (SECONDS_RUN + 10) + 60)) &
pids+=($!)

wait_port "$ORIGIN_PORT"
wait_port "$RELAY_PORT"

url="http://127.0.0.1:$RELAY_PORT/1k"
measure() { # measure PORT: "p50_us p99_us requests", one connection for SECONDS_RUN
  local line
  if [ "$1" = direct ]; then
    line="$(BENCH_PATH=/1k BENCH_HOST="127.0.0.1:$RELAY_PORT" \
      wrk -t1 -c1 -d"$SECONDS_RUN"s --timeout 5s -s "$here/proxy_get.lua" "$url" | grep '^BENCH')"
  else
    line="$(BENCH_PATH="$url" BENCH_HOST="127.0.0.1:$RELAY_PORT" \
      wrk -t1 -c1 -d"$SECONDS_RUN"s --timeout 5s -s "$here/proxy_get.lua" \
      "http://127.0.0.1:$1" | grep '^BENCH')"
  fi
  sed 's/.*requests=\([0-9]*\) p50_us=\([0-9]*\) p99_us=\([0-9]*\) errors=\([0-9]*\).*/\2 \3 \1 \4/' <<<"$line"
}

targets=(direct "$@")
: >"$run/results"
for rep in $(seq "$REPS"); do
  for target in "${targets[@]}"; do
    if [ "$target" = direct ]; then
      result="$(measure direct)"
    elif [ "$target" = squid ]; then
      need_tools squid
      # The team's squid set-up: a forwarder that keeps its connections.
      sed -e "s|@RUN@|$run|g" -e "s|@PORT@|$PROXY_PORT|g" "$PEERS/squid.conf" >"$run/squid.conf"
      squid -N -f "$run/squid.conf" >"$run/squid.out" 2>&1 &
      proxy=$!
      pids+=($proxy)
      wait_port "$PROXY_PORT"
      result="$(measure "$PROXY_PORT")"
      kill "$proxy"; wait "$proxy" 2>/dev/null || true
    else
      mkdir -p "$run/data"
      "$target" --headless --port "$PROXY_PORT" --data-dir "$run/data" >"$run/proxy.log" 2>&1 &
      proxy=$!
      pids+=($proxy)
      wait_port "$PROXY_PORT"
      result="$(measure "$PROXY_PORT")"
      kill "$proxy"; wait "$proxy" 2>/dev/null || true
      rm -rf "$run/data"
    fi
    echo "$target $result" >>"$run/results"
    read -r p50 p99 n errors <<<"$result"
    printf 'rep %d  %-40s p50 %7.2f ms  p99 %7.2f ms  requests %5d  errors %d\n' "$rep" "$target" \
      "$(awk -v v="$p50" 'BEGIN{print v/1000}')" "$(awk -v v="$p99" 'BEGIN{print v/1000}')" "$n" "$errors"
  done
done

echo
echo "| target | c1 p50 ms (median of $REPS) |"
echo "|---|---|"
for target in "${targets[@]}"; do
  median="$(awk -v t="$target" '$1 == t {print $2}' "$run/results" | sort -n |
    awk '{v[NR]=$1} END {m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2; printf "%.2f", m/1000}')"
  echo "| $target | $median |"
done
