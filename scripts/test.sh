#!/usr/bin/env bash
# Builds and runs every test of the project:
#   1. Release build: unit and end-to-end tests (build/)
#   2. AddressSanitizer + UndefinedBehaviorSanitizer build: the same tests (build-asan/)
#   3. ThreadSanitizer build: the server and REST tests (build-tsan/)
#   4. libFuzzer targets, each run briefly on its seed corpus (build-fuzz/, clang)
#   5. short load, slow-client, crash and bad-input runs against the Release server
#   6. the Windows cross-build and the end-to-end tests against it under Wine (scripts/test-windows.sh)
# A throw-away PostgreSQL cluster (scripts/pg_cluster.sh) runs for the whole script: its URI is
# exported as OMBRIX_TEST_POSTGRES, so the PostgreSQL host's tests and the end-to-end tests
# against PostgreSQL stores run in every build; it is stopped at the end, also on failure.
# Ends with one summary line "tests: N passed, N failed"; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${OMBRIX_JOBS:-$(nproc)}
fuzz_seconds=${OMBRIX_FUZZ_SECONDS:-20}

bash scripts/ensure_packages.sh cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev \
  libsqlite3-dev clang libclang-rt-14-dev \
  libfuse3-dev fuse3 libcurl4-openssl-dev rsync vim ccache postgresql libpq-dev || exit 1

pg_dir=$(mktemp -d /tmp/ombrix-pg-XXXXXX)
trap 'bash "$root/scripts/pg_cluster.sh" stop "$pg_dir"' EXIT
if ! OMBRIX_TEST_POSTGRES=$(bash scripts/pg_cluster.sh start "$pg_dir"); then
  echo "FAILED: the PostgreSQL test cluster did not start"
  exit 1
fi
export OMBRIX_TEST_POSTGRES
echo "PostgreSQL test cluster: $OMBRIX_TEST_POSTGRES"

# The four builds compile mostly the same sources: ccache keeps their objects between runs and
# between clones (paths are taken relative to the tree, the working folder is not hashed).
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-4G}
launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

passed=0
failed=0
failures=()

# run_ctest NAME BUILD_DIR [ctest args...]: runs ctest and adds its counts to the totals.
run_ctest() {
  local name=$1 dir=$2
  shift 2
  local log="$dir/ctest.log"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log"
  local summary
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$summary" ]; then
    failed=$((failed + 1))
    failures+=("$name: ctest ran no test or did not finish")
    return
  fi
  local bad total
  bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  total=$(echo "$summary" | sed -E 's/.* tests failed out of ([0-9]+).*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  if [ "$bad" -ne 0 ]; then failures+=("$name: $bad of $total tests failed"); fi
}

# build NAME DIR [cmake args...] [-- targets...]: configures and builds; a failure counts as one
# failed test.
build() {
  local name=$1 dir=$2
  shift 2
  local configure=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do configure+=("$1"); shift; done
  if [ $# -gt 0 ]; then shift; targets=(--target "$@"); fi
  mkdir -p "$dir"
  if ! cmake -S "$root" -B "$dir" "${launcher[@]}" "${configure[@]}" >"$dir/configure.log" 2>&1; then
    tail -n 30 "$dir/configure.log"
  elif ! cmake --build "$dir" -j "$jobs" "${targets[@]}" >"$dir/build.log" 2>&1; then
    grep -E -A5 'error|Error' "$dir/build.log" | head -n 80
  else
    return 0
  fi
  failed=$((failed + 1))
  failures+=("$name: build failed (see $dir/build.log)")
  return 1
}

# run_gtest NAME BINARY: runs one GoogleTest binary directly and adds its counts to the totals.
run_gtest() {
  local name=$1 binary=$2
  local log="$binary.log"
  "$binary" 2>&1 | tee "$log" | grep -E '^\[  (PASSED|FAILED) |^(WARNING|ERROR): ThreadSanitizer' || true
  local good bad
  good=$(grep -E '^\[  PASSED  \] [0-9]+ test' "$log" | sed -E 's/[^0-9]*([0-9]+).*/\1/' | tail -n 1)
  bad=$(grep -E '^\[  FAILED  \] [0-9]+ test' "$log" | sed -E 's/[^0-9]*([0-9]+).*/\1/' | tail -n 1)
  good=${good:-0}
  bad=${bad:-0}
  if [ "$good" -eq 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi
  passed=$((passed + good))
  failed=$((failed + bad))
  if [ "$bad" -ne 0 ]; then failures+=("$name: $bad tests failed (see $log)"); fi
}

echo "== Release build and tests"
if build release build -DCMAKE_BUILD_TYPE=Release -DOMBRIX_WERROR=ON -DOMBRIX_TESTS=ON; then
  run_ctest release build
fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
if build asan build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_SANITIZE=ON; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest asan build-asan
fi

echo "== ThreadSanitizer build: server, REST and host tests"
if build tsan build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_TSAN=ON \
    -- server_tests rest_tests embedded_tests pg_tests; then
  for binary in server_tests rest_tests embedded_tests pg_tests; do
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_gtest "tsan $binary" "build-tsan/tests/$binary"
  done
fi

echo "== Fuzz targets (${fuzz_seconds}s each)"
if CXX=clang++ build fuzz build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_FUZZ=ON \
    -DOMBRIX_TESTS=OFF; then
  for target in build-fuzz/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    work="build-fuzz/corpus-$name"
    mkdir -p "$work"
    args=("$work")
    if [ -d "fuzz/corpus/$name" ]; then args+=("fuzz/corpus/$name"); fi
    if "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "${args[@]}" \
        >"build-fuzz/$name.log" 2>&1; then
      echo "fuzz $name: clean for ${fuzz_seconds}s"
      passed=$((passed + 1))
    else
      tail -n 40 "build-fuzz/$name.log"
      failed=$((failed + 1))
      failures+=("fuzz $name: found a failure (see build-fuzz/$name.log)")
    fi
  done
fi

if [ -x tests/soak/run_all.sh ] && [ -x build/ombrix ]; then
  echo "== Short soak runs (the table of tests/soak/soak.cc)"
  if tests/soak/run_all.sh --short --build build; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("soak: a short run failed")
  fi
fi

echo "== Windows: MinGW cross-build, end-to-end tests against it under Wine"
windows_output=$(OMBRIX_JOBS=$jobs bash scripts/test-windows.sh 2>&1)
echo "$windows_output"
windows_summary=$(echo "$windows_output" | grep -E '^windows: [0-9]+ passed, [0-9]+ failed$' | tail -n 1)
if [ -z "$windows_summary" ]; then
  failed=$((failed + 1))
  failures+=("windows: scripts/test-windows.sh did not finish")
else
  windows_good=$(echo "$windows_summary" | sed -E 's/^windows: ([0-9]+) passed.*/\1/')
  windows_bad=$(echo "$windows_summary" | sed -E 's/.* ([0-9]+) failed$/\1/')
  passed=$((passed + windows_good))
  failed=$((failed + windows_bad))
  if [ "$windows_bad" -ne 0 ]; then
    failures+=("windows: $windows_bad tests failed (see build-win/test-logs)")
  fi
fi

echo
for failure in "${failures[@]}"; do echo "FAILED: $failure"; done
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
