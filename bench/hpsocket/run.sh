#!/usr/bin/env bash
# Throughput and idle-connection memory of the engine, against nginx with one worker.
#
#   bench/hpsocket/run.sh [build dir]      (default: build; needs hpsocket_echo_server and
#                                           hpsocket_idle_clients built there)
#
# Both servers answer a keep-alive POST with a 5-byte body on loopback; wrk drives each for
# DURATION seconds (default 5) at 1, 10, 100 and 1000 connections, ROUNDS times (default 3)
# alternating between the two, and the script prints the median requests/s of each, the median
# of the rounds' ratios ours/nginx and each server's context switches per request (all its
# threads, voluntary and involuntary). Then it prints the CPU time our server uses in 3 idle
# seconds, opens IDLE (default 10000) keep-alive connections to it and prints its resident
# memory per idle connection.
# Servers are started on free loopback ports and stopped by PID. WORKERS and POOL (default 0:
# the engine's and the pool's default counts, as the application uses them) set the network
# and pool thread counts of our server.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${1:-build}"
server_bin="$build/bench/hpsocket/hpsocket_echo_server"
clients_bin="$build/bench/hpsocket/hpsocket_idle_clients"
duration="${DURATION:-5}"
rounds="${ROUNDS:-3}"
idle="${IDLE:-10000}"
workers="${WORKERS:-0}"
pool="${POOL:-0}"
source "$here/../lib.sh"
bench_require wrk nginx curl python3
[ -x "$server_bin" ] && [ -x "$clients_bin" ] ||
  { echo "run.sh: build hpsocket_echo_server and hpsocket_idle_clients in $build first" >&2; exit 1; }
bench_start

# --- nginx: one worker -------------------------------------------------------------------
nginx_port="$(free_port)"
start_nginx 4096 "  server {
    listen 127.0.0.1:$nginx_port;
    location / { return 200 \"hello\"; }
  }"

# --- ours --------------------------------------------------------------------------------
"$server_bin" 0 "$workers" "$pool" >"$work/server.out" &
server_pid=$!
pids+=("$server_pid")
for _ in $(seq 100); do grep -q READY "$work/server.out" 2>/dev/null && break; sleep 0.05; done
our_port="$(awk '/READY/ {print $2}' "$work/server.out")"
wait_for_url "http://127.0.0.1:$nginx_port/"

switches() {  # context switches so far of every thread of process <pid>
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ {n += $2} END {print n}'
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

measure() {  # measure <pid> <port> <connections>: "<req/s> <context switches per request>"
  local before after rate
  before="$(switches "$1")"
  rate="$(wrk_rps "http://127.0.0.1:$2/" "$3" "$duration" -s "$here/post.lua")"
  after="$(switches "$1")"
  echo "$rate $(awk -v n="$(( after - before ))" -v r="$rate" -v d="$duration" 'BEGIN {print n / (r * d)}')"
}

echo "keep-alive POST, 5-byte body, ${duration}s per point, median of $rounds rounds, $(nproc) cores," \
  "network threads ${workers/#0/default}, pool threads ${pool/#0/default}"
printf '%12s %14s %14s %8s %14s %14s\n' connections "ours req/s" "nginx req/s" ratio \
  "ours cs/req" "nginx cs/req"
for c in 1 10 100 1000; do
  : >"$work/round"
  for _ in $(seq "$rounds"); do
    read -r ours ours_cs < <(measure "$server_pid" "$our_port" "$c")
    read -r theirs theirs_cs < <(measure "$nginx_pid" "$nginx_port" "$c")
    echo "$ours $theirs $(awk -v a="$ours" -v b="$theirs" 'BEGIN {print a / b}') $ours_cs $theirs_cs" \
      >>"$work/round"
  done
  printf '%12s %14.0f %14.0f %8.2f %14.2f %14.2f\n' "$c" \
    "$(median $(cut -d' ' -f1 "$work/round"))" "$(median $(cut -d' ' -f2 "$work/round"))" \
    "$(median $(cut -d' ' -f3 "$work/round"))" "$(median $(cut -d' ' -f4 "$work/round"))" \
    "$(median $(cut -d' ' -f5 "$work/round"))"
done

# --- CPU of the idle server ----------------------------------------------------------------
sleep 1
idle_before="$(cpu_ticks "$server_pid")"
sleep 3
idle_after="$(cpu_ticks "$server_pid")"
echo "idle CPU: $(( (idle_after - idle_before) * 1000 / $(getconf CLK_TCK) )) ms in 3 s"

# --- memory per idle keep-alive connection -------------------------------------------------
before="$(rss_kib "$server_pid")"
mkfifo "$work/hold"
"$clients_bin" "$our_port" "$idle" <"$work/hold" >"$work/clients.out" &
clients_pid=$!
pids+=("$clients_pid")
exec 3>"$work/hold"  # keeps the clients' stdin open
for _ in $(seq 1200); do grep -q OPEN "$work/clients.out" 2>/dev/null && break; sleep 0.05; done
opened="$(awk '/OPEN/ {print $2}' "$work/clients.out")"
after="$(rss_kib "$server_pid")"
exec 3>&-
echo "idle keep-alive connections: ${opened:-0}; server RSS ${before} KiB -> ${after} KiB;" \
  "$(( (after - before) * 1024 / (${opened:-0} > 0 ? ${opened:-0} : 1) )) bytes per connection"
