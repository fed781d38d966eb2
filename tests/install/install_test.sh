#!/bin/sh
# Installs the build into a fresh prefix and builds a C consumer against the
# installed tree, once through find_package and once through pkg-config;
# then runs the installed tool and imports the installed Python package.
#
#   install_test.sh BUILD SOURCE WORK CMAKE CC HAVE_REAL HAVE_SIM HAVE_TOOL HAVE_PYTHON PYTHON [SANITIZE]
set -eu
build=$1 source=$2 work=$3 cmake=$4 cc=$5
have_real=$6 have_sim=$7 have_tool=$8 have_python=$9
shift 9
python=$1 sanitize=${2:-}
flags=""
[ -z "$sanitize" ] || flags="-fsanitize=$sanitize"

step() { echo "--- $*"; }
die() { echo "install test: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

step "cmake --install into $prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || die "install failed: $(cat "$work/install.log")"
for header in juxhid.h juxhid_status.h juxhid_sim.h; do
  [ -f "$prefix/include/juxhid/$header" ] || die "include/juxhid/$header is not installed"
done
# Shared libraries carry their ABI's major version in their SONAME, with the
# unversioned name left for the linker.
for library in juxhid juxhid_sim; do
  file=$(find "$prefix" -name "lib$library.so" | head -n1)
  [ -n "$file" ] || continue
  soname=$(objdump -p "$file" | awk '$1 == "SONAME" { print $2 }')
  [ "$soname" = "lib$library.so.0" ] || die "lib$library.so has SONAME '$soname', not lib$library.so.0"
  [ -e "$(dirname "$file")/$soname" ] || die "$soname is not installed beside lib$library.so"
done
[ -f "$(find "$prefix" -name juxhidConfig.cmake | head -n1)" ] || die "no juxhidConfig.cmake"

step "find_package(juxhid)"
"$cmake" -S "$source/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  >"$work/consumer.log" 2>&1 || die "configuring the consumer failed: $(cat "$work/consumer.log")"
"$cmake" --build "$work/consumer" >>"$work/consumer.log" 2>&1 || die "building the consumer failed: $(cat "$work/consumer.log")"
if [ "$have_sim" = 1 ]; then "$work/consumer/consumer_sim" || die "consumer_sim failed"; fi
if [ "$have_real" = 1 ]; then "$work/consumer/consumer_real" || die "consumer_real failed"; fi

# pkg_consumer PC_NAME OUTPUT [DEFINE]
pkg_consumer() {
  pc=$(find "$prefix" -name "$1.pc" | head -n1)
  [ -n "$pc" ] || die "$1.pc is not installed"
  export PKG_CONFIG_PATH
  PKG_CONFIG_PATH=$(dirname "$pc")
  libdir=$(pkg-config --variable=libdir "$1")
  # shellcheck disable=SC2046
  "$cc" $flags ${3:-} "$source/consumer/main.c" -o "$2" $(pkg-config --cflags --libs "$1") \
    "-Wl,-rpath,$libdir" || die "building with pkg-config $1 failed"
  "$2" || die "$2 failed"
}
if [ "$have_sim" = 1 ]; then
  step "pkg-config juxhid-sim"
  pkg_consumer juxhid-sim "$work/pc_sim" -DCONSUMER_SIM
fi
if [ "$have_real" = 1 ]; then
  step "pkg-config juxhid"
  pkg_consumer juxhid "$work/pc_real"
fi

if [ "$have_tool" = 1 ]; then
  step "the installed juxhid-sim"
  "$prefix/bin/juxhid-sim" --sim-attach 0x1A2B:1:0xFF00:1:8:8 list --vendor 0x1A2B | grep -q "0x0001" \
    || die "the installed juxhid-sim does not list its device"
fi

if [ "$have_python" = 1 ] && [ "$have_sim" = 1 ] && [ -z "$sanitize" ]; then
  step "the installed Python package"
  site=$(dirname "$(find "$prefix" -path '*/juxhid/__init__.py' | head -n1)")
  # Where the interpreter itself looks for packages of this prefix, so that
  # an install to its own prefix (/usr/local) needs no PYTHONPATH.
  "$python" -c 'import os, site, sys
folder, prefix = (os.path.realpath(p) for p in sys.argv[1:])
assert folder in [os.path.realpath(p) for p in site.getsitepackages([prefix])], (folder, prefix)' \
    "$(dirname "$site")" "$prefix" || die "the package went where $python does not look for $prefix"
  # Run from the work directory with only the installed package on the path,
  # and neither JUXHID_LIBRARY nor JUXHID_SIM_LIBRARY: the package must find the
  # installed library itself.
  (cd "$work" && env -u JUXHID_LIBRARY -u JUXHID_SIM_LIBRARY PYTHONPATH="$(dirname "$site")" PYTHONDONTWRITEBYTECODE=1 "$python" -c '
import juxhid
lib = juxhid.Library(sim=True)
lib.sim.attach(0x1A2B, 5, input_length=8, output_length=8)
devices = lib.list_devices(0x1A2B)
assert [d.product_id for d in devices] == [5], devices
assert lib.path.endswith("/libjuxhid_sim.so.0"), lib.path
print("python: ok, loaded", lib.path)
') || die "the installed Python package failed"
fi
echo "install test: ok"
