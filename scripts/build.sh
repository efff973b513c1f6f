#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). BUILD_TARGETS names the
# targets to build (blank separated); without it everything is built. Extra
# arguments go to the configure step. ccache is used when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$BUILD_DIR" -G Ninja "${launcher[@]}" "$@"
targets=()
if [ -n "${BUILD_TARGETS:-}" ]; then
  read -r -a names <<<"$BUILD_TARGETS"
  targets=(--target "${names[@]}")
fi
cmake --build "$BUILD_DIR" -j "$(nproc)" "${targets[@]}"
