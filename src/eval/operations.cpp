// The integer power, the one operation too long to stay inline.
#include "eval/operations.hpp"

#include "core/exact_conversion.hpp"

namespace tallymat::eval {

using namespace program;  // the instruction set is what the evaluator runs

double integer_power(double base, double exponent) {
    if (std::isnan(exponent)) return exponent;
    double truncated = std::trunc(exponent);
    double magnitude = __builtin_fabs(truncated);
    uint64_t bits = magnitude >= 0x1p63 ? uint64_t{1} << 63 : core::truncated_to_uint64(magnitude);
    bool negative = truncated < 0.0;

    // A NaN base takes the zero-base path as well.
    if (base == 0.0 || std::isnan(base)) return (!negative && bits >= 1) ? 0.0 : kLargest;

    double c = 1.0;
    for (int bit = 63 - std::countl_zero(bits); bit >= 0; --bit) {
        c = c * c;
        if ((bits >> bit) & 1) c = base * c;
    }
    return negative ? 1.0 / c : c;
}

}  // namespace tallymat::eval
