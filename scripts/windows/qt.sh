#!/usr/bin/env bash
# Cross-builds static qtbase (Core, Gui, Widgets, Test and the Windows platform plugin) from
# Debian's source package into the cache, once per recipe version. Usage: qt.sh SRC_TARBALL PREFIX
set -euo pipefail
tarball=$1 prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$prefix.build
[ -f "$prefix/.done" ] && exit 0
# A build cut short (the machine stopped) goes on where it was; anything else starts afresh.
if [ ! -f "$work/build/build.ninja" ]; then
  rm -rf "$work" "$prefix"
  mkdir -p "$work"
  tar -xJf "$tarball" -C "$work"
fi
src=$(echo "$work"/qtbase-everywhere-src-*)
# Qt 6.4.2's Windows platform plugin asks about software OpenGL whenever
# dynamic GL is configured, which it is by default even with OpenGL off; the
# question then names classes that do not exist. Ask it only with OpenGL.
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
  "$src/src/plugins/platforms/windows/qwindowswindow.cpp"
# Static: each program is one file that needs no Qt DLL or plugin beside it.
# No tablet events: Debian's source leaves out the Wintab headers they need.
cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/toolchain.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DINPUT_icu=no \
  -DFEATURE_network=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
  -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_testlib=ON -DFEATURE_tabletevent=OFF
nice -n 15 cmake --build "$work/build" -j "${PV_WIN_JOBS:-1}"
cmake --install "$work/build"
touch "$prefix/.done"
rm -rf "$work"
