#!/usr/bin/env bash
# A replay at speed 0 of 100,000 recorded reports, drained by a host that
# calls ReadData as fast as it can: the rate the replay reaches and what the
# host lost. Writes the recording (9-byte reports numbered in bytes 1-3,
# 1 ms apart, no unplug) and runs `juxhid-sim replay` on it RUNS times.
#
#   bench/replay_100k.sh [BUILD_DIR [RUNS [SPEED]]]   default build-bench, 5, 0
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
runs=${2:-5}
speed=${3:-0}
tool="$build/tools/juxhid-sim"
if [ ! -x "$tool" ]; then
  echo "replay_100k: $tool is missing; build it first (cmake --build $build --target juxhid_sim_tool)" >&2
  exit 1
fi
recording=$(mktemp --suffix=.txt)
trap 'rm -f "$recording"' EXIT
awk 'BEGIN {
  print "juxhid-recording 1"; print "vendor 0x1A2B"; print "product 0x0001"; print "usage-page 0xFF00"
  print "usage 0x0001"; print "input-length 9"; print "output-length 9"
  for (n = 0; n < 100000; n++)
    printf "%d 00%02x%02x%02xa5a5a5a5a5\n", n * 1000, n % 256, int(n / 256) % 256, int(n / 65536)
}' > "$recording"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq 1 "$runs"); do
  "$tool" replay "$recording" --speed "$speed" | tail -n 2 | paste -sd' '
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
