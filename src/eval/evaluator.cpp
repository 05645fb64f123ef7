// calcpost, the plain loop over the postfix items and the integer power.
#include "eval/evaluator.hpp"

#include <bit>
#include <cmath>

#include "eval/fast_program.hpp"
#include "tallymat.h"
#include "vars/var_table.hpp"

namespace tallymat::eval {

ValueStack value_stack{};

double integer_power(double base, double exponent) {
    if (std::isnan(exponent)) return exponent;
    double truncated = std::trunc(exponent);
    double magnitude = std::fabs(truncated);
    uint64_t bits = magnitude >= 0x1p63 ? uint64_t{1} << 63 : static_cast<uint64_t>(magnitude);
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
    for (int32_t i = 0; i < slot.count; ++i) {
        const Item& item = slot.program[i];
        if (item.kind == kNumberItem) {
            *top++ = item.number;
            continue;
        }
        if (item.kind == kVariableItem) {
            *top++ = *item.cell;
            continue;
        }
        int32_t applied;
        if (is_binary(item.op)) {
            applied = apply_binary(item.op, top[-2], top[-1]);
            --top;
        } else {
            applied = apply_unary(item.op, top[-1]);
        }
        if (int32_t failure = failure_of(applied)) return {0.0, failure};
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
    eval::Outcome outcome = eval::run_fast_program(slot.fast);
    core::set_last_error(outcome.code);
    return outcome.value;
}

}  // extern "C"
