#!/usr/bin/env bash
# Cross-builds the Windows programs into build-win/ with MinGW-w64:
#   build-win/ombrix.exe, build-win/ombrix-admin.exe (and, once built, build-win/ombrix-host.dll),
# all statically linked. Installs its Debian packages first. SQLite has no MinGW package, so its
# amalgamation is made once from the Debian source package and kept in build-win/sqlite/.
# Usage: scripts/build-windows.sh [extra cmake configure arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build-win"
jobs=${OMBRIX_JOBS:-2}
cc=x86_64-w64-mingw32-gcc-posix

bash scripts/ensure_packages.sh cmake make g++-mingw-w64-x86-64-posix wine wine64 tcl xz-utils

# build_sqlite: the SQLite amalgamation compiled with MinGW into build-win/sqlite/libsqlite3.a.
build_sqlite() {
  local dir="$out/sqlite"
  [ -f "$dir/libsqlite3.a" ] && [ -f "$dir/include/sqlite3.h" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir/apt/sources.list.d" "$dir/apt/lists/partial" "$dir/download"
  # A source entry for the same archive, suites and keys as this machine's own binary entries,
  # used with private lists so that the system's apt state is left as it is.
  local found=0 file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    if grep -q '^Types:.*\bdeb\b' "$file"; then
      sed -E 's/^Types:.*/Types: deb-src/' "$file" >"$dir/apt/sources.list.d/$(basename "$file")"
      found=1
    fi
  done
  : >"$dir/apt/sources.list"
  if [ -f /etc/apt/sources.list ]; then
    sed -nE 's/^deb[[:space:]]+/deb-src /p' /etc/apt/sources.list >"$dir/apt/sources.list"
    [ -s "$dir/apt/sources.list" ] && found=1
  fi
  if [ "$found" -eq 0 ]; then
    echo "build-windows: no apt source entry found to derive a source entry from" >&2
    return 1
  fi
  local apt_options=(-o "Dir::Etc::SourceList=$dir/apt/sources.list"
    -o "Dir::Etc::SourceParts=$dir/apt/sources.list.d"
    -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::Cache=$dir/apt/cache")
  mkdir -p "$dir/apt/cache/archives/partial"
  apt-get "${apt_options[@]}" update -qq
  (cd "$dir/download" && apt-get "${apt_options[@]}" source --download-only sqlite3)
  local tarball
  tarball=$(ls "$dir"/download/sqlite3_*.orig.tar.* | grep -v -- '-www' | head -n 1)
  mkdir -p "$dir/src"
  tar -xf "$tarball" -C "$dir/src" --strip-components=1
  mkdir -p "$dir/make"
  (cd "$dir/make" && "$dir/src/configure" --disable-tcl >configure.log 2>&1 &&
    make sqlite3.c >make.log 2>&1)
  mkdir -p "$dir/include"
  cp "$dir/make/sqlite3.h" "$dir/include/"
  "$cc" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c "$dir/make/sqlite3.c" \
    -o "$dir/sqlite3.o"
  x86_64-w64-mingw32-ar rcs "$dir/libsqlite3.a" "$dir/sqlite3.o"
}

build_sqlite
cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DOMBRIX_WERROR=ON -DOMBRIX_TESTS=OFF \
  -DSQLite3_INCLUDE_DIR="$out/sqlite/include" -DSQLite3_LIBRARY="$out/sqlite/libsqlite3.a" "$@"
cmake --build "$out" -j "$jobs"
ls -l "$out"/*.exe "$out"/*.dll 2>/dev/null || true
