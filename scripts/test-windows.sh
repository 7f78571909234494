#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh, with the Windows tests of tests/win) and
# runs under Wine, in a throw-away Wine prefix that is removed at the end:
#  - build-win/tests/win/win_tests.exe: the COM bindings against the test component
#    ombrix-fault-host.dll (registered here, never shipped) and against ombrix-host.dll;
#  - the project's end-to-end tests. Their binary is the Linux one of the Linux build folder
#    (OMBRIX_LINUX_BUILD, default build/, configured and built here when needed); it starts
#    "wine build-win/ombrix.exe" and "wine build-win/ombrix-admin.exe" instead of the Linux
#    programs.
# Ends with one line "windows: N passed, N failed"; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${OMBRIX_JOBS:-2}
linux_build=${OMBRIX_LINUX_BUILD:-build}
log_dir="$root/build-win/test-logs"
passed=0
failed=0

finish() {
  echo "windows: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

build_log=/tmp/ombrix-build-windows.$$.log
if ! bash scripts/build-windows.sh -DOMBRIX_WIN_TESTS=ON >"$build_log" 2>&1; then
  tail -n 40 "$build_log"
  rm -f "$build_log"
  echo "FAILED: the Windows build (scripts/build-windows.sh)"
  failed=1
  finish
fi
rm -f "$build_log"
mkdir -p "$log_dir"

if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=Release -DOMBRIX_WERROR=ON \
    >"$log_dir/linux-configure.log" 2>&1
fi
if ! cmake --build "$linux_build" -j "$jobs" --target e2e_tests >"$log_dir/linux-build.log" 2>&1; then
  tail -n 40 "$log_dir/linux-build.log"
  echo "FAILED: the end-to-end test binary (see $log_dir/linux-build.log)"
  failed=1
  finish
fi

# A headless Wine of its own: no display, no desktop integration, no .NET or HTML engines, the
# C locale (the programs' default code page follows it).
prefix=$(mktemp -d /tmp/ombrix-wine-XXXXXX)
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=C LC_ALL=C
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
wineboot --init >"$log_dir/wineboot.log" 2>&1
wineserver -p  # stays up between the many short program runs of the tests

# ombrix.exe reaches the host through COM: register the embedded host component for this user.
# Wine's COM reads classes from the machine part of the registry only, so the per-user keys the
# DLL writes are mirrored there; on Windows the per-user registration is all that is needed.
host_keys=('Velquor71.Server' 'Velquor80.Server' 'CLSID\{18135833-5CEC-4A4E-8E44-3F98BB9FE9ED}'
  'CLSID\{8EEAE7A6-5D03-40AF-8D70-6F2A17554260}')
dll=$(winepath -w "$root/build-win/ombrix-host.dll")
if ! wine regsvr32 /s "$dll" >"$log_dir/regsvr32.log" 2>&1; then
  echo "FAILED: regsvr32 ombrix-host.dll"
  failed=$((failed + 1))
  finish
fi
for key in "${host_keys[@]}"; do
  wine reg copy "HKCU\\Software\\Classes\\$key" "HKLM\\Software\\Classes\\$key" /s /f \
    >>"$log_dir/regsvr32.log" 2>&1
done

export OMBRIX_E2E_SERVER="wine $root/build-win/ombrix.exe"
export OMBRIX_E2E_ADMIN="wine $root/build-win/ombrix-admin.exe"
export OMBRIX_E2E_PLATFORM=windows

# count_gtest LOG: adds the passed and failed counts of one GoogleTest run.
count_gtest() {
  local good bad
  good=$(grep -E '^\[  PASSED  \] [0-9]+ test' "$1" | sed -E 's/[^0-9]*([0-9]+).*/\1/' | tail -n 1)
  bad=$(grep -E '^\[  FAILED  \] [0-9]+ test' "$1" | sed -E 's/[^0-9]*([0-9]+).*/\1/' | tail -n 1)
  good=${good:-0}
  bad=${bad:-0}
  if [ "$good" -eq 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi  # the binary did not finish
  passed=$((passed + good))
  failed=$((failed + bad))
}

# The Windows tests: the fault component registers itself for the user and, where writable (as
# under Wine), for the machine too; the embedded host's tests use an account of their own.
win_tests="$root/build-win/tests/win"
fault_dll=$(winepath -w "$win_tests/ombrix-fault-host.dll")
win_data=$(mktemp -d /tmp/ombrix-win-data-XXXXXX)
win_data_path=$(winepath -w "$win_data")
if wine regsvr32 /s "$fault_dll" >>"$log_dir/regsvr32.log" 2>&1 &&
  wine "$root/build-win/ombrix-admin.exe" --data "$win_data_path" create-account WINTEST \
    >"$log_dir/win-tests.log" 2>&1 &&
  wine "$root/build-win/ombrix-admin.exe" --data "$win_data_path" create-file WINTEST CUST \
    >>"$log_dir/win-tests.log" 2>&1; then
  (cd "$win_tests" && OMBRIX_DATA="$win_data_path" wine ./win_tests.exe) \
    >>"$log_dir/win-tests.log" 2>&1
  count_gtest "$log_dir/win-tests.log"
  grep -E '^\[  FAILED  \] [A-Za-z]' "$log_dir/win-tests.log" | sort -u || true
else
  echo "FAILED: the Windows tests' set-up (see $log_dir/regsvr32.log, $log_dir/win-tests.log)"
  failed=$((failed + 1))
fi
wine regsvr32 /s /u "$fault_dll" >>"$log_dir/regsvr32.log" 2>&1
rm -rf "$win_data"

# The end-to-end tests in $jobs shards running side by side.
pids=()
for ((shard = 0; shard < jobs; shard++)); do
  GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$shard \
    "$linux_build/tests/e2e_tests" >"$log_dir/e2e-$shard.log" 2>&1 &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
for ((shard = 0; shard < jobs; shard++)); do
  count_gtest "$log_dir/e2e-$shard.log"
  grep -E '^\[  FAILED  \] [A-Za-z]' "$log_dir/e2e-$shard.log" | sort -u || true
done

# Unregistering removes every per-user key the registration wrote.
wine regsvr32 /s /u "$dll" >>"$log_dir/regsvr32.log" 2>&1
left=0
for key in "${host_keys[@]}"; do
  if wine reg query "HKCU\\Software\\Classes\\$key" >/dev/null 2>&1; then
    echo "FAILED: HKCU\\Software\\Classes\\$key is still there after regsvr32 /u"
    left=1
  fi
done
if [ "$left" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

finish
