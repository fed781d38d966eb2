#!/usr/bin/env bash
# Builds the simulated-bus library and the juxhid-sim tool, then runs its
# demo: a simulated device streams reports through the callbacks and a burst
# of paced writes goes out one tick apart.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${JUXHID_JOBS:-2}" --target juxhid_sim_tool
exec build/tools/juxhid-sim demo "$@"
