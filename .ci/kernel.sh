#!/usr/bin/env bash
# The Linux library on the kernel's own HID stack. Builds libjuxhid.so and
# the kernel test program (tests/kernel), packs them with busybox, the
# kernel's hid, hid-generic and uhid modules and the C++ runtime they need
# into an initramfs, boots Debian's kernel on it under qemu with a hard time
# limit, and passes only when the guest reports that every scenario passed.
# Inside the guest, devices played through /dev/uhid are served by the real
# HID core, hid-generic and hidraw drivers (see docs/linux.md). After the
# scenarios the guest runs the measuring pass (bench/kernel): latency, CPU per
# report, idle cost and scaling through the real stack, each figure beside
# its floor from the same run; it prints them and asserts no timing.
#
#   JUXHID_KERNEL_BUILD    build directory (default: build, shared with the native stage)
#   JUXHID_KERNEL_TIMEOUT  seconds the guest may run (default: 300)
#   JUXHID_KERNEL_FILTER   a GoogleTest filter for the scenarios (default: all)
#   JUXHID_JOBS            parallel build jobs (default: 2)
#   JUXHID_KERNEL_MEASURE  short (default: 30-50 s in the guest), full (the
#                          scenarios skipped, about 7 minutes), or off
#   JUXHID_KERNEL_FIGURES  where to write the measuring pass's sheet (JSON)
#   JUXHID_KERNEL_SMP      virtual CPUs of the guest (default: 1)
#
# Uses KVM when /dev/kvm is usable, and qemu's software emulation otherwise
# (about 6 s to boot here). Runs as root on a fresh Debian 12 machine, or as
# a user who can read /boot/vmlinuz-*.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${JUXHID_KERNEL_BUILD:-build}
measure=${JUXHID_KERNEL_MEASURE:-short}
case "$measure" in short | full | off) ;; *) echo "JUXHID_KERNEL_MEASURE must be short, full or off" >&2; exit 2 ;; esac
figures=${JUXHID_KERNEL_FIGURES:-}
limit_default=300
[ "$measure" = full ] && limit_default=900
limit=${JUXHID_KERNEL_TIMEOUT:-$limit_default}
cpus=${JUXHID_KERNEL_SMP:-1}
started=$SECONDS

fail() {
  echo "kernel stage FAILED: $*" >&2
  exit 1
}

bash scripts/install-deps.sh --kernel

# The newest kernel whose image and HID modules are both here.
version=""
for image in $(ls /boot/vmlinuz-* 2>/dev/null | sort -V); do
  candidate=${image#/boot/vmlinuz-}
  [ -d "/lib/modules/$candidate/kernel/drivers/hid" ] && version=$candidate
done
[ -n "$version" ] || fail "no /boot/vmlinuz-* with modules under /lib/modules (package linux-image-amd64)"
kernel=/boot/vmlinuz-$version
[ -r "$kernel" ] || fail "$kernel is not readable by $(id -un); run as root"
grep -qx 'CONFIG_HIDRAW=y' "/boot/config-$version" 2>/dev/null ||
  echo "warning: /boot/config-$version does not say CONFIG_HIDRAW=y" >&2

echo "== building the library and the kernel test program in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUXHID_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j"${JUXHID_JOBS:-2}" --target juxhid kernel_test kernel_measure
program=$build/tests/kernel/kernel_test
measurer=$build/tests/kernel/measure/kernel_measure
[ -x "$program" ] || fail "$program was not built"
[ -x "$measurer" ] || fail "$measurer was not built"

root=$(mktemp -d /tmp/juxhid-guest.XXXXXX)
chmod 755 "$root"  # the guest's /, which an ordinary user must get through
trap 'rm -rf "$root"' EXIT
echo "== packing the guest (kernel $version)"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,juxhid/lib,juxhid/modules}
ln -s bin "$root/sbin"
cp /bin/busybox "$root/bin/busybox"
# The guest has no C library of its own for busybox.
if ldd "$root/bin/busybox" >/dev/null 2>&1; then fail "/bin/busybox is not static (package busybox-static)"; fi
for applet in $("$root/bin/busybox" --list); do
  [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
cp tests/kernel/init "$root/init"
chmod 755 "$root/init"

# Modules as files; busybox's insmod takes them uncompressed only.
for module in hid hid-generic uhid; do
  found=$(find "/lib/modules/$version/kernel/drivers/hid" -maxdepth 1 -name "$module.ko*" | head -1)
  [ -n "$found" ] || fail "module $module not found under /lib/modules/$version"
  case "$found" in
    *.ko) cp "$found" "$root/juxhid/modules/$module.ko" ;;
    *.ko.xz) xz -dc "$found" >"$root/juxhid/modules/$module.ko" ;;
    *.ko.zst) zstd -qdc "$found" >"$root/juxhid/modules/$module.ko" ;;
    *) fail "cannot unpack $found" ;;
  esac
done

