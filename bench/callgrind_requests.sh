#!/usr/bin/env bash
# Counts the server's own instructions per request with callgrind: a count that other work on
# the machine does not change, where request rates on two shared cores differ by a fifth or
# more from run to run. The kernel's work (accept, the loopback packets, close) is not counted.
#
#   bench/callgrind_requests.sh [--build DIR]...
#
# With several --build options each build is measured in turn on the same data. Requests, one
# connection each, sent one after the other with ab: login, GET of a 1 KiB item, PUT of a 1 KiB
# item, stat, dir of a 1,000-item file, GET of a 1 MiB item (the same items as
# bench/compare_nginx.sh). Each kind is sent once unmeasured first, so kept listings and replies
# are in place as in a steady run; prints instructions per request (Ir) for each build.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) builds+=("$(realpath -m "$2")"); shift ;;
    *) echo "usage: $0 [--build DIR]..." >&2; exit 2 ;;
  esac
  shift
done
((${#builds[@]})) || builds=("$root/build")
command -v valgrind >/dev/null || { echo "valgrind is needed" >&2; exit 1; }
command -v ab >/dev/null || { echo "ab (apache2-utils) is needed" >&2; exit 1; }

work=$(mktemp -d /tmp/ombrix-callgrind-XXXXXX)
ombrix_pid=
trap 'stop_ombrix; rm -rf "$work"' EXIT
source "$root/bench/bench_common.sh"

# The data, made once with the first build's admin tool.
build=${builds[0]}
mkdir -p "$work/items" "$work/list"
line=$(printf '%063d' 0)
for i in $(seq 16); do echo "$line"; done >"$work/items/ONEK"
big_line=$(printf '%01023d' 0)
for i in $(seq 1024); do echo "$big_line"; done >"$work/items/BIG"
for i in $(seq -w 1000); do printf 'item %s\nvalue %s\n' "$i" "$i" >"$work/list/I$i"; done
admin create-account MAIN
admin create-file MAIN BENCH
admin import MAIN BENCH "$work/items"
admin create-file MAIN LIST
admin import MAIN LIST "$work/list"
printf '{"Client":"ab"}' >"$work/login.json"
{
  printf '{"data":['
  for i in $(seq 16); do printf '"%s"' "$line"; [[ $i -lt 16 ]] && printf ','; done
  printf ']}'
} >"$work/put.json"
cp -r "$work/data" "$work/data.clean"

# instructions NAME COUNT AB-ARGUMENTS...: Ir per request of COUNT requests.
instructions() {
  local name=$1 count=$2; shift 2
  ab -q -n 1 -c 1 "$@" >/dev/null 2>&1  # in place first
  callgrind_control -z "$ombrix_pid" >/dev/null 2>&1
  ab -q -n "$count" -c 1 -s 60 "$@" >"$work/ab.out" 2>&1
  rm -f "$work"/callgrind.out.*
  callgrind_control -d "$ombrix_pid" >/dev/null 2>&1
  sleep 0.5
  local total
  total=$(cat "$work"/callgrind.out.* | awk '/^summary:/ {s += $2} /^totals:/ {t += $2} END {print (s ? s : t)}')
  awk -v t="$total" -v n="$count" -v name="$name" 'BEGIN { printf "  %-24s %12.0f Ir\n", name, t / n }'
}

for build in "${builds[@]}"; do
  rm -rf "$work/data" && cp -r "$work/data.clean" "$work/data"
  port=$(free_port)
  OMBRIX_DATA="$work/data" valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out.%p" \
    "$build/ombrix" -p "$port" 2>>"$work/valgrind.err" &
  ombrix_pid=$!
  base="http://127.0.0.1:$port/quelm/restfs"
  for _ in $(seq 300); do curl -s -o /dev/null "$base/logout" && break; sleep 0.1; done
  token=$(curl -s -X POST --data-binary @"$work/login.json" "$base/login" |
    sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
  auth="Authorization: Bearer $token"
  echo "$build (instructions per request)"
  instructions "login" 100 -p "$work/login.json" -T application/json "$base/login"
  instructions "GET 1 KiB item" 200 -H "$auth" "$base/file/MAIN/BENCH/BENCH/ONEK"
  instructions "PUT 1 KiB item" 200 -u "$work/put.json" -T application/json -H "$auth" "$base/file/MAIN/BENCH/BENCH/PUTONEK"
  instructions "stat 1 KiB item" 200 -H "$auth" "$base/stat/MAIN/BENCH/BENCH/ONEK"
  instructions "dir 1,000 items" 50 -H "$auth" "$base/dir/MAIN/LIST/LIST"
  instructions "GET 1 MiB item" 20 -H "$auth" "$base/file/MAIN/BENCH/BENCH/BIG"
  stop_ombrix
done
