#!/usr/bin/env bash
# Cross-builds tallymat and its tests for another CPU or for Windows and runs
# every test there:
#   tools/cross_test.sh aarch64-linux-gnu|i686-linux-gnu|s390x-linux-gnu [BUILD]
#   tools/cross_test.sh x86_64-w64-mingw32|i686-w64-mingw32 [BUILD]   (under wine)
#   tools/cross_test.sh --build-only TRIPLET [BUILD]   builds the tests, runs none
#     (for a machine that lacks the target's runner, wine32:i386 say)
# GoogleTest is built for the target from Debian's /usr/src/googletest.
# tallycalc is built for the Linux targets without line editing (the
# target's libedit is not installed); their character-set converters (glibc's
# gconv modules, which tallycalc and the message test use) come from Debian's
# libc6 package of the target's architecture.
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=false
if [ "${1:-}" = "--build-only" ]; then build_only=true; shift; fi
triplet=${1:?usage: tools/cross_test.sh TRIPLET [BUILD]}
case "$triplet" in
  aarch64-linux-gnu) packages="crossbuild-essential-arm64 qemu-user" ;;
  i686-linux-gnu) packages="crossbuild-essential-i386" ;;
  s390x-linux-gnu) packages="crossbuild-essential-s390x qemu-user" ;;
  x86_64-w64-mingw32) packages="g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64" ;;
  i686-w64-mingw32) packages="g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 llvm" ;;
  *) echo "unknown target $triplet" >&2; exit 2 ;;
esac
case "$triplet" in
  aarch64-linux-gnu) debian_arch=arm64 ;;
  i686-linux-gnu) debian_arch=i386 ;;
  s390x-linux-gnu) debian_arch=s390x ;;
  *) debian_arch= ;;
esac
case "$triplet" in
  x86_64-w64-mingw32) toolchain=$PWD/cmake/mingw-w64.cmake ;;
  i686-w64-mingw32) toolchain=$PWD/cmake/mingw-w64-i686.cmake ;;
  *) toolchain=$PWD/cmake/linux-cross.cmake ;;
esac
build=${2:-build-$triplet}
if $build_only; then packages=$(sed 's/\bwine[0-9]*\(:i386\)\?\b//g; s/\bqemu-user\b//' <<<"$packages"); fi
# shellcheck disable=SC2086
tools/install_missing.sh cmake make libgtest-dev $packages
if [[ $triplet == *mingw32 ]]; then
  # wine keeps its Windows in a folder of the build, quiet.
  export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all
else
  gconv=$PWD/$build/gconv/usr/lib/${triplet/i686/i386}/gconv
  if [ ! -f "$gconv/CP1251.so" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx "$debian_arch"; then
      sudo=""; [ "$(id -u)" != 0 ] && sudo=sudo
      $sudo dpkg --add-architecture "$debian_arch"
      $sudo apt-get update -qq || echo "apt-get update failed (a mirror mid-sync?): the package lists as they are"
    fi
    mkdir -p "$build/gconv"
    (cd "$build/gconv" && apt-get download -qq "libc6:$debian_arch" 2>/dev/null && dpkg-deb -x libc6_*.deb . && rm libc6_*.deb) ||
      echo "libc6:$debian_arch could not be fetched: the tests that convert messages skip"
  fi
  export GCONV_PATH=$gconv
fi

export TALLYMAT_CROSS=$triplet TALLYMAT_CROSS_PREFIX=$PWD/$build/googletest
if [ ! -d "$TALLYMAT_CROSS_PREFIX/include/gtest" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$TALLYMAT_CROSS_PREFIX" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/googletest-build" -j "${JOBS:-2}" >/dev/null
  cmake --install "$build/googletest-build" >/dev/null
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$TALLYMAT_CROSS_PREFIX" \
  -DTALLYMAT_WERROR=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" >/dev/null
if $build_only; then echo "$triplet: built in $build, no test run"; exit 0; fi
# The whole run stays in the build folder; a failing test's output is shown.
# Under wine a test that fails is run once more (a wine hiccup under load
# once failed a deterministic test that passed in every rerun); the failed
# attempt stays in the log.
repeat=()
if [[ $triplet == *mingw32 ]]; then repeat=(--repeat until-pass:2); fi
status=0
ctest --test-dir "$build" -j "${JOBS:-2}" --output-on-failure "${repeat[@]}" > "$build/ctest.log" 2>&1 || status=$?
if grep -q -- '\*\*\*Failed\|\*\*\*Exception' "$build/ctest.log"; then
  echo "failed attempts (the whole run: $build/ctest.log):"
  grep -B2 -A40 -- '\*\*\*Failed\|\*\*\*Exception' "$build/ctest.log" | head -n 200
fi
tail -n 12 "$build/ctest.log"
exit $status