# The program, the library, and what the loader needs for both, at the paths
# the loader looks in (the library through LD_LIBRARY_PATH, set by /init).
strip --strip-debug -o "$root/juxhid/kernel_test" "$program"
strip --strip-debug -o "$root/juxhid/kernel_measure" "$measurer"
# The program needs the library by its versioned name (libjuxhid.so.0).
soname=$(ldd "$program" | awk '$1 ~ /^libjuxhid\.so/ { print $1 }')
library=$(ldd "$program" | awk '$1 ~ /^libjuxhid\.so/ { print $3 }')
[ -n "$soname" ] && [ -f "$library" ] || fail "kernel_test does not link libjuxhid.so"
strip --strip-debug -o "$root/juxhid/lib/$soname" "$library"
for needed in $( (ldd "$program"; ldd "$measurer"; ldd "$library") | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// && $2 ~ /^\(/ { print $1 }' | sort -u); do
  [ "$(basename "$needed")" = "$soname" ] && continue
  mkdir -p "$root$(dirname "$needed")"
  cp -L "$needed" "$root$needed"
done
[ -n "${JUXHID_KERNEL_FILTER:-}" ] && echo "--gtest_filter=$JUXHID_KERNEL_FILTER" >"$root/juxhid/arguments"
[ "$measure" = off ] || echo "$measure" >"$root/juxhid/measure"
# A full measuring boot measures an undisturbed guest: the scenarios ran in the stage already.
[ "$measure" = full ] && touch "$root/juxhid/skip-tests"
(cd "$root" && find . -print0 | cpio --null -o -H newc -R 0:0 --quiet | gzip -6) >"$root.cpio.gz"
trap 'rm -rf "$root" "$root.cpio.gz"' EXIT
echo "   initramfs $(($(stat -c %s "$root.cpio.gz") / 1024)) KiB"

accel=()
how="software emulation"
if [ "${JUXHID_KERNEL_KVM:-0}" = 1 ]; then
  accel=(-enable-kvm)
  how="KVM"
fi
echo "== booting the guest under qemu ($how, $cpus CPU, at most $limit s)"
log=$root.log
trap 'rm -rf "$root" "$root.cpio.gz" "$log"' EXIT
boot_start=$(date +%s.%N)
set +e
timeout --kill-after=10 "$limit" qemu-system-x86_64 "${accel[@]}" -m 512 -smp "$cpus" -nographic -no-reboot \
  -kernel "$kernel" -initrd "$root.cpio.gz" -append "console=ttyS0 panic=-1 quiet" </dev/null 2>&1 |
  tee "$log"
qemu_status=${PIPESTATUS[0]}
set -e
qemu_seconds=$(awk -v s="$boot_start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')

echo
echo "== kernel stage summary"
# A full measuring boot runs no scenarios: a line may well be missing.
init_at=$(grep -a -o '/init started [0-9.]*' "$log" | awk '{ print $3 }' | tail -1 || true)
tests_took=$(grep -a -o 'tests took [0-9.]*' "$log" | awk '{ print $3 }' | tail -1 || true)
if [ -n "$init_at" ] && [ -n "$tests_took" ]; then
  echo "   boot: /init started ${init_at} s after the kernel (guest clock); booting and powering off took" \
    "$(awk -v q="$qemu_seconds" -v t="$tests_took" 'BEGIN { printf "%.1f", q - t }') s of qemu's $qemu_seconds s"
  echo "   scenarios: ${tests_took} s in the guest"
fi
grep -a -E '^\[  PASSED  \]|^\[       OK \]|^\[  FAILED  \] [A-Za-z]+\.|^\[ kernel   \]' "$log" | tr -d '\r' | sed 's/^/   /' || true
grep -a -o 'JUXHID-GUEST: measuring .*' "$log" | tr -d '\r' | sed 's/^JUXHID-GUEST: /   /' || true
if [ -n "$figures" ]; then
  tr -d '\r' <"$log" | awk '/^JUXHID-FIGURES-END$/ { inside = 0 } inside { print } /^JUXHID-FIGURES-BEGIN$/ { inside = 1 }' >"$figures"
  # The sheet's date and load are this machine's: the guest's clock is
  # whatever its emulated clock chip said at boot, and its load is only its
  # own (kept in the sheet's context).
  if [ -s "$figures" ] && { ! command -v python3 >/dev/null || python3 - "$figures" <<'EOF'; }; then
import json, sys, time
with open(sys.argv[1]) as f:
    sheet = json.load(f)
sheet["context"]["guest load"] = sheet["load"]
sheet["date"] = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
with open("/proc/loadavg") as f:
    sheet["load"] = " ".join(f.read().split()[:3])
with open(sys.argv[1], "w") as f:
    json.dump(sheet, f, indent=1)
EOF
    echo "   figures written to $figures"
  else
    rm -f "$figures"
    figures_missing="the guest gave no readable sheet of figures for $figures"
    echo "   $figures_missing"
  fi
fi
echo "   qemu ran $qemu_seconds s ($how); the whole stage took $((SECONDS - started)) s"
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  fail "the guest did not finish within $limit s (JUXHID_KERNEL_TIMEOUT)"
fi
if grep -aq 'JUXHID-GUEST: RESULT 0' "$log"; then
  [ -z "${figures_missing:-}" ] || fail "$figures_missing"
  exit 0
fi
result=$(grep -a -o 'JUXHID-GUEST: RESULT [0-9]*' "$log" | tail -1)
[ -n "$result" ] || fail "the guest ended without a result (qemu exit status $qemu_status); its console is above"
fail "the scenarios or the measuring pass in the guest failed (${result#JUXHID-GUEST: }); see the failures above"
