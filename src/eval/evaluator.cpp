// calcpost: one pass over the postfix items, one dispatch on kind and code.
#include "eval/evaluator.hpp"

#include <bit>
#include <cmath>
#include <limits>

#include "core/core_state.hpp"
#include "eval/math_layer.hpp"
#include "tallymat.h"
#include "vars/var_table.hpp"

namespace tallymat::eval {

ValueStack value_stack{};

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();
constexpr double kLogBound = 1e-10;   // ln and lg need x above it; half-width of the sign/ez zero bands
constexpr double kExpBound = 100.0;   // the largest argument exp accepts
constexpr double kTwoTo63 = 0x1p63;

// NaN fails every comparison, so it counts as a zero divisor.
inline bool is_zero_divisor(double b) { return !(b < 0.0 || b > 0.0); }

inline double sign_of(double x) {
    if (x > kLogBound) return 1.0;
    if (x > -kLogBound) return 0.0;  // -1e-10 itself is negative
    return -1.0;                     // NaN too
}

inline double ez_of(double x) { return (x >= -kLogBound && x <= kLogBound) ? 1.0 : 0.0; }

inline Outcome refuse(int32_t code) { return {0.0, code}; }

}  // namespace

double integer_power(double base, double exponent) {
    if (std::isnan(exponent)) return exponent;
    double truncated = std::trunc(exponent);
    double magnitude = std::fabs(truncated);
    uint64_t bits = magnitude >= kTwoTo63 ? uint64_t{1} << 63 : static_cast<uint64_t>(magnitude);
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

Outcome run_program(const translate::Slot& slot) {
    using namespace translate;
    mathlayer::math_error_state.flag = 0;

    double* top = value_stack.values;  // one past the top value
    const Item* item = slot.program;
    const Item* end = item + slot.count;
    for (; item != end; ++item) {
        if (item->kind == kNumberItem) {
            *top++ = item->number;
            continue;
        }
        if (item->kind == kVariableItem) {
            *top++ = *item->cell;
            continue;
        }
// a and b: the operands of a binary operator, a receiving the result;
// x: the operand of a unary operator, receiving the result.
#define a top[-2]
#define b top[-1]
#define x top[-1]
        switch (item->op) {
            case op::kAdd: a = a + b; --top; continue;
            case op::kSub: a = a - b; --top; continue;
            case op::kMul: a = a * b; --top; continue;
            case op::kDiv:
                if (is_zero_divisor(b)) return refuse(core::kDivisionByZero);
                a = a / b; --top; continue;
            case op::kIntDiv:
                if (is_zero_divisor(b)) return refuse(core::kDivisionByZero);
                a = mathlayer::floor(a / b); --top; continue;
            case op::kMod:
                if (is_zero_divisor(b)) return refuse(core::kDivisionByZero);
                a = a - mathlayer::floor(a / b) * b; --top; continue;
            case op::kIntPow: a = integer_power(a, b); --top; continue;
            case op::kPow: a = mathlayer::pow(a, b); --top; break;

            case op::kNeg: x = -x; continue;
            case op::kPlus: continue;
            case op::kAbs: x = mathlayer::fabs(x); continue;
            case op::kArctg: x = mathlayer::atan(x); continue;
            case op::kSign: x = sign_of(x); continue;
            case op::kEz: x = ez_of(x); continue;
            case op::kSin: x = mathlayer::sin(x); break;
            case op::kCos: x = mathlayer::cos(x); break;
            case op::kTan: x = mathlayer::tan(x); break;
            case op::kLn:
                if (!(x > kLogBound)) return refuse(core::kDomain);
                x = mathlayer::log(x); break;
            case op::kLg:
                if (!(x > kLogBound)) return refuse(core::kDomain);
                x = mathlayer::log10(x); break;
            case op::kArcsin:
                if (!(x >= -1.0 && x <= 1.0)) return refuse(core::kDomain);
                x = mathlayer::asin(x); break;
            case op::kArccos:
                if (!(x >= -1.0 && x <= 1.0)) return refuse(core::kDomain);
                x = mathlayer::acos(x); break;
            case op::kExp:
                if (x > kExpBound) return refuse(core::kOverflow);
                x = mathlayer::exp(x); break;
            case op::kSqrt:
                if (!(x >= 0.0)) return refuse(core::kDomain);
                x = mathlayer::sqrt(x); break;
            default: continue;  // the translator writes no other code
        }
        // Only operators that call a guarded math entry reach this test;
        // the others cannot set the flag.
        if (mathlayer::math_error_state.flag)
            return refuse(mathlayer::code_for_kind(mathlayer::math_error_state.captured.kind));
#undef a
#undef b
#undef x
    }
    return {top[-1], core::kOk};
}

}  // namespace tallymat::eval

using namespace tallymat;

extern "C" {

TALLYMAT_API double calcpost(int handle) {
    if (!translate::is_occupied(handle)) {
        core::report(core::kInvalidExpression);
        return 0.0;
    }
    const translate::Slot& slot = translate::expr_table.slots[handle];
    // After vclr the program's variable pointers lead into freed entries.
    if (slot.refers_to_variables && slot.variable_epoch != vars::var_table.epoch) {
        core::report(core::kInvalidExpression);
        return 0.0;
    }
    eval::Outcome outcome = eval::run_program(slot);
    core::set_last_error(outcome.code);
    return outcome.value;
}

}  // extern "C"
