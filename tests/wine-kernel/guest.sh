#!/bin/bash
# Runs in the guest, in the host's root: starts udevd (winebus learns of
# devices plugged after Wine started, and of removals, only through udev),
# the device side, and the 64-bit Windows test program under wine64. Its exit
# status is the program's.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root GTEST_COLOR=no
export WINEPREFIX=/tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
port=7777
uptime_s() { cut -d' ' -f1 /proc/uptime; }

/lib/systemd/systemd-udevd --daemon 2>/dev/null || echo "JUXHID-GUEST: systemd-udevd did not start"
cd /run/juxhid || exit 1
# The devices most scenarios share are there before Wine starts, as a host's
# devices usually are; the unplug scenario plugs one while Wine runs.
./device_server "$port" plain:plain:1a2b:1 stranger:plain:f0f:2 composite:composite:1a2b:3 \
  numbered:numbered:1a2b:5 &
server=$!
for _ in $(seq 100); do
  grep -q ":$(printf '%04X' "$port") " /proc/net/tcp 2>/dev/null && break
  sleep 0.1
done

echo "JUXHID-GUEST: Wine started at $(uptime_s) s"
start=$(uptime_s)
# shellcheck disable=SC2046
/usr/lib/wine/wine64 ./wine_kernel_test.exe "$port" $(cat arguments 2>/dev/null) 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
echo "JUXHID-GUEST: tests took $(awk -v s="$start" '{ printf "%.1f", $1 - s }' /proc/uptime) s"
wineserver -k 2>/dev/null
kill "$server" 2>/dev/null
exit "$status"
