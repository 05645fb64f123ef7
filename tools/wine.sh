#!/bin/sh
# wine, as Debian's wrapper runs it, but on a kernel that runs no 32-bit
# x86 program (ia32_emulation=off): the wrapper takes wine32's loader
# whenever it is installed, which such a kernel refuses ("Exec format
# error"), so there 64-bit programs go to wine64's loader directly.
#   tools/wine.sh PROGRAM.exe [ARGUMENT...]     (also winepath.exe -w PATH)
loader32=/usr/lib/wine/wine loader64=/usr/lib/wine/wine64
if [ -x "$loader64" ] && [ -x "$loader32" ] && ! "$loader32" --version >/dev/null 2>&1; then
  export WINELOADER="$loader64" WINEDEBUG="${WINEDEBUG:-fixme-all}"
  exec "$loader64" "$@"
fi
exec wine "$@"
