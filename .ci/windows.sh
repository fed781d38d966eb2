#!/usr/bin/env bash
# The Windows leg of CI. It builds juxhid.dll and juxhid_sim.dll for 32-bit
# (i686) and 64-bit (x86_64) Windows with MinGW-w64 and checks all four
# export tables. Then, for each architecture whose programs this machine can
# run under Wine (one tiny program probes each), it runs the cross-built test
# suite against that architecture's juxhid_sim.dll, runs its juxhid.dll
# on Wine's own HID devices, and makes a short measuring pass of the
# simulated bus against Wine's own floors (it prints its figures and keeps
# them as BUILD/bench/sim-wine64.sheet.json or sim-wine32.sheet.json; no timing is
# asserted, only that every figure could be measured).
#
# Some machines cannot execute any 32-bit program at all (Wine's 32-bit
# loader then fails with "Exec format error"), and on some 32-bit Wine cannot
# be installed (a stale i386 package index); there the 32-bit Wine runs are
# skipped, and the script says so in one line, with apt's reason. Any other failure fails the
# script, as does a machine on which neither architecture runs.
#
# Runs as root on a fresh Debian 12 machine without a terminal or stdin:
# installs what is missing, creates a fresh Wine prefix, and always stops
# that prefix's wineserver at the end, failed or not (a wineserver left
# running holds the caller's output open). Exits non-zero on any failure,
# after a line that says which step failed and why.
#
#   JUXHID_WINDOWS_BUILD    32-bit build directory (default: build-win)
#   JUXHID_WINDOWS64_BUILD  64-bit build directory (default: build-win64)
#   JUXHID_JOBS             parallel jobs for building and testing (default: 2)
set -Eeuo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JUXHID_JOBS:-2}
architectures=(i686 x86_64)
declare -A build=([i686]=${JUXHID_WINDOWS_BUILD:-$repo/build-win}
                  [x86_64]=${JUXHID_WINDOWS64_BUILD:-$repo/build-win64})
declare -A bits=([i686]=32 [x86_64]=64)
# Every CI run builds each configuration once: the 32-bit DLLs in Release
# (-O3, where GCC's warnings differ), the 64-bit ones in the default
# configuration that the documented build uses.
declare -A config=([i686]=Release [x86_64]=RelWithDebInfo)
wine_run=$repo/tests/win32/wine-run.sh
started=$(date +%s)
current=""

step() {
    current=$*
    printf '\n== %s (%ss)\n' "$*" "$(($(date +%s) - started))"
}

fail() {
    printf '\nwindows stage FAILED at "%s": %s\n' "$current" "$*" >&2
    exit 1
}

# A command that fails without its own explanation is named here.
on_error() {
    local status=$?
    printf '\nwindows stage FAILED at "%s": `%s` exited with status %s\n' \
        "$current" "$BASH_COMMAND" "$status" >&2
}
trap on_error ERR

triple() { echo "$1-w64-mingw32"; }

install_missing() {
    bash "$repo/scripts/install-deps.sh" --windows ||
        fail "the packages the Windows stage needs could not be installed (install-deps.sh said why above)"
}

# 32-bit Wine is optional: where wine32:i386 cannot be installed (its i386
# dependencies must match the installed amd64 versions, which a stale i386
# index cannot give) the 32-bit runs are skipped. Sets wine32_missing to
# apt's reason, or leaves it empty when wine32 is there.
wine32_missing=""
check_wine32() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && return 0
    # apt-get exits 100 when it cannot install: that is the answer wanted
    # here, not a failure of the script.
    wine32_missing=$({ apt-get -s install --no-install-recommends wine32:i386 </dev/null 2>&1 || true; } |
        grep -E '^E: | : Depends: ' | sed 's/^ *//' | head -n 4 | paste -sd ';' - | sed 's/;/; /g' || true)
    wine32_missing=${wine32_missing:-wine32:i386 is not installed}
}

stop_wine() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}

# Long steps run as a waited-for child: a signal then reaches the script at
# once (bash defers traps until a foreground command ends), and the handler
# stops the child before the EXIT trap stops Wine. A failure is named here.
child=""
run() {
    "$@" &
    child=$!
    local status=0
    wait "$child" || status=$?
    child=""
    [ $status -eq 0 ] || fail "\`$*\` exited with status $status (its output is above)"
}
on_signal() {
    [ -n "$child" ] && kill "$child" 2>/dev/null
    exit "$1"
}
trap stop_wine EXIT
# A signal ends the script through exit, so the EXIT trap runs then too.
trap 'on_signal 130' INT
trap 'on_signal 143' TERM HUP

build_architecture() {
    local arch=$1 dir=${build[$1]}
    command -v "$(triple "$arch")-g++-posix" >/dev/null ||
        fail "the $arch cross compiler $(triple "$arch")-g++-posix is missing (install-deps.sh --windows)"
    cmake -S "$repo" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE="${config[$arch]}" -DJUXHID_BUILD_TESTS=ON -DJUXHID_BUILD_BENCH=ON >/dev/null ||
        fail "configuring the $arch build failed (CMake's message is above)"
    run cmake --build "$dir" -j "$jobs"
}

