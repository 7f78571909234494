#!/usr/bin/env bash
# How cost grows with the number of items in a file and with the size of one item.
#
#   bench/scaling.sh [--build DIR] [--quick]
#
# Files of 10^3, 10^4, 10^5 and 10^6 small items (imported with ombrix-admin): median and p90
# time (curl, one connection per request) of GET, PUT and stat of one item, dir of the whole
# file and dir with max_items=100; the server's VmRSS at rest after login and its VmHWM after
# ab -c 64 on GET of an item. Items of 1 KiB to 64 MiB: GET and PUT time and the server's peak
# RSS (VmHWM; a fresh server per size). --quick: up to 10^5 items and 16 MiB. PUTs send no
# "Expect: 100-continue", which would make curl wait 1 s before a body over 1 MiB.
# Everything runs on 127.0.0.1 over a temporary data root that is removed on exit.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
quick=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build="$(realpath -m "$2")"; shift ;;
    --quick) quick=1 ;;
    *) echo "usage: $0 [--build DIR] [--quick]" >&2; exit 2 ;;
  esac
  shift
done
source "$root/bench/bench_common.sh"
for tool in ab curl python3; do command -v "$tool" >/dev/null || { echo "$tool missing" >&2; exit 1; }; done
build_if_needed

work=$(mktemp -d /tmp/ombrix-scaling-XXXXXX)
ombrix_pid=
trap 'stop_ombrix; rm -rf "$work"' EXIT
mkdir -p "$work/data"

counts=(1000 10000 100000 1000000)
sizes_kib=(1 64 1024 16384 65536)
if ((quick)); then counts=(1000 10000 100000); sizes_kib=(1 64 1024 16384); fi
reps=7

# time_ms REPS CURL-ARGS...: "median p90" of curl's time_total in ms; every answer must be 200.
time_ms() {
  local n=$1; shift
  local out code t
  : >"$work/times"
  for _ in $(seq "$n"); do
    out=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' "$@")
    read -r code t <<<"$out"
    [[ $code == 200 ]] || { echo "HTTP $code for: $*" >&2; exit 1; }
    echo "$t" >>"$work/times"
  done
  sort -g "$work/times" | awk '{ v[NR] = $1 * 1000 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    p = int(0.9 * NR + 0.999); if (p < 1) p = 1
    printf "%.2f %.2f", m, v[p] }'
}

# ---- Files of many small items. "fill s" counts writing the item files, the import and deleting them.
admin create-account MAIN
for n in "${counts[@]}"; do
  dir="$work/items$n"
  start=$(date +%s.%N)
  python3 - "$dir" "$n" <<'PY'
import os, sys
d, n = sys.argv[1], int(sys.argv[2])
os.makedirs(d)
for i in range(n):
    with open(os.path.join(d, "I%07d" % i), "w") as f:
        f.write("item %d\nvalue %d\nsome text of the item\n" % (i, i))
PY
  admin import MAIN "S$n" "$dir"
  rm -rf "$dir"
  fill_s[$n]=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
done
printf '{"data":["item put","value put","some text of the item"]}' >"$work/put.json"

start_ombrix
curl -s -o /dev/null -H "$auth" "$base/file/MAIN/S${counts[0]}/S${counts[0]}/I0000000"
rest_kib=$(proc_kib "$ombrix_pid" VmRSS)
mid_of() { printf 'I%07d' $(($1 / 2)); }
big=${counts[-1]}
ab_rate 64 5000 -H "$auth" "$base/file/MAIN/S$big/S$big/$(mid_of "$big")" >/dev/null
c64_kib=$(proc_kib "$ombrix_pid" VmHWM)

declare -A row
for n in "${counts[@]}"; do
  f="$base/file/MAIN/S$n/S$n/$(mid_of "$n")"
  g=$(time_ms "$reps" -H "$auth" "$f")
  p=$(time_ms "$reps" -X PUT -H "Expect:" --data-binary @"$work/put.json" -H "$auth" "$base/file/MAIN/S$n/S$n/PUT$n")
  s=$(time_ms "$reps" -H "$auth" "$base/stat/MAIN/S$n/S$n/$(mid_of "$n")")
  r=$reps; ((n >= 1000000)) && r=3
  d=$(time_ms "$r" -H "$auth" "$base/dir/MAIN/S$n/S$n")
  m=$(time_ms "$reps" -H "$auth" "$base/dir/MAIN/S$n/S$n?max_items=100")
  bytes=$(curl -s -H "$auth" "$base/dir/MAIN/S$n/S$n" | wc -c)
  row[$n]="$g|$p|$s|$d|$m|$bytes"
done
after_kib=$(proc_kib "$ombrix_pid" VmHWM)
stop_ombrix

echo
echo "Scaling run $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "times: median / p90 in ms of $reps requests (3 for the whole-file dir of 10^6), curl, new connection each"
echo
echo "| items in file | fill s | GET item | PUT item | stat item | dir whole file | dir max_items=100 | listing bytes |"
echo "|---|---|---|---|---|---|---|---|"
for n in "${counts[@]}"; do
  IFS='|' read -r g p s d m bytes <<<"${row[$n]}"
  printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$n" "${fill_s[$n]}" \
    "${g/ / / }" "${p/ / / }" "${s/ / / }" "${d/ / / }" "${m/ / / }" "$bytes"
done
echo
echo "server memory: VmRSS at rest after the fills and a login $(mib "$rest_kib") MiB;" \
  "VmHWM after ab -c 64 -n 5000 GET item of the ${big}-item file $(mib "$c64_kib") MiB;" \
  "VmHWM after all the timings above (whole-file listings included) $(mib "$after_kib") MiB"

# ---- One item of growing size, a fresh server per size.
echo
echo "| item size | GET ms (median / p90) | PUT ms (median / p90) | VmRSS idle MiB | VmHWM after GET MiB | VmHWM after PUT MiB |"
echo "|---|---|---|---|---|---|"
for k in "${sizes_kib[@]}"; do
  rm -rf "$work/one" && mkdir -p "$work/one"
  python3 - "$work/one/ITEM" "$work/body.json" "$k" <<'PY'
import sys
path, body, kib = sys.argv[1], sys.argv[2], int(sys.argv[3])
line = "x" * 63                   # 63 characters + LF = 64 bytes a line
n = kib * 1024 // 64
with open(path, "w") as f:
    f.write((line + "\n") * n)
with open(body, "w") as f:
    f.write('{"data":[' + ",".join(['"' + line + '"'] * n) + ']}')
PY
  admin import MAIN "B$k" "$work/one"
  start_ombrix
  idle=$(proc_kib "$ombrix_pid" VmRSS)
  r=5; ((k >= 16384)) && r=3
  g=$(time_ms "$r" -H "$auth" "$base/file/MAIN/B$k/B$k/ITEM")
  hg=$(proc_kib "$ombrix_pid" VmHWM)
  p=$(time_ms "$r" -X PUT -H "Expect:" --data-binary @"$work/body.json" -H "$auth" "$base/file/MAIN/B$k/B$k/ITEM")
  hp=$(proc_kib "$ombrix_pid" VmHWM)
  stop_ombrix
  label="$k KiB"; ((k >= 1024)) && label="$((k / 1024)) MiB"
  printf '| %s | %s | %s | %s | %s | %s |\n' "$label" "${g/ / / }" "${p/ / / }" "$(mib "$idle")" "$(mib "$hg")" "$(mib "$hp")"
done
