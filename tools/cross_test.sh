#!/usr/bin/env bash
# Cross-builds tallymat and its tests for another Linux CPU and runs every
# test there: tools/cross_test.sh aarch64-linux-gnu|i686-linux-gnu|s390x-linux-gnu [BUILD]
# GoogleTest is built for the target from Debian's /usr/src/googletest.
# tallycalc is left out (it needs the target's libedit).
set -euo pipefail
cd "$(dirname "$0")/.."
triplet=${1:?usage: tools/cross_test.sh TRIPLET [BUILD]}
case "$triplet" in
  aarch64-linux-gnu) debian_arch=arm64 ;;
  i686-linux-gnu) debian_arch=i386 ;;
  s390x-linux-gnu) debian_arch=s390x ;;
  *) echo "unknown target $triplet" >&2; exit 2 ;;
esac
build=${2:-build-$triplet}
tools/install_missing.sh cmake make "crossbuild-essential-$debian_arch" qemu-user libgtest-dev

export TALLYMAT_CROSS=$triplet TALLYMAT_CROSS_PREFIX=$PWD/$build/googletest
if [ ! -d "$TALLYMAT_CROSS_PREFIX/include/gtest" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/linux-cross.cmake" \
    -DCMAKE_INSTALL_PREFIX="$TALLYMAT_CROSS_PREFIX" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/googletest-build" -j "${JOBS:-2}" >/dev/null
  cmake --install "$build/googletest-build" >/dev/null
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/linux-cross.cmake" -DCMAKE_PREFIX_PATH="$TALLYMAT_CROSS_PREFIX" \
  -DTALLYMAT_BUILD_TOOLS=OFF -DTALLYMAT_WERROR=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" >/dev/null
ctest --test-dir "$build" -j "${JOBS:-2}" --output-on-failure | tail -n 12
