# Shared by the bench scripts: a scratch folder whose processes are stopped
# by their PIDs at exit, a 1 KiB file served by nginx on loopback, and a wait
# for a port. Source it after `set -euo pipefail`; it sets `run` and `pids`.

run="$(mktemp -d "/tmp/vantrel-bench-XXXXXX")"
chmod 755 "$run"  # nginx's worker runs as another user
pids=()
bench_stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap bench_stop_all EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# need_tools TOOL...: ends the bench, naming the Debian packages, when one is missing.
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$0: needs $tool (apt-get install $*)" >&2; exit 1; }
  done
}

# Runs in place of the calling (background) shell, so its PID is the program's.
on_cpu() {
  if command -v taskset >/dev/null && [ "$(nproc)" -gt 1 ]; then exec taskset -c "$@"; fi
  shift
  exec "$@"
}

# start_nginx PORT [CPU]: $run/www/1k on 127.0.0.1:PORT, its PID in pids.
start_nginx() {
  mkdir -p "$run/www" "$run/tmp"
  head -c 1024 /dev/zero | tr '\0' x >"$run/www/1k"
  cat >"$run/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $run/nginx.pid;
error_log $run/nginx-error.log warn;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_requests 1000000;
  client_body_temp_path $run/tmp/body;
  proxy_temp_path $run/tmp/proxy;
  fastcgi_temp_path $run/tmp/fastcgi;
  uwsgi_temp_path $run/tmp/uwsgi;
  scgi_temp_path $run/tmp/scgi;
  server { listen 127.0.0.1:$1 backlog=4096; root $run/www; }
}
CONF
  (on_cpu "${2:-0}" nginx -e "$run/nginx-error.log" -p "$run" -c "$run/nginx.conf") &
  pids+=($!)
}

wait_port() { # wait_port PORT: up to 10 s
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "$0: nothing listens on port $1" >&2
  return 1
}
