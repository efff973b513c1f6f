#!/usr/bin/env bash
# Installs everything the program, its tests and its demo need on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  qt6-base-dev qt6-serialport-dev libqt6serialport6-dev libgl-dev \
  libsqlite3-dev sqlite3 \
  libgtest-dev libgmock-dev libbenchmark-dev \
  clang libclang-rt-14-dev \
  xvfb xauth fonts-dejavu-core
