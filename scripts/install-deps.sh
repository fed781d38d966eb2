#!/usr/bin/env bash
# Installs, with Debian's packages, what building and testing JUXHID needs.
# Only what is missing is installed; run as root (or with sudo available).
#   install-deps.sh            the native build, tests and benchmarks
#   install-deps.sh --windows  also the MinGW-w64 cross compilers (32- and 64-bit) and
#                              Wine with both loaders
#   install-deps.sh --fuzz     also clang's libFuzzer runtime
#   install-deps.sh --kernel   also qemu, Debian's kernel and busybox for the kernel stage
set -euo pipefail

want=(cmake g++ make python3 python3-venv libcli11-dev libgtest-dev googletest libbenchmark-dev pkg-config valgrind)
for arg in "$@"; do
  case "$arg" in
    --windows) want+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64) ;;
    --fuzz) want+=(clang libclang-rt-14-dev) ;;
    --kernel) want+=(qemu-system-x86 linux-image-amd64 busybox-static cpio) ;;
    *) echo "usage: $0 [--windows] [--fuzz] [--kernel]" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
fail() {
  echo "install-deps.sh: $*" >&2
  exit 1
}
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386 || fail "could not enable the i386 architecture (for wine32)"
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq </dev/null ||
  fail "apt-get update failed: the package lists could not be fetched (network or mirror?)"
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null ||
  fail "apt-get could not install: ${missing[*]}"
