#!/usr/bin/env bash
# Cross-builds and installs tallymat.dll with mingw-w64 (./run dll) and fails
# unless its export table, its .def file and its MSVC import library hold
# exactly the names of src/tallymat.map.  With wine64 present, the C host
# test runs against the DLL as well.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}

BUILD=$build CMAKE_FLAGS="-DTALLYMAT_WERROR=ON" ./run dll >/dev/null
install=$build/install

expected=$(cmake -DPRINT_EXPORTS=src/tallymat.map -P cmake/ExportList.cmake | sort | tr '\n' ' ')
exports=$(x86_64-w64-mingw32-objdump -p "$install/bin/tallymat.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ && $NF != "Table" {print $NF}' | sort | tr '\n' ' ')
def_names=$(sed -n '/^EXPORTS/,$p' "$install/lib/tallymat.def" | grep -o '[a-z]\+' | sort | tr '\n' ' ')
lib_names=$(x86_64-w64-mingw32-nm "$install/lib/tallymat.lib" | sed -n 's/.* __imp_\(.*\)$/\1/p' | sort | tr '\n' ' ')
for listing in "tallymat.dll:$exports" "tallymat.def:$def_names" "tallymat.lib:$lib_names"; do
  if [ "${listing#*:}" != "$expected" ]; then
    echo "${listing%%:*} has: ${listing#*:}"
    echo "expected:        $expected"
    exit 1
  fi
done
echo "tallymat.dll, tallymat.def and tallymat.lib carry exactly the thirteen functions"

if command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ]; then
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  x86_64-w64-mingw32-gcc -std=c11 -Wall -Wextra -I"$install/include" tests/c_host.c -L"$install/lib" -ltallymat \
    -o "$build/c_host.exe"
  cp "$install/bin/tallymat.dll" "$build/"
  export WINEDEBUG=-all WINEPREFIX="$PWD/$build/wineprefix"
  (cd "$build" && timeout 300 "$wine" ./c_host.exe)
else
  echo "wine64 is not installed: the C host test did not run under Windows"
fi
