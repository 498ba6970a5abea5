#!/usr/bin/env bash
# Run-log appends per second against nginx on loopback as the clock server, beside serial HEAD
# requests to the same nginx made as the clock makes them (a new connection each), bare HEAD
# requests on a plain socket, and wrk's serial HEAD rate (one connection, "Connection: close",
# so a new connection each), the peer that the program's GET throughput is held against.
#   bench/runlog/run_log_bench.sh [build-dir] [seconds-per-measurement] [rounds]
# Each round runs wrk and then run_log_bench, so a passing load on the machine hits them alike;
# the medians of the rounds are printed. The build directory must hold a built run_log_bench (a
# build without sanitizers).
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

cat > "$work/head_close.lua" <<'LUA'
wrk.method = "HEAD"
wrk.headers["Connection"] = "close"
LUA

echo "clock server: nginx (pid $nginx_pid) on 127.0.0.1:$port; $rounds rounds of ${seconds}s each"
echo "per round: wrk -t1 -c1 -d${seconds}s -s head_close.lua http://127.0.0.1:$port/"
echo "           $bench --clock-url http://127.0.0.1:$port/ --seconds $seconds --rounds 1 --tsv"
: > "$work/rates"
for _ in $(seq "$rounds"); do
  wrk_rate=$(wrk -t1 -c1 -d"${seconds}s" -s "$work/head_close.lua" "http://127.0.0.1:$port/" |
    awk '/Requests\/sec/ {print $2}')
  ours=$("$bench" --clock-url "http://127.0.0.1:$port/" --seconds "$seconds" --rounds 1 --tsv)
  printf '%s\t%s\n' "$ours" "$wrk_rate" >> "$work/rates"
done

python3 - "$work/rates" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1]) if line.strip()]
bare, head, append, wrk = (statistics.median(column) for column in zip(*rows))
print(f"HEAD as the clock makes it (WebRequest): {head:8.0f} /s")
print(f"AppendRunLog:                            {append:8.0f} /s  "
      f"({100 * append / head:.0f}% of the clock's HEAD, target >= 80%)")
print(f"bare HEAD on a plain socket (floor):     {bare:8.0f} /s  (appends at {100 * append / bare:.0f}% of it)")
print(f"wrk serial HEAD, Connection: close:      {wrk:8.0f} /s  (appends at {100 * append / wrk:.0f}% of it)")
PY
