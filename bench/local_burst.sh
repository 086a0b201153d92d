#!/usr/bin/env bash
# A known host's latency while a burst of new local names is filed: for each
# given build, a kept-alive client asks for known.test again and again while
# 1,000 requests name hosts never seen before, all of them local (the
# country data puts 127.0.0.0/8 in the local country), so each one is filed
# in the local-host file. Names are answered by a name server of the bench's
# own; everything is on 127.0.0.1 and each run stops by itself.
#
#   bench/local_burst.sh BEFORE/vantrel AFTER/vantrel [...]
#   NAMES=1000 REPS=3 bench/local_burst.sh ...
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 VANTREL_BINARY..." >&2; exit 2; }
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
NAMES=${NAMES:-1000}
REPS=${REPS:-3}
ORIGIN_PORT=${ORIGIN_PORT:-18880}
DNS_PORT=${DNS_PORT:-18853}
PROXY_PORT=${PROXY_PORT:-18890}
source "$here/lib.sh"
start_nginx "$ORIGIN_PORT"
python3 "$here/local_burst.py" dns "$DNS_PORT" $((REPS * $# * 90 + 30)) &
pids+=($!)
wait_port "$ORIGIN_PORT"

for rep in $(seq "$REPS"); do
  for binary in "$@"; do
    rm -rf "$run/data"
    mkdir -p "$run/data"
    printf '[CONFIG]\nLocalCountryCode=ZA\nBypassIPs=0\n' >"$run/data/proxy.ini"
    printf '"127.0.0.0","127.255.255.255","2130706432","2147483647","ZA","South Africa"\n' \
      >"$run/data/GeoIPCountryWhoIs.csv"
    "$binary" --headless --port "$PROXY_PORT" --data-dir "$run/data" \
      --dns-server "127.0.0.1:$DNS_PORT" >"$run/proxy.log" 2>&1 &
    proxy=$!
    pids+=($proxy)
    wait_port "$PROXY_PORT"
    line="$(timeout 90 python3 "$here/local_burst.py" load "$PROXY_PORT" "$ORIGIN_PORT" "$NAMES" 80)"
    kill "$proxy"; wait "$proxy" 2>/dev/null || true
    filed="$( (cat "$run/data"/localhosts_*.dat 2>/dev/null || true) | wc -l)"
    echo "rep $rep $binary $line filed=$filed"
    [ -n "${KEEP_LOG:-}" ] && cat "$run/proxy.log"
  done
done
