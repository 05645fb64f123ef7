// The operators' code on x86-64: one emitter per lowering of the operator
// table, with the slow paths that take rare arguments to the operator's
// helper, and the fast form's operands resolved to registers and
// addresses.  Which lowering an instruction takes is the walk's choice
// (walk.hpp); this is where each becomes instructions.
#pragma once

#include <deque>
#include <type_traits>

#include "core/cpu_features.hpp"
#include "elementary/functions.hpp"
#include "eval/jit/callees.hpp"
#include "eval/jit/operand.hpp"
#include "eval/jit/x86/frame_writer.hpp"
#include "eval/math_layer.hpp"
#include "eval/operations.hpp"

namespace tallymat::eval::x86 {

using program::Lowering;
using program::Operator;

class OperatorWriter : public FrameWriter {
public:
    using FrameWriter::FrameWriter;

    // roundsd (SSE4.1) takes floor's place in div and mod where the CPU has it.
    bool floors_by_instruction() const { return floor_by_instruction_; }

    // The standard functions the code calls: the library's, run in its
    // MXCSR, or, in code that rounds per instruction, those that round in
    // their own instructions (null where the build lacks them).
    const elementary::ElementaryFunctions* standard_functions() const {
        return rounds_per_instruction() ? elementary::own_rounding_functions() : &elementary::elementary_functions;
    }

    // ---- operands ----
    void load(const Operand& operand) { forms().load_sd(acc(), address_of(operand)); }

    // ---- each lowering ----
    // acc = acc (+ - * /) right
    void arithmetic(Lowering lowering, const Operand& right) {
        with_right(right, [&](const auto& r, const FastInsn* k) { arithmetic(lowering, acc(), r, k); });
    }
    void floored(Lowering lowering, const Operand& right) {
        with_right(right, [&](const auto& r, const FastInsn* k) { floored(lowering, r, k); });
    }
    void binary_helper_call(Operator code, const Operand& right) {
        with_right(right, [&](const auto& r, const FastInsn*) { call_binary_helper(jit_callees::binary_helper(code), r); });
    }
    void negate() { forms().xor_pd(acc(), mask(0x8000000000000000u)); }
    void absolute() { forms().and_pd(acc(), mask(0x7fffffffffffffffu)); }
    void square_root() {
        // The evaluator refuses x < 0 and NaN (kDomain); -0 and +0 are their own roots.
        forms().compare_with(acc(), 0.0);
        jb(refuse_domain_, T_NEAR);  // below or unordered
        forms().rounded(Rounded::kSquareRoot, acc(), acc());
    }
    void sign() { forms().sign(acc(), scratch(), second_scratch(), kZeroBandHalf); }
    void ez() { forms().ez(acc(), kZeroBandHalf); }
    void unary_helper_call(Operator code) { call_unary_helper(jit_callees::unary_helper(code)); }
    void guarded_call(Lowering lowering, Operator code);
    void power_by_constant(double k);
    void square();

    // acc = X op Y (+ - * /), and acc = acc outer (X inner Y)
    void fused(Lowering lowering, const Operand& x, const Operand& y) {
        forms().load_sd(acc(), address_of(x));
        arithmetic(lowering, acc(), address_of(y), constant_of(y));
    }
    void applied(Lowering outer, Lowering inner, const Operand& x, const Operand& y) {
        Xmm into = scratch();
        forms().load_sd(into, address_of(x));
        arithmetic(inner, into, address_of(y), constant_of(y));
        arithmetic(outer, acc(), into, nullptr);
    }

protected:
    void slow_path_code();

private:
    const bool floor_by_instruction_ = jit_settings.floor_by_instruction && core::cpu_features.sse41;

    // A helper call taken only for rare arguments, placed behind the code
    // so that the common path runs straight through.
    struct SlowPath {
        Label entry, back;
        int depth;
        Operator code;          // the unary operator, or kPow
        double exponent = 2.0;  // kPow's constant exponent
    };
    std::deque<SlowPath> slow_paths_;

    Address address_of(const Operand& operand) {
        return operand.is_variable() ? variable(operand.insn->p) : constant(operand.insn->k);
    }
    static const FastInsn* constant_of(const Operand& operand) { return operand.is_constant() ? operand.insn : nullptr; }

