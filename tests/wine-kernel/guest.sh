#!/bin/bash
# Runs in the guest, in the host's root: starts udevd (winebus learns of
# devices plugged after Wine started, and of removals, only through udev),
# the device side, the 64-bit Windows test program under wine64 and then,
# in the same Wine session, the measuring pass (its own device side, with
# stamped devices of a vendor of their own). The file `measure` holds the
# pass's mode: short (after the scenarios), full (the pass alone) or off.
# Its exit status is the test program's, else the pass's.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root GTEST_COLOR=no
export WINEPREFIX=/tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
port=7777
measure_port=7778
mode=$(cat /run/juxhid/measure 2>/dev/null || echo short)
# Each device Wine finds at its start costs it seconds under emulation: the
# short pass plays 5, the full one as many as the library lists (25).
measure_devices=5
[ "$mode" = full ] && measure_devices=25
uptime_s() { cut -d' ' -f1 /proc/uptime; }
listening() {
  for _ in $(seq 100); do
    grep -q ":$(printf '%04X' "$1") " /proc/net/tcp 2>/dev/null && return
    sleep 0.1
  done
}

/lib/systemd/systemd-udevd --daemon 2>/dev/null || echo "JUXHID-GUEST: systemd-udevd did not start"
cd /run/juxhid || exit 1
# The devices most scenarios share are there before Wine starts, as a host's
# devices usually are; the unplug scenario plugs one while Wine runs. So are
# the measuring pass's: plugging them while Wine runs would cost the stage a
# hotplug of each.
servers=()
if [ "$mode" != full ]; then
  ./device_server "$port" plain:plain:1a2b:1 stranger:plain:f0f:2 composite:composite:1a2b:3 \
    numbered:numbered:1a2b:5 &
  servers+=($!)
  listening "$port"
fi
if [ "$mode" != off ]; then
  measured=()
  for at in $(seq 0 $((measure_devices - 1))); do measured+=("m$at:stamped:1a2c:$(printf '%x' $((0x100 + at)))"); done
  ./device_server "$measure_port" "${measured[@]}" >/dev/null &
  servers+=($!)
  listening "$measure_port"
fi

echo "JUXHID-GUEST: Wine started at $(uptime_s) s"
start=$(uptime_s)
status=0
if [ "$mode" != full ]; then
  # shellcheck disable=SC2046
  /usr/lib/wine/wine64 ./wine_kernel_test.exe "$port" $(cat arguments 2>/dev/null) 2>&1 | tr -d '\r'
  status=${PIPESTATUS[0]}
  echo "JUXHID-GUEST: tests took $(awk -v s="$start" '{ printf "%.1f", $1 - s }' /proc/uptime) s"
fi
if [ "$mode" != off ]; then
  measure_start=$(uptime_s)
  /usr/lib/wine/wine64 ./wine_kernel_measure.exe "$measure_port" "$mode" "$measure_devices" \
    'Z:\run\juxhid-out\sheet.json' 2>&1 | tr -d '\r'
  measure_status=${PIPESTATUS[0]}
  echo "JUXHID-GUEST: measuring took $(awk -v s="$measure_start" '{ printf "%.1f", $1 - s }' /proc/uptime) s" \
    "(status $measure_status)"
  [ "$status" -eq 0 ] && status=$measure_status
fi
wineserver -k 2>/dev/null
for server in "${servers[@]}"; do kill "$server" 2>/dev/null; done
exit "$status"
