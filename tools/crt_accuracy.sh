#!/usr/bin/env bash
# How far the Windows C runtime's elementary functions (as the 64-bit DLL
# links them: msvcrt and mingw-w64's libmingwex) lie from glibc's, in units
# in the last place, per function and range: tools/crt_accuracy.c built for
# both, the Windows one run under wine64.  Needs g++-mingw-w64-x86-64, wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build-crt}")
mkdir -p "$work"
gcc -O2 -fno-builtin tools/crt_accuracy.c -lm -o "$work/crt_linux"
x86_64-w64-mingw32-gcc -O2 -fno-builtin tools/crt_accuracy.c -o "$work/crt64.exe"
"$work/crt_linux" > "$work/linux.txt"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINEDEBUG=-all WINEPREFIX="$work/wineprefix" "$wine" "$work/crt64.exe" 2>/dev/null | tr -d '\r' > "$work/win64.txt"
python3 - "$work/linux.txt" "$work/win64.txt" <<'PY'
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
        if pa[0].startswith(('sin', 'cos', 'tan')) and not x < 2**53:
            continue  # the library reports a total loss there and calls nothing
        ra, rb = value(pa[-1]), value(pb[-1])
        ulps = 0 if pa[-1] == pb[-1] or (ra != ra and rb != rb) else abs(ordered(pa[-1]) - ordered(pb[-1]))
        key = (pa[0].split('_')[0], min(int(math.log2(x)) // 8 * 8, 48) if x >= 1 else -1)
        entry = worst.setdefault(key, [0, 0])
        entry[0] = max(entry[0], ulps)
        entry[1] += 1
for (name, exponent), (ulps, count) in sorted(worst.items()):
    where = '|x| < 1' if exponent < 0 else f'2^{exponent} <= |x|'
    print(f'{name:6} {where:14} {count:7} arguments, at most {ulps} ulp from glibc')
PY
