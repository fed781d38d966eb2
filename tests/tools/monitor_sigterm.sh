#!/bin/sh
# monitor through a pipe, ended by SIGTERM as `timeout` ends it: the report
# lines reach the pipe while it runs, and the end is Ctrl-C's: the summary,
# then exit 0.
#
#   monitor_sigterm.sh TOOL WORK
set -u
tool=$1 work=$2
fail() { echo "monitor_sigterm: $*" >&2; [ -f "$work/out" ] && sed 's/^/  | /' "$work/out" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
mkfifo "$work/pipe"
cat "$work/pipe" >"$work/out" &
reader=$!
# 1000 reports 20 ms apart: far longer than the test waits.
"$tool" --sim-attach 0x1A2B:1:0xFF00:1:9:9 --sim-feed 1000 monitor --vendor 0x1A2B --index 0 \
  >"$work/pipe" 2>"$work/err" &
monitor=$!

# Lines must flow while the monitor runs, not only when it ends.
waited=0
while [ "$(grep -c ' s  ' "$work/out")" -lt 3 ]; do
  [ "$waited" -lt 300 ] || { kill -KILL "$monitor"; fail "fewer than 3 report lines reached the pipe in 30 s"; }
  kill -0 "$monitor" 2>/dev/null || fail "the monitor ended by itself"
  sleep 0.1
  waited=$((waited + 1))
done

started=$(date +%s)
kill -TERM "$monitor"
wait "$monitor"
status=$?
wait "$reader"
took=$(($(date +%s) - started))
[ "$status" = 0 ] || fail "exit status $status after SIGTERM, expected 0 as after Ctrl-C"
grep -q '^stopped after [0-9]* reports$' "$work/out" || fail "no summary after SIGTERM"
[ ! -s "$work/err" ] || fail "stderr is not empty: $(cat "$work/err")"
# It stops within a report interval; the bound allows for a busy machine.
[ "$took" -le 10 ] || fail "it took $took s to end after SIGTERM"
echo "monitor_sigterm: ok, $(grep -c ' s  ' "$work/out") lines, ended in under $((took + 1)) s"
