// Rounding of the accurate paths' results (wide_rounding.hpp).
#include "elementary/wide_rounding.hpp"

#include "elementary/parts.hpp"

namespace tallymat::elementary {

using parts::from_bits;

double assemble(uint64_t mantissa, int lsb_exponent) {
    if (mantissa >> 53) {
        mantissa >>= 1;
        ++lsb_exponent;
    }
    if (mantissa < (uint64_t{1} << 52)) return from_bits(mantissa);  // subnormal (or the smallest normal)
    return from_bits((static_cast<uint64_t>(lsb_exponent + 52 + 1023) << 52) + (mantissa - (uint64_t{1} << 52)));
}

double round_wide(const Wide& v, int scale) {
    Wide magnitude = v.magnitude();
    int top = magnitude.top_bit();
    int exponent = top - Wide::kFractionBits + scale;
    int lsb = exponent >= -1022 ? top - 52 : -1074 - scale + Wide::kFractionBits;
    uint64_t mantissa = magnitude.bits_from(lsb);
    Wide rest = magnitude.bits_below(lsb);
    Wide half = Wide::power_of_two(lsb - 1 - Wide::kFractionBits);
    if (half < rest) ++mantissa;
    double result = assemble(mantissa, lsb - Wide::kFractionBits + scale);
    return v.negative() ? -result : result;
}

}  // namespace tallymat::elementary
