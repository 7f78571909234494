#!/usr/bin/env bash
# Measures the Release server on a PostgreSQL store (a throw-away cluster on this machine,
# reached over its unix socket, synchronous commit on) with ab (a new connection per request)
# at concurrency 16, against nginx serving static files in the same run, as in
# bench/compare_nginx.sh; the embedded store's GET is measured alongside for comparison.
#
#   bench/compare_postgresql.sh [--build DIR] [--rounds N]
#
# Runs: GET of a 1 KiB item, PUT of a 1 KiB item (16 clients on 16 items, and 16 clients on
# one item, whose writes queue on the item's row lock: one commit flush after another), dir of
# a 1,000-item file, and dir with
# max_items=10 of a section of 1,000,000 items against the same of a 10-item section. Targets:
# GET >= 50% of nginx's 200-byte file, PUT >= 2,000/s, dir >= 40% of nginx serving the
# listing's own bytes, the 10^6-item section with max_items as fast as the small one (>= 90%).
# --rounds N repeats every run and reports the round of median rate. Everything is stopped and
# removed when the script ends.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/bench/bench_common.sh"
build="$root/build"
rounds=3
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build="$(realpath -m "$2")"; shift ;;
    --rounds) rounds="$2"; shift ;;
    *) echo "usage: $0 [--build DIR] [--rounds N]" >&2; exit 2 ;;
  esac
  shift
done
bash "$root/scripts/ensure_packages.sh" apache2-utils nginx-light curl postgresql libpq-dev
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
build_if_needed

work=$(mktemp -d /tmp/ombrix-pgbench-XXXXXX)
chmod 755 "$work"
ombrix_pid=
nginx_pid=
embedded_pid=
stop_all() {
  stop_ombrix
  stop_nginx
  if [[ -n $embedded_pid ]]; then kill "$embedded_pid" 2>/dev/null || true; wait "$embedded_pid" 2>/dev/null || true; fi
  bash "$root/scripts/pg_cluster.sh" stop "$work/pg" || true
  rm -rf "$work"
}
trap stop_all EXIT

cluster=$(bash "$root/scripts/pg_cluster.sh" start "$work/pg")
psql -X -q -d "$cluster" -c "CREATE DATABASE bench"
store="postgresql:///bench${cluster#postgresql:///postgres}"
admin_pg() { "$build/ombrix-admin" --store "$store" "$@" >/dev/null; }

# ---- Data: a 1 KiB item, a file of 1,000 items, sections of 10 and of 1,000,000 items.
mkdir -p "$work/items" "$work/list" "$work/ten" "$work/data" "$work/www"
line=$(printf '%063d' 0)
for i in $(seq 16); do echo "$line"; done >"$work/items/ONEK"              # 16 x 64 = 1,024 bytes
for i in $(seq -w 1000); do printf 'item %s\nvalue %s\n' "$i" "$i" >"$work/list/I$i"; done
for i in $(seq -w 10); do printf 'v%s\n' "$i" >"$work/ten/I00000$i"; done
for tool in admin_pg admin; do
  $tool create-account MAIN
  $tool create-file MAIN BENCH
  $tool import MAIN BENCH "$work/items"
  $tool create-file MAIN LIST
  $tool import MAIN LIST "$work/list"
  $tool create-file MAIN SMALL
  $tool import MAIN SMALL "$work/ten"
done
admin_pg create-file MAIN HUGE
# 10^6 items written by SQL in one statement: the admin tool would take one round trip each.
psql -X -q -d "$store" <<'SQL'
INSERT INTO ombrix.items(section, id, size, units)
SELECT s.section, convert_to('I' || lpad(n::text, 7, '0'), 'UTF8'), 3,
       decode('7600' || to_hex(48 + n % 10) || '000a00', 'hex')  -- 'v', a digit, LF in 16-bit units
FROM ombrix.sections s, generate_series(1, 1000000) n
WHERE s.host_name = convert_to('HUGE', 'UTF8');
VACUUM ANALYZE ombrix.items;
SQL
printf '{"Client":"ab"}' >"$work/login.json"
{
  printf '{"data":['
  for i in $(seq 16); do printf '"%s"' "$line"; [[ $i -lt 16 ]] && printf ','; done
  printf ']}'
} >"$work/put.json"
{ printf '{"items":"'; head -c 184 /dev/zero | tr '\0' 'x'; printf '"}\n'; } >"$work/www/static.json"
chmod 755 "$work/www"; chmod 644 "$work/www/"*
nginx_port=$(free_port)
write_nginx_conf "$nginx_port" "$work/www" " backlog=4096"
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" -g 'daemon off;' &
nginx_pid=$!
wait_for "http://127.0.0.1:$nginx_port/static.json"

