#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest and test discovery: quiet,
# without the Mono and Gecko installers, and with the CR that Wine's console
# adds before each LF taken out (test names are read from this output). The
# program's exit status is the wrapper's.
#
# Wine's output goes to files first, not to a pipe: the wineserver and the
# service processes the first program of a session starts inherit its
# output, and would hold a pipe open long after the program ended.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-/tmp/juxhid-wine-$(id -u)}
out=$(mktemp) && err=$(mktemp) || exit 125
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err" </dev/null
status=$?
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
exit $status
