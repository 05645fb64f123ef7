// The fixed value stack evaluation keeps its pending operands in.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"
#include "translate/translator.hpp"

namespace tallymat::eval {

// A program from a successful translation never needs more: at most one
// value more than the binary operators pending at once on the translator's
// operator stack (99 entries above its base marker).
inline constexpr int32_t kMostPendingOperators = translate::kOperatorStackSize - 1;
inline constexpr int32_t kValueStackSize = kMostPendingOperators + 1;
static_assert(kValueStackSize == 100, "the value stack holds 100 values, as the operator stack's bound allows");

struct ValueStack {
    double values[kValueStackSize];
};

extern TALLYMAT_HIDDEN ValueStack value_stack;

}  // namespace tallymat::eval
