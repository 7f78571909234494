#!/usr/bin/env bash
# Times ombrix-mount against a local folder: cp -r of 1,000 small items in, cat of all of them
# out, and ls -l of a 10,000-item section, and counts the REST requests each one made (the
# server's status lines at debug level 1). Needs a Release build in build/ (ombrix, ombrix-admin,
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

"$build/ombrix" -p "$port" -d 1 >/dev/null 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 1 50); do curl -s -o /dev/null -X POST "http://127.0.0.1:$port/quelm/restfs/login" && break; sleep 0.1; done
"$build/ombrix-mount" --port "$port" "$work/mnt"

seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); printf '%.3f' "$(echo "$end - $start" | bc)"; }
answered() { grep -c 'Velquor returned status' "$work/server.log" || true; }
# One row: the mount's time, the REST requests it made, the local folder's time.
row() {
  local label=$1 mounted=$2 local_command=$3 before after mount_time
  sleep 1.2  # past the mount's and the kernel's caches
  before=$(answered)
  mount_time=$(seconds sh -c "$mounted")
  sleep 0.2  # status lines may follow the replies
  after=$(answered)
  printf '%-34s %10s %10s %10s\n' "$label" "$mount_time" "$((after - before))" "$(seconds sh -c "$local_command")"
}
sync
printf '%-34s %10s %10s %10s\n' operation "mount (s)" requests "local (s)"
row "cp -r 1,000 small items in" "cp -r $work/small/. $work/mnt/SMALL/SMALL/" "cp -r $work/small/. $work/local/small/"
row "cat all 1,000 out" "cat $work/mnt/SMALL/SMALL/*" "cat $work/local/small/*"
row "ls -l of 10,000 items" "ls -l $work/mnt/BIG/BIG" "ls -l $work/local/big"
diff -r "$work/small" "$work/mnt/SMALL/SMALL" >/dev/null && echo "check: the mounted copy equals the source"
