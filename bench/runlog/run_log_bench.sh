#!/usr/bin/env bash
# Run-log appends per second against nginx on loopback as the clock server, beside serial HEAD
# requests to the same nginx made as the clock makes them (a new connection each), and bare HEAD
# requests on a plain socket for scale.
#   bench/runlog/run_log_bench.sh [build-dir] [seconds-per-measurement] [rounds]
# The build directory must hold a built run_log_bench (a build without sanitizers).
set -euo pipefail

build=${1:-build}
seconds=${2:-3}
rounds=${3:-3}
bench="$build/bench/runlog/run_log_bench"
[ -x "$bench" ] || { echo "missing $bench: cmake --build $build --target run_log_bench" >&2; exit 2; }
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

work=$(mktemp -d)
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/logs"
cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server {
    listen 127.0.0.1:$port;
    location / { return 200; }
  }
}
CONF
"$nginx_bin" -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null -I "http://127.0.0.1:$port/" && break
  sleep 0.1
done

echo "clock server: nginx (pid $nginx_pid) on 127.0.0.1:$port; $rounds rounds of ${seconds}s each"
echo "command: $bench --clock-url http://127.0.0.1:$port/ --seconds $seconds --rounds $rounds"
"$bench" --clock-url "http://127.0.0.1:$port/" --seconds "$seconds" --rounds "$rounds"
