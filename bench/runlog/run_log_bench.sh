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

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build=${1:-build}
seconds=${2:-3}
rounds=${3:-3}
bench="$build/bench/runlog/run_log_bench"
source "$here/../lib.sh"
bench_require wrk nginx curl python3
[ -x "$bench" ] || { echo "missing $bench: cmake --build $build --target run_log_bench" >&2; exit 2; }
bench_start

port=$(free_port)
start_nginx 1024 "  server {
    listen 127.0.0.1:$port;
    location / { return 200; }
  }"
wait_for_url "http://127.0.0.1:$port/"

cat > "$work/head_close.lua" <<'LUA'
wrk.method = "HEAD"
wrk.headers["Connection"] = "close"
LUA

echo "clock server: nginx (pid $nginx_pid) on 127.0.0.1:$port; $rounds rounds of ${seconds}s each"
echo "per round: wrk -t1 -c1 -d${seconds}s -s head_close.lua http://127.0.0.1:$port/"
echo "           $bench --clock-url http://127.0.0.1:$port/ --seconds $seconds --rounds 1 --tsv"
: > "$work/rates"
for _ in $(seq "$rounds"); do
  wrk_rate=$(wrk_rps "http://127.0.0.1:$port/" 1 "$seconds" -s "$work/head_close.lua")
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
