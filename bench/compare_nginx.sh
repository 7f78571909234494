#!/usr/bin/env bash
# Measures the Release server with ab (a new connection per request) at concurrency 1, 16 and 64
# and, in the same run, nginx (keepalive_timeout 0, backlog 4096) serving static files as the
# ceiling for one connection per request on this machine.
#
#   bench/compare_nginx.sh [--build DIR] [--quick] [--rounds N]
#
# Ombrix: login, GET file of a 1 KiB item, PUT file of a 1 KiB item, dir of a 1,000-item file,
# GET file of a 1 MiB item. nginx: a 200-byte JSON file, a 1 MiB file and the listing's own bytes. Prints requests/s, p50,
# p99 and the slowest request per run, the ratio ombrix/nginx per pair, the listen-queue
# overflows (TcpExt ListenOverflows) during each run, and whether the targets were met: GET of
# the small item >= 90% of nginx's 200-byte file at c=16 and >= 80% at c=64, its p99 < 5 ms at
# c=16 and < 15 ms at c=64, the 1 MiB item >= 80% of nginx's 1 MiB file at c=1 and c=16, the
# listing >= 90% of nginx serving its bytes at c=16, and no ombrix request slower than 1 s at
# c=64.
# --rounds N repeats every run N times and reports, per run, the round of median rate: on a
# shared machine single runs of the same request differ by a fifth or more. Each ombrix run is
# followed by the reference run it is compared with, so that the two see the same load.
# Everything runs on 127.0.0.1; both servers are stopped when the script ends.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/bench/bench_common.sh"
build="$root/build"
quick=0
rounds=1
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build="$(realpath -m "$2")"; shift ;;
    --quick) quick=1 ;;
    --rounds) rounds="$2"; shift ;;
    *) echo "usage: $0 [--build DIR] [--quick] [--rounds N]" >&2; exit 2 ;;
  esac
  shift
done

# Tools: installed only when missing.
missing=()
command -v ab >/dev/null 2>&1 || missing+=(apache2-utils)
command -v nginx >/dev/null 2>&1 || [[ -x /usr/sbin/nginx ]] || missing+=(nginx-light)
command -v curl >/dev/null 2>&1 || missing+=(curl)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
[[ -e /usr/include/sqlite3.h ]] || missing+=(libsqlite3-dev)
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

