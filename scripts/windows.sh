#!/usr/bin/env bash
# The Windows build, cross-built on Debian 12: installs what it needs, builds
# Qt, SQLite and GoogleTest for x86_64-w64-mingw32 once into a cache outside
# the repository, cross-builds the programs and makes
#   build-win/portable/ (and build-win/Parvault2-VERSION-portable.zip)
#   build-win/Parvault2-VERSION-setup.exe
# With --test it then runs the Windows tests under Wine (scripts/windows/test.sh).
#
# PARVAULT_WIN_CACHE  the cache folder (default ~/.cache/parvault2-win)
# PARVAULT_WIN_JOBS   build jobs for the cached libraries (default 1: the Qt
#                     build is long, and runs niced beside other work)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
run_tests=0
[ "${1:-}" = "--test" ] && run_tests=1

cache=${PARVAULT_WIN_CACHE:-$HOME/.cache/parvault2-win}
out=$root/build-win
export PV_WIN_JOBS=${PARVAULT_WIN_JOBS:-1}
# A recipe's number goes up when the way a library is built changes, so that
# a changed recipe rebuilds and an unchanged one is taken from the cache.
qt_prefix=$cache/qt-6.4.2-1
sqlite_prefix=$cache/sqlite-3.40.1-1
gtest_prefix=$cache/gtest-1.12.1-1

bash scripts/windows/install.sh "$cache/src"
started=$(date +%s)
bash scripts/windows/sqlite.sh "$(ls "$cache"/src/sqlite3_*.orig.tar.xz | head -1)" "$sqlite_prefix"
bash scripts/windows/gtest.sh "$(ls "$cache"/src/googletest_*.orig.tar.gz | head -1)" "$gtest_prefix"
bash scripts/windows/qt.sh "$(ls "$cache"/src/qt6-base_*.orig.tar.xz | head -1)" "$qt_prefix"
echo "windows build: libraries ready after $(( $(date +%s) - started )) s"

# zlib (Qt's image formats use it) is linked in from its static library: no
# zlib1.dll to ship.
cmake -S . -B "$out/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$qt_prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/scripts/windows/toolchain.cmake" \
  -DCMAKE_FIND_ROOT_PATH="/usr/x86_64-w64-mingw32;$qt_prefix;$sqlite_prefix;$gtest_prefix" \
  -DCMAKE_PREFIX_PATH="$qt_prefix;$gtest_prefix" \
  -DSQLite3_INCLUDE_DIR="$sqlite_prefix/include" -DSQLite3_LIBRARY="$sqlite_prefix/lib/libsqlite3.a" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a -DZLIB_LIBRARY_RELEASE=/usr/x86_64-w64-mingw32/lib/libz.a \
  -DCMAKE_BUILD_TYPE=Release
cmake --build "$out/build" -j "$(nproc)"
bash scripts/windows/bundle.sh "$out"
echo "windows build: done after $(( $(date +%s) - started )) s"
if [ "$run_tests" = 1 ]; then
  bash scripts/windows/test.sh "$out"
fi
