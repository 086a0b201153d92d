#!/usr/bin/env bash
# Tunnel drain: a local port tunnel of the real binary, an origin that sends
# 16 MiB, half-closes and keeps reading, and a client that sends one byte
# every 200 ms while it reads at about 4 MiB/s. Three runs; each stops by
# itself.
#
#   VANTREL=build/app/vantrel bench/tunnel_drain.sh [SIZE] [RUNS]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
VANTREL="$(realpath "${VANTREL:-$here/../build/app/vantrel}")"
size="${1:-16777216}"
runs="${2:-3}"
proxy_port=18390 tunnel_port=18391 origin_port=18392
run="$(mktemp -d /tmp/vantrel-drain-XXXXXX)"
proxy=""
stop_all() {
  [ -n "$proxy" ] && kill "$proxy" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap stop_all EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

mkdir -p "$run/data"
cat >"$run/data/proxy.ini" <<INI
[Tunnel]
TunnelID1=1
TunnelName1=drain
TunnelLocalPort1=$tunnel_port
TunnelRemoteHost1=127.0.0.1
TunnelRemotePort1=$origin_port
TunnelEnabled1=1
INI
"$VANTREL" --headless --port "$proxy_port" --data-dir "$run/data" >/dev/null 2>"$run/proxy.err" &
proxy=$!
for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$tunnel_port) 2>/dev/null && break; sleep 0.1; done
timeout $((runs * 70 + 10)) python3 "$here/tunnel_drain.py" "$tunnel_port" "$origin_port" "$size" "$runs"
