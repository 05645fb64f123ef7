// Postfix evaluation over a fixed value stack.
#pragma once

#include <cstdint>

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

struct Outcome {
    double value;  // 0.0 on failure
    int32_t code;  // 0, 11, 13, 14, 15 or 16
};

// Runs the items of a finished program; no handle or staleness checks.
Outcome run_program(const translate::Slot& slot);

// a ** b: b truncated toward zero, every bit of its magnitude (capped at
// 2^63) used in square-and-multiply.
double integer_power(double base, double exponent);

}  // namespace tallymat::eval
