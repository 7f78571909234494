#!/usr/bin/env bash
# Requests/s against concurrency (ab, a new connection per request) for ombrix (GET of a 1 KiB
# item) and nginx (a 200-byte static file, keepalive_timeout 0, backlog 4096), at c = 1 to 64.
#
#   bench/plot_concurrency.sh [--build DIR]
#
# Writes bench/results/concurrency.dat and renders bench/results/concurrency.png with gnuplot.
# Everything runs on 127.0.0.1; both servers are stopped when the script ends.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build="$(realpath -m "$2")"; shift ;;
    *) echo "usage: $0 [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done
source "$root/bench/bench_common.sh"

missing=()
command -v ab >/dev/null 2>&1 || missing+=(apache2-utils)
command -v nginx >/dev/null 2>&1 || [[ -x /usr/sbin/nginx ]] || missing+=(nginx-light)
command -v curl >/dev/null 2>&1 || missing+=(curl)
command -v gnuplot >/dev/null 2>&1 || missing+=(gnuplot-nox)
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
build_if_needed

work=$(mktemp -d /tmp/ombrix-concurrency-XXXXXX)
ombrix_pid=
nginx_pid=
stop_all() {
  stop_ombrix
  stop_nginx
  rm -rf "$work"
}
trap stop_all EXIT

mkdir -p "$work/data" "$work/items" "$work/www" "$work/nginx/logs"
line=$(printf '%063d' 0)
for _ in $(seq 16); do echo "$line"; done >"$work/items/ONEK"      # 16 x 64 = 1,024 bytes
admin create-account MAIN
admin create-file MAIN BENCH
admin import MAIN BENCH "$work/items"

{ printf '{"items":"'; head -c 184 /dev/zero | tr '\0' 'x'; printf '"}\n'; } >"$work/www/static.json"
chmod 755 "$work" "$work/www"; chmod 644 "$work/www/"*
nginx_port=$(free_port)
write_nginx_conf "$nginx_port" "$work/www" " backlog=4096"
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" -g 'daemon off;' &
nginx_pid=$!
start_ombrix
nginx_url="http://127.0.0.1:$nginx_port/static.json"
wait_for "$nginx_url"
item_url="$base/file/MAIN/BENCH/BENCH/ONEK"

# Warm-up.
ab_rate 4 300 -H "$auth" "$item_url" >/dev/null
ab_rate 4 300 "$nginx_url" >/dev/null

out="$root/bench/results"
mkdir -p "$out"
{
  echo "# requests/s, ab, one connection per request, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "# $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "# concurrency ombrix_GET_1KiB_item nginx_static_200B"
} >"$work/concurrency.dat"
for c in 1 2 4 8 16 32 64; do
  n=5000; ((c == 1)) && n=2000
  o=$(ab_rate "$c" "$n" -H "$auth" "$item_url"); sleep 1
  g=$(ab_rate "$c" "$n" "$nginx_url"); sleep 1
  echo "$c $o $g" | tee -a "$work/concurrency.dat"
done
cp "$work/concurrency.dat" "$out/concurrency.dat"

gnuplot <<PLOT
set terminal pngcairo size 800,500 noenhanced
set output "$out/concurrency.png"
set title "requests/s against concurrency (ab, new connection per request, 127.0.0.1, $(nproc) cores)"
set xlabel "concurrency (ab -c)"
set ylabel "requests/s"
set logscale x 2
set xrange [0.8:80]
set yrange [0:*]
set key bottom right
set grid
plot "$out/concurrency.dat" using 1:2 with linespoints lw 2 title "ombrix GET 1 KiB item", \
     "$out/concurrency.dat" using 1:3 with linespoints lw 2 title "nginx 200-byte static file"
PLOT
echo "wrote $out/concurrency.dat and $out/concurrency.png"
