// Process-wide state is declared hidden where it is declared, not only where
// it is defined: -fvisibility=hidden leaves extern declarations alone, and
// without this every access to the tables would go through the GOT.
#pragma once

#if defined(_WIN32) || defined(__CYGWIN__)
#define TALLYMAT_HIDDEN
#else
#define TALLYMAT_HIDDEN __attribute__((visibility("hidden")))
#endif
