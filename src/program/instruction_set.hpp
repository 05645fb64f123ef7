// The instruction set of the fast form, read by the builder, the
// interpreter, the compiler and the tests: one list of opcodes with their
// facts, the instruction layout, and the lookup of an opcode by its facts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "program/program.hpp"

// The fast form of a program: derived once from the postfix items when a
// translation succeeds, and run by calcpost.
//
// The running value (the top of the postfix stack) stays in a local, the
// accumulator; the rest of the stack lives in the value stack.  Operands
// that are constants or variables are folded into the instruction that uses
// them, and operators that can never fail are applied to constants at
// translation time.  Every instruction does what the postfix items it
// stands for do, in the same order, so values and codes are the same bits.
namespace tallymat::program {

// The fast form's opcodes, in one list of their facts: the enum, the names,
// the builder's choice of form, the interpreter's handlers, the compiler's
// decoding and the test dump all read it, never the opcodes' order.
//
// Each row is X(name, shape, operands, operator, inner).  Operands: "K"
// takes a constant k, "V" a variable cell p; "Stack" pops the left operand
// and the accumulator is the right one; a pair (VV, VK, KV) holds the
// second operand in the following slot (an Operand row), so the
// instruction takes two slots.
//
//   End                        return acc
//   Operand                    the second operand of a paired instruction; never dispatched
//   Load  K|V                  acc = k or *p (the stack is empty)
//   Push  K|V                  push acc; acc = k or *p
//   Binary Stack               acc = pop() op acc
//   Binary K|V                 acc = acc op k or acc op *p
//   Unary                      acc = op(acc)
//   Square                     acc = acc ^ 2, the power operator with the constant exponent 2
//   FusedLoad pair             acc = X op Y (+ - * /)
//   FusedPush pair             push acc; then as FusedLoad
//   Apply pair                 acc = acc op (X inner Y): a binary operator whose
//                              right operand a FusedPush computes, so the push
//                              and the pop both go
//
// The names are pasted together from these parts, so most appear nowhere
// whole in the source: an operator's own rows are its name and the name
// with K or V (Div, DivK, DivV); the fused ones are Load or Push, the pair
// and the operator (LoadVKMul: acc = *p * k; PushKVSub: push acc, then
// acc = k - *p); the applied ones Apply, the outer operator, the pair and
// the inner one (ApplyMulVKAdd: acc = acc * (*p + k)).  The enum prefixes k.
#define TALLYMAT_BINARY_FORMS(X, name, code)                                        \
    X(name, Binary, Stack, code, kNoOperator) X(name##K, Binary, K, code, kNoOperator) \
        X(name##V, Binary, V, code, kNoOperator)
// Four rows, one per arithmetic operator: M(op) gives the row's operator
// and inner operator (expanded before X sees its arguments).
#define TALLYMAT_ROW(X, ...) X(__VA_ARGS__)
#define TALLYMAT_FOUR(X, name, shape, pair, M)                                                        \
    TALLYMAT_ROW(X, name##Add, shape, pair, M(Operator::kAdd))                                   \
    TALLYMAT_ROW(X, name##Sub, shape, pair, M(Operator::kSub))                                   \
    TALLYMAT_ROW(X, name##Mul, shape, pair, M(Operator::kMul))                                   \
    TALLYMAT_ROW(X, name##Div, shape, pair, M(Operator::kDiv))
#define TALLYMAT_FUSED_OPERATOR(op) op, kNoOperator
#define TALLYMAT_FUSED_FORMS(X, shape, prefix)                                                        \
    TALLYMAT_FOUR(X, prefix##VV, shape, VV, TALLYMAT_FUSED_OPERATOR)                                  \
    TALLYMAT_FOUR(X, prefix##VK, shape, VK, TALLYMAT_FUSED_OPERATOR)                                  \
    TALLYMAT_FOUR(X, prefix##KV, shape, KV, TALLYMAT_FUSED_OPERATOR)
#define TALLYMAT_APPLY_ADD(inner) Operator::kAdd, inner
#define TALLYMAT_APPLY_SUB(inner) Operator::kSub, inner
#define TALLYMAT_APPLY_MUL(inner) Operator::kMul, inner
#define TALLYMAT_APPLY_DIV(inner) Operator::kDiv, inner
#define TALLYMAT_APPLY_FORMS(X, outer_name, OUTER)                                                    \
    TALLYMAT_FOUR(X, Apply##outer_name##VV, Apply, VV, OUTER)                                         \
    TALLYMAT_FOUR(X, Apply##outer_name##VK, Apply, VK, OUTER)                                         \
    TALLYMAT_FOUR(X, Apply##outer_name##KV, Apply, KV, OUTER)
// Every binary operator has its three plain forms and every one-argument
// operator its instruction, straight from the operator lists.
#define TALLYMAT_BINARY_OPCODES(X, Name, ...) TALLYMAT_BINARY_FORMS(X, Name, Operator::k##Name)
#define TALLYMAT_UNARY_OPCODE(X, Name, ...) X(Name, Unary, None, Operator::k##Name, kNoOperator)
#define TALLYMAT_FAST_OPS(X)                                                                          \
    X(End, End, None, kNoOperator, kNoOperator) X(Operand, Operand, None, kNoOperator, kNoOperator)   \
    X(LoadK, Load, K, kNoOperator, kNoOperator) X(LoadV, Load, V, kNoOperator, kNoOperator)          \
    X(PushK, Push, K, kNoOperator, kNoOperator) X(PushV, Push, V, kNoOperator, kNoOperator)          \
    TALLYMAT_BINARY_OPERATORS(TALLYMAT_BINARY_OPCODES, X)                                            \
    TALLYMAT_UNARY_OPERATORS(TALLYMAT_UNARY_OPCODE, X)                                               \
    X(Square, Square, None, Operator::kPow, kNoOperator)                                                  \
    TALLYMAT_FUSED_FORMS(X, FusedLoad, Load) TALLYMAT_FUSED_FORMS(X, FusedPush, Push)                \
    TALLYMAT_APPLY_FORMS(X, Add, TALLYMAT_APPLY_ADD) TALLYMAT_APPLY_FORMS(X, Sub, TALLYMAT_APPLY_SUB)    \
    TALLYMAT_APPLY_FORMS(X, Mul, TALLYMAT_APPLY_MUL) TALLYMAT_APPLY_FORMS(X, Div, TALLYMAT_APPLY_DIV)

// The operator column of instructions that apply none.
inline constexpr Operator kNoOperator{};

enum FastOp : uint8_t {
#define TALLYMAT_ENUM_ENTRY(name, ...) k##name,
    TALLYMAT_FAST_OPS(TALLYMAT_ENUM_ENTRY)
#undef TALLYMAT_ENUM_ENTRY
    kFastOpCount
};

enum class Shape : uint8_t { End, Operand, Load, Push, Binary, Unary, Square, FusedLoad, FusedPush, Apply };
enum class Operands : uint8_t { None, Stack, K, V, VV, VK, KV };

struct FastOpFacts {
    const char* name;
    Shape shape;
    Operands operands;
    // The operator it applies (FusedLoad, FusedPush: the one between X and Y;
    // Apply: the outer one).
    Operator op;
    Operator inner;  // Apply: the operator between X and Y
};

inline constexpr FastOpFacts kFastOps[] = {
#define TALLYMAT_FACTS_ENTRY(name, shape, operands, code, inner) {#name, Shape::shape, Operands::operands, code, inner},
    TALLYMAT_FAST_OPS(TALLYMAT_FACTS_ENTRY)
#undef TALLYMAT_FACTS_ENTRY
};
static_assert(std::size(kFastOps) == kFastOpCount);

// Every opcode in a program is one the builder wrote.
constexpr const FastOpFacts& facts(FastOp code) { return kFastOps[code]; }

// The opcode's name as the list spells it, for dumps and messages.
inline const char* fast_op_name(FastOp code) { return code < kFastOpCount ? kFastOps[code].name : "?"; }

constexpr bool is_pair(Operands operands) {
    return operands == Operands::VV || operands == Operands::VK || operands == Operands::KV;
}
// Slots an instruction takes: two for a pair of operands.
constexpr int width(FastOp code) { return is_pair(facts(code).operands) ? 2 : 1; }
// Whether the first and the second operand of an instruction are variables.
constexpr bool first_is_variable(Operands operands) {
    return operands == Operands::V || operands == Operands::VV || operands == Operands::VK;
}
constexpr bool second_is_variable(Operands operands) {
    return operands == Operands::VV || operands == Operands::KV;
}

// Aligned to 8 everywhere: 32-bit x86 would align its double to 4 in a struct.
struct alignas(8) FastInsn {
    FastOp op;
    union {
        double k;
        const double* p;
    };
};
static_assert(sizeof(FastInsn) == 16, "with a 12-byte item, 28 bytes per item of a translated program");

// The stack's depth after an instruction, the accumulator's (0 when it
// holds one entry), from the depth before it.
constexpr int depth_after(const FastOpFacts& f, int depth) {
    switch (f.shape) {
        case Shape::Load: case Shape::FusedLoad: return 0;
        case Shape::Push: case Shape::FusedPush: return depth + 1;
        case Shape::Binary: return f.operands == Operands::Stack ? depth - 1 : depth;
        case Shape::End: case Shape::Operand: case Shape::Unary: case Shape::Square: case Shape::Apply: return depth;
    }
    return depth;
}

// The deepest a fast program's stack goes.
inline int deepest_depth(const FastInsn* code) {
    int depth = -1, deepest = 0;
    for (const FastInsn* ip = code; ip->op != kEnd; ip += width(ip->op)) {
        depth = depth_after(facts(ip->op), depth);
        if (depth > deepest) deepest = depth;
    }
    return deepest;
}

// Room for the fast form of a program of up to capacity items (one more for kEnd).
inline size_t fast_program_bytes(int32_t capacity) {
    return (static_cast<size_t>(capacity) + 1) * sizeof(FastInsn);
}

}  // namespace tallymat::program

namespace tallymat::program {

// The opcodes by their facts, for the builder: kFastOpCount where the list
// has no such form.
// Strides are powers of two, so that a lookup is shifts and one load.
struct FormTable {
    static constexpr int kShapes = 16, kOperandKinds = 8, kPairs = 4, kRows = 32;
    static_assert(static_cast<int>(Shape::Apply) < kShapes && static_cast<int>(Operands::KV) < kOperandKinds &&
                  program::kOperatorCount <= kRows);
    FastOp of[kShapes][kOperandKinds][kRows];
    FastOp apply[kRows][kPairs][kRows];  // outer, pair (VV, VK, KV), inner
};

constexpr int pair_index(Operands pair) { return static_cast<int>(pair) - static_cast<int>(Operands::VV); }

inline constexpr FormTable kForms = [] {
    FormTable table{};
    for (auto& by_operands : table.of)
        for (auto& by_row : by_operands)
            for (FastOp& form : by_row) form = kFastOpCount;
    for (auto& by_pair : table.apply)
        for (auto& by_inner : by_pair)
            for (FastOp& form : by_inner) form = kFastOpCount;
    for (int c = 0; c < kFastOpCount; ++c) {
        const FastOpFacts& f = kFastOps[c];
        if (f.op == kNoOperator) continue;
        if (program::operator_row(f.op) < 0) throw "an opcode applies an operator the operator table lacks";
        if (f.shape == Shape::Apply)
            table.apply[program::operator_row(f.op)][pair_index(f.operands)][program::operator_row(f.inner)] =
                static_cast<FastOp>(c);
        else
            table.of[static_cast<int>(f.shape)][static_cast<int>(f.operands)][program::operator_row(f.op)] =
                static_cast<FastOp>(c);
    }
    return table;
}();

// The opcode of the given shape and operands that applies code, if any.
constexpr FastOp form_of(Shape shape, Operands operands, Operator code) {
    return kForms.of[static_cast<int>(shape)][static_cast<int>(operands)][program::operator_row(code)];
}

// acc = acc outer (X inner Y), X and Y as the pair says, if the list has it.
constexpr FastOp apply_form_of(Operator outer, Operands pair, Operator inner) {
    return kForms.apply[program::operator_row(outer)][pair_index(pair)][program::operator_row(inner)];
}

// Every operator that runs has its instructions: forgetting a row of the
// list fails here rather than at run time.
constexpr bool every_operator_has_its_forms() {
    for (const OperatorInfo& row : program::kOperators) {
        if (!row.runs()) continue;
        if (row.arity == 1 && form_of(Shape::Unary, Operands::None, row.code) == kFastOpCount) return false;
        if (row.arity == 2)
            for (Operands operands : {Operands::Stack, Operands::K, Operands::V})
                if (form_of(Shape::Binary, operands, row.code) == kFastOpCount) return false;
    }
    return true;
}
static_assert(every_operator_has_its_forms(), "an operator lacks a row in TALLYMAT_FAST_OPS");

}  // namespace tallymat::program
