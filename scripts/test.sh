#!/usr/bin/env bash
# Builds and runs every test of JUXHID, installing what is missing first.
#
#   scripts/test.sh              every stage
#   scripts/test.sh native tsan  only the stages named
#
# Stages: native (build, unit and behaviour tests, tool, binding and install
# tests, benchmark smoke pass), kernel (libjuxhid.so against the kernel's own
# HID core, hid-generic and hidraw drivers, with uhid devices in a qemu
# guest), asan (address+undefined sanitizers), tsan
# (thread sanitizer), valgrind (the reliability and core behaviour tests under
# memcheck: zero errors, zero leaks), windows (juxhid.dll and juxhid_sim.dll
# cross-built for 32- and 64-bit Windows, their export tables, and for each
# architecture this machine can run the whole suite under Wine and
# juxhid.dll on Wine's own HID devices), wine-kernel (the 64-bit juxhid.dll
# on Wine's HID stack over uhid devices in a qemu guest, about 4 minutes),
# fuzz (the report-descriptor parser under libFuzzer). About 35 minutes on
# two cores.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native kernel asan tsan valgrind windows wine-kernel fuzz)
jobs=${JUXHID_JOBS:-2}

deps=()
for stage in "${stages[@]}"; do
  case "$stage" in
    windows) deps+=(--windows) ;;
    fuzz) deps+=(--fuzz) ;;
    kernel) deps+=(--kernel) ;;
    wine-kernel) deps+=(--wine-kernel) ;;
  esac
done
bash scripts/install-deps.sh "${deps[@]}"

# build_and_test DIR [cmake options...]
build_and_test() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUXHID_BUILD_TESTS=ON -DJUXHID_BUILD_BENCH=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$((jobs + 1))" --timeout 300)
}

for stage in "${stages[@]}"; do
  echo "=== $stage ==="
  start=$SECONDS
  case "$stage" in
    native) build_and_test build ;;
    asan) build_and_test build-asan -DJUXHID_SANITIZE=address,undefined -DJUXHID_BUILD_BENCH=OFF ;;
    tsan) build_and_test build-tsan -DJUXHID_SANITIZE=thread -DJUXHID_BUILD_BENCH=OFF ;;
    kernel) bash .ci/kernel.sh ;;
    valgrind) bash .ci/valgrind.sh ;;
    windows) bash .ci/windows.sh ;;
    wine-kernel) bash .ci/wine-kernel.sh ;;
    fuzz) bash .ci/hidraw-fuzz.sh ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
  echo "=== $stage passed in $((SECONDS - start)) s ==="
done
