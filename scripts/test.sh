#!/usr/bin/env bash
# Installs, builds and runs the whole test suite; then the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded parts under
# ThreadSanitizer, and each fuzz target for a minute.
# PARVAULT_QUICK=1 runs the plain suite only (for a quick look while working).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --timeout 300
if [ "${PARVAULT_QUICK:-0}" != 1 ]; then
  bash scripts/sanitize.sh
  FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash scripts/fuzz.sh
fi
