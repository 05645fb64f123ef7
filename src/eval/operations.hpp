// What each operator code computes, with the evaluator's own checks.  The
// translation's folding of constants, the interpreter of the fast form and
// the machine code's helpers all call these, so they cannot disagree on a
// value or a code.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/errors.hpp"
#include "eval/math_layer.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

using mathlayer::kLargest;  // the largest finite double
inline constexpr double kLogBound = elementary::row_of(elementary::Function::kLog).refused_unless_above;  // ln and lg need x above it
inline constexpr double kExpBound = elementary::row_of(elementary::Function::kExp).refused_above;  // the largest argument exp accepts
inline constexpr double kZeroBandHalf = 1e-10;  // sign and ez treat |x| up to it as zero

// Which NaN an arithmetic operation gives is defined as x86's SSE gives it
// for a op b: the left operand's NaN, quieted; else the right one's,
// quieted; and a NaN made from non-NaN operands (inf - inf, 0 x inf,
// inf / inf) is the default NaN, negative and quiet.  Codes depend on it
// (exp of a positive NaN overflows, of a negative one underflows).  Other
// CPUs choose otherwise (Arm and s390x make a positive NaN), so there every
// NaN result is replaced by this one: one well-predicted test per
// operation.  On x86 the hardware agrees, but the compiler may swap the
// operands of a sum or product, so those two choose even there.
inline double quieted(double x) { return std::bit_cast<double>(std::bit_cast<uint64_t>(x) | 0x0008000000000000u); }

inline constexpr uint64_t kDefaultNaNBits = 0xFFF8000000000000u;

inline double defined_nan(double a, double b, double result) {
    if (!std::isnan(result)) [[likely]] return result;
    if (std::isnan(a)) return quieted(a);
    if (std::isnan(b)) return quieted(b);
    return std::bit_cast<double>(kDefaultNaNBits);
}

#if defined(__x86_64__) || defined(__SSE2_MATH__)
inline constexpr bool kHardwareGivesTheDefinedNaN = true;
#else
inline constexpr bool kHardwareGivesTheDefinedNaN = false;
#endif

TALLYMAT_SSE_CALL inline double add(double a, double b) { return defined_nan(a, b, a + b); }
TALLYMAT_SSE_CALL inline double multiply(double a, double b) { return defined_nan(a, b, a * b); }
TALLYMAT_SSE_CALL inline double subtract(double a, double b) {
    return kHardwareGivesTheDefinedNaN ? a - b : defined_nan(a, b, a - b);
}
TALLYMAT_SSE_CALL inline double divide(double a, double b) {
    return kHardwareGivesTheDefinedNaN ? a / b : defined_nan(a, b, a / b);
}

// NaN fails every comparison, so it counts as a zero divisor.
inline bool is_zero_divisor(double b) { return !__builtin_islessgreater(b, 0.0); }  // one ucomisd

inline double sign_of(double x) {
    if (x > kZeroBandHalf) return 1.0;
    if (x > -kZeroBandHalf) return 0.0;  // -1e-10 itself is negative
    return -1.0;                     // NaN too
}

inline double ez_of(double x) { return (x >= -kZeroBandHalf && x <= kZeroBandHalf) ? 1.0 : 0.0; }

// a ** b: b truncated toward zero, every bit of its magnitude (capped at
// 2^63) used in square-and-multiply.
TALLYMAT_SSE_CALL double integer_power(double base, double exponent);

// a = a (code) b; 0, or the code of the evaluator's own refusal (kDivisionByZero).
// Whether a guarded math entry reported is failure_of's question.
[[gnu::always_inline]] inline int32_t apply_binary(program::Binary code, double& a, double b) {
    using enum program::Binary;
    switch (code) {
        case kAdd: a = add(a, b); return core::kOk;
        case kSub: a = subtract(a, b); return core::kOk;
        case kMul: a = multiply(a, b); return core::kOk;
        case kDiv:
            if (is_zero_divisor(b)) return core::kDivisionByZero;
            a = divide(a, b);
            return core::kOk;
        case kIntDiv:
            if (is_zero_divisor(b)) return core::kDivisionByZero;
            a = mathlayer::floor(divide(a, b));
            return core::kOk;
        case kMod:
            if (is_zero_divisor(b)) return core::kDivisionByZero;
            a = subtract(a, multiply(mathlayer::floor(divide(a, b)), b));
            return core::kOk;
        case kIntPow: a = integer_power(a, b); return core::kOk;
        case kPow: a = mathlayer::pow(a, b); return core::kOk;
    }
    return core::kOk;  // every code has its case: the switch is exhaustive
}

// x = (code)(x); 0, or the code of the evaluator's own refusal (kDomain, kOverflow).
[[gnu::always_inline]] inline int32_t apply_unary(program::Unary code, double& x) {
    using enum program::Unary;
    switch (code) {
        case kNeg: x = -x; return core::kOk;
        case kPlus: return core::kOk;
        case kAbs: x = mathlayer::fabs(x); return core::kOk;
        case kArctg: x = mathlayer::atan(x); return core::kOk;
        case kSign: x = sign_of(x); return core::kOk;
        case kEz: x = ez_of(x); return core::kOk;
        case kSin: x = mathlayer::sin(x); return core::kOk;
        case kCos: x = mathlayer::cos(x); return core::kOk;
        case kTan: x = mathlayer::tan(x); return core::kOk;
        case kLn:
            if (!(x > kLogBound)) return core::kDomain;
            x = mathlayer::log(x);
            return core::kOk;
        case kLg:
            if (!(x > kLogBound)) return core::kDomain;
            x = mathlayer::log10(x);
            return core::kOk;
        case kArcsin:
            if (!(x >= -1.0 && x <= 1.0)) return core::kDomain;
            x = mathlayer::asin(x);
            return core::kOk;
        case kArccos:
            if (!(x >= -1.0 && x <= 1.0)) return core::kDomain;
            x = mathlayer::acos(x);
            return core::kOk;
        case kExp:
            if (x > kExpBound) return core::kOverflow;
            x = mathlayer::exp(x);
            return core::kOk;
        case kSqrt:
            if (!(x >= 0.0)) return core::kDomain;
            x = mathlayer::sqrt(x);
            return core::kOk;
    }
    return core::kOk;  // every code has its case: the switch is exhaustive
}


// The outcome of an applied operator: refused, reported through the math
// error flag (only operators that may report test it), or fine (0).  The
// flag is cleared where it is read, so it is down whenever no report waits.  With a
// constant code the compiler drops the flag test where it cannot fire.
[[gnu::always_inline]] inline int32_t failure_of(program::Operator code, int32_t refusal) {
    if (refusal) return refusal;
    if (program::operator_info(code).may_report && mathlayer::math_error_state.flag) [[unlikely]]
        return mathlayer::take_reported_code();
    return core::kOk;
}

}  // namespace tallymat::eval
