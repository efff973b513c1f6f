#!/usr/bin/env bash
# The plain test suite: installs what it needs, builds, and runs every test
# with CTest (the package test among them). The sanitizer runs and the
# fuzzing are in .ci/run (scripts/sanitize.sh, scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --timeout 300
