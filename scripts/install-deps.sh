#!/usr/bin/env bash
# Installs everything the program, its tests, its demo and its package need on
# Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# The last line is for the package (scripts/package.sh and the packaging
# test): cpack's dependency computation (dpkg-shlibdeps, file), the icon
# sizes (rsvg-convert), the checks of the manual pages, the desktop entry and
# the package. bindfs mounts a test folder through FUSE, the nearest thing
# to a network share that runs here; ser2net is the serial device server the
# device-server routes are tested through.
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  qt6-base-dev qt6-serialport-dev libqt6serialport6-dev libgl-dev \
  libsqlite3-dev sqlite3 \
  libgtest-dev libgmock-dev libbenchmark-dev \
  clang libclang-rt-14-dev \
  xvfb xauth fonts-dejavu-core \
  dpkg-dev file librsvg2-bin man-db groff-base desktop-file-utils lintian \
  mdbtools mdbtools-dev libglib2.0-dev \
  bindfs ser2net
# The Jet fixture tests read the generated files back with mdbtools (above)
# and with the npm package mdb-reader, which needs Node.js and npm. A Node.js
# from elsewhere that brings its own npm is kept: Debian's npm conflicts with it.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  $SUDO apt-get install -y --no-install-recommends nodejs npm
fi
