#!/usr/bin/env bash
# Cross-builds GoogleTest and GoogleMock from Debian's source package into PREFIX.
# Usage: gtest.sh SRC_TARBALL PREFIX
set -euo pipefail
tarball=$1 prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$prefix/.done" ] && exit 0
work=$prefix.build
rm -rf "$work" "$prefix"
mkdir -p "$work"
tar -xzf "$tarball" -C "$work"
src=$(echo "$work"/googletest-*)
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF >/dev/null
nice -n 10 cmake --build "$work/build" -j "${PV_WIN_JOBS:-1}" >/dev/null
cmake --install "$work/build" >/dev/null
touch "$prefix/.done"
rm -rf "$work"