# Straight from the DLLs with objdump, without CTest: loading a test
# directory would list the cross-built test programs, which needs Wine.
check_export_tables() {
    local arch=$1 dir=${build[$1]}
    local dll kind
    for dll in src/platform/win32/juxhid.dll:library src/platform/sim/juxhid_sim.dll:simulated; do
        kind=${dll#*:}
        dll=${dll%:*}
        cmake -DOBJDUMP="$(triple "$arch")-objdump" -DDLL="$dir/$dll" -DKIND="$kind" -DARCH="$arch" \
            -P "$repo/tests/win32/check_exports.cmake" ||
            fail "the $arch export table of $dll is not exactly the public names"
    done
}

# Boots the prefix with Wine's 64-bit loader: the 32-bit one cannot start at
# all on some machines, and a 64-bit prefix runs the programs of both.
fresh_prefix() {
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    WINEPREFIX=$(mktemp -d /tmp/juxhid-wine.XXXXXX) || fail "could not create a directory in /tmp"
    export WINEPREFIX
    local log=$WINEPREFIX.boot.log status=0
    # Nothing of Wine's may inherit this script's output: its server and
    # services outlive the programs that start them (wine-run.sh writes to
    # files, and so does this).
    "$wine_run" x86_64 wineboot --init >"$log" 2>&1 || status=$?
    wineserver -w || status=$?
    if [ $status -ne 0 ]; then
        # The probes below decide whether that matters.
        echo "note: creating the Wine prefix ended with status $status:"
        sed 's/^/  /' "$log"
    fi
    rm -f "$log"
    # One server for the whole run: each test program then starts in
    # hundredths of a second instead of half a second.
    wineserver -p </dev/null >/dev/null 2>&1 || fail "wineserver could not be started"
}

# Sets runnable[ARCH] to yes or no. "No" only for the one known reason, that
# the machine cannot execute the loader (status 126, "Exec format error");
# anything else means a broken Wine or toolchain, and fails.
declare -A runnable
probe_architecture() {
    local arch=$1 probe=${build[$1]}/arch_probe.exe
    if [ "$arch" = i686 ] && [ -n "$wine32_missing" ]; then
        runnable[$arch]=no
        echo "$arch: 32-bit Wine is not installed: $wine32_missing"
        return 0
    fi
    "$(triple "$arch")-gcc-posix" -static -o "$probe" "$repo/tests/win32/arch_probe.c" ||
        fail "the $arch compiler could not build the probe program"
    local output status=0
    output=$("$wine_run" "$arch" "$probe" 2>&1) || status=$?
    if [ $status -eq 42 ]; then
        runnable[$arch]=yes
        echo "$arch: $output"
    elif [ $status -eq 126 ] || grep -q 'Exec format error' <<<"$output"; then
        runnable[$arch]=no
        echo "$arch: Wine's loader cannot be executed here (status $status): ${output:-no message}"
    else
        fail "the $arch probe program did not run under Wine as expected: status $status, output: ${output:-none}"
    fi
}

# Tests in a build directory that match CTest's selection ARGS.
count_tests() {
    local dir=$1
    shift
    ctest --test-dir "$dir" -N "$@" | sed -n 's/^Total Tests: //p'
}

suite_filter='^RealStack\.|_exports_are_exactly_the_public_names$'
declare -A ran

test_architecture() {
    local arch=$1 dir=${build[$1]}
    step "$arch: test suite under Wine (${bits[$arch]}-bit juxhid_sim.dll)"
    local suite real
    suite=$(count_tests "$dir" -E "$suite_filter")
    real=$(count_tests "$dir" -R '^RealStack\.')
    run ctest --test-dir "$dir" --no-tests=error --output-on-failure -j "$jobs" -E "$suite_filter"
    step "$arch: ${bits[$arch]}-bit juxhid.dll on Wine's own HID devices"
    run ctest --test-dir "$dir" --no-tests=error --output-on-failure -R '^RealStack\.'
    step "$arch: measuring pass, simulated bus under Wine (figures only)"
    run "$wine_run" "$arch" "$dir/bench/juxhid_bench_wine.exe" --short \
        --json "$dir/bench/sim-wine${bits[$arch]}.sheet.json"
    ran[$arch]="$suite suite tests and $real real-stack tests passed, figures measured"
}

step "packages"
install_missing
check_wine32

for arch in "${architectures[@]}"; do
    step "$arch: configure and build (${config[$arch]})"
    build_architecture "$arch"
done

step "export tables"
for arch in "${architectures[@]}"; do check_export_tables "$arch"; done

step "fresh Wine prefix"
fresh_prefix

step "which Windows programs this machine runs"
for arch in "${architectures[@]}"; do probe_architecture "$arch"; done
[ "${runnable[i686]}" = yes ] || [ "${runnable[x86_64]}" = yes ] ||
    fail "neither 32-bit nor 64-bit Windows programs run under Wine on this machine, so nothing could be tested"

for arch in "${architectures[@]}"; do
    if [ "${runnable[$arch]}" = yes ]; then test_architecture "$arch"; fi
done

step "done"
for arch in "${architectures[@]}"; do
    if [ "${runnable[$arch]}" = yes ]; then
        echo "$arch: built, export tables checked; under Wine: ${ran[$arch]}"
    elif [ "$arch" = i686 ] && [ -n "$wine32_missing" ]; then
        echo "$arch: built, export tables checked"
        echo "32-bit Wine could not be installed, so its Wine runs were skipped (apt: $wine32_missing)"
    else
        echo "$arch: built, export tables checked"
        echo "${bits[$arch]}-bit Windows programs cannot run on this machine: their Wine runs were skipped"
    fi
done
