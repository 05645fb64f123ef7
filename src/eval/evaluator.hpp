// Postfix evaluation over a fixed value stack.
#pragma once

#include <cstdint>

#include "eval/operations.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

// A program from a successful translation never needs more: at most one
// value more than the binary operators pending at once on the translator's
// 99-entry operator stack.
inline constexpr int32_t kValueStackSize = 100;

struct ValueStack {
    double values[kValueStackSize];
};

extern ValueStack value_stack;

// The plain evaluation: one pass over the postfix items, as they define the
// result.  calcpost runs the fast form instead; tests hold the two equal.
Outcome run_program(const translate::Slot& slot);

}  // namespace tallymat::eval