    // Calls f(right, constant_right) with the right operand where it lies:
    // the entry below the accumulator (which the operator pops), or a
    // constant or variable operand of the instruction.
    template <typename F>
    void with_right(const Operand& right, F&& f) {
        if (right.is_stack()) {
            Xmm entry = acc();
            pop_entry();
            f(entry, nullptr);
        } else {
            f(address_of(right), constant_of(right));
        }
    }

    // left = left (+ - * /) right: the hardware's own operation, left
    // operand first, so a NaN travels as the interpreter's does.  A divisor
    // is checked as the interpreter checks it: zero or NaN refuses.
    template <typename Right>
    void arithmetic(Lowering lowering, const Xmm& left, const Right& right, const FastInsn* constant_right) {
        switch (lowering) {
            case Lowering::Add: forms().rounded(Rounded::kAdd, left, right); return;
            case Lowering::Subtract: forms().rounded(Rounded::kSubtract, left, right); return;
            case Lowering::Multiply: forms().rounded(Rounded::kMultiply, left, right); return;
            case Lowering::Divide: divide(left, right, constant_right); return;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call: case Lowering::Nothing:
                return;  // the fast form fuses + - * / alone
        }
    }

    // Refuses a zero or NaN divisor in a register, as the interpreter does.
    void refuse_zero_divisor(const Xmm& divisor) {
        forms().compare_with(divisor, 0.0);
        je(refuse_division_, T_NEAR);  // equal or unordered
    }

    template <typename Right>
    void divide(const Xmm& left, const Right& right, const FastInsn* constant_right) {
        if (constant_right) {
            if (is_zero_divisor(constant_right->k)) jmp(refuse_division_, T_NEAR);
            else forms().rounded(Rounded::kDivide, left, right);
            return;
        }
        if constexpr (std::is_same_v<Right, Xmm>) {
            refuse_zero_divisor(right);
            forms().rounded(Rounded::kDivide, left, right);
        } else {
            forms().load_sd(second_scratch(), right);
            refuse_zero_divisor(second_scratch());
            forms().rounded(Rounded::kDivide, left, second_scratch());
        }
    }

    // acc = floor(a / b) (div) or a - floor(a / b) * b (mod), the
    // interpreter's operations in its order, with roundsd as floor; a
    // divisor is refused as the interpreter refuses it.
    template <typename Right>
    void floored(Lowering lowering, const Right& right, const FastInsn* constant_right) {
        if (constant_right && is_zero_divisor(constant_right->k)) {
            jmp(refuse_division_, T_NEAR);
            return;
        }
        Xmm divisor = second_scratch(), quotient = scratch();
        if constexpr (std::is_same_v<Right, Xmm>) divisor = right;
        else forms().load_sd(divisor, right);
        if (!constant_right) refuse_zero_divisor(divisor);
        if (lowering == Lowering::FlooredQuotient) {
            forms().floor_of_quotient(acc(), acc(), divisor, quotient);
            return;
        }
        forms().floor_of_quotient(quotient, acc(), divisor, quotient);
        forms().rounded(Rounded::kMultiply, quotient, divisor);
        forms().rounded(Rounded::kSubtract, acc(), quotient);
    }

    // Opens a slow path from here: the common path jumps to the returned
    // label for the rare arguments and resumes at rejoin().
    Label& slow_path(Operator code, double exponent = 2.0) {
        SlowPath& path = slow_paths_.emplace_back();
        path.depth = depth();
        path.code = code;
        path.exponent = exponent;
        return path.entry;
    }

    // Where the slow path just opened comes back.  Its helper call may have
    // overwritten the registers holding variable cells.
    void rejoin() {
        L(slow_paths_.back().back);
        forget_cells();
    }

    // Jumps to `away` unless the accumulator's biased exponent lies in
    // [low, high): one unsigned compare of its bits, which sends zeros,
    // subnormals, infinities and NaNs away with the rest.  kEitherSign
    // shifts the sign out first; kPositiveOnly keeps it, so that any
    // negative value lands far above the range.
    static constexpr bool kEitherSign = true, kPositiveOnly = false;
    void leave_unless_exponent_in(uint32_t low, uint32_t high, bool either_sign, Label& away);

    // The interpreter's refusals, then the arguments for which the guarded
    // entry's rules may fire (to the helper), before the standard function.
    void guard(Lowering lowering, Operator code);
};

}  // namespace tallymat::eval::x86
