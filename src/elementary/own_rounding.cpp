// The fast paths built for CPUs with AVX-512F, in the number type whose
// every instruction rounds to nearest itself and raises no flag
// (own_rounding_number.hpp): functions that machine code calls in the
// host's MXCSR.  This file alone is compiled for AVX-512F, and defines
// nothing but these functions (tools/check_own_rounding.sh proves both:
// no instruction that rounds as MXCSR says, and no shared inline code
// that the linker could take for another file's).
#include "elementary/variants.hpp"

#if TALLYMAT_OWN_ROUNDING_BUILT

#include "elementary/exponential_fast.hpp"
#include "elementary/own_rounding_number.hpp"
#include "elementary/trigonometric_fast.hpp"

namespace tallymat::elementary {

using N = OwnRoundingNumber;
using namespace fast;

double variants::exp_own_rounding(double x) { return exp_fast<N>(x).value(); }
double variants::log_own_rounding(double x) { return log_fast<N>(x).value(); }
double variants::log10_own_rounding(double x) { return log10_fast<N>(x).value(); }
double variants::pow_own_rounding(double x, double y) { return pow_fast<N>(x, y).value(); }
double variants::sin_own_rounding(double x) { return sine_or_cosine<N, false>(x).value(); }
double variants::cos_own_rounding(double x) { return sine_or_cosine<N, true>(x).value(); }
double variants::tan_own_rounding(double x) { return tan_fast<N>(x).value(); }
double variants::asin_own_rounding(double x) { return asin_fast<N>(x).value(); }
double variants::acos_own_rounding(double x) { return acos_fast<N>(x).value(); }
double variants::atan_own_rounding(double x) { return atan_fast<N>(x).value(); }

}  // namespace tallymat::elementary

#endif
