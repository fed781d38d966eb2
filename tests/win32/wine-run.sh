#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest and test discovery: quiet,
# without the Mono and Gecko installers, and with the CR that Wine's console
# adds before each LF taken out (test names are read from this output). The
# program's exit status is the wrapper's.
set -o pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-/tmp/juxhid-wine-$(id -u)}
wine "$@" | tr -d '\r'
