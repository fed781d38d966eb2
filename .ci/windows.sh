#!/usr/bin/env bash
# The Windows leg of CI: builds juxhid.dll and juxhid_sim.dll for 32-bit
# Windows with MinGW-w64, checks both export tables, runs the cross-built
# test suite under Wine (against the simulated library), and runs juxhid.dll
# on Wine's own HID devices.
#
# Runs as root on a fresh Debian 12 machine without a terminal or stdin:
# installs what is missing, creates a fresh Wine prefix, and always stops
# that prefix's wineserver at the end, failed or not (a wineserver left
# running holds the caller's output open). Exits non-zero on any failure.
#
#   JUXHID_WINDOWS_BUILD  build directory (default: build-win in the repository)
#   JUXHID_JOBS           parallel jobs for building and testing (default: 2)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${JUXHID_WINDOWS_BUILD:-$repo/build-win}
jobs=${JUXHID_JOBS:-2}
started=$(date +%s)

step() { printf '\n== %s (%ss)\n' "$*" "$(($(date +%s) - started))"; }

install_missing() {
    local want=(cmake make g++-mingw-w64-i686-posix googletest libcli11-dev wine wine32:i386)
    local missing=()
    local package
    for package in "${want[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    # wine32 is an i386 package; Wine needs it to run 32-bit programs.
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq </dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
}

stop_wine() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}

# Long steps run as a waited-for child: a signal then reaches the script at
# once (bash defers traps until a foreground command ends), and the handler
# stops the child before the EXIT trap stops Wine.
child=""
run() {
    "$@" &
    child=$!
    wait "$child"
}
on_signal() {
    [ -n "$child" ] && kill "$child" 2>/dev/null
    exit "$1"
}

step "packages"
install_missing

step "fresh Wine prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d /tmp/juxhid-wine.XXXXXX)
export WINEPREFIX
trap stop_wine EXIT
# A signal ends the script through exit, so the EXIT trap runs then too.
trap 'on_signal 130' INT
trap 'on_signal 143' TERM HUP
# Nothing of Wine's may inherit this script's output: its server and
# services outlive the programs that start them.
wineboot --init </dev/null >/dev/null 2>&1
wineserver -w
# One server for the whole run: each test program then starts in
# hundredths of a second instead of half a second.
wineserver -p </dev/null >/dev/null 2>&1

step "configure and build"
cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-i686.cmake" \
    -DJUXHID_BUILD_BENCH=OFF >/dev/null
run cmake --build "$build" -j "$jobs"

cd "$build"
step "export tables"
run ctest --no-tests=error --output-on-failure -R '_exports_are_exactly_the_public_names$'

step "test suite under Wine"
run ctest --no-tests=error --output-on-failure -j "$jobs" -E '_exports_are_exactly_the_public_names$|^RealStack\.'

step "juxhid.dll on the platform's HID devices"
run ctest --no-tests=error --output-on-failure -R '^RealStack\.'

step "done"
