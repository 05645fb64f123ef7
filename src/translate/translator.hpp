// Infix-to-postfix translation: the state exprpost keeps between calls.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"
#include "program/program.hpp"

namespace tallymat::translate {

inline constexpr int32_t kOperatorStackSize = 100;  // the base marker and 99 pending entries
inline constexpr program::Operator kBaseMarker{1};           // equals no operator code
inline constexpr program::Operator kOpenBracket{'('};        // a "(" waiting for its ")"

struct OperatorStack {
    program::Operator entries[kOperatorStackSize];
    int32_t top;  // index of the top entry; 0 holds the base marker
};

extern TALLYMAT_HIDDEN OperatorStack operator_stack;

// Translates a text into the lowest free slot (its index in *index); 0, or
// the code of the first failure with the error offset where it stopped.
int32_t translate_formula(const char* text, int32_t* index);

// The function a name stands for (case-insensitive, whole word), or null.
const program::OperatorInfo* function_named(const char* name);

}  // namespace tallymat::translate
