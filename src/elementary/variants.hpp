// Each function of the table built for each kind of CPU, from the one
// definition over the number type (number.hpp): with Dekker's products
// (_plain), with the CPU's fused multiply-add (_fused; the plain one where
// it is not built) and, on x86-64, with AVX-512 instructions that round in
// themselves (_own_rounding, own_rounding.cpp).  The same bits every way;
// elementary.cpp chooses at load.  The function files define them and need
// nothing of each other.
#pragma once

#include "core/visibility.hpp"
#include "elementary/double_double.hpp"

namespace tallymat::elementary::variants {

// The ten of one kind: exponential.cpp and trigonometric.cpp define the
// _plain and _fused ones, own_rounding.cpp the _own_rounding ones (where
// TALLYMAT_OWN_ROUNDING_BUILT).
#define TALLYMAT_ELEMENTARY_VARIANTS(kind)                        \
    TALLYMAT_SSE_CALL double exp_##kind(double x);                \
    TALLYMAT_SSE_CALL double log_##kind(double x);                \
    TALLYMAT_SSE_CALL double log10_##kind(double x);              \
    TALLYMAT_SSE_CALL double pow_##kind(double x, double y);      \
    TALLYMAT_SSE_CALL double sin_##kind(double x);                \
    TALLYMAT_SSE_CALL double cos_##kind(double x);                \
    TALLYMAT_SSE_CALL double tan_##kind(double x);                \
    TALLYMAT_SSE_CALL double asin_##kind(double x);               \
    TALLYMAT_SSE_CALL double acos_##kind(double x);               \
    TALLYMAT_SSE_CALL double atan_##kind(double x);
TALLYMAT_ELEMENTARY_VARIANTS(plain)
TALLYMAT_ELEMENTARY_VARIANTS(fused)
TALLYMAT_ELEMENTARY_VARIANTS(own_rounding)
#undef TALLYMAT_ELEMENTARY_VARIANTS

}  // namespace tallymat::elementary::variants
