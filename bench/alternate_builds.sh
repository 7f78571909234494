#!/usr/bin/env bash
# Two builds of the server side by side on copies of the same data, measured run by run in
# turn (previous, new, previous, new, ...) so that both see the same load on a shared machine:
# ab, a new connection per request, for GET of a 1 KiB item (c=16), dir of a 1,000-item file
# (c=16) and GET of a 1 MiB item (c=1 and c=16). Prints each run and, per request, the median
# rate of each build and the median of the new build's rate over the previous one's.
#
#   bench/alternate_builds.sh --previous DIR --new DIR [--rounds N]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
previous= new= rounds=5
while [[ $# -gt 0 ]]; do
  case "$1" in
    --previous) previous="$(realpath -m "$2")"; shift ;;
    --new) new="$(realpath -m "$2")"; shift ;;
    --rounds) rounds="$2"; shift ;;
    *) echo "usage: $0 --previous DIR --new DIR [--rounds N]" >&2; exit 2 ;;
  esac
  shift
done
[[ -x $previous/ombrix && -x $new/ombrix ]] || { echo "both builds need ombrix and ombrix-admin" >&2; exit 2; }
command -v ab >/dev/null || { echo "ab (apache2-utils) is needed" >&2; exit 1; }

work=$(mktemp -d /tmp/ombrix-alternate-XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT
build=$previous
source "$root/bench/bench_common.sh"

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

declare -A url_base token_of
for side in previous new; do
  dir=$previous; [[ $side == new ]] && dir=$new
  cp -r "$work/data" "$work/data-$side"
  port=$(free_port)
  OMBRIX_DATA="$work/data-$side" "$dir/ombrix" -p "$port" 2>>"$work/$side.err" &
  pids+=($!)
  url_base[$side]="http://127.0.0.1:$port/quelm/restfs"
  wait_for "${url_base[$side]}/logout"
  token_of[$side]=$(curl -s -X POST --data-binary '{"Client":"ab"}' "${url_base[$side]}/login" |
    sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
done

declare -A rates
requests=("GET 1 KiB item|16|6000|file/MAIN/BENCH/BENCH/ONEK" "dir 1,000 items|16|2000|dir/MAIN/LIST/LIST"
  "GET 1 MiB item|1|300|file/MAIN/BENCH/BENCH/BIG" "GET 1 MiB item|16|600|file/MAIN/BENCH/BENCH/BIG")
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq "$rounds"); do
  for request in "${requests[@]}"; do
    IFS="|" read -r name c n path <<<"$request"
    for side in previous new; do
      ab -q -n 200 -c 4 -H "Authorization: Bearer ${token_of[$side]}" "${url_base[$side]}/$path" >/dev/null 2>&1
      rate=$(ab_rate "$c" "$n" -H "Authorization: Bearer ${token_of[$side]}" "${url_base[$side]}/$path")
      rates["$name c=$c,$side"]+="$rate "
      echo "round $round  $name c=$c  $side  $rate/s"
    done
  done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
for request in "${requests[@]}"; do
  IFS="|" read -r name c _ _ <<<"$request"
  key="$name c=$c"
  p=$(median <<<"${rates["$key,previous"]}")
  q=$(median <<<"${rates["$key,new"]}")
  read -ra ps <<<"${rates["$key,previous"]}"
  read -ra qs <<<"${rates["$key,new"]}"
  ratio=$(for i in "${!ps[@]}"; do awk -v a="${qs[$i]}" -v b="${ps[$i]}" 'BEGIN { if (b > 0) print a / b }'; done | median)
  printf '%-22s previous %8.0f/s  new %8.0f/s  new/previous %.2f (median of %d rounds)\n' "$key" "$p" "$q" "$ratio" "$rounds"
done
