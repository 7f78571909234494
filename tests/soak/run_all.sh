#!/usr/bin/env bash
# Runs the soak programs against the Release server: load, slow clients, crash, bad input,
# trickling clients, a big body and descriptor exhaustion.
#
#   tests/soak/run_all.sh [--short | --long] [--build DIR]
#
# --short (the default) takes well under a minute and is what CI runs; --long runs each soak for
# minutes. --build names the folder that holds ombrix and ombrix-admin (default: build, built in
# Release when the binaries are missing). The soak programs themselves are built into
# DIR/soak-tools. Every run talks to 127.0.0.1 only and stops by itself.
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

failed=0
passed=0
# run NAME SHORT-ARGUMENTS LONG-ARGUMENTS: one soak with the arguments of the chosen variant.
run() {
  local name="$1" arguments="$2"
  [[ $variant == long ]] && arguments="$3"
  echo "-- $name"
  # shellcheck disable=SC2086  # the arguments are words
  if "$tools/$name" --bin "$build" $arguments; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
}
run load_soak "--seconds 5 --clients 64" "--seconds 180 --clients 64"
run slow_clients_soak "--seconds 8 --connections 500" "--seconds 120 --connections 500"
run crash_soak "--cycles 3 --seconds 1.5" "--cycles 20 --seconds 5"
run rename_crash_soak "--cycles 6 --seconds 0.8" "--cycles 40 --seconds 3"
run bad_input_soak "--seconds 3" "--seconds 120"
# A handful of trickling clients when short, bounded: the hold time is reported, not judged.
run trickle_soak "--seconds 14 --clients 4 --limit 12" "--seconds 40 --clients 32 --limit 30"
run big_body_soak "--limit 50" "--limit 50"
run descriptors_soak "--limit 64" "--limit 64"
run accounts_soak "--limit 1024 --clients 2000" "--limit 1024 --clients 5000"

echo "soak ($variant): $passed passed, $failed failed"
[[ $failed -eq 0 ]]
