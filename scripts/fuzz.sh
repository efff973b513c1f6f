#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + AddressSanitizer +
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for a bounded time.
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   which targets (default: all six)
#   FUZZ_JOBS      build jobs (default: the number of cores)
#   BUILD_DIR      build folder (default build-fuzz)
# The committed seeds (fuzz/corpus/<target>) are copied into a working corpus
# in the build folder, which grows from run to run; crash inputs are kept there
# as crash-* files and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=$(realpath -m "${BUILD_DIR:-build-fuzz}")
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_TARGETS=${FUZZ_TARGETS:-"answer ident settings listfile devsim jetread"}
FUZZ_JOBS=${FUZZ_JOBS:-$(nproc)}

cmake -S fuzz -B "$BUILD_DIR" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
targets=()
for t in $FUZZ_TARGETS; do targets+=("fuzz_$t"); done
cmake --build "$BUILD_DIR" -j "$FUZZ_JOBS" --target "${targets[@]}"

# Leaks are not what these targets look for (Qt and SQLite keep caches for the
# process); every other finding stops the run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
printf '%-10s %8s %12s %10s %s\n' target seconds executions "exec/s" result
for t in $FUZZ_TARGETS; do
  corpus="$BUILD_DIR/corpus/$t"
  artifacts="$BUILD_DIR/artifacts/$t"
  mkdir -p "$corpus" "$artifacts"
  cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  max_len=8192
  [ "$t" = listfile ] && max_len=65536
  [ "$t" = jetread ] && max_len=49152
  log="$BUILD_DIR/fuzz_$t.log"
  start=$(date +%s)
  set +e
  "$BUILD_DIR/fuzz_$t" -max_total_time="$FUZZ_SECONDS" -max_len="$max_len" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  secs=$(( $(date +%s) - start ))
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  if [ $rc -eq 0 ]; then result=clean; else result="FAILED (rc $rc, see $log)"; status=1; fi
  printf '%-10s %8s %12s %10s %s\n' "$t" "$secs" "$execs" "$rate" "$result"
done
exit $status
