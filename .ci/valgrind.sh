#!/usr/bin/env bash
# Runs the reliability suite and the core behaviour tests once under
# Valgrind's memcheck, built with -O1 -g in a directory of its own. Any
# memory error, and any definite or indirect leak, fails the run.
#
#   .ci/valgrind.sh                 every chosen binary
#   JUXHID_VALGRIND_DIR=dir ...     another build directory
#
# Under memcheck the threads run one at a time and many times slower, so the
# cases whose assertions are about timing are filtered out (see FILTERS); the
# soak runs for a few seconds only.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${JUXHID_VALGRIND_DIR:-build-valgrind}
jobs=${JUXHID_JOBS:-2}
command -v valgrind >/dev/null || bash scripts/install-deps.sh

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DJUXHID_BUILD_BENCH=OFF >/dev/null

# binary:gtest filter. Timing-sensitive cases filtered out and why:
#  - PacedWrites gaps and spans, the fast-chain pace: they measure the 50 ms
#    and 5 ms tick intervals, which memcheck's serialised threads stretch;
#  - ReadLast's and CleanupInterface's half-second waits measured against a
#    bound; the same paths run unmeasured in the sweep and the call-order test.
BINARIES=(
  "tests/reliability/fault_sweep_test:*"
  "tests/reliability/bad_input_test:*"
  "tests/reliability/call_order_test:*"
  "tests/reliability/unload_test:*"
  "tests/reliability/soak_test:*"
  "tests/core/ring_test:*"
  "tests/core/listing_test:*"
  "tests/core/interface_test:*-*CleanupWhileAttachedWaitsAndKeepsErrorSignal:*FailingReadsAreRetriedAndStopEndsTheReaderPromptly"
  "tests/core/polled_reads_test:*-*AboutHalfASecond"
  "tests/core/callbacks_test:*"
  "tests/core/paced_writes_test:*-*OneTickApart:*FastChainPaces*:*TurnsAFastChainSlow:*OneTickServes*"
)

targets=()
for entry in "${BINARIES[@]}"; do targets+=("$(basename "${entry%%:*}")"); done
cmake --build "$dir" -j"$jobs" --target "${targets[@]}"

failed=0
for entry in "${BINARIES[@]}"; do
  binary=${entry%%:*}
  filter=${entry#*:}
  echo "=== memcheck: $(basename "$binary") ($filter)"
  start=$SECONDS
  if ! JUXHID_SOAK_SECONDS=${JUXHID_SOAK_SECONDS:-5} valgrind --quiet --error-exitcode=1 --leak-check=full \
      --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --fair-sched=yes \
      "$dir/$binary" --gtest_filter="$filter" --gtest_brief=1 >"$dir/$(basename "$binary").valgrind.log" 2>&1; then
    echo "FAILED: $binary (see $dir/$(basename "$binary").valgrind.log)"
    tail -40 "$dir/$(basename "$binary").valgrind.log"
    failed=1
  fi
  echo "    $((SECONDS - start)) s"
done
exit $failed
