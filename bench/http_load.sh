#!/usr/bin/env bash
# Load benchmark of the HTTP layer: the real listener and request reader with a stand-in
# dispatcher answering a 200-byte JSON, against a stock web server (nginx, keep-alive off)
# serving a 200-byte static file. ab opens a new connection per request. Prints requests/s,
# p50 and p99 for concurrency 1, 16 and 64 and the ratio of the two rates.
#
#   bench/http_load.sh            # defaults
#   REQUESTS=20000 bench/http_load.sh
#
# Everything runs on 127.0.0.1. Both servers are stopped when the script ends.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/bench_common.sh"
build=${BUILD_DIR:-$repo/build-http-bench}
standin_port=${STANDIN_PORT:-3191}
nginx_port=${NGINX_PORT:-3192}
requests=${REQUESTS:-10000}          # per run at concurrency 16 and 64
single_requests=${SINGLE_REQUESTS:-4000}  # per run at concurrency 1
run_limit=${RUN_LIMIT:-120}          # seconds any one ab run may take
# Scheduling priority of both servers and ab (nice value; negative needs root). On a machine
# busy with other work, a negative value keeps that work from dominating the tail latencies.
bench_nice=${BENCH_NICE:-0}

# Tools, installed only when missing.
missing=()
command -v ab >/dev/null 2>&1 || missing+=(apache2-utils)
command -v nginx >/dev/null 2>&1 || [[ -x /usr/sbin/nginx ]] || missing+=(nginx-light)
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

# The stand-in server, built in release mode.
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRIX_BENCH=ON -DOMBRIX_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j2 --target http_standin_server >/dev/null
standin_bin=$build/bench/http_standin_server

work=$(mktemp -d /tmp/http-load-XXXXXX)
standin_pid=
nginx_pid=
stop_servers() {
  if [[ -n $standin_pid ]]; then
    kill "$standin_pid" 2>/dev/null || true
    wait "$standin_pid" 2>/dev/null || true
  fi
  if [[ -n $nginx_pid ]]; then
    kill -QUIT "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_servers EXIT

# nginx with its own prefix, configuration and a 200-byte file.
mkdir -p "$work/nginx/www" "$work/nginx/logs"
chmod 755 "$work" "$work/nginx" "$work/nginx/www"  # the workers run unprivileged
head -c 200 /dev/zero | tr '\0' 'x' >"$work/nginx/www/item.json"
write_nginx_conf "$nginx_port" "$work/nginx/www"
nice -n "$bench_nice" "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" \
  -g 'daemon off;' &
nginx_pid=$!
nice -n "$bench_nice" "$standin_bin" "$standin_port" 2>"$work/standin.log" &
standin_pid=$!

wait_for "http://127.0.0.1:$standin_port/"
wait_for "http://127.0.0.1:$nginx_port/"

# One ab run; prints "rate p50 p99 failures" (times in ms).
measure() {
  local url=$1 concurrency=$2 count=$3
  local out=$work/ab.out csv=$work/ab.csv
  timeout "$run_limit" nice -n "$bench_nice" ab -q -n "$count" -c "$concurrency" -e "$csv" "$url" >"$out" 2>&1 || {
    echo "ab failed against $url:" >&2
    cat "$out" >&2
    return 1
  }
  local rate failed non2xx p50 p99
  rate=$(awk '/^Requests per second:/ {print $4}' "$out")
  failed=$(awk '/^Failed requests:/ {print $3}' "$out")
  non2xx=$(awk '/^Non-2xx responses:/ {print $3}' "$out")
  p50=$(awk -F, '$1 == "50" {print $2}' "$csv")
  p99=$(awk -F, '$1 == "99" {print $2}' "$csv")
  echo "$rate $p50 $p99 $((failed + ${non2xx:-0}))"
}

standin_url="http://127.0.0.1:$standin_port/quelm/restfs/dir"
nginx_url="http://127.0.0.1:$nginx_port/item.json"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# Warm-up: page in both servers and the loopback path.
measure "$standin_url" 4 500 >/dev/null
measure "$nginx_url" 4 500 >/dev/null

printf '%-5s | %12s %8s %8s | %12s %8s %8s | %6s\n' \
  conc "stand-in r/s" "p50 ms" "p99 ms" "nginx r/s" "p50 ms" "p99 ms" ratio
printf -- '------+-------------------------------+-------------------------------+-------\n'
status=0
for concurrency in 1 16 64; do
  count=$requests
  ((concurrency == 1)) && count=$single_requests
  standin_result=$(measure "$standin_url" "$concurrency" "$count") || exit 1
  sleep 1
  nginx_result=$(measure "$nginx_url" "$concurrency" "$count") || exit 1
  sleep 1
  read -r s_rate s_p50 s_p99 s_failed <<<"$standin_result"
  read -r n_rate n_p50 n_p99 n_failed <<<"$nginx_result"
  ratio=$(awk -v a="$s_rate" -v b="$n_rate" 'BEGIN { printf "%.0f%%", 100 * a / b }')
  printf '%-5s | %12.0f %8.2f %8.2f | %12.0f %8.2f %8.2f | %6s\n' \
    "$concurrency" "$s_rate" "$s_p50" "$s_p99" "$n_rate" "$n_p50" "$n_p99" "$ratio"
  if ((s_failed + n_failed)); then
    echo "  failed or non-2xx responses: stand-in $s_failed, nginx $n_failed" >&2
    status=1
  fi
  if ((concurrency == 16)); then
    target=$(awk -v a="$s_rate" -v b="$n_rate" -v p="$s_p99" \
      'BEGIN { print (a >= 0.4 * b && p < 10) ? "met" : "missed" }')
    c16_line="target at c=16 (>= 40% of nginx's rate, p99 < 10 ms): $target"
  fi
done
echo "$c16_line"
echo "requests per run: $single_requests at c=1, $requests at c=16 and c=64; nice $bench_nice;" \
  "load average before: $load_before"
exit $status
