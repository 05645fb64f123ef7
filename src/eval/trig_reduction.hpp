// Sine and cosine with the argument reduced exactly, for C runtimes whose
// own reduction loses accuracy as |x| grows: mingw-w64's sin and cos run
// the x87 unit's fsin and fcos, whose 66-bit pi leaves sin(1e6) 21 units
// in the last place off and sin near 2^53 wrong in every bit.  Here x is
// reduced to r = x - k pi/2 by integer arithmetic on 2/pi's bits, r is kept
// as a double-double, and the runtime is asked only for |r| <= pi/4, where
// it is accurate: the result lies within about one unit of the true value.
#pragma once

namespace tallymat::mathlayer {

// For |x| < 2^53 (beyond it the math layer reports a total loss first).
double sin_reduced_exactly(double x);
double cos_reduced_exactly(double x);

#if defined(_WIN32)
inline constexpr bool kRuntimeReducesSinCosExactly = false;
#else
inline constexpr bool kRuntimeReducesSinCosExactly = true;  // glibc and the other C libraries built here
#endif

}  // namespace tallymat::mathlayer
