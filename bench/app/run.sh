#!/usr/bin/env bash
# Quillmere's throughput and memory, headless and with its window, against nginx on loopback.
#
#   bench/app/run.sh [build dir]     (default: build; a build without sanitizers holding
#                                     quillmere, quillmere_window_started and
#                                     hpsocket_idle_clients)
#
# Everything runs on 127.0.0.1 at free ports and is stopped by PID at the end:
#   - nginx with one worker answers every request with 200 and the 5-byte body "hello", and on a
#     second port is the clock server whose Date header stamps Quillmere's run log (204, no
#     body, so wrk can time HEAD requests to it);
#   - Quillmere headless (standard output to /dev/null), and Quillmere with its window on a
#     virtual display (Xvfb), both started from copies in a scratch directory so their run logs
#     land there.
# Figures, with DURATION (default 3) seconds of wrk per point, each the median of ROUNDS (default
# 3) rounds that take turns between the servers, so a passing load on the machine hits them alike:
#   1. keep-alive POST echo (5-byte body) at 10 and 100 connections: nginx, headless, window,
#      and for scale the engine's own echo server from bench/hpsocket (the same engine, body
#      record and pool hop without Quillmere's decoding and output); targets: headless >= 0.9 x
#      nginx, window >= 0.8 x headless;
#   2. GET (each one a run-log line, so a clock request to nginx under the run log's lock)
#      against nginx's serial HEAD rate on new connections; target >= 0.8;
#   3. resident memory of headless Quillmere holding IDLE (default 10000) idle keep-alive
#      connections (the engine's idle client from bench/hpsocket), beside nginx holding as many.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
duration="${DURATION:-3}"
rounds="${ROUNDS:-3}"
idle="${IDLE:-10000}"
quillmere_bin="$build/quillmere"
window_bin="$build/bench/app/quillmere_window_started"
clients_bin="$build/bench/hpsocket/hpsocket_idle_clients"
echo_bin="$build/bench/hpsocket/hpsocket_echo_server"
post_lua="$here/../hpsocket/post.lua"

source "$here/../lib.sh"
bench_require wrk nginx Xvfb curl python3
for bin in "$quillmere_bin" "$window_bin" "$clients_bin" "$echo_bin"; do
  [ -x "$bin" ] || { echo "run.sh: $bin is missing; build the default preset first" >&2; exit 1; }
done
bench_start

# Waits for "quillmere: listening on 127.0.0.1:<port>" in $1 and prints the port.
listening_port() {
  for _ in $(seq 200); do
    grep -q 'listening on' "$1" 2>/dev/null && break
    sleep 0.05
  done
  sed -n 's/^quillmere: listening on .*:\([0-9][0-9]*\)$/\1/p' "$1"
}

# rps <url> <connections> [wrk options...]: requests per second over DURATION seconds.
rps() {
  local url=$1 connections=$2
  shift 2
  wrk_rps "$url" "$connections" "$duration" "$@"
}

# --- nginx: one worker; the POST peer and the clock server -----------------------------------
nginx_port="$(free_port)"
clock_port="$(free_port)"
start_nginx "$(( idle + 500 ))" "  server {
    listen 127.0.0.1:$nginx_port;
    location / { return 200 \"hello\"; }
  }
  server {
    listen 127.0.0.1:$clock_port;
    location / { return 204; }
  }"
clock_url="http://127.0.0.1:$clock_port/"
wait_for_url "$clock_url"

# --- Quillmere headless ------------------------------------------------------------------------
mkdir -p "$work/headless"
cp "$quillmere_bin" "$work/headless/quillmere"
"$work/headless/quillmere" --headless --bind 127.0.0.1 --port 0 --clock-url "$clock_url" \
  >/dev/null 2>"$work/headless/stderr" &
pids+=($!)
headless_port="$(listening_port "$work/headless/stderr")"
[ -n "$headless_port" ] || { echo "run.sh: headless Quillmere did not start" >&2; cat "$work/headless/stderr" >&2; exit 1; }

# --- Quillmere with its window on a virtual display ------------------------------------------
exec 4>"$work/display"
Xvfb -displayfd 4 -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
exec 4>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
display=":$(head -n1 "$work/display")"
mkdir -p "$work/window"
cp "$window_bin" "$work/window/quillmere"
DISPLAY="$display" "$work/window/quillmere" --bind 127.0.0.1 --port 0 --clock-url "$clock_url" \
  >/dev/null 2>"$work/window/stderr" &
pids+=($!)
window_port="$(listening_port "$work/window/stderr")"
[ -n "$window_port" ] || { echo "run.sh: Quillmere's window did not start" >&2; cat "$work/window/stderr" >&2; exit 1; }

