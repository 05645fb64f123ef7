#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs consumers
# against it: one through find_package, one through pkg-config; the installed
# tallycalc runs without ldconfig or LD_LIBRARY_PATH.  Works for the shared
# library and for the static archive (BUILD_SHARED_LIBS=OFF).
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
test -f "$prefix/share/doc/tallymat/LICENSE"
test -f "$prefix/include/tallymat_version.h"
test -f "$prefix/share/man/man3/tallymat.3"
grep -qx '.so man3/tallymat.3' "$prefix/share/man/man3/calcpost.3"
libdir=$(dirname "$(find "$prefix" -name 'libtallymat.*' | head -1)")
if [ -f "$libdir/libtallymat.a" ]; then
  kind=static
  pkg_flags="--static"
  # Only the thirteen functions are global definitions outside std's weak instantiations.
  strong=$(nm -g --defined-only "$libdir/libtallymat.a" | awk '$2 ~ /^[TDBR]$/ {print $3}' | sort | tr '\n' ' ')
  expected="calcpost exprclr exprdelete exprpost geterrnum geterroffs getstrerror vclr vgetname vgetvalue vinsert vlookup vsetvalue "
  [ "$strong" = "$expected" ] || { echo "libtallymat.a defines: $strong"; exit 1; }
else
  kind=shared
  pkg_flags=""
  test -L "$libdir/libtallymat.so"
  test "$(readelf -d "$libdir/libtallymat.so.1.0.0" | grep -o 'SONAME.*' | grep -o 'libtallymat.so.1')" = libtallymat.so.1
fi

# find_package
cmake -S "$source_dir/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer_c"
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer_cpp"

# pkg-config, from a C compiler that knows nothing of C++
export PKG_CONFIG_PATH="$libdir/pkgconfig"
test "$(pkg-config --modversion tallymat)" = "$(sed -n 's/^#define TALLYMAT_VERSION_STRING "\(.*\)"/\1/p' "$prefix/include/tallymat_version.h")"
# shellcheck disable=SC2046,SC2086
cc "$source_dir/consumer.c" $(pkg-config $pkg_flags --cflags --libs tallymat) -o "$work/pkgconfig_consumer"
LD_LIBRARY_PATH="$libdir" "$work/pkgconfig_consumer"

# No ldconfig, no LD_LIBRARY_PATH: the RPATH is relative to the program.
env -u LD_LIBRARY_PATH "$prefix/bin/tallycalc" -e '6*7' | grep -qx 42
echo "$kind install, find_package and pkg-config consumers, tallycalc: fine"
