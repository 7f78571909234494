#!/usr/bin/env bash
# Runs the soak driver against the Release server: load, slow (trickling) clients, crash, rename
# crash, bad input, a big body and many accounts.
#
#   tests/soak/run_all.sh [--short | --long] [--build DIR]
#
# --short (the default) takes well under a minute and is what CI runs; --long runs each soak for
# minutes (the variants' values are in the table of tests/soak/soak.cc). --build names the folder that holds ombrix and ombrix-admin (default: build, built in
# Release when the binaries are missing). The soak programs themselves are built into
# DIR/soak-tools; `DIR/soak-tools/soak NAME...` runs chosen soaks. Every run talks to 127.0.0.1 only and stops by itself.
# Exit code: 0 when every property held, 1 when any soak reported a violation.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
variant=short
build="$root/build"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --short) variant=short ;;
    --long) variant=long ;;
    --build) build="$(realpath -m "$2")"; shift ;;
    *) echo "usage: $0 [--short | --long] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done

need_packages=()
command -v cmake >/dev/null 2>&1 || need_packages+=(cmake)
command -v g++ >/dev/null 2>&1 || need_packages+=(g++)
command -v sqlite3 >/dev/null 2>&1 || need_packages+=(sqlite3)
[[ -e /usr/include/sqlite3.h ]] || need_packages+=(libsqlite3-dev)
if [[ ${#need_packages[@]} -gt 0 ]]; then
  echo "installing: ${need_packages[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_packages[@]}" >/dev/null
fi

if [[ ! -x "$build/ombrix" || ! -x "$build/ombrix-admin" ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target ombrix ombrix-admin >/dev/null
fi
tools="$build/soak-tools"
cmake -S "$root/tests/soak" -B "$tools" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tools" -j2 >/dev/null

# The driver runs every soak of its table and prints each one's figures and verdict.
long_flag=()
[[ $variant == long ]] && long_flag=(--long)
"$tools/soak" --bin "$build" "${long_flag[@]}"
