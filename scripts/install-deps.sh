#!/usr/bin/env bash
# Installs, with Debian's packages, what building and testing JUXHID needs.
# Only what is missing is installed; run as root (or with sudo available).
#   install-deps.sh            the native build, tests and benchmarks
#   install-deps.sh --windows  also the MinGW-w64 cross compilers (32- and 64-bit) and
#                              Wine (64-bit; 32-bit too where it can be installed)
#   install-deps.sh --fuzz     also clang's libFuzzer runtime
#   install-deps.sh --kernel   also qemu, Debian's kernel and busybox for the kernel stage
#   install-deps.sh --wine-kernel  the kernel stage's packages, the 64-bit cross compiler,
#                              Wine and udev, for the Wine-over-uhid stage
#
# One bad package index must not stop a machine from testing: a failed
# `apt-get update` is only a warning (the lists at hand may still hold every
# package), and packages are installed group by group, then one by one within
# a group that failed, so that each package that cannot be installed is named
# with apt's own reason while the others still go in. Only a required package
# that cannot be installed fails the script. 32-bit Wine (wine32:i386) is
# optional, as 32-bit execution is: its i386 dependencies must match the
# installed amd64 versions exactly, which a stale i386 index cannot give; the
# Windows stage then skips the 32-bit Wine runs and says why.
set -uo pipefail

groups=(base)
for arg in "$@"; do
  case "$arg" in
    --windows) groups+=(windows wine32) ;;
    --fuzz) groups+=(fuzz) ;;
    --kernel) groups+=(kernel) ;;
    --wine-kernel) groups+=(kernel wine-kernel) ;;
    *) echo "usage: $0 [--windows] [--fuzz] [--kernel] [--wine-kernel]" >&2; exit 2 ;;
  esac
done

group_packages() {
  case "$1" in
    base) echo cmake g++ make python3 python3-venv libcli11-dev libgtest-dev googletest \
      mono-mcs mono-runtime \
      libbenchmark-dev pkg-config valgrind ;;
    windows) echo g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 ;;
    wine32) echo wine32:i386 ;;
    fuzz) echo clang libclang-rt-14-dev ;;
    kernel) echo qemu-system-x86 linux-image-amd64 busybox-static cpio ;;
    wine-kernel) echo g++-mingw-w64-x86-64-posix wine wine64 udev ;;
  esac
}
optional_group() { [ "$1" = wine32 ]; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing_in() {
  local package
  for package in $(group_packages "$1"); do installed "$package" || echo "$package"; done
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# apt's reason, from its output: the error lines and the unmet dependencies.
apt_reason() {
  grep -E '^E: | : Depends: |^ +Depends: ' "$1" | sed 's/^ *//' | head -n 6 | paste -sd ';' - |
    sed 's/;/; /g'
}

# install PACKAGES...: 0 when apt installed them all; apt's output in $apt_log.
apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT
install() {
  $sudo apt-get install -y -q -o DPkg::Lock::Timeout=300 --no-install-recommends "$@" </dev/null >"$apt_log" 2>&1
}

pending=()
for group in "${groups[@]}"; do
  mapfile -t missing < <(missing_in "$group")
  pending+=("${missing[@]}")
done
[ ${#pending[@]} -eq 0 ] && exit 0

if printf '%s\n' "${pending[@]}" | grep -q ':i386$' &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386 ||
    echo "install-deps.sh: warning: could not enable the i386 architecture (for wine32)" >&2
fi

echo "installing: ${pending[*]}"
if ! $sudo apt-get update -q -o DPkg::Lock::Timeout=300 </dev/null >"$apt_log" 2>&1; then
  echo "install-deps.sh: warning: apt-get update failed ($(apt_reason "$apt_log")); installing from the package lists at hand" >&2
fi

failed_required=()
for group in "${groups[@]}"; do
  mapfile -t missing < <(missing_in "$group")
  [ ${#missing[@]} -eq 0 ] && continue
  install "${missing[@]}" && continue
  for package in "${missing[@]}"; do
    installed "$package" && continue
    install "$package" && continue
    reason=$(apt_reason "$apt_log")
    if optional_group "$group"; then
      echo "install-deps.sh: warning: optional $package could not be installed: ${reason:-apt-get failed}" >&2
    else
      echo "install-deps.sh: $package could not be installed: ${reason:-apt-get failed}" >&2
      failed_required+=("$package")
    fi
  done
done

if [ ${#failed_required[@]} -gt 0 ]; then
  echo "install-deps.sh: could not install: ${failed_required[*]}" >&2
  exit 1
fi
exit 0
