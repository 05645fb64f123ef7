// Math error capture: guarded entries over the library's own elementary
// functions.
//
// Each guarded entry classifies its arguments by their bits before calling
// the function.  A call the rules class as a failure fills a math
// error record, hands it to _matherr and returns the proposed result; the
// standard library's own signalling (errno, exception flags) is never used.
#pragma once

#include <bit>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <limits>

#include "core/exact_conversion.hpp"
#include "core/visibility.hpp"
#include "elementary/elementary.hpp"
#include "elementary/functions.hpp"

namespace tallymat::mathlayer {

enum Kind : int32_t {
    kMathDomain = 1,     // argument outside the domain
    kMathSingular = 2,   // argument is a singularity
    kMathOverflow = 3,   // result too large for a double
    kMathUnderflow = 4,  // result too small for a double
    kMathTotalLoss = 5,  // argument too large for a meaningful result
};

struct MathErrorRecord {
    int32_t kind;
    const char* name;  // the failing function, a constant string
    double arg1;
    double arg2;       // pow's exponent; 0.0 for one-argument functions
    double retval;     // the proposed result
};

struct MathErrorState {
    int32_t flag;  // 1 once a failure was captured since the current evaluation began
    MathErrorRecord captured;
};

extern TALLYMAT_HIDDEN MathErrorState math_error_state;

// The library's single hook: captures the record, sets the flag, claims the failure.
int _matherr(MathErrorRecord* record);

// Last-error code for a captured kind (kDomain, kSingularity, kOverflow,
// kUnderflow, kPrecisionLoss).
int32_t code_for_kind(int32_t kind);

// The code of the waiting report, taking the flag down.
int32_t take_reported_code();

// Bits of the arguments, through small named helpers.
inline constexpr double kLargest = elementary::kLargestDouble;

constexpr uint64_t bits_of(double x) { return std::bit_cast<uint64_t>(x); }
constexpr uint32_t upper_bits(double x) { return static_cast<uint32_t>(bits_of(x) >> 32); }
inline uint32_t upper_bits_of_magnitude(double x) { return upper_bits(x) & 0x7fffffffu; }
inline bool sign_bit(double x) { return (bits_of(x) >> 63) != 0; }
inline uint32_t biased_exponent(double x) { return static_cast<uint32_t>(bits_of(x) >> 52) & 0x7ffu; }

inline bool is_zero_or_subnormal(double x) { return biased_exponent(x) == 0; }
inline bool is_inf_or_nan(double x) { return biased_exponent(x) == 0x7ff; }
// |x| < 2^-1026, zeros included: the exponent field and the first four fraction bits are zero.
inline bool is_tiny(double x) { return upper_bits_of_magnitude(x) < 0x00010000u; }

// Only for finite x: no fraction bits below the binary point.
inline bool is_integer(double x) { return core::is_integral(x); }

inline double positive_nan() { return std::bit_cast<double>(uint64_t{0x7ff8000000000000}); }
inline double negative_nan() { return std::bit_cast<double>(uint64_t{0xfff8000000000000}); }

using elementary::Function;
using elementary::row_of;

// Bounds compared on the upper 32 bits of |x| (their lower halves are
// zero): the first arguments past the ends of exp's row.
constexpr uint32_t kExpOverflowUpper = upper_bits(elementary::kExpOverflowFrom);
constexpr uint32_t kExpUnderflowUpper = upper_bits(-elementary::kExpUnderflowFrom);
static_assert(std::bit_cast<uint64_t>(elementary::kExpOverflowFrom) << 32 == 0 &&
              std::bit_cast<uint64_t>(elementary::kExpUnderflowFrom) << 32 == 0);
// |x| >= 2^53: the biased exponent of the first argument past sin's row.
constexpr uint32_t kTrigLossExponent = upper_bits(elementary::next_up(row_of(Function::kSin).highest)) >> 20;
constexpr double kPowExponentBound = row_of(Function::kPow).log_bound;  // |y ln x| beyond this leaves the double range
constexpr double kTwoTo63 = 0x1p63;

// Fills the record, hands it to _matherr and returns the proposed result
// the record holds afterwards.  Out of line: failures are rare.
[[gnu::cold]] TALLYMAT_SSE_CALL double fail(Kind kind, const char* name, double x, double y, double proposed);

inline double trig_loss_or(double x, const char* name, double (*standard)(double)) {
    if (biased_exponent(x) >= kTrigLossExponent) return fail(kMathTotalLoss, name, x, 0.0, positive_nan());
    return standard(x);
}

inline double logarithm(double x, const char* name, double (*standard)(double)) {
    if (is_tiny(x)) return fail(kMathSingular, name, x, 0.0, -kLargest);
    if (sign_bit(x)) return fail(kMathDomain, name, x, 0.0, negative_nan());
    uint32_t upper = upper_bits(x);
    if (upper >= 0x7ff00000u && upper < 0x7ff10000u)  // +inf, or a NaN with a zero leading nibble
        return fail(kMathOverflow, name, x, 0.0, kLargest);
    if (x != x) return x + x;  // the other positive NaNs pass through, quieted
    return standard(x);
}

inline double arc(double x, const char* name, double (*standard)(double)) {
    if (!(__builtin_fabs(x) <= row_of(Function::kAsin).highest)) return fail(kMathDomain, name, x, 0.0, positive_nan());
    return standard(x);
}

// The guarded entries: rules first, then the library's own function.
// Inline, so that the evaluator pays no call for the classification.
TALLYMAT_SSE_CALL inline double sin(double x) { return trig_loss_or(x, row_of(Function::kSin).name, elementary::sin); }
TALLYMAT_SSE_CALL inline double cos(double x) { return trig_loss_or(x, row_of(Function::kCos).name, elementary::cos); }
TALLYMAT_SSE_CALL inline double tan(double x) { return trig_loss_or(x, row_of(Function::kTan).name, elementary::tan); }

TALLYMAT_SSE_CALL inline double exp(double x) {
    uint32_t magnitude = upper_bits_of_magnitude(x);
    if (!sign_bit(x) && magnitude >= kExpOverflowUpper) return fail(kMathOverflow, row_of(Function::kExp).name, x, 0.0, kLargest);
    if (sign_bit(x) && magnitude >= kExpUnderflowUpper) return fail(kMathUnderflow, row_of(Function::kExp).name, x, 0.0, 0.0);
    return elementary::exp(x);
}

TALLYMAT_SSE_CALL inline double log(double x) { return logarithm(x, row_of(Function::kLog).name, elementary::log); }
TALLYMAT_SSE_CALL inline double log10(double x) { return logarithm(x, row_of(Function::kLog10).name, elementary::log10); }

TALLYMAT_SSE_CALL inline double sqrt(double x) {
    if (x == 0.0) return x;  // -0.0 stays -0.0
    // Every other negative, -inf and negative NaNs included; a positive tiny x
    // gets its true root.
    if (sign_bit(x)) return fail(kMathDomain, "sqrt", x, 0.0, positive_nan());
    return std::sqrt(x);
}

TALLYMAT_SSE_CALL inline double asin(double x) { return arc(x, row_of(Function::kAsin).name, elementary::asin); }
TALLYMAT_SSE_CALL inline double acos(double x) { return arc(x, row_of(Function::kAcos).name, elementary::acos); }

// x^2 is the correctly rounded square x*x, as compiled C computes pow(x, 2):
// the platform pow misrounds some squares.  For 2^-510 <= |x| < 2^510 (biased
// exponents in [low, high)) no rule can fire (2 ln|x| stays inside
// +-709.78125), so the square is taken at once.
constexpr uint32_t kSquareBandLow = 1023 - 510, kSquareBandHigh = 1023 + 510;
inline bool squares_without_rules(double x) {
    return biased_exponent(x) - kSquareBandLow < kSquareBandHigh - kSquareBandLow;
}
inline bool is_plain_square(double x, double y) { return y == 2.0 && squares_without_rules(x); }

// For |y| <= 64 and 2^-15 <= |x| < 2^15, |y ln|x|| stays below 666, far
// inside the bounds: the logarithm that checks them can be skipped.
inline bool keeps_pow_in_range(double x, double y) {
    uint32_t exponent = biased_exponent(x);
    return __builtin_fabs(y) <= 64.0 && exponent >= 1023 - 15 && exponent < 1023 + 15;
}

// For a constant y, the band 2^-E <= |x| < 2^E over which y ln|x| stays
// well inside the bounds of the overflow and underflow rules, as E (the
// machine code takes pow at once there); 0 where y is itself a case of the
// rules (zero, subnormal, infinite, NaN) or the square, which pow computes
// by multiplication.
inline int pow_band_without_rules(double y) {
    double magnitude = __builtin_fabs(y);
    if (!(magnitude >= 0x1p-1022 && magnitude <= kLargest) || y == 2.0) return 0;
    double band = (kPowExponentBound - 1.0) / (magnitude * std::numbers::ln2);
    return band >= 1022.0 ? 1022 : static_cast<int>(band);
}

inline constexpr const char* kPowName = row_of(Function::kPow).name;

TALLYMAT_SSE_CALL inline double pow(double x, double y) {
    if (is_plain_square(x, y)) [[likely]] return x * x;
    if (is_zero_or_subnormal(x)) {
        if (sign_bit(y)) return fail(kMathDomain, kPowName, x, y, kLargest);  // 0^-1, 0^-0, 0^-inf
        if (is_tiny(y)) return fail(kMathDomain, kPowName, x, y, 1.0);        // 0^0
        return 0.0;
    }
    if (is_inf_or_nan(x)) {
        if (!sign_bit(y)) return fail(kMathOverflow, kPowName, x, y, x);
        return fail(kMathUnderflow, kPowName, x, y, 0.0);
    }
    if (is_zero_or_subnormal(y)) return 1.0;
    if (is_inf_or_nan(y)) return fail(kMathOverflow, kPowName, x, y, y);

    // A negative base needs an integer exponent that fits 64 bits, whose parity decides the sign.
    bool integral = is_integer(y) && __builtin_fabs(y) < kTwoTo63;
    if (sign_bit(x) && !integral) return fail(kMathDomain, kPowName, x, y, negative_nan());
    if (keeps_pow_in_range(x, y)) return y == 2.0 ? x * x : elementary::pow(x, y);

    double t = y * elementary::log(__builtin_fabs(x));
    if (t >= kPowExponentBound) return fail(kMathOverflow, kPowName, x, y, kLargest);
    if (t <= -kPowExponentBound) return fail(kMathUnderflow, kPowName, x, y, 0.0);
    return y == 2.0 ? x * x : elementary::pow(x, y);
}

// A NaN passes through quieted, as x86's arithmetic quiets it.
TALLYMAT_SSE_CALL inline double atan(double x) { return x != x ? x + x : elementary::atan(x); }
TALLYMAT_SSE_CALL inline double fabs(double x) { return __builtin_fabs(x); }
TALLYMAT_SSE_CALL inline double floor(double x) { return std::floor(x); }

}  // namespace tallymat::mathlayer
