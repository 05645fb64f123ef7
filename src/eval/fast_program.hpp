// Deriving and running the fast form of a program (its instruction set: translate/instruction_set.hpp).
#pragma once

#include <type_traits>

#include "translate/instruction_set.hpp"

namespace tallymat::translate {
struct Slot;
}

namespace tallymat::eval {

// Writes the fast form of the slot's finished program behind its items.
void derive_fast_program(translate::Slot& slot);

// What a run gives: the value, or 0.0 and the first failure's code.
struct Outcome {
    double value;  // 0.0 on failure
    int32_t code;  // 0, 11, 13, 14, 15 or 16
};

// Runs a fast form.  For the host (calcpost): in the library's
// floating-point environment, with the outcome recorded in the last error,
// giving the value or 0.0 on failure.  Otherwise (the tests) it gives the
// value or the first failure's code.  Both are instantiated in fast_program.cpp.
template <bool kForHost>
std::conditional_t<kForHost, double, Outcome> run(const FastInsn* code);
extern template double run<true>(const FastInsn* code);
extern template Outcome run<false>(const FastInsn* code);

inline Outcome run_fast_program(const FastInsn* code) { return run<false>(code); }

}  // namespace tallymat::eval
