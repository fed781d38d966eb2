#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest and test discovery: quiet,
# without the Mono and Gecko installers, and with the CR that Wine's console
# adds before each LF taken out (test names are read from this output). The
# program's exit status is the wrapper's.
#
#   wine-run.sh i686|x86_64 PROGRAM [ARGUMENTS...]
#
# The architecture picks Wine's loader. 64-bit programs go straight to the
# 64-bit loader: `wine` itself is the 32-bit one whenever wine32 is
# installed, and some machines cannot execute any 32-bit program at all.
# JUXHID_WINE_LOADER_i686 or JUXHID_WINE_LOADER_x86_64 names another loader.
#
# Wine's output goes to files first, not to a pipe: the wineserver and the
# service processes the first program of a session starts inherit its
# output, and would hold a pipe open long after the program ended.
#
# Wine 8 itself sometimes dies of SIGSEGV (or is killed) while it ends a
# process whose multimedia timer thread was busy a moment before: a ten-line
# program that sets and kills one timer and returns does it in about 1 run in
# 100 on a loaded machine. A crash inside the program's own code is not that:
# Wine turns it into an exception and an exit status of its own. So a run
# that ends by signal 11 or 9 is run once more, and the second run's outcome
# stands; a fault of ours that kills Wine every time still fails.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-/tmp/juxhid-wine-$(id -u)}

# The loader for ARCH: an override, or Wine's own for that architecture.
wine_loader() {
    case "$1" in
        i686 | x86_64) ;;
        *)
            echo "wine-run: unknown architecture '$1' (i686 or x86_64)" >&2
            return 1
            ;;
    esac
    local override="JUXHID_WINE_LOADER_$1"
    if [ -n "${!override:-}" ]; then
        echo "${!override}"
    elif [ "$1" = i686 ]; then
        echo wine
    else
        # Debian's wine64 package keeps its loader off the PATH.
        local candidate
        for candidate in wine64 /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
            command -v "$candidate" && return 0
        done
        echo "wine-run: no 64-bit Wine loader (wine64) found; install the wine64 package" >&2
        return 1
    fi
}

loader=$(wine_loader "${1:-}") || exit 125
shift
out=$(mktemp) && err=$(mktemp) || exit 125
trap 'rm -f "$out" "$err"' EXIT

run_once() {
    "$loader" "$@" >"$out" 2>"$err" </dev/null
}

run_once "$@"
status=$?
if [ $status -eq 139 ] || [ $status -eq 137 ]; then
    echo "wine-run: Wine ended by signal $((status - 128)); running the program once more" >&2
    run_once "$@"
    status=$?
fi
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
exit $status
