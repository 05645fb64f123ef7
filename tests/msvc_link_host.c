/* A host linked by MSVC's linker (lld-link, its stand-in here) through
 * tallymat.lib, without any C runtime: on 32-bit Windows with the
 * linker's default /SAFESEH, which refuses import libraries whose members
 * are not marked safe.  Built with clang for the MSVC target; the link is
 * the test (tools/check_windows_dll.sh). */
#include "tallymat.h"

/* The marker of floating-point use that MSVC-target objects reference and
 * the C runtime defines. */
int _fltused = 0;

int start(void) {
    int handle;
    vinsert("x", 2.0);
    handle = exprpost("x*(x+1)");
    return calcpost(handle) == 6.0 && geterrnum() == 0 ? 0 : 1;
}
