#!/usr/bin/env bash
# Measures how fast reports move through the library on the simulated bus,
# with its real threads, and prints the table of results against their
# targets. Raw results go to OUT/results.json (with each benchmark's own
# JSON beside it) and the latency histogram to OUT/latency.svg.
#
#   bench/run.sh [--short] [--no-build] [--build-dir DIR] [--out DIR]
#                [--svg FILE] [--markdown FILE]
#
#   --short       every measurement briefly (a smoke pass; numbers mean little)
#   --no-build    use the benchmarks already built in the build directory
#   --build-dir   default build-bench (a Release build of its own)
#   --out         default BUILD_DIR/bench-results
#   --svg, --markdown  also write the histogram / the table there
#
# The machine should be quiet: the load average is recorded with the results.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
out=""
short=0
build_first=1
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --short) short=1 ;;
    --no-build) build_first=0 ;;
    --build-dir) build=$(realpath -m "$2"); shift ;;
    --out) out=$(realpath -m "$2"); shift ;;
    --svg|--markdown) extra+=("$1" "$(realpath -m "$2")"); shift ;;
    *) echo "unknown option: $1 (see the top of $0)" >&2; exit 2 ;;
  esac
  shift
done
out=${out:-$build/bench-results}
benches=(juxhid_bench_ring juxhid_bench_calls juxhid_bench_paths)

if [ "$build_first" = 1 ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DJUXHID_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j"${JUXHID_JOBS:-2}" --target "${benches[@]}"
fi
mkdir -p "$out"

if [ "$short" = 1 ]; then
  micro=(--benchmark_min_time=0.01)
  paths=(--short)
else
  micro=(--benchmark_min_time=0.2 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true)
  paths=()
fi

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || uptime)"
start=$SECONDS
run() {
  local name=$1; shift
  echo "running $name ..."
  "$build/bench/juxhid_bench_$name" --benchmark_out="$out/$name.json" --benchmark_out_format=json \
    "$@" >"$out/$name.log" 2>&1 || { cat "$out/$name.log" >&2; exit 1; }
}
run ring "${micro[@]}"
run calls "${micro[@]}"
run paths "${paths[@]}" --histogram_out="$out/histograms.json"
echo "measured in $((SECONDS - start)) s; load after: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || uptime)"
echo

python3 "$root/bench/report.py" --ring "$out/ring.json" --calls "$out/calls.json" \
  --paths "$out/paths.json" --histograms "$out/histograms.json" --out "$out" "${extra[@]}"
echo "raw results: $out/results.json, histogram: $out/latency.svg"
