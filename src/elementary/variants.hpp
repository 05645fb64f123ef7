// Each function of the table built for each kind of CPU, from the one
// definition over the number type (number.hpp): with Dekker's products
// (_plain), with the CPU's fused multiply-add (_fused; the plain one where
// it is not built) and, on x86-64, with AVX-512 instructions that round in
// themselves (_own_rounding, own_rounding.cpp).  The same bits every way;
// elementary.cpp chooses at load.  The function files define them and need
// nothing of each other.
#pragma once

#include "elementary/double_double.hpp"

namespace tallymat::elementary::variants {

// exponential.cpp
double exp_plain(double x);
double log_plain(double x);
double log10_plain(double x);
double pow_plain(double x, double y);
double exp_fused(double x);
double log_fused(double x);
double log10_fused(double x);
double pow_fused(double x, double y);

// trigonometric.cpp
double sin_plain(double x);
double cos_plain(double x);
double tan_plain(double x);
double asin_plain(double x);
double acos_plain(double x);
double atan_plain(double x);
double sin_fused(double x);
double cos_fused(double x);
double tan_fused(double x);
double asin_fused(double x);
double acos_fused(double x);
double atan_fused(double x);

// own_rounding.cpp, where TALLYMAT_OWN_ROUNDING_BUILT
double exp_own_rounding(double x);
double log_own_rounding(double x);
double log10_own_rounding(double x);
double pow_own_rounding(double x, double y);
double sin_own_rounding(double x);
double cos_own_rounding(double x);
double tan_own_rounding(double x);
double asin_own_rounding(double x);
double acos_own_rounding(double x);
double atan_own_rounding(double x);

}  // namespace tallymat::elementary::variants
