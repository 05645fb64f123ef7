#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs two
# consumers against it: one through find_package, one through pkg-config.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libtallymat.so.1' | head -1)")
test -x "$prefix/bin/tallycalc"
test -L "$libdir/libtallymat.so"
test "$(readelf -d "$libdir/libtallymat.so.1.0.0" | grep -o 'SONAME.*' | grep -o 'libtallymat.so.1')" = libtallymat.so.1

# find_package
cmake -S "$source_dir/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer_c"
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer_cpp"

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
test "$(pkg-config --modversion tallymat)" = 1.0.0
cc "$source_dir/consumer.c" $(pkg-config --cflags --libs tallymat) -o "$work/pkgconfig_consumer"
LD_LIBRARY_PATH="$libdir" "$work/pkgconfig_consumer"

LD_LIBRARY_PATH="$libdir" "$prefix/bin/tallycalc" -e '6*7' | grep -qx 42
echo "install, find_package and pkg-config consumers: fine"
