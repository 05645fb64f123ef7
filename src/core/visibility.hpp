// Process-wide state is declared hidden where it is declared, not only where
// it is defined: -fvisibility=hidden leaves extern declarations alone, and
// without this every access to the tables would go through the GOT.
#pragma once

#if defined(_WIN32) || defined(__CYGWIN__)
#define TALLYMAT_HIDDEN
#else
#define TALLYMAT_HIDDEN __attribute__((visibility("hidden")))
#endif

// Doubles between the library's own functions travel in SSE registers on
// 32-bit Linux too: the system's convention returns them in the x87 unit,
// whose load of a subnormal value sets the denormal flag in the host's x87
// status word, which the library otherwise never touches.  Only the
// exported functions return through st(0).  (Functions the compiler sees
// whole within a file already pass doubles so; these are the ones called
// through pointers or from other files.)  GCC for 32-bit Windows takes such
// a function's double arguments in SSE registers as well, but returns its
// double in st(0) whatever it declares: there the switch keeps the x87
// unit, and machine code reads a called function's result from st(0).
#if defined(__i386__) && defined(__GNUC__) && !defined(__clang__)
#define TALLYMAT_SSE_CALL __attribute__((sseregparm))
#else
#define TALLYMAT_SSE_CALL
#endif