if [[ ! -x "$build/ombrix" || ! -x "$build/ombrix-admin" ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRIX_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target ombrix ombrix-admin >/dev/null
fi
build_type=$(awk -F= '/^CMAKE_BUILD_TYPE:/ {print $2}' "$build/CMakeCache.txt" 2>/dev/null || true)
[[ "$build_type" == Release ]] || echo "warning: $build is a '$build_type' build, not Release" >&2

ombrix_port=$(free_port)
nginx_port=$(free_port)
while [[ $nginx_port == "$ombrix_port" ]]; do nginx_port=$(free_port); done

work=$(mktemp -d /tmp/ombrix-bench-XXXXXX)
ombrix_pid=
nginx_pid=
stop_all() {
  stop_ombrix
  stop_nginx
  rm -rf "$work"
}
trap stop_all EXIT

# ---- Data: a 1 KiB item, a 1 MiB item and a file of 1,000 items.
mkdir -p "$work/data" "$work/items" "$work/list" "$work/www"
line=$(printf '%063d' 0)
for i in $(seq 16); do echo "$line"; done >"$work/items/ONEK"              # 16 x 64 = 1,024 bytes
big_line=$(printf '%01023d' 0)
for i in $(seq 1024); do echo "$big_line"; done >"$work/items/BIG"          # 1,024 x 1,024 = 1 MiB
for i in $(seq -w 1000); do printf 'item %s\nvalue %s\n' "$i" "$i" >"$work/list/I$i"; done
admin create-account MAIN
admin create-file MAIN BENCH
admin import MAIN BENCH "$work/items"
admin create-file MAIN LIST
admin import MAIN LIST "$work/list"

# Request bodies.
printf '{"Client":"ab"}' >"$work/login.json"
{
  printf '{"data":['
  for i in $(seq 16); do printf '"%s"' "$line"; [[ $i -lt 16 ]] && printf ','; done
  printf ']}'
} >"$work/put.json"

# nginx files: a 200-byte JSON document and 1 MiB.
{ printf '{"items":"'; head -c 184 /dev/zero | tr '\0' 'x'; printf '"}\n'; } >"$work/www/static.json"
head -c 1048576 /dev/zero | tr '\0' 'y' >"$work/www/big.bin"
chmod 755 "$work" "$work/www"; chmod 644 "$work/www/"*
mkdir -p "$work/nginx/logs"
write_nginx_conf "$nginx_port" "$work/www" " backlog=4096"

# ---- Servers.
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" -g 'daemon off;' &
nginx_pid=$!
OMBRIX_DATA="$work/data" "$build/ombrix" -p "$ombrix_port" 2>"$work/ombrix.err" &
ombrix_pid=$!
wait_for "http://127.0.0.1:$ombrix_port/quelm/restfs/logout"
wait_for "http://127.0.0.1:$nginx_port/static.json"

# A token of its own; taken again after each login run, whose thousands of sessions push the
# least recently used (this one) out of the server's bounded session table.
fresh_token() {
  token=$(curl -s -X POST --data-binary @"$work/login.json" "http://127.0.0.1:$ombrix_port/quelm/restfs/login" |
    sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
  [[ -n $token ]] || { echo "login failed" >&2; exit 1; }
  auth="Authorization: Bearer $token"
}
fresh_token
base="http://127.0.0.1:$ombrix_port/quelm/restfs"
# The very bytes of the listing, for nginx to serve as a file.
curl -s -H "$auth" "$base/dir/MAIN/LIST/LIST" >"$work/www/list.json"
chmod 644 "$work/www/list.json"

overflows() { awk '/^TcpExt:/ { if (!n) { for (i = 1; i <= NF; i++) if ($i == "ListenOverflows") c = i; n = 1 } else print $c }' /proc/net/netstat; }

# One ab run: prints "rate p50 p99 max failures overflows" (times in ms). Failures are refused
# connects, receive errors, exceptions and non-2xx answers; ab's "Length" count is left out
# because login tokens differ in length as session numbers grow.
measure() {
  local concurrency=$1 count=$2; shift 2
  local out=$work/ab.out csv=$work/ab.csv before after
  before=$(overflows)
  if ! timeout 300 ab -q -s 30 -n "$count" -c "$concurrency" -e "$csv" "$@" >"$out" 2>&1; then
    echo "ab failed: $*" >&2
    tail -5 "$out" >&2
    echo "0 0 0 0 $count 0"
    return
  fi
  after=$(overflows)
  local rate p50 p99 max bad non2xx
  rate=$(awk '/^Requests per second:/ {print $4}' "$out")
  p50=$(awk -F, '$1 == "50" {print $2}' "$csv")
  p99=$(awk -F, '$1 == "99" {print $2}' "$csv")
  max=$(awk -F, '$1 == "100" {print $2}' "$csv")
  bad=$(sed -n 's/.*(Connect: \([0-9]*\), Receive: \([0-9]*\), Length: [0-9]*, Exceptions: \([0-9]*\)).*/\1 \2 \3/p' "$out" |
    awk '{print $1 + $2 + $3}')
  non2xx=$(awk '/^Non-2xx responses:/ {print $3}' "$out")
  echo "$rate $p50 $p99 $max $((${bad:-0} + ${non2xx:-0})) $((after - before))"
}

small=10000; single=2000; bigc=1000; bigs=300
if ((quick)); then small=2000; single=500; bigc=200; bigs=100; fi

declare -A result
run() {  # name concurrency count ab-arguments...
  local name=$1 concurrency=$2 count=$3; shift 3
  result["$name,$concurrency,$round"]=$(measure "$concurrency" "$count" "$@")
  sleep 1
}

overflows_start=$(overflows)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
# Warm-up of both servers and the loopback path.
measure 4 300 -H "$auth" "$base/file/MAIN/BENCH/BENCH/ONEK" >/dev/null
measure 4 300 "http://127.0.0.1:$nginx_port/static.json" >/dev/null

names=("ombrix login" "ombrix GET 1 KiB item" "ombrix PUT 1 KiB item" "ombrix dir 1,000 items"
  "ombrix GET 1 MiB item" "nginx static 200 B" "nginx static 1 MiB" "nginx same listing bytes")
for round in $(seq "$rounds"); do
  for c in 1 16 64; do
    n=$small; ((c == 1)) && n=$single
    nb=$bigc; ((c == 1)) && nb=$bigs
    run "ombrix login" "$c" "$n" -p "$work/login.json" -T application/json "$base/login"
    fresh_token
    run "ombrix GET 1 KiB item" "$c" "$n" -H "$auth" "$base/file/MAIN/BENCH/BENCH/ONEK"
    run "nginx static 200 B" "$c" "$n" "http://127.0.0.1:$nginx_port/static.json"
    run "ombrix PUT 1 KiB item" "$c" "$n" -u "$work/put.json" -T application/json -H "$auth" "$base/file/MAIN/BENCH/BENCH/PUTONEK"
    run "ombrix dir 1,000 items" "$c" "$nb" -H "$auth" "$base/dir/MAIN/LIST/LIST"
    run "nginx same listing bytes" "$c" "$nb" "http://127.0.0.1:$nginx_port/list.json"
    run "ombrix GET 1 MiB item" "$c" "$nb" -H "$auth" "$base/file/MAIN/BENCH/BENCH/BIG"
    run "nginx static 1 MiB" "$c" "$nb" "http://127.0.0.1:$nginx_port/big.bin"
  done
done
# Per run, the round of median rate.
for c in 1 16 64; do
  for name in "${names[@]}"; do
    median_round=$(for round in $(seq "$rounds"); do
      read -r rate _ <<<"${result["$name,$c,$round"]}"
      echo "$rate $round"
    done | sort -g | awk '{ line[NR] = $2 } END { print line[int((NR + 1) / 2)] }')
    result["$name,$c"]=${result["$name,$c,$median_round"]}
  done
done
overflows_end=$(overflows)

echo
echo "Ombrix against nginx, one connection per request (ab), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
  "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), kernel $(uname -r)"
echo "load average before the runs: $load_start (1, 5, 15 min; other work on the machine skews the figures)"
echo
printf '| %-24s | %4s | %9s | %8s | %8s | %9s | %5s | %5s | %7s |\n' \
  test c "req/s" "p50 ms" "p99 ms" "max ms" fails ovfl "vs nginx"
printf '|%s|\n' "--------------------------|------|-----------|----------|----------|-----------|-------|-------|---------"
peer_of() {
  case "$1" in
    "ombrix GET 1 MiB item") echo "nginx static 1 MiB" ;;
    "ombrix dir 1,000 items") echo "nginx same listing bytes" ;;
    ombrix*) echo "nginx static 200 B" ;;
    *) echo "" ;;
  esac
}
for c in 1 16 64; do
  for name in "${names[@]}"; do
    read -r rate p50 p99 max fails ovfl <<<"${result["$name,$c"]}"
    peer=$(peer_of "$name")
    ratio="-"
    if [[ -n $peer ]]; then
      read -r peer_rate _ <<<"${result["$peer,$c"]}"
      ratio=$(awk -v a="$rate" -v b="$peer_rate" 'BEGIN { if (b > 0) printf "%.0f%%", 100 * a / b; else print "-" }')
    fi
    printf '| %-24s | %4s | %9.0f | %8.2f | %8.2f | %9.0f | %5s | %5s | %7s |\n' \
      "$name" "$c" "$rate" "$p50" "$p99" "$max" "$fails" "$ovfl" "$ratio"
  done
