#!/usr/bin/env bash
# Builds the simulated-bus library and the juxhid-sim tool, then runs its
# demo: a simulated device streams reports through the callbacks and a burst
# of paced writes goes out one tick apart. Installs only what that build
# needs (with apt-get, when missing) and keeps the build's output in a log.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-demo
log=$build/demo-build.log

want=(cmake g++ make libcli11-dev)
missing=()
for package in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "demo: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # One stale index (the i386 one, say) must not stop the demo.
  $sudo apt-get update -qq >/dev/null 2>&1 ||
    echo "demo: warning: apt-get update failed; installing from the package lists at hand" >&2
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$build"
echo "demo: building the simulated-bus library and juxhid-sim (log: $log)"
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUXHID_BUILD_TESTS=OFF \
         -DJUXHID_BUILD_BENCH=OFF -DJUXHID_BUILD_TOOLS=ON &&
       cmake --build "$build" -j"${JUXHID_JOBS:-2}" --target juxhid_sim_tool; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "demo: the build failed; the whole output is in $log" >&2
  exit 1
fi
exec "$build/tools/juxhid-sim" demo "$@"
