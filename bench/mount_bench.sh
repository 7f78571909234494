#!/usr/bin/env bash
# Times ombrix-mount against a local folder: cp -r of 1,000 small items in, cat of all of them
# out, and ls -l of a 10,000-item section. Needs a Release build in build/ (ombrix, ombrix-admin,
# ombrix-mount) and /dev/fuse. Usage: bench/mount_bench.sh [PORT]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${OMBRIX_BUILD_DIR:-$root/build}"
port="${1:-3191}"
work=$(mktemp -d /tmp/ombrix-mount-bench-XXXXXX)
server_pid=""
cleanup() {
  if grep -q " $work/mnt " /proc/mounts; then fusermount3 -u "$work/mnt" || fusermount3 -uz "$work/mnt"; fi
  if [[ -n $server_pid ]]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

export OMBRIX_DATA="$work/data"
mkdir -p "$OMBRIX_DATA" "$work/small" "$work/big" "$work/mnt" "$work/local/small"
for i in $(seq 1 1000); do printf 'Name %d\nStreet %d\xef\xa3\xbdFlat %d\nCity\n' "$i" "$i" "$i" >"$work/small/S$i"; done
for i in $(seq 1 10000); do printf 'Item %d\n' "$i" >"$work/big/B$i"; done
"$build/ombrix-admin" create-account MAIN >/dev/null
"$build/ombrix-admin" create-file MAIN SMALL >/dev/null
"$build/ombrix-admin" create-file MAIN BIG >/dev/null
"$build/ombrix-admin" import MAIN BIG "$work/big" >/dev/null
cp -r "$work/big" "$work/local/big"

"$build/ombrix" -p "$port" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 50); do curl -s -o /dev/null -X POST "http://127.0.0.1:$port/quelm/restfs/login" && break; sleep 0.1; done
"$build/ombrix-mount" --port "$port" "$work/mnt"

seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); echo "$end - $start" | bc; }
sync
printf '%-34s %10s %10s\n' operation "mount (s)" "local (s)"
printf '%-34s %10s %10s\n' "cp -r 1,000 small items in" \
  "$(seconds cp -r "$work/small/." "$work/mnt/SMALL/SMALL/")" \
  "$(seconds cp -r "$work/small/." "$work/local/small/")"
printf '%-34s %10s %10s\n' "cat all 1,000 out" \
  "$(seconds sh -c "cat $work/mnt/SMALL/SMALL/*")" \
  "$(seconds sh -c "cat $work/local/small/*")"
printf '%-34s %10s %10s\n' "ls -l of 10,000 items" \
  "$(seconds ls -l "$work/mnt/BIG/BIG")" \
  "$(seconds ls -l "$work/local/big")"
diff -r "$work/small" "$work/mnt/SMALL/SMALL" >/dev/null && echo "check: the mounted copy equals the source"
