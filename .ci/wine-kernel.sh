#!/usr/bin/env bash
# The 64-bit juxhid.dll on a real HID stack: Wine's, in a qemu guest whose
# kernel serves devices played through /dev/uhid. Builds juxhid.dll and the
# Windows test program (x86_64 MinGW) and the native device side, makes a
# Wine prefix on the host (once; reused while Wine's version is the same),
# boots Debian's kernel once with the host's root shared read-only over
# virtio-9p and this stage's files (programs, prefix) as a second share, and
# passes only when the guest reports that every scenario passed. In the
# guest (tests/wine-kernel/init, guest.sh) the prefix lies under a writable
# overlay, systemd-udevd runs for Wine's bus driver, and the Windows program
# orders devices from the device side over the loopback (see docs/windows.md).
# After the scenarios, in the same Wine session, a measuring pass
# (bench/wine-kernel) prints latency, CPU and idle-cost figures of the DLL on
# Wine's stack beside a bare reader's and the idle process's; it asserts no
# timing and fails the stage only when it could not measure.
#
#   JUXHID_WINE_KERNEL_WORK     stage directory: programs and prefix (default: build-wine-kernel)
#   JUXHID_WINE_KERNEL_TIMEOUT  seconds the guest may run (default: 600; 1800 for a full pass)
#   JUXHID_WINE_KERNEL_FILTER   a GoogleTest filter for the scenarios (default: all)
#   JUXHID_KERNEL_BUILD         native build directory (default: build)
#   JUXHID_WINDOWS64_BUILD      64-bit Windows build directory (default: build-win64)
#   JUXHID_JOBS                 parallel build jobs (default: 2)
#   JUXHID_WINE_KERNEL_MEASURE  short (default: briefly, after the scenarios),
#                               full (the measuring pass alone, full length) or off
#   JUXHID_WINE_KERNEL_FIGURES  where to copy the pass's sheet (JSON) on the host
#
# For the figures of the performance report:
#   JUXHID_WINE_KERNEL_MEASURE=full JUXHID_WINE_KERNEL_FIGURES=/path/sheet.json bash .ci/wine-kernel.sh
#
# 32-bit: the 32-bit DLL runs only where wine32 is installed and runs; the
# stage says in one line when it skips it. Runs as root (the guest's Wine
# must own the prefix, and reads /boot/vmlinuz-*).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

native=${JUXHID_KERNEL_BUILD:-build}
windows=${JUXHID_WINDOWS64_BUILD:-build-win64}
work=$(realpath -m "${JUXHID_WINE_KERNEL_WORK:-build-wine-kernel}")
measure=${JUXHID_WINE_KERNEL_MEASURE:-short}
limit=${JUXHID_WINE_KERNEL_TIMEOUT:-$([ "$measure" = full ] && echo 1800 || echo 600)}
jobs=${JUXHID_JOBS:-2}
figures=${JUXHID_WINE_KERNEL_FIGURES:+$(realpath -m "$JUXHID_WINE_KERNEL_FIGURES")}
started=$SECONDS
wine64=/usr/lib/wine/wine64

fail() {
  echo "wine-kernel stage FAILED: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "run as root: the guest runs Wine as root, which must own the prefix"
bash scripts/install-deps.sh --wine-kernel || fail "the packages this stage needs could not be installed"
[ -x "$wine64" ] || fail "$wine64 is missing (package wine64)"
[ -x /lib/systemd/systemd-udevd ] || fail "/lib/systemd/systemd-udevd is missing (package udev)"
case "$measure" in short | full | off) ;; *) fail "JUXHID_WINE_KERNEL_MEASURE is short, full or off, not $measure" ;; esac
[ -z "$figures" ] || [ "$measure" != off ] || fail "JUXHID_WINE_KERNEL_FIGURES needs the measuring pass"