# The embedded store's server, for the same GET.
embedded_port=$(free_port)
OMBRIX_DATA="$work/data" "$build/ombrix" -p "$embedded_port" 2>>"$work/embedded.err" &
embedded_pid=$!
embedded_base="http://127.0.0.1:$embedded_port/quelm/restfs"
wait_for "$embedded_base/logout"
embedded_token=$(curl -s -X POST --data-binary @"$work/login.json" "$embedded_base/login" |
  sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')

port=$(free_port)
OMBRIX_STORE="$store" "$build/ombrix" -p "$port" 2>>"$work/ombrix.err" &
ombrix_pid=$!
base="http://127.0.0.1:$port/quelm/restfs"
wait_for "$base/logout"
token=$(curl -s -X POST --data-binary @"$work/login.json" "$base/login" |
  sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
[[ -n $token ]] || { echo "login failed" >&2; cat "$work/ombrix.err" >&2; exit 1; }
auth="Authorization: Bearer $token"
curl -s -H "$auth" "$base/dir/MAIN/LIST/LIST" >"$work/www/list.json"
chmod 644 "$work/www/list.json"
[[ $(curl -s -H "$auth" "$base/dir/MAIN/HUGE/HUGE?max_items=10" | grep -o '"id"' | wc -l) == 10 ]] ||
  { echo "the 10^6-item section does not list" >&2; exit 1; }

# put_spread COUNT: 16 ab processes at c=1, each writing an item of its own; requests/s in all.
put_spread() {
  local count=$1 started ended k pids=()
  started=$(date +%s.%N)
  for k in $(seq 16); do
    timeout 300 ab -q -s 30 -n $((count / 16)) -c 1 -u "$work/put.json" -T application/json \
      -H "$auth" "$base/file/MAIN/BENCH/BENCH/PUT$k" >"$work/put-$k.out" 2>&1 &
    pids+=($!)
  done
  wait "${pids[@]}" || true
  ended=$(date +%s.%N)
  if grep -q "^Non-2xx" "$work"/put-*.out || ! grep -q "^Requests per second" "$work/put-1.out"; then
    echo 0
  else
    awk -v n="$count" -v a="$started" -v b="$ended" 'BEGIN { printf "%.0f", n / (b - a) }'
  fi
}

declare -A result
run() {  # name count ab-arguments...
  local name=$1 count=$2; shift 2
  result["$name,$round"]=$(ab_rate 16 "$count" "$@")
  sleep 1
}
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
ab_rate 4 500 -H "$auth" "$base/file/MAIN/BENCH/BENCH/ONEK" >/dev/null
names=("GET 1 KiB item" "embedded GET 1 KiB item" "nginx static 200 B" "PUT 1 KiB item"
  "PUT 1 KiB, all on one item"
  "dir 1,000 items" "nginx same listing bytes" "dir 10^6 items, max_items=10"
  "dir 10 items, max_items=10")
for round in $(seq "$rounds"); do
  run "GET 1 KiB item" 10000 -H "$auth" "$base/file/MAIN/BENCH/BENCH/ONEK"
  run "embedded GET 1 KiB item" 10000 -H "Authorization: Bearer $embedded_token" \
    "$embedded_base/file/MAIN/BENCH/BENCH/ONEK"
  run "nginx static 200 B" 10000 "http://127.0.0.1:$nginx_port/static.json"
  result["PUT 1 KiB item,$round"]=$(put_spread 8000)
  sleep 1
  run "PUT 1 KiB, all on one item" 2000 -u "$work/put.json" -T application/json -H "$auth" \
    "$base/file/MAIN/BENCH/BENCH/PUTONEK"
  run "dir 1,000 items" 2000 -H "$auth" "$base/dir/MAIN/LIST/LIST"
  run "nginx same listing bytes" 2000 "http://127.0.0.1:$nginx_port/list.json"
  run "dir 10^6 items, max_items=10" 10000 -H "$auth" "$base/dir/MAIN/HUGE/HUGE?max_items=10"
  run "dir 10 items, max_items=10" 10000 -H "$auth" "$base/dir/MAIN/SMALL/SMALL?max_items=10"
done
median() {
  for round in $(seq "$rounds"); do echo "${result["$1,$round"]}"; done | sort -g |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
declare -A rate
for name in "${names[@]}"; do rate["$name"]=$(median "$name"); done

echo
echo "Ombrix on a PostgreSQL store (unix socket, synchronous commit), ab at c=16, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//');"\
  "load average before the runs: $load_start (1, 5, 15 min; other work on the machine skews the figures)"
echo
printf '| %-30s | %9s |\n' run "req/s"
printf '|%s|\n' "--------------------------------|-----------"
for name in "${names[@]}"; do printf '| %-30s | %9.0f |\n' "$name" "${rate[$name]}"; done
echo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.0f%%", 100 * a / b; else print "-" }'; }
met() { if awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { exit !(b > 0 && a >= t * b) }'; then echo met; else echo missed; fi; }
echo "target GET 1 KiB item >= 50% of nginx static 200 B: $(met "${rate["GET 1 KiB item"]}" "${rate["nginx static 200 B"]}" 0.5) ($(ratio "${rate["GET 1 KiB item"]}" "${rate["nginx static 200 B"]}"))"
echo "target PUT 1 KiB item >= 2,000/s: $(met "${rate["PUT 1 KiB item"]}" 2000 1) ($(printf '%.0f' "${rate["PUT 1 KiB item"]}")/s)"
echo "target dir 1,000 items >= 40% of nginx serving its bytes: $(met "${rate["dir 1,000 items"]}" "${rate["nginx same listing bytes"]}" 0.4) ($(ratio "${rate["dir 1,000 items"]}" "${rate["nginx same listing bytes"]}"))"
echo "target 10^6-item section with max_items as fast as a small one (>= 90%): $(met "${rate["dir 10^6 items, max_items=10"]}" "${rate["dir 10 items, max_items=10"]}" 0.9) ($(ratio "${rate["dir 10^6 items, max_items=10"]}" "${rate["dir 10 items, max_items=10"]}"))"
echo "commit flush on this disk: $(cd "$work" && /usr/lib/postgresql/*/bin/pg_test_fsync -s 1 -f "$work/fsync.test" 2>/dev/null | awk '/^ *fdatasync/ { print $(NF - 1) " us (fdatasync)"; exit }')"
echo "GET on the embedded store in the same run: $(printf '%.0f' "${rate["embedded GET 1 KiB item"]}")/s; rounds: $rounds (median shown)"
