#!/usr/bin/env bash
# Builds the server, the admin tool and the mount client in Release (installing the Debian
# packages they need when missing), creates the demo account MAIN when it does not exist yet, and runs
# the server in the foreground on 127.0.0.1:3181. Extra arguments go to the server (for example
# scripts/run.sh -d 1). Safe to run again: an existing account is used as it is, never overwritten.
#
#   scripts/run.sh --reset-demo ...   deletes the account MAIN first and creates it afresh from demo/
#   scripts/run.sh --build-only       builds and prepares the demo account, then stops
#
# The data root is OMBRIX_DATA when set, else $XDG_DATA_HOME/ombrix, else ~/.local/share/ombrix.
#
# The demo account (sources under demo/, one text file per item, one line per attribute, value
# and subvalue marks written as U+F8FD and U+F8FC in UTF-8):
#   BP                  three small BASIC-style programs
#   CUSTOMERS           twelve customers (addresses and orders as values, phones as kind/number
#                       subvalues) with a dictionary, DICT CUSTOMERS
#   ORDERS              current orders, and a second data section ORDERS,ARCHIVE
set -euo pipefail

reset_demo=0
build_only=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --reset-demo) reset_demo=1; shift ;;
    --build-only) build_only=1; shift ;;
    *) break ;;
  esac
done

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${OMBRIX_BUILD_DIR:-$root/build}"  # the folder can be changed for trials

# The compiler, SQLite for the embedded host, and libfuse3 and libcurl for ombrix-mount (fuse3
# gives fusermount3, which mounting needs).
bash "$root/scripts/ensure_packages.sh" cmake g++ make pkg-config libsqlite3-dev \
  libfuse3-dev fuse3 libcurl4-openssl-dev

# A build folder that already exists keeps its own options (the test command configures it with
# the tests); a new one is configured for running only. Configuring again finds libraries
# installed since (the mount client needs libfuse3 and libcurl).
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRIX_TESTS=OFF >/dev/null
else
  cmake -S "$root" -B "$build" >/dev/null
fi
echo "Building the server, the admin tool and the mount client (Release) in $build ..."
cmake --build "$build" -j"$(nproc)" --target ombrix ombrix-admin ombrix-mount >/dev/null

# The data root the embedded host uses: OMBRIX_DATA, else $XDG_DATA_HOME/ombrix, else
# ~/.local/share/ombrix.
if [[ -n ${OMBRIX_DATA:-} ]]; then
  data_root="$OMBRIX_DATA"
elif [[ ${XDG_DATA_HOME:-} == /* ]]; then
  data_root="$XDG_DATA_HOME/ombrix"
else
  data_root="$HOME/.local/share/ombrix"
fi
admin() { "$build/ombrix-admin" "$@" >/dev/null; }

if ((reset_demo)) && [[ -e "$data_root/MAIN.db" ]]; then
  echo "Removing the account MAIN from $data_root ..."
  rm -f "$data_root/MAIN.db" "$data_root/MAIN.db-wal" "$data_root/MAIN.db-shm"
fi

if "$build/ombrix-admin" list MAIN >/dev/null 2>&1; then
  echo "Using the existing account MAIN in $data_root"
else
  echo "Creating the demo account MAIN in $data_root ..."
  admin create-account MAIN
  admin create-file MAIN BP
  admin import MAIN BP "$root/demo/BP"
  admin create-file MAIN CUSTOMERS
  admin import MAIN "DICT CUSTOMERS" "$root/demo/CUSTOMERS.DICT"
  admin import MAIN CUSTOMERS "$root/demo/CUSTOMERS"
  admin create-file MAIN ORDERS ARCHIVE
  admin import MAIN ORDERS "$root/demo/ORDERS"
  admin import MAIN "ORDERS,ARCHIVE" "$root/demo/ORDERS.ARCHIVE"
fi

if ((build_only)); then
  echo "Built $build/ombrix, $build/ombrix-admin and $build/ombrix-mount; start the server with scripts/run.sh"
  exit 0
fi

# The port the server will use: 3181 unless the arguments say otherwise (-p N or -pN).
port=3181
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    -p) [[ $((i + 1)) -lt ${#args[@]} ]] && port="${args[i + 1]}" ;;
    -p*) port="${args[i]#-p}" ;;
  esac
done

cat <<EOF

Ombrix serves the account MAIN on http://127.0.0.1:$port (loopback only). From another terminal:

  TOKEN=\$(curl -s -X POST http://127.0.0.1:$port/quelm/restfs/login | sed 's/.*"access_token":"\\([^"]*\\)".*/\\1/')
  curl -s -H "Authorization: Bearer \$TOKEN" http://127.0.0.1:$port/quelm/restfs/dir/MAIN

Mount the account as a directory (see the README's mount section):

  mkdir -p /tmp/main && $build/ombrix-mount --port $port /tmp/main

Stop the server with Ctrl+C.

EOF
exec "$build/ombrix" "$@"
