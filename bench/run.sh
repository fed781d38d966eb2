#!/usr/bin/env bash
# Measures how fast reports move through the library on the simulated bus,
# with its real threads, and prints the table of results against their
# targets. Raw results go to OUT/results.json (with each benchmark's own
# JSON beside it) and the latency histogram to OUT/latency.svg.
#
#   bench/run.sh [--short] [--no-build] [--build-dir DIR] [--out DIR]
#                [--svg FILE] [--markdown FILE]
#   bench/run.sh --compare REV [--rounds N] [--short] [--build-dir DIR] [--out DIR]
#   bench/run.sh --stack NAME [--stack NAME ...] [--out DIR]
#
#   --short       every measurement briefly (a smoke pass; numbers mean little)
#   --no-build    use the benchmarks already built in the build directory
#   --build-dir   default build-bench (a Release build of its own)
#   --out         default BUILD_DIR/bench-results
#   --svg, --markdown  also write the histogram / the table there
#   --compare REV  also build the benchmarks of git revision REV (in
#                 BUILD_DIR/compare-REV) and run the two in turn, N rounds
#                 each (default 4), alternating which goes first, then print
#                 every figure's ratio between them (bench/compare.py). A
#                 figure counts as changed only when every round moved it
#                 the same way: what the machine's noise does to one round,
#                 it does to both revisions of that round.
#   --stack NAME  instead, the measuring pass of a real stack at full length,
#                 its figure sheet written to OUT/NAME.sheet.json and printed
#                 as its table (bench/sheet_table.py): kernel (the Linux
#                 library on the kernel's HID stack in a qemu guest, several
#                 minutes), wine-kernel (juxhid.dll on Wine's HID stack in the
#                 same kind of guest; as root), sim-wine (the simulated bus
#                 under Wine); all for every one of them.
#
# The machine should be quiet: the load average is recorded with the results.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
out=""
short=0
build_first=1
compare=""
rounds=4
stacks=()
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --short) short=1 ;;
    --no-build) build_first=0 ;;
    --build-dir) build=$(realpath -m "$2"); shift ;;
    --out) out=$(realpath -m "$2"); shift ;;
    --svg|--markdown) extra+=("$1" "$(realpath -m "$2")"); shift ;;
    --compare) compare=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --stack) stacks+=("$2"); shift ;;
    *) echo "unknown option: $1 (see the top of $0)" >&2; exit 2 ;;
  esac
  shift
done
out=${out:-$build/bench-results}
benches=(juxhid_bench_ring juxhid_bench_calls juxhid_bench_paths)

# build SOURCE_DIR BUILD_DIR
build_benches() {
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DJUXHID_BUILD_BENCH=ON >/dev/null
  cmake --build "$2" -j"${JUXHID_JOBS:-2}" --target "${benches[@]}"
}

if [ "$short" = 1 ]; then
  micro=(--benchmark_min_time=0.01)
  paths=(--short)
else
  micro=(--benchmark_min_time=0.2 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true)
  paths=()
fi

# measure BUILD_DIR OUT_DIR: every benchmark once, its JSON into OUT_DIR.
measure() {
  local from=$1 into=$2
  mkdir -p "$into"
  run() {
    local name=$1; shift
    echo "running $name ..."
    "$from/bench/juxhid_bench_$name" --benchmark_out="$into/$name.json" --benchmark_out_format=json \
      "$@" >"$into/$name.log" 2>&1 || { cat "$into/$name.log" >&2; exit 1; }
  }
  run ring "${micro[@]}"
  run calls "${micro[@]}"
  run paths "${paths[@]}" --histogram_out="$into/histograms.json"
}

load() { cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || uptime; }

# measure_stack NAME SHEET: one real stack's measuring pass at full length.
measure_stack() {
  case "$1" in
    kernel) JUXHID_KERNEL_MEASURE=full JUXHID_KERNEL_FIGURES="$2" bash "$root/.ci/kernel.sh" ;;
    wine-kernel) JUXHID_WINE_KERNEL_MEASURE=full JUXHID_WINE_KERNEL_FIGURES="$2" bash "$root/.ci/wine-kernel.sh" ;;
    sim-wine)
      local wine_build="$build/wine64"
      cmake -S "$root" -B "$wine_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DJUXHID_BUILD_BENCH=ON >/dev/null
      cmake --build "$wine_build" -j"${JUXHID_JOBS:-2}" --target juxhid_bench_wine
      bash "$root/tests/win32/wine-run.sh" x86_64 "$wine_build/bench/juxhid_bench_wine.exe" --json "$2" ;;
    *) echo "unknown stack: $1 (kernel, wine-kernel, sim-wine or all)" >&2; exit 2 ;;
  esac
}

if [ ${#stacks[@]} -gt 0 ]; then
  [ "${stacks[*]}" = all ] && stacks=(kernel wine-kernel sim-wine)
  mkdir -p "$out"
  sheets=()
  for stack in "${stacks[@]}"; do
    echo "== $stack: measuring at full length; load before: $(load)"
    measure_stack "$stack" "$out/$stack.sheet.json"
    sheets+=("$out/$stack.sheet.json")
  done
  python3 "$root/bench/sheet_table.py" "${sheets[@]}" --markdown "$out/stacks.md"
  echo "sheets: ${sheets[*]}; tables: $out/stacks.md"
  exit 0
fi

if [ -n "$compare" ]; then
  commit=$(git -C "$root" rev-parse --verify "$compare^{commit}") || { echo "no revision $compare" >&2; exit 2; }
  other_src="$build/compare-$compare/src"
  other_build="$build/compare-$compare/build"
  rm -rf "$other_src" && mkdir -p "$other_src"
  git -C "$root" archive "$commit" | tar -x -C "$other_src"
  build_benches "$root" "$build"
  build_benches "$other_src" "$other_build"
  echo "comparing this tree with $compare (${commit:0:12}), $rounds rounds; load before: $(load)"
  this_dirs=() other_dirs=()
  for round in $(seq 1 "$rounds"); do
    # Alternate which goes first, so that neither always meets a warmer machine.
    if [ $((round % 2)) = 1 ]; then order=(this other); else order=(other this); fi
    for side in "${order[@]}"; do
      echo "round $round: $side"
      if [ "$side" = this ]; then measure "$build" "$out/this-$round"
      else measure "$other_build" "$out/other-$round"; fi
    done
    this_dirs+=("$out/this-$round") other_dirs+=("$out/other-$round")
  done
  echo "load after: $(load)"
  python3 "$root/bench/compare.py" --this "${this_dirs[@]}" --other "${other_dirs[@]}" --label "$compare" \
    --markdown "$out/compare.md"
  echo "comparison: $out/compare.md"
  exit 0
fi

[ "$build_first" = 1 ] && build_benches "$root" "$build"
mkdir -p "$out"
echo "load before: $(load)"
start=$SECONDS
measure "$build" "$out"
echo "measured in $((SECONDS - start)) s; load after: $(load)"
echo

python3 "$root/bench/report.py" --ring "$out/ring.json" --calls "$out/calls.json" \
  --paths "$out/paths.json" --histograms "$out/histograms.json" --out "$out" \
  --figures "$out/sim.sheet.json" "${extra[@]}"
echo "raw results: $out/results.json, figure sheet: $out/sim.sheet.json, histogram: $out/latency.svg"
