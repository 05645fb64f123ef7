// What machine code calls, by operator: the operator helpers (the same
// operator code as the interpreter, with its refusal and the math error
// flag turned into a code) and the standard functions the guarded math
// entries end in.  Generated from the operator table, so every operator
// has the helper of its own code.  No instruction set here.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "core/fp_environment.hpp"
#include "elementary/elementary.hpp"
#include "eval/operations.hpp"
#include "program/program.hpp"

namespace tallymat::eval::jit_callees {

using program::Binary;
using program::Lowering;
using program::Operator;
using program::Unary;

// (Their double arguments come in SSE registers on 32-bit x86 too.)  In
// the 32-bit DLL, where the operator code passes doubles through st(0),
// each keeps the host's x87 state itself: code whose only calls are theirs
// runs outside the switch of the x87 unit (entries.cpp).
template <Binary kCode>
TALLYMAT_SSE_CALL int32_t binary_step(double* a, double b) {
#if TALLYMAT_FP_ENV_X87
    core::X87Kept x87_kept;
#endif
    return failure_of(program::operator_of(kCode), apply_binary(kCode, *a, b));
}

template <Unary kCode>
int32_t unary_step(double* x) {
#if TALLYMAT_FP_ENV_X87
    core::X87Kept x87_kept;
#endif
    return failure_of(program::operator_of(kCode), apply_unary(kCode, *x));
}

using BinaryStep = int32_t(TALLYMAT_SSE_CALL*)(double*, double);
using UnaryStep = int32_t (*)(double*);
using StandardFunction = double(TALLYMAT_SSE_CALL*)(double);
using StandardMember = StandardFunction elementary::ElementaryFunctions::*;

// Where the code has checked that no rule of the entry can fire (the
// interpreter's own refusals included), it calls the standard function
// directly; every other argument takes the helper.
template <Unary>
inline constexpr StandardMember kStandardFunction = nullptr;
template <> inline constexpr StandardMember kStandardFunction<Unary::kSin> = &elementary::ElementaryFunctions::sin;
template <> inline constexpr StandardMember kStandardFunction<Unary::kCos> = &elementary::ElementaryFunctions::cos;
template <> inline constexpr StandardMember kStandardFunction<Unary::kTan> = &elementary::ElementaryFunctions::tan;
template <> inline constexpr StandardMember kStandardFunction<Unary::kExp> = &elementary::ElementaryFunctions::exp;
template <> inline constexpr StandardMember kStandardFunction<Unary::kLn> = &elementary::ElementaryFunctions::log;
template <> inline constexpr StandardMember kStandardFunction<Unary::kLg> = &elementary::ElementaryFunctions::log10;
template <> inline constexpr StandardMember kStandardFunction<Unary::kArcsin> = &elementary::ElementaryFunctions::asin;
template <> inline constexpr StandardMember kStandardFunction<Unary::kArccos> = &elementary::ElementaryFunctions::acos;
template <> inline constexpr StandardMember kStandardFunction<Unary::kArctg> = &elementary::ElementaryFunctions::atan;

constexpr bool calls_a_standard_function(Lowering lowering) {
    switch (lowering) {
        case Lowering::PeriodicCall: case Lowering::LogarithmCall: case Lowering::ArcCall: case Lowering::ExpCall:
        case Lowering::Call:
            return true;
        case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
        case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power: case Lowering::Helper:
        case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot: case Lowering::Sign:
        case Lowering::Ez: case Lowering::Nothing:
            return false;
    }
    return false;
}

struct Callee {
    BinaryStep binary = nullptr;
    UnaryStep unary = nullptr;
    StandardMember standard = nullptr;
};

template <int kRow>
constexpr Callee callee_of_row() {
    constexpr program::OperatorInfo row = program::kOperators[kRow];
    if constexpr (row.arity == 2) {
        return {binary_step<program::as_binary(row.code)>, nullptr, nullptr};
    } else {
        constexpr StandardMember standard = kStandardFunction<program::as_unary(row.code)>;
        static_assert(!calls_a_standard_function(row.lowering) || standard != nullptr,
                      "an operator lowered to a call of its standard function names none in kStandardFunction");
        return {nullptr, unary_step<program::as_unary(row.code)>, standard};
    }
}

template <size_t... kRows>
constexpr std::array<Callee, sizeof...(kRows)> callees_of(std::index_sequence<kRows...>) {
    return {callee_of_row<static_cast<int>(kRows)>()...};
}

inline constexpr auto kCallees = callees_of(std::make_index_sequence<program::kOperatorCount>());

inline const void* binary_helper(Operator code) {
    return reinterpret_cast<const void*>(kCallees[program::operator_row(code)].binary);
}
inline const void* unary_helper(Operator code) {
    return reinterpret_cast<const void*>(kCallees[program::operator_row(code)].unary);
}
inline const void* standard_function(Operator code, const elementary::ElementaryFunctions& functions) {
    StandardMember standard = kCallees[program::operator_row(code)].standard;
    return reinterpret_cast<const void*>(functions.*standard);
}
inline const void* standard_pow(const elementary::ElementaryFunctions& functions) {
    return reinterpret_cast<const void*>(functions.pow);
}

}  // namespace tallymat::eval::jit_callees