# --- the engine's echo server ------------------------------------------------------------------
"$echo_bin" 0 >"$work/echo.out" &
pids+=($!)
for _ in $(seq 100); do grep -q READY "$work/echo.out" 2>/dev/null && break; sleep 0.05; done
echo_port="$(awk '/READY/ {print $2}' "$work/echo.out")"

echo "Quillmere against nginx (1 worker) on loopback, $(nproc) cores," \
  "median of $rounds rounds of ${duration}s per point"
echo
echo "1. keep-alive POST echo, 5-byte body (requests/s)"
printf '%12s %11s %11s %11s %11s %15s %16s %14s\n' connections nginx headless window \
  "engine echo" "headless/nginx" "window/headless" "headless/echo"
for c in 10 100; do
  all_theirs=() all_ours=() all_window=() all_echo=()
  for _ in $(seq "$rounds"); do
    all_theirs+=("$(rps "http://127.0.0.1:$nginx_port/" "$c" -s "$post_lua")")
    all_ours+=("$(rps "http://127.0.0.1:$headless_port/" "$c" -s "$post_lua")")
    all_window+=("$(rps "http://127.0.0.1:$window_port/" "$c" -s "$post_lua")")
    all_echo+=("$(rps "http://127.0.0.1:$echo_port/" "$c" -s "$post_lua")")
  done
  theirs="$(median "${all_theirs[@]}")"
  ours="$(median "${all_ours[@]}")"
  window="$(median "${all_window[@]}")"
  echo_rps="$(median "${all_echo[@]}")"
  printf '%12s %11s %11s %11s %11s %15s %16s %14s\n' "$c" "$theirs" "$ours" "$window" "$echo_rps" \
    "$(ratio "$ours" "$theirs")" "$(ratio "$window" "$ours")" "$(ratio "$ours" "$echo_rps")"
done

echo
echo "2. GET, each a run-log line stamped by a HEAD request to nginx (requests/s)"
cat >"$work/head_close.lua" <<'LUA'
wrk.method = "HEAD"
wrk.headers["Connection"] = "close"
LUA
all_head=() all_get=()
for _ in $(seq "$rounds"); do
  all_head+=("$(rps "$clock_url" 1 -s "$work/head_close.lua")")
  all_get+=("$(rps "http://127.0.0.1:$headless_port/msg" 10)")
done
serial_head="$(median "${all_head[@]}")"
get_rate="$(median "${all_get[@]}")"
lines="$(wc -l <"$work/headless/"*.txt)"
printf '%34s %12s\n' "nginx serial HEAD, new connections" "$serial_head"
printf '%34s %12s\n' "headless GET, 10 connections" "$get_rate"
printf '%34s %12s   (%s run-log lines written)\n' "GET / serial HEAD" "$(ratio "$get_rate" "$serial_head")" "$lines"

echo
echo "3. resident memory with $idle idle keep-alive connections"
# A fresh headless Quillmere, so the figures hold no trace of the load above.
mkdir -p "$work/idle"
cp "$quillmere_bin" "$work/idle/quillmere"
"$work/idle/quillmere" --headless --bind 127.0.0.1 --port 0 --clock-url "$clock_url" \
  >/dev/null 2>"$work/idle/stderr" &
idle_pid=$!
pids+=("$idle_pid")
idle_port="$(listening_port "$work/idle/stderr")"
idle_clients() {  # idle_clients <port> <pid>: opens the connections, reports RSS, closes them
  local before after opened clients_pid
  before="$(rss_kib "$2")"
  mkfifo "$work/hold$1"
  "$clients_bin" "$1" "$idle" <"$work/hold$1" >"$work/clients$1" 2>/dev/null &
  clients_pid=$!
  exec 5>"$work/hold$1"  # keeps the clients' standard input open, so they stay
  for _ in $(seq 1200); do grep -q OPEN "$work/clients$1" 2>/dev/null && break; sleep 0.05; done
  opened="$(awk '/OPEN/ {print $2}' "$work/clients$1")"
  after="$(rss_kib "$2")"
  exec 5>&-
  wait "$clients_pid" 2>/dev/null || true
  printf '%12s %10s KiB -> %8s KiB   %6s bytes per connection (%s open)\n' "$3" "$before" "$after" \
    "$(( (after - before) * 1024 / (opened > 0 ? opened : 1) ))" "$opened"
}
idle_clients "$idle_port" "$idle_pid" headless
idle_clients "$nginx_port" "$nginx_pid" nginx
