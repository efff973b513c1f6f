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
  extra=()
  [ "$t" = listfile ] && max_len=65536
  if [ "$t" = jetread ]; then
    max_len=49152
    # libmdb crashes on some hostile files; the program reads Jet files in a
    # helper process for that reason. The run goes on past such crashes and
    # each is checked below: only a crash outside libmdb fails it.
    extra=(-fork=1 -ignore_crashes=1)
  fi
  log="$BUILD_DIR/fuzz_$t.log"
  start=$(date +%s)
  set +e
  "$BUILD_DIR/fuzz_$t" -max_total_time="$FUZZ_SECONDS" -max_len="$max_len" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" "${extra[@]}" \
    "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  secs=$(( $(date +%s) - start ))
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  [ "$execs" = "?" ] && execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#' || echo "?")
  lastJobOnly=0
  if [ $rc -eq 0 ]; then
    result=clean
  elif [ "$t" = jetread ] && grep -q '^INFO: exiting: ' "$log"; then
    # In fork mode libFuzzer ends with its last job's exit code: a crash
    # input met just before the time ran out would fail the run whatever it
    # was. The crash inputs decide instead, below.
    result=clean
    lastJobOnly=1
  else
    result="FAILED (rc $rc, see $log)"; status=1
  fi
  if [ "$t" = jetread ]; then
    inLibmdb=0
    for c in "$artifacts"/crash-*; do
      [ -f "$c" ] || continue
      case "$c" in *.stack) continue ;; esac
      # It aborts, as expected; the subshell's report of that goes nowhere.
      ( "$BUILD_DIR/fuzz_$t" "$c" >"$c.stack" 2>&1 || true ) 2>/dev/null
      # The innermost frame that is not the sanitizer's own.
      top=$(grep -E '^ +#[0-9]+ ' "$c.stack" | grep -vE 'libclang_rt|compiler-rt|__asan|__interceptor' | head -1)
      if grep -q 'libmdb' <<<"$top"; then
        inLibmdb=$((inLibmdb + 1))
      else
        result="FAILED (a crash outside libmdb: $c.stack)"; status=1
      fi
    done
    if [ $lastJobOnly -eq 1 ] && [ $inLibmdb -eq 0 ] && [ "$result" = clean ]; then
      result="FAILED (rc $rc and no crash input to explain it, see $log)"; status=1
    fi
    [ $inLibmdb -gt 0 ] && [ "$result" = clean ] && result="clean ($inLibmdb crash inputs inside libmdb, taken by the reader process)"
  fi
  printf '%-10s %8s %12s %10s %s\n' "$t" "$secs" "$execs" "$rate" "$result"
done
exit $status
