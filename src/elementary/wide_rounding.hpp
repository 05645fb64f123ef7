// The accurate paths' last step, shared by every function: a 320-bit
// fixed-point value rounded to the nearest double.
#pragma once

#include <cstdint>

#include "elementary/wide_fixed.hpp"

namespace tallymat::elementary {

// The double nearest to v 2^scale (v != 0).  The accurate paths know v to
// within 2^-160 of itself; a result that close to a tie is believed not to
// exist for these functions (their only exact results are found before the
// accurate path is taken), so the nearer side is kept.
TALLYMAT_SSE_CALL double round_wide(const Wide& v, int scale);

// mantissa 2^lsb_exponent, where mantissa < 2^54 and the result is a
// double: normal (mantissa of 53 bits, or 54 after rounding up) or
// subnormal (lsb_exponent = -1074).
TALLYMAT_SSE_CALL double assemble(uint64_t mantissa, int lsb_exponent);

}  // namespace tallymat::elementary
