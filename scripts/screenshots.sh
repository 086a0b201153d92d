#!/usr/bin/env bash
# Pictures of the desktop window for the documentation: the window front end
# under Xvfb on a sample data folder, the proxy running, some loopback
# traffic through it; every page and both record dialogs as PNG in
# docs/screenshots/. Loopback only.
source "$(dirname "$0")/common.sh"

need_packages "${build_packages[@]}" "${gui_packages[@]}" "${xvfb_packages[@]}" \
  libgtest-dev libgmock-dev curl python3 fonts-dejavu-core
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TESTS=ON >/dev/null
cmake --build "$root/build" -j2 --target vantrel_screenshots

work="$(mktemp -d)"
runtime="$(fresh_runtime_dir)"
origin_pids=()
cleanup() {
  for pid in "${origin_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work" "$runtime"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}
proxy_port="$(free_port)"
origin_port="$(free_port)"
tunnel_port="$(free_port)"

# A small web site on loopback for the traffic.
mkdir -p "$work/site" "$work/data"
for i in $(seq 0 11); do
  head -c $((2000 + i * 700)) /dev/zero | tr '\0' 'v' >"$work/site/page$i.html"
done
# The same site on three loopback addresses: three hosts on the Traffic page.
for address in 127.0.0.1 127.0.0.2 127.0.0.3; do
  python3 -m http.server --bind "$address" "$origin_port" --directory "$work/site" >/dev/null 2>&1 &
  origin_pids+=($!)
done

# Sample configuration: two next-hop proxies, a tunnel, the three lists.
cat >"$work/data/proxy.ini" <<INI
[CONFIG]
ProxyPort=$proxy_port
StartAutomatically=1
EnableLogging=1
ShowLocalHosts=1
ShowInternationalHosts=1
AllowedConnections=1
BypassIPs=1
BlockHosts=1
IntConSSLProxy=1
IntConSSL=2
LocalConOTHERProxy=1
LocalConOTHER=1
[PROXY]
ProxyID1=1
ProxyName1=Office gateway
ProxyAddress1=127.0.0.1
ProxyPort1=3128
AuthenticationRequired1=0
ProxyID2=2
ProxyName2=Branch proxy
ProxyAddress2=127.0.0.2
ProxyPort2=8080
AuthenticationRequired2=1
ProxyUserName2=alice
[Tunnel]
TunnelID1=1
TunnelName1=Mail server
TunnelLocalPort1=$tunnel_port
TunnelRemoteHost1=127.0.0.1
TunnelRemotePort1=$origin_port
TunnelEnabled1=1
INI
printf '127.0.0.1\n192.168.0.1-192.168.0.255\n' >"$work/data/allowedip.dat"
# Loopback stays out of the bypass list, so the traffic shows on the
# Traffic page instead of counting as the local network's.
printf '10.0.0.0-10.255.255.255\n192.168.0.0-192.168.255.255\n' >"$work/data/bypassip.dat"
printf 'ads.example.com\ntracker.example.net\n' >"$work/data/blockedhosts.dat"
# Hosts found local before, for the local list.
printf 'intranet.example.co.za\nmirror.example.ac.za\n' >"$work/data/localhosts_ZA.dat"

# Wait for the web server before sending traffic.
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$origin_port/page0.html" && break
  sleep 0.1
done

out="$root/docs/screenshots"
mkdir -p "$out"
rm -f "$out"/*.png
XDG_RUNTIME_DIR="$runtime" HOME="$work" timeout 120 \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$root/build/tests/qt/vantrel_screenshots" "$work/data" "$out" "$origin_port"
ls -1 "$out"