done
echo
echo "ListenOverflows (system-wide): $overflows_start before, $overflows_end after"

# Targets.
verdict() { if [[ $1 == 1 ]]; then echo met; else echo missed; fi; }
# ratio_target NAME PEER C AT-LEAST: one line on NAME's rate against PEER's at concurrency C.
ratio_target() {
  local rate peer
  read -r rate _ <<<"${result["$1,$3"]}"
  read -r peer _ <<<"${result["$2,$3"]}"
  echo "target $1 at c=$3 >= $(awk -v t="$4" 'BEGIN { printf "%.0f%%", 100 * t }') of $2:" \
    "$(verdict "$(awk -v a="$rate" -v b="$peer" -v t="$4" 'BEGIN { print (b > 0 && a >= t * b) ? 1 : 0 }')")" \
    "($(awk -v a="$rate" -v b="$peer" 'BEGIN { if (b > 0) printf "%.0f%%", 100 * a / b; else print "-" }'))"
}
p99_target() {  # C LIMIT-MS
  local p99
  read -r _ _ p99 _ <<<"${result["ombrix GET 1 KiB item,$1"]}"
  echo "target GET 1 KiB item p99 < $2 ms at c=$1: $(verdict "$(awk -v p="$p99" -v l="$2" 'BEGIN { print (p < l) ? 1 : 0 }')") ($p99 ms)"
}
ratio_target "ombrix GET 1 KiB item" "nginx static 200 B" 16 0.90
ratio_target "ombrix GET 1 KiB item" "nginx static 200 B" 64 0.80
p99_target 16 5
p99_target 64 15
ratio_target "ombrix GET 1 MiB item" "nginx static 1 MiB" 1 0.80
ratio_target "ombrix GET 1 MiB item" "nginx static 1 MiB" 16 0.80
ratio_target "ombrix dir 1,000 items" "nginx same listing bytes" 16 0.90
worst64=0
for name in "ombrix login" "ombrix GET 1 KiB item" "ombrix PUT 1 KiB item" "ombrix dir 1,000 items" "ombrix GET 1 MiB item"; do
  read -r _ _ _ max _ <<<"${result["$name,64"]}"
  worst64=$(awk -v a="$worst64" -v b="$max" 'BEGIN { print (b > a) ? b : a }')
done
echo "target no ombrix request slower than 1 s at c=64: $(verdict "$(awk -v m="$worst64" 'BEGIN { print (m < 1000) ? 1 : 0 }')") (slowest $worst64 ms)"
echo "requests per run: $single (c=1) / $small (c=16, 64); 1 MiB and dir runs: $bigs (c=1) / $bigc;" \
  "rounds: $rounds (the round of median rate shown)"
