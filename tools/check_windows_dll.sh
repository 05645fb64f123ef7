#!/usr/bin/env bash
# Cross-builds and installs both tallymat.dll (./run dll) and fails unless
# each export table, .def file and MSVC import library hold exactly the
# names of src/tallymat.map: plain names, also for the 32-bit DLL's stdcall
# functions, and that each ships stripped.  Under wine, the C host linked
# through tallymat.lib runs against each DLL, and so does a host that
# declares the functions as the README's VBA and Delphi declarations do.
#   tools/check_windows_dll.sh [FOLDER-PREFIX]   (default build-win: build-win64, build-win32)
# TALLYMAT_WINE_ARCHES (default "x86_64 i686") names the DLLs whose hosts run
# under wine: a machine without wine32 leaves i686 out.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-build-win}
wine_arches=" ${TALLYMAT_WINE_ARCHES-x86_64 i686} "
wine=$PWD/tools/wine.sh
expected=$(cmake -DPRINT_EXPORTS=src/tallymat.map -P cmake/ExportList.cmake | sort | tr '\n' ' ')

for arch in x86_64 i686; do
  case $arch in x86_64) build=${prefix}64 ;; i686) build=${prefix}32 ;; esac
  BUILD=$build CMAKE_FLAGS="-DTALLYMAT_WERROR=ON" ./run dll $arch >/dev/null
  install=$build/install tool=$arch-w64-mingw32
  exports=$($tool-objdump -p "$install/bin/tallymat.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ && $NF != "Table" {print $NF}' | sort | tr '\n' ' ')
  def_names=$(sed -n '/^EXPORTS/,$p' "$install/lib/tallymat.def" | grep -o '^ *[a-z]\+' | tr -d ' ' | sort | tr '\n' ' ')
  # __imp_vinsert (64-bit), __imp__vinsert@12 (32-bit stdcall)
  lib_names=$($tool-nm "$install/lib/tallymat.lib" | sed -n 's/.* __imp__\{0,1\}\([a-z]*\).*$/\1/p' | sort | tr '\n' ' ')
  for listing in "tallymat.dll:$exports" "tallymat.def:$def_names" "tallymat.lib:$lib_names"; do
    if [ "${listing#*:}" != "$expected" ]; then
      echo "$arch ${listing%%:*} has: ${listing#*:}"
      echo "expected:        $expected"
      exit 1
    fi
  done
  echo "$arch: tallymat.dll, tallymat.def and tallymat.lib carry exactly the thirteen functions"

  # The elementary functions are the library's own: none imported from
  # msvcrt.dll, nor linked in from mingw-w64's x87 code (fsin, fpatan, fyl2x, ...).
  imports=$($tool-objdump -p "$install/bin/tallymat.dll" | awk '/DLL Name/ {dll=$3} /^\t[0-9a-f]+\t +[0-9]+ / {print dll, $3}' |
    grep -E ' (exp|exp2|expm1|log|log10|log2|log1p|pow|fma|sin|cos|tan|sincos|asin|acos|atan|atan2)[fl]?$' || true)
  x87=$($tool-objdump -d "$install/bin/tallymat.dll" | grep -cE '\s(fsin|fcos|fsincos|fptan|fpatan|fyl2x|fyl2xp1|f2xm1)\b' || true)
  if [ -n "$imports" ] || [ "$x87" != 0 ]; then
    echo "$arch: tallymat.dll takes elementary functions from the C runtime: ${imports:-$x87 x87 instructions}"
    exit 1
  fi
  echo "$arch: no transcendental function of the C runtime in tallymat.dll"
  # Nor any x87 arithmetic of the library's own (the 32-bit DLL's switch
  # saves and restores the unit, and returns load st(0): moves only); the
  # build tree's copy still names its functions.
  tools/check_x87.sh "$build/tallymat.dll" "$tool-objdump"

  # MSVC's linker, with /SAFESEH where it applies (32-bit): lld-link, a
  # clang-compiled host and no C runtime.
  if command -v lld-link >/dev/null 2>&1 && command -v clang >/dev/null 2>&1; then
    case $arch in x86_64) msvc=x86_64-pc-windows-msvc safeseh= ;; i686) msvc=i686-pc-windows-msvc safeseh=/safeseh ;; esac
    clang --target=$msvc -c -I"$install/include" tests/msvc_link_host.c -o "$build/msvc_link_host.obj"
    lld-link $safeseh /nodefaultlib /entry:start /subsystem:console "$build/msvc_link_host.obj" \
      "$install/lib/tallymat.lib" /out:"$build/msvc_link_host.exe" ||
      { echo "$arch: MSVC's linker refuses tallymat.lib"; exit 1; }
    echo "$arch: MSVC's linker (lld-link${safeseh:+ $safeseh}) links a host through tallymat.lib"
  fi

  if command -v wine >/dev/null 2>&1 && [[ $wine_arches == *" $arch "* ]]; then
    mkdir -p "$build/installed-host"
    $tool-gcc -std=c11 -Wall -Wextra -Werror -I"$install/include" tests/c_host.c "$install/lib/tallymat.lib" \
      -o "$build/installed-host/c_host_installed.exe"
    # (Beside a copy of the installed DLL: the build's own stays what it built.)
    cp "$install/bin/tallymat.dll" "$build/installed-host/"
    (cd "$build/installed-host" && WINEDEBUG=-all WINEPREFIX="$PWD/../wineprefix" timeout 300 "$wine" ./c_host_installed.exe >/dev/null) ||
      { echo "$arch: the C host linked through tallymat.lib failed under wine"; exit 1; }
    echo "$arch: the C host linked through tallymat.lib passes under wine"
    # The README's VBA and Delphi declarations, in C: found by name, read through code page 1251.
    $tool-gcc -std=c11 -Wall -Wextra -Werror tests/declared_host.c -o "$build/declared_host.exe"
    (cd "$build" && WINEDEBUG=-all WINEPREFIX="$PWD/wineprefix" timeout 300 "$wine" ./declared_host.exe \
      "$(WINEDEBUG=-all WINEPREFIX="$PWD/wineprefix" "$wine" winepath.exe -w "$PWD/install/bin/tallymat.dll" 2>/dev/null)") ||
      { echo "$arch: the host of the README's declarations failed under wine"; exit 1; }
  fi

  # Shipped stripped, its debug information beside it in tallymat.dll.debug.
  sections=$($tool-objdump -h "$install/bin/tallymat.dll")
  debug_sections=$($tool-objdump -h "$install/bin/tallymat.dll.debug" 2>/dev/null || true)
  if grep -q '\.debug_' <<<"$sections"; then
    echo "$arch: the installed tallymat.dll carries debug sections"; exit 1
  fi
  if ! grep -q '\.gnu_debuglink' <<<"$sections" || ! grep -q '\.debug_info' <<<"$debug_sections"; then
    echo "$arch: tallymat.dll.debug is missing or not linked from tallymat.dll"; exit 1
  fi
  echo "$arch: tallymat.dll is stripped ($(stat -c %s "$install/bin/tallymat.dll") bytes), its debug information in tallymat.dll.debug"
done
