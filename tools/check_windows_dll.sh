#!/usr/bin/env bash
# Cross-builds tallymat.dll with mingw-w64 and fails unless its export table
# holds exactly the thirteen undecorated names.  With wine64 present, the C
# host test runs against the DLL as well.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTALLYMAT_BUILD_TESTS=OFF \
  -DTALLYMAT_WERROR=ON >/dev/null
cmake --build "$build" -j 2 >/dev/null

exports=$(x86_64-w64-mingw32-objdump -p "$build/tallymat.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ && $NF != "Table" {print $NF}' | sort | tr '\n' ' ')
expected="calcpost exprclr exprdelete exprpost geterrnum geterroffs getstrerror vclr vgetname vgetvalue vinsert vlookup vsetvalue "
if [ "$exports" != "$expected" ]; then
  echo "tallymat.dll exports: $exports"
  echo "expected:             $expected"
  exit 1
fi
echo "tallymat.dll exports exactly the thirteen functions"

if command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ]; then
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  x86_64-w64-mingw32-gcc -std=c11 -Wall -Wextra -Iinclude tests/c_host.c -L"$build" -ltallymat -o "$build/c_host.exe"
  export WINEDEBUG=-all WINEPREFIX="$PWD/$build/wineprefix"
  (cd "$build" && timeout 300 "$wine" ./c_host.exe)
else
  echo "wine64 is not installed: the C host test did not run under Windows"
fi