version=""
for image in $(ls /boot/vmlinuz-* 2>/dev/null | sort -V); do
  candidate=${image#/boot/vmlinuz-}
  [ -d "/lib/modules/$candidate/kernel/drivers/hid" ] && version=$candidate
done
[ -n "$version" ] || fail "no /boot/vmlinuz-* with modules under /lib/modules (package linux-image-amd64)"

echo "== building juxhid.dll and the Windows test program in $windows, the device side in $native"
cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUXHID_BUILD_TESTS=ON -DJUXHID_BUILD_BENCH=OFF >/dev/null
cmake --build "$windows" -j"$jobs" --target juxhid wine_kernel_test wine_kernel_measure
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUXHID_BUILD_TESTS=ON >/dev/null
cmake --build "$native" -j"$jobs" --target wine_kernel_device_server

guest=$work/guest
mkdir -p "$guest"
cp "$windows/src/platform/win32/juxhid.dll" "$windows/tests/wine-kernel/wine_kernel_test.exe" \
  "$windows/tests/wine-kernel/measure/wine_kernel_measure.exe" "$guest/"
strip --strip-debug -o "$guest/device_server" "$native/tests/wine-kernel/wine_kernel_device_server"
cp tests/wine-kernel/guest.sh "$guest/guest.sh"
rm -f "$guest/arguments"
[ -n "${JUXHID_WINE_KERNEL_FILTER:-}" ] && echo "--gtest_filter=$JUXHID_WINE_KERNEL_FILTER" >"$guest/arguments"
echo "$measure" >"$guest/measure"
# The guest writes the pass's sheet here (a writable share of its own).
results=$work/results
rm -rf "$results"
mkdir -p "$results"

# The prefix: made once on the host (a first start in the guest takes a
# minute under software emulation), with winebus told not to try SDL first,
# which fails without libSDL2 and keeps it from ever watching hidraw.
prefix=$guest/prefix
wine_version=$("$wine64" --version)
if [ "$(cat "$work/prefix.version" 2>/dev/null)" != "$wine_version" ]; then
  echo "== making the Wine prefix ($wine_version)"
  prefix_start=$SECONDS
  rm -rf "$prefix" "$work/prefix.version"
  (
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    "$wine64" wineboot --init >"$work/prefix.log" 2>&1 </dev/null
    "$wine64" reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "Enable SDL" /t REG_DWORD /d 0 /f \
      >>"$work/prefix.log" 2>&1 </dev/null
    wineserver -w
  ) || fail "the Wine prefix could not be made ($work/prefix.log)"
  grep -q '"Enable SDL"=dword:00000000' "$prefix/system.reg" || fail "the winebus setting is not in the prefix"
  echo "$wine_version" >"$work/prefix.version"
  echo "   made in $((SECONDS - prefix_start)) s"
else
  echo "== reusing the Wine prefix in $prefix ($wine_version)"
fi

echo "== packing the guest (kernel $version)"
root=$(mktemp -d /tmp/juxhid-wine-guest.XXXXXX)
trap 'rm -rf "$root" "$root.cpio.gz" "$root.log"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,modules}
ln -s bin "$root/sbin"
cp /bin/busybox "$root/bin/busybox"
if ldd "$root/bin/busybox" >/dev/null 2>&1; then fail "/bin/busybox is not static (package busybox-static)"; fi
for applet in $("$root/bin/busybox" --list); do
  [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
cp tests/wine-kernel/init "$root/init"
chmod 755 "$root/init"
for module in virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache \
  9pnet 9pnet_virtio 9p overlay hid hid-generic uhid; do
  found=$(find "/lib/modules/$version/kernel" -name "$module.ko*" | head -1)
  [ -n "$found" ] || fail "module $module not found under /lib/modules/$version"
  case "$found" in
    *.ko) cp "$found" "$root/modules/$module.ko" ;;
    *.ko.xz) xz -dc "$found" >"$root/modules/$module.ko" ;;
    *.ko.zst) zstd -qdc "$found" >"$root/modules/$module.ko" ;;
    *) fail "cannot unpack $found" ;;
  esac
done
(cd "$root" && find . -print0 | cpio --null -o -H newc -R 0:0 --quiet | gzip -6) >"$root.cpio.gz"

echo "== booting the guest under qemu (software emulation, at most $limit s)"
log=$root.log
boot_start=$(date +%s.%N)
load_before=$(cut -d' ' -f1 /proc/loadavg)
set +e
timeout --kill-after=10 "$limit" qemu-system-x86_64 -m 2048 -smp 1 -nographic -no-reboot -nic none \
  -kernel "/boot/vmlinuz-$version" -initrd "$root.cpio.gz" -append "console=ttyS0 panic=-1 quiet" \
  -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev local,id=juxhid,path="$guest",security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=juxhid,mount_tag=juxhid \
  -fsdev local,id=juxout,path="$results",security_model=none,multidevs=remap \
  -device virtio-9p-pci,fsdev=juxout,mount_tag=juxout </dev/null 2>&1 | tee "$log"
qemu_status=${PIPESTATUS[0]}
set -e
qemu_seconds=$(awk -v s="$boot_start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')

echo
echo "== wine-kernel stage summary"
# A line missing from the log (a full pass runs no scenarios) gives nothing, not a failure.
value() { grep -a -o "$1 [0-9.]*" "$log" | awk '{ print $NF }' | tail -1 || true; }
init_at=$(value '/init started')
wine_at=$(value 'Wine started at')
program_at=$(value 'program started at')
tests_took=$(value 'tests took')
[ -n "$init_at" ] && echo "   boot: /init started ${init_at} s after the kernel (guest clock)"
[ -n "$wine_at" ] && [ -n "$program_at" ] &&
  echo "   Wine start: the program ran $(awk -v w="$wine_at" -v p="$program_at" 'BEGIN { printf "%.1f", p - w }') s" \
    "after wine64 was started (at ${wine_at} s)"
[ -n "$tests_took" ] && echo "   scenarios: ${tests_took} s in the guest, Wine's start included"
measure_took=$(value 'measuring took')
[ -n "$measure_took" ] && echo "   measuring pass ($measure): ${measure_took} s in the guest"
grep -a -E '^\[  PASSED  \]|^\[       OK \]|^\[  FAILED  \] [A-Za-z]+\.|^\[ wine     \]' "$log" | tr -d '\r' |
  sed 's/^/   /' || true
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  echo "   32-bit: wine32 is installed, but this stage runs the 64-bit DLL only so far"
else
  echo "   32-bit: skipped, wine32:i386 is not installed on this machine (only the 64-bit DLL ran)"
fi
echo "   qemu ran $qemu_seconds s (host load average $load_before before, $(cut -d' ' -f1 /proc/loadavg) after);" \
  "the whole stage took $((SECONDS - started)) s"
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  fail "the guest did not finish within $limit s (JUXHID_WINE_KERNEL_TIMEOUT)"
fi
if [ -n "$figures" ]; then
  [ -s "$results/sheet.json" ] || fail "the measuring pass wrote no sheet"
  mkdir -p "$(dirname "$figures")"
  cp "$results/sheet.json" "$figures"
  echo "   figures: $figures"
fi
grep -aq 'JUXHID-GUEST: RESULT 0' "$log" && exit 0
result=$(grep -a -o 'JUXHID-GUEST: RESULT [0-9]*' "$log" | tail -1)
[ -n "$result" ] || fail "the guest ended without a result (qemu exit status $qemu_status); its console is above"
fail "the scenarios in the guest failed (${result#JUXHID-GUEST: }); see the failures above"
