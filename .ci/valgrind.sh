#!/usr/bin/env bash
# Runs the reliability suite and the core behaviour tests once under
# Valgrind's memcheck, built with -O1 -g in a directory of its own. Any
# memory error, and any definite or indirect leak, fails the run.
#
#   .ci/valgrind.sh                 every chosen binary
#   JUXHID_VALGRIND_DIR=dir ...     another build directory
#
# Under memcheck the threads run one at a time and many times slower: the
# cases that measure tick intervals are filtered out (see BINARIES), and the
# soak runs for 5 s (JUXHID_SOAK_SECONDS overrides it). About 4 minutes here,
# build included.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${JUXHID_VALGRIND_DIR:-build-valgrind}
jobs=${JUXHID_JOBS:-2}
command -v valgrind >/dev/null || bash scripts/install-deps.sh

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DJUXHID_BUILD_TESTS=ON -DJUXHID_BUILD_BENCH=OFF >/dev/null

# binary:gtest filter. Filtered out: the PacedWrites cases that measure the
# 50 ms and 5 ms tick intervals against upper bounds (200 to 250 ms), which
# memcheck's one-thread-at-a-time scheduling can stretch on a busy machine.
# They passed 3 runs of 3 here; the paths they take run unmeasured in the
# sweep's WriteData, FastWrite and PacingTick scenarios. Also the lifetimes
# case that measures the process's CPU time: memcheck's own work is counted
# in it. The half-second
# waits of ReadLast and CleanupInterface keep their (generous) bounds.
BINARIES=(
  "tests/reliability/fault_sweep_test:*"
  "tests/reliability/bad_input_test:*"
  "tests/reliability/call_order_test:*"
  "tests/reliability/unload_test:*"
  "tests/reliability/soak_test:*"
  "tests/reliability/lifetimes_test:*-*NoStateBusyLoops"
  "tests/core/ring_test:*"
  "tests/core/listing_test:*"
  "tests/core/interface_test:*"
  "tests/core/polled_reads_test:*"
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
