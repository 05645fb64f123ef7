// Deriving and running the fast form of a program (its layout: translate/program.hpp).
#pragma once

#include "translate/program.hpp"

namespace tallymat::translate {
struct Slot;
}

namespace tallymat::eval {

// Writes the fast form of the slot's finished program behind its items.
void derive_fast_program(translate::Slot& slot);

struct Outcome;
// Runs a fast form to its value or its first failure.
Outcome run_fast_program(const FastInsn* code);

}  // namespace tallymat::eval
