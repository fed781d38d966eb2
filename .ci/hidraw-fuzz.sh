#!/usr/bin/env bash
# Fuzzes the hidraw report-descriptor parser under libFuzzer, with the address
# and undefined-behaviour sanitizers, for a bounded time (60 s unless
# JUXHID_FUZZ_SECONDS says otherwise). Installs clang and its fuzzer runtime
# when missing. Exits non-zero when the fuzzer finds a crash, a leak or a
# broken invariant; the input that did it is kept in the build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${JUXHID_FUZZ_SECONDS:-60}
build=${JUXHID_FUZZ_BUILD_DIR:-build-fuzz}

bash scripts/install-deps.sh --fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DJUXHID_HIDRAW_FUZZER=ON -DJUXHID_BUILD_TESTS=ON -DJUXHID_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${JUXHID_JOBS:-2}" --target hidraw_descriptor_fuzzer

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
