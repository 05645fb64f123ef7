// The plain evaluation: one pass over the postfix items, as they define the
// result.  calcpost runs the fast form instead; the differential test holds
// the two equal.
#pragma once

#include "eval/value_stack.hpp"
#include "eval/fast_program.hpp"
#include "eval/operations.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

inline Outcome run_program(const translate::Slot& slot) {
    using namespace program;
    mathlayer::math_error_state.flag = 0;

    double* top = value_stack.values;  // one past the top value
    for (int32_t i = 0; i < slot.count; ++i) {
        const Item& item = slot.items[i];
        if (item.kind == kNumberItem) {
            *top++ = item.number;
            continue;
        }
        if (item.kind == kVariableItem) {
            *top++ = *item.cell;
            continue;
        }
        int32_t applied;
        if (program::is_binary(item.op)) {
            applied = apply_binary(program::as_binary(item.op), top[-2], top[-1]);
            --top;
        } else {
            applied = apply_unary(program::as_unary(item.op), top[-1]);
        }
        if (int32_t failure = failure_of(item.op, applied)) return {0.0, failure};
    }
    return {top[-1], core::kOk};
}

}  // namespace tallymat::eval
