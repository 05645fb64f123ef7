// The fixed value stack evaluation keeps its pending operands in.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"

namespace tallymat::eval {

// A program from a successful translation never needs more: at most one
// value more than the binary operators pending at once on the translator's
// 99-entry operator stack.
inline constexpr int32_t kValueStackSize = 100;

struct ValueStack {
    double values[kValueStackSize];
};

extern TALLYMAT_HIDDEN ValueStack value_stack;

}  // namespace tallymat::eval
