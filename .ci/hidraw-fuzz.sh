#!/usr/bin/env bash
# Fuzzes the two parsers of untrusted input under libFuzzer, with the address
# and undefined-behaviour sanitizers: the hidraw report-descriptor parser (a
# device's bytes) and the recording parser (files a host replays), for a
# bounded time that the two share (60 s unless JUXHID_FUZZ_SECONDS says
# otherwise, split evenly). Installs clang and its fuzzer runtime when
# missing. Exits non-zero when a fuzzer finds a crash, a leak or a broken
# invariant; the input that did it is kept in the build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

total=${JUXHID_FUZZ_SECONDS:-60}
seconds=$(( (total + 1) / 2 ))
build=${JUXHID_FUZZ_BUILD_DIR:-build-fuzz}

bash scripts/install-deps.sh --fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DJUXHID_HIDRAW_FUZZER=ON -DJUXHID_RECORDING_FUZZER=ON -DJUXHID_BUILD_TESTS=ON -DJUXHID_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${JUXHID_JOBS:-2}" --target hidraw_descriptor_fuzzer recording_fuzzer

# Seeds: the typical devices' descriptors the parser tests are written with.
corpus="$build/hidraw-fuzz-corpus"
artifacts="$build/hidraw-fuzz-artifacts/"
mkdir -p "$corpus" "$artifacts"
python3 - tests/hidraw/descriptors.h "$corpus" <<'PY'
import pathlib, re, sys
source, corpus = pathlib.Path(sys.argv[1]).read_text(), pathlib.Path(sys.argv[2])
for name, body in re.findall(r"Bytes (k\w+) = \{(.*?)\n\};", source, re.S):
    body = re.sub(r"//[^\n]*", "", body)
    (corpus / f"seed-{name}").write_bytes(bytes(int(b, 16) for b in re.findall(r"0x[0-9A-Fa-f]{2}", body)))
PY

"$build/tests/hidraw/hidraw_descriptor_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus"

# Seeds: the recordings the tool tests replay, and one with every kind of
# line (CR LF endings, an unplug).
corpus="$build/recording-fuzz-corpus"
artifacts="$build/recording-fuzz-artifacts/"
mkdir -p "$corpus" "$artifacts"
cp tests/tools/recordings/*.txt "$corpus/"
printf 'juxhid-recording 1\r\nvendor 0x1A2B\r\nproduct 7\r\nusage-page 0xFF00\r\nusage 1\r\ninput-length 3\r\noutput-length 0\r\n0 000102\r\n1500 00ff7f\r\nunplug 2000\r\n' \
  >"$corpus/seed-every-line"

"$build/tests/fuzz/recording_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus"
