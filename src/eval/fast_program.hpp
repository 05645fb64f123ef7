// Deriving and running the fast form of a program (its instruction set: program/instruction_set.hpp).
#pragma once

#include <type_traits>

#include "core/visibility.hpp"
#include "program/instruction_set.hpp"

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

// Who a run of the fast form is for: the host (calcpost) gets the value,
// computed in the library's floating-point environment, with the outcome
// recorded in the last error; the tests get the value or the first
// failure's code.
enum class RunFor : bool { kTests, kHost };

template <RunFor kFor>
TALLYMAT_SSE_CALL std::conditional_t<kFor == RunFor::kHost, double, Outcome> run_fast_form(const program::FastInsn* code);
extern template TALLYMAT_SSE_CALL double run_fast_form<RunFor::kHost>(const program::FastInsn* code);
extern template Outcome run_fast_form<RunFor::kTests>(const program::FastInsn* code);

TALLYMAT_SSE_CALL inline double run_for_host(const program::FastInsn* code) { return run_fast_form<RunFor::kHost>(code); }
inline Outcome run_fast_program(const program::FastInsn* code) { return run_fast_form<RunFor::kTests>(code); }

}  // namespace tallymat::eval
