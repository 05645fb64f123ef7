#!/usr/bin/env bash
# How far the Windows C runtimes' trigonometric functions (as each DLL links
# them: msvcrt and mingw-w64's libmingwex) lie from glibc's, in units in the
# last place, per function and range; and the library's own sin and cos
# (lib_sin, lib_cos), which reduce the argument themselves on Windows.
# tools/crt_accuracy.c is built for Linux and for 64-bit and 32-bit Windows
# against the library, the Windows programs run under wine.  Needs the two
# DLLs (./run dll: build-win, build-win32) and the Linux library (./run test: build).
#   tools/crt_accuracy.sh [WORK-FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build-crt}")
mkdir -p "$work"
gcc -O2 -fno-builtin -Iinclude -Ibuild/include tools/crt_accuracy.c -Lbuild -ltallymat -lm -o "$work/crt_linux"
LD_LIBRARY_PATH=build "$work/crt_linux" > "$work/linux.txt"
for arch in x86_64 i686; do
  case $arch in x86_64) dll=build-win/install sse= ;; i686) dll=build-win32/install sse="-msse2 -mfpmath=sse" ;; esac
  # shellcheck disable=SC2086
  $arch-w64-mingw32-gcc -O2 -fno-builtin $sse -I$dll/include tools/crt_accuracy.c $dll/lib/tallymat.lib -o "$work/crt_$arch.exe"
  cp $dll/bin/tallymat.dll "$work/tallymat.dll"
  WINEDEBUG=-all WINEPREFIX="$work/wineprefix-$arch" wine "$work/crt_$arch.exe" 2>/dev/null | tr -d '\r' > "$work/$arch.txt"
  echo "== $arch-w64-mingw32 against glibc"
  python3 - "$work/linux.txt" "$work/$arch.txt" <<'PY'
import math, struct, sys
def value(h): return struct.unpack('<d', struct.pack('<Q', int(h, 16)))[0]
def ordered(h):
    i = int(h, 16)
    return i if i < 1 << 63 else (1 << 63) - i
worst = {}
with open(sys.argv[1]) as linux, open(sys.argv[2]) as windows:
    for a, b in zip(linux, windows):
        pa, pb = a.split(), b.split()
        x = abs(value(pa[1]))
        if 'sin' in pa[0] or 'cos' in pa[0] or 'tan' in pa[0]:
            if not x < 2**53:
                continue  # the library reports a total loss there and calls nothing
        ra, rb = value(pa[-1]), value(pb[-1])
        ulps = 0 if pa[-1] == pb[-1] or (ra != ra and rb != rb) else abs(ordered(pa[-1]) - ordered(pb[-1]))
        name = pa[0].replace('_small', '').replace('_huge', '')
        key = (name, min(int(math.log2(x)) // 8 * 8, 48) if x >= 1 else -1)
        entry = worst.setdefault(key, [0, 0])
        entry[0] = max(entry[0], ulps)
        entry[1] += 1
for (name, exponent), (ulps, count) in sorted(worst.items()):
    where = '|x| < 1' if exponent < 0 else f'2^{exponent} <= |x|'
    print(f'{name:8} {where:14} {count:7} arguments, at most {ulps} ulp from glibc')
PY
done
