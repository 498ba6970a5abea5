# Shared by the benchmark scripts (source it): a scratch directory and the processes started in
# it, both cleaned up on exit; free loopback ports; nginx with one worker; figures from wrk.
# Installs nothing: `scripts/setup.sh --bench` provides the tools.

# bench_require <tool>...: stops with a hint when a tool is missing.
bench_require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null ||
      { echo "$(basename "$0"): $tool not found (scripts/setup.sh --bench)" >&2; exit 1; }
  done
}

# bench_start: makes $work, raises the open-file limit, and on exit stops every PID in the
# array `pids` and removes $work.
bench_start() {
  ulimit -n "$(ulimit -Hn)"
  work="$(mktemp -d)"
  pids=()
  trap bench_cleanup EXIT
}
bench_cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

# A TCP port on 127.0.0.1 that nothing listens on now.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# wait_for_url <url>: until it answers (5 s at most).
wait_for_url() {
  local _
  for _ in $(seq 100); do curl -s -o /dev/null "$1" && return 0; sleep 0.05; done
  return 1
}

# start_nginx <worker connections> <server blocks>: nginx with one worker, no master, its own
# prefix under $work/nginx, serving the given `server { ... }` blocks; sets nginx_pid. Wait for
# it with wait_for_url.
start_nginx() {
  local prefix="$work/nginx"
  mkdir -p "$prefix/logs"
  cat >"$prefix/nginx.conf" <<CONF
worker_processes 1;
daemon off;
master_process off;
worker_rlimit_nofile $(( $1 + 100 ));
pid $prefix/nginx.pid;
error_log $prefix/logs/error.log warn;
events { worker_connections $1; }
http {
  access_log off;
  keepalive_requests 1000000;
  keepalive_timeout 600s;
  client_body_temp_path $prefix/body;
  proxy_temp_path $prefix/proxy;
  fastcgi_temp_path $prefix/fastcgi;
  uwsgi_temp_path $prefix/uwsgi;
  scgi_temp_path $prefix/scgi;
$2
}
CONF
  nginx -p "$prefix" -c "$prefix/nginx.conf" &
  nginx_pid=$!
  pids+=("$nginx_pid")
}

# wrk_rps <url> <connections> <seconds> [wrk options...]: requests per second.
wrk_rps() {
  local url=$1 connections=$2 seconds=$3
  shift 3
  wrk -t"$(( connections < 2 ? 1 : 2 ))" -c"$connections" -d"${seconds}s" "$@" "$url" |
    awk '/Requests\/sec/ {print $2}'
}

# median <number>...: the middle one (the mean of the middle two for an even count).
median() {
  printf '%s\n' "$@" | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# ratio <a> <b>: a / b with two decimals, "-" when b is 0.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "-"; else printf "%.2f\n", a / b }'; }

# rss_kib <pid>: resident memory in KiB.
rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
