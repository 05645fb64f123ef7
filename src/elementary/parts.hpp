// What the files of the elementary functions share: bit access, the
// rounding test of the fast paths, the rounding of the accurate paths'
// fixed-point results, and each file's functions for the table of
// function pointers (one of Dekker's products, one of fused ones).
#pragma once

#include <bit>
#include <cstdint>

#include "elementary/wide_fixed.hpp"

namespace tallymat::elementary::parts {

inline constexpr double kShifter = 0x1.8p52;  // adding and subtracting it rounds to an integer

[[gnu::always_inline]] inline uint64_t bits_of(double x) { return std::bit_cast<uint64_t>(x); }
[[gnu::always_inline]] inline double from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }
[[gnu::always_inline]] inline double nearest_integer(double x) { return (x + kShifter) - kShifter; }  // |x| < 2^51

// The nearest integer to x (|x| < 2^31) in both forms: the shifted sum's
// low bits hold it, so the integer needs no conversion of its own.
struct NearestInteger {
    double value;
    int32_t integer;
};
[[gnu::always_inline]] inline NearestInteger nearest_integer_of(double x) {
    double shifted = x + kShifter;
    return {shifted - kShifter, static_cast<int32_t>(static_cast<uint32_t>(bits_of(shifted)))};
}

// The rounding test: hi + lo is within `error` of the exact value.  When
// both ends of that interval round to the same double, it is the correctly
// rounded result (rounding is monotonic; the bounds carry a margin for the
// rounding of lo +- error itself).
[[gnu::always_inline]] inline bool rounds_alike(double hi, double lo, double error, double& result) {
    double up = hi + (lo + error);
    double down = hi + (lo - error);
    result = up;
    return up == down;
}

// The double nearest to v 2^scale (v != 0).  The accurate paths know v to
// within 2^-160 of itself; a result that close to a tie is believed not to
// exist for these functions (their only exact results are found before the
// accurate path is taken), so the nearer side is kept.
double round_wide(const Wide& v, int scale);

// The trigonometric functions, for the table of elementary_functions.
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

}  // namespace tallymat::elementary::parts
