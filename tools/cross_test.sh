#!/usr/bin/env bash
# Cross-builds tallymat and its tests for another CPU or for Windows and runs
# every test there:
#   tools/cross_test.sh aarch64-linux-gnu|i686-linux-gnu|s390x-linux-gnu [BUILD]
#   tools/cross_test.sh x86_64-w64-mingw32|i686-w64-mingw32 [BUILD]   (under wine)
# GoogleTest is built for the target from Debian's /usr/src/googletest.
# tallycalc is left out (it needs the target's libedit).
set -euo pipefail
cd "$(dirname "$0")/.."
triplet=${1:?usage: tools/cross_test.sh TRIPLET [BUILD]}
case "$triplet" in
  aarch64-linux-gnu) packages="crossbuild-essential-arm64 qemu-user" ;;
  i686-linux-gnu) packages="crossbuild-essential-i386" ;;
  s390x-linux-gnu) packages="crossbuild-essential-s390x qemu-user" ;;
  x86_64-w64-mingw32) packages="g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64" ;;
  i686-w64-mingw32) packages="g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386" ;;
  *) echo "unknown target $triplet" >&2; exit 2 ;;
esac
case "$triplet" in
  x86_64-w64-mingw32) toolchain=$PWD/cmake/mingw-w64.cmake ;;
  i686-w64-mingw32) toolchain=$PWD/cmake/mingw-w64-i686.cmake ;;
  *) toolchain=$PWD/cmake/linux-cross.cmake ;;
esac
build=${2:-build-$triplet}
# shellcheck disable=SC2086
tools/install_missing.sh cmake make libgtest-dev $packages
if [[ $triplet == *mingw32 ]]; then
  # wine keeps its Windows in a folder of the build, quiet.
  export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all
fi

export TALLYMAT_CROSS=$triplet TALLYMAT_CROSS_PREFIX=$PWD/$build/googletest
if [ ! -d "$TALLYMAT_CROSS_PREFIX/include/gtest" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$TALLYMAT_CROSS_PREFIX" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/googletest-build" -j "${JOBS:-2}" >/dev/null
  cmake --install "$build/googletest-build" >/dev/null
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$TALLYMAT_CROSS_PREFIX" \
  -DTALLYMAT_BUILD_TOOLS=OFF -DTALLYMAT_WERROR=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" >/dev/null
ctest --test-dir "$build" -j "${JOBS:-2}" --output-on-failure | tail -n 12
