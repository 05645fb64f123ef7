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

// exponential.cpp
TALLYMAT_SSE_CALL double exp_plain(double x);
TALLYMAT_SSE_CALL double log_plain(double x);
TALLYMAT_SSE_CALL double log10_plain(double x);
TALLYMAT_SSE_CALL double pow_plain(double x, double y);
TALLYMAT_SSE_CALL double exp_fused(double x);
TALLYMAT_SSE_CALL double log_fused(double x);
TALLYMAT_SSE_CALL double log10_fused(double x);
TALLYMAT_SSE_CALL double pow_fused(double x, double y);

// trigonometric.cpp
TALLYMAT_SSE_CALL double sin_plain(double x);
TALLYMAT_SSE_CALL double cos_plain(double x);
TALLYMAT_SSE_CALL double tan_plain(double x);
TALLYMAT_SSE_CALL double asin_plain(double x);
TALLYMAT_SSE_CALL double acos_plain(double x);
TALLYMAT_SSE_CALL double atan_plain(double x);
TALLYMAT_SSE_CALL double sin_fused(double x);
TALLYMAT_SSE_CALL double cos_fused(double x);
TALLYMAT_SSE_CALL double tan_fused(double x);
TALLYMAT_SSE_CALL double asin_fused(double x);
TALLYMAT_SSE_CALL double acos_fused(double x);
TALLYMAT_SSE_CALL double atan_fused(double x);

// own_rounding.cpp, where TALLYMAT_OWN_ROUNDING_BUILT
TALLYMAT_SSE_CALL double exp_own_rounding(double x);
TALLYMAT_SSE_CALL double log_own_rounding(double x);
TALLYMAT_SSE_CALL double log10_own_rounding(double x);
TALLYMAT_SSE_CALL double pow_own_rounding(double x, double y);
TALLYMAT_SSE_CALL double sin_own_rounding(double x);
TALLYMAT_SSE_CALL double cos_own_rounding(double x);
TALLYMAT_SSE_CALL double tan_own_rounding(double x);
TALLYMAT_SSE_CALL double asin_own_rounding(double x);
TALLYMAT_SSE_CALL double acos_own_rounding(double x);
TALLYMAT_SSE_CALL double atan_own_rounding(double x);

}  // namespace tallymat::elementary::variants
