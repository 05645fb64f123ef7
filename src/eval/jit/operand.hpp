// An operand of a fast instruction as the walk hands it to a target: the
// entry below the accumulator, or the constant or variable of an
// instruction slot.  No instruction set here.
#pragma once

#include <cstdint>

#include "program/instruction_set.hpp"

namespace tallymat::eval {

using program::FastInsn;

struct Operand {
    enum class Kind : uint8_t { kStack, kConstant, kVariable };
    Kind kind;
    const FastInsn* insn;  // the slot holding k or p; null for the stack

    static Operand stack() { return {Kind::kStack, nullptr}; }
    static Operand of(const FastInsn* insn, bool is_variable) {
        return {is_variable ? Kind::kVariable : Kind::kConstant, insn};
    }
    bool is_stack() const { return kind == Kind::kStack; }
    bool is_constant() const { return kind == Kind::kConstant; }
    bool is_variable() const { return kind == Kind::kVariable; }
};

}  // namespace tallymat::eval
