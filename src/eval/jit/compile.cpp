// Machine code from the fast form (see jit.hpp).
//
// The generated function ignores its argument (the slot index every entry
// takes) and returns the value in xmm0, as calcpost does; it switches MXCSR
// as the interpreter's run does (or, rounding per instruction, leaves it
// alone) and writes the code of a failure to the last error (calcpost sets
// it to 0 before the call).  Each stack entry
// lives in a register of its own.  Constants and helper addresses come from a pool
// behind the code, read RIP-relative: no formula value becomes an
// instruction immediate.  Variable values are read where they live, in the
// variable table, from the instruction itself when the code was mapped
// within reach of them.  The code is generated in place into a writable
// mapping, which is then made read-and-execute: it is never writable and
// executable at once.
//
// Layers, each reading the one below: the calling convention's description
// (jit_target.hpp); the pool and the frame, exits, stack registers and
// calls (jit_code_writer.hpp); the operators' lowering (OperatorWriter) and
// the walk over the fast form (Generator), here.
#include "eval/jit/jit.hpp"

#include "core/cpu_features.hpp"
#include "core/errors.hpp"

namespace tallymat::eval {

using namespace program;  // the instruction set is what the evaluator runs

constinit JitSettings jit_settings{};

}  // namespace tallymat::eval

#if !TALLYMAT_JIT

namespace tallymat::eval {
MachineCode compile(const FastInsn*, CompiledCode) { return {}; }
CodeMapping compile_switching(const FastInsn*) { return {}; }
void free_machine_code(MachineCode& machine_code) { machine_code = {}; }
}  // namespace tallymat::eval

#else

#include <array>
#include <utility>

#include "eval/jit/jit_code_writer.hpp"
#include "eval/operations.hpp"
#include "vars/var_table.hpp"

namespace tallymat::eval {

namespace {

using namespace jit_writer;
using program::Binary;
using program::Lowering;
using program::Operator;
using program::Unary;
using executable_memory::whole_pages;

// The operator helpers the code calls: the same operator code as the
// interpreter, with its refusal and the math error flag turned into a code.
template <Binary kCode>
int32_t binary_step(double* a, double b) {
    return failure_of(program::operator_of(kCode), apply_binary(kCode, *a, b));
}

template <Unary kCode>
int32_t unary_step(double* x) {
    return failure_of(program::operator_of(kCode), apply_unary(kCode, *x));
}

using BinaryStep = int32_t (*)(double*, double);
using UnaryStep = int32_t (*)(double*);
using StandardFunction = double (*)(double);
using StandardMember = StandardFunction elementary::ElementaryFunctions::*;

// The standard functions the guarded math entries end in, for the
// operators lowered to a call of one.  Where the code has checked that no
// rule of the entry can fire (the interpreter's own refusals included), it
// calls the function directly; every other argument takes the helper.
template <Unary>
constexpr StandardMember kStandardFunction = nullptr;
template <> constexpr StandardMember kStandardFunction<Unary::kSin> = &elementary::ElementaryFunctions::sin;
template <> constexpr StandardMember kStandardFunction<Unary::kCos> = &elementary::ElementaryFunctions::cos;
template <> constexpr StandardMember kStandardFunction<Unary::kTan> = &elementary::ElementaryFunctions::tan;
template <> constexpr StandardMember kStandardFunction<Unary::kExp> = &elementary::ElementaryFunctions::exp;
template <> constexpr StandardMember kStandardFunction<Unary::kLn> = &elementary::ElementaryFunctions::log;
template <> constexpr StandardMember kStandardFunction<Unary::kLg> = &elementary::ElementaryFunctions::log10;
template <> constexpr StandardMember kStandardFunction<Unary::kArcsin> = &elementary::ElementaryFunctions::asin;
template <> constexpr StandardMember kStandardFunction<Unary::kArccos> = &elementary::ElementaryFunctions::acos;
template <> constexpr StandardMember kStandardFunction<Unary::kArctg> = &elementary::ElementaryFunctions::atan;

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

// Each operator's helper and standard function, by its row of the
// operator table: generated from the table, so every operator has the
// helper of its own code.
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

constexpr auto kCallees = callees_of(std::make_index_sequence<program::kOperatorCount>());

const void* binary_helper(Operator code) {
    return reinterpret_cast<const void*>(kCallees[program::operator_row(code)].binary);
}
const void* unary_helper(Operator code) {
    return reinterpret_cast<const void*>(kCallees[program::operator_row(code)].unary);
}
const void* standard_function(Operator code) {
    StandardMember standard = kCallees[program::operator_row(code)].standard;
    return reinterpret_cast<const void*>(elementary::elementary_functions.*standard);
}

// Bytes of code and pool per fast instruction, enough for the widest: a
// function call at the deepest stack, with every register spilled and
// reloaded around it on the straight path and again on its slow path
// (about 500 bytes).  Unused pages are given back after generation.
constexpr size_t kBytesPerInstruction = 640;

// The operators' code: the lowering of each operator row, with the slow
// paths that take rare arguments to the operator's helper.
class OperatorWriter : public FrameWriter {
public:
    using FrameWriter::FrameWriter;

protected:
    // roundsd (SSE4.1) takes floor's place in div and mod where the CPU has
    // it (read at load: Xbyak's Cpu() runs CPUID anew, about 130 us in a
    // virtual machine).
    const bool floor_by_instruction_ = jit_settings.floor_by_instruction && core::cpu_features.sse41;

    // Whether an operator calls out on the straight path: the square calls
    // only on its slow path.
    bool calls_on_straight_path(Operator code) const {
        switch (program::operator_info(code).lowering) {
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot: case Lowering::Sign:
            case Lowering::Ez: case Lowering::Nothing:
                return false;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder:
                return !floor_by_instruction_;
            case Lowering::Power: case Lowering::Helper: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call:
                return true;
        }
        return true;
    }

    // left = left (code) right, for + - * /: the hardware's own operation,
    // left operand first, so a NaN travels as the interpreter's does.  A
    // divisor is checked as the interpreter checks it: zero or NaN refuses.
    template <typename Right>
    void arithmetic(Operator code, const Xmm& left, const Right& right, const FastInsn* constant_right = nullptr) {
        switch (program::operator_info(code).lowering) {
            case Lowering::Add: rounded(Rounded::kAdd, left, right); return;
            case Lowering::Subtract: rounded(Rounded::kSubtract, left, right); return;
            case Lowering::Multiply: rounded(Rounded::kMultiply, left, right); return;
            case Lowering::Divide: divide(left, right, constant_right); return;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call: case Lowering::Nothing:
                return;  // the fast form fuses + - * / alone
        }
    }

    // acc = acc (code) right
    template <typename Right>
    void binary(Operator code, const Right& right, const FastInsn* constant_right = nullptr) {
        switch (program::operator_info(code).lowering) {
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
                arithmetic(code, acc(), right, constant_right);
                return;
            case Lowering::Power:
                if (constant_right) return power_by_constant(constant_right->k);
                break;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder:
                if (floor_by_instruction_) return floored(code, right, constant_right);
                break;
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call: case Lowering::Nothing:
                break;
        }
        call_binary_helper(binary_helper(code), right);
    }

    void unary(Operator code) {
        Lowering lowering = program::operator_info(code).lowering;
        switch (lowering) {
            case Lowering::Negate: xor_pd(acc(), mask(0x8000000000000000u)); return;
            case Lowering::Absolute: and_pd(acc(), mask(0x7fffffffffffffffu)); return;
            case Lowering::SquareRoot:
                // The evaluator refuses x < 0 and NaN (kDomain); -0 and +0 are their own roots.
                compare_with(acc(), 0.0);
                jb(refuse_domain_, T_NEAR);  // below or unordered
                rounded(Rounded::kSquareRoot, acc(), acc());
                return;
            case Lowering::Sign: sign(); return;
            case Lowering::Ez: ez(); return;
            case Lowering::PeriodicCall: case Lowering::LogarithmCall: case Lowering::ArcCall:
            case Lowering::ExpCall: case Lowering::Call:
                guarded_call(lowering, code);
                return;
            case Lowering::Nothing: return;
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper:
                break;
        }
        call_unary_helper(unary_helper(code));
    }

    // acc = acc ^ 2: the square at once where no rule can fire, for
    // 2^-510 <= |x| < 2^510.
    void square() {
        leave_unless_exponent_in(mathlayer::kSquareBandLow, mathlayer::kSquareBandHigh, kEitherSign,
                                 slow_path(Operator::kPow));
        rounded(Rounded::kMultiply, acc(), acc());
        rejoin();
    }

    void slow_path_code() {
        for (SlowPath& path : slow_paths_) {
            L(path.entry);
            depth_ = path.depth;
            in_slow_frame_ = !framed_;
            if (in_slow_frame_) sub(rsp, kFrame.bytes);
            if (path.code == Operator::kPow) call_binary_helper(binary_helper(Operator::kPow), constant(path.exponent));
            else call_unary_helper(unary_helper(path.code));
            if (in_slow_frame_) add(rsp, kFrame.bytes);
            jmp(path.back, T_NEAR);
        }
        in_slow_frame_ = false;
    }

private:
    // A helper call taken only for rare arguments, placed behind the code
    // so that the common path runs straight through.
    struct SlowPath {
        Label entry, back;
        int depth;
        Operator code;          // the unary operator, or kPow
        double exponent = 2.0;  // kPow's constant exponent
    };
    std::deque<SlowPath> slow_paths_;
    static constexpr uint8_t kRoundDownQuietly = 0b1001;  // toward -inf, no precision exception
    static constexpr uint8_t kLessOrdered = 1, kNotLessUnordered = 5, kLessOrEqualOrdered = 2;  // cmpsd predicates

    // The operations that round, and the one instruction of each kind of
    // code: SSE2 under the library's MXCSR, or EVEX rounding to nearest
    // whatever MXCSR holds (its operands in registers: a memory operand is
    // loaded first).
    enum class Rounded : uint8_t { kAdd, kSubtract, kMultiply, kDivide, kSquareRoot };

    template <typename Right>
    void rounded(Rounded operation, const Xmm& left, const Right& right) {
        if (rounds_per_instruction_) return rounded_in_instruction(operation, left, in_register(right));
        switch (operation) {
            case Rounded::kAdd: addsd(left, right); return;
            case Rounded::kSubtract: subsd(left, right); return;
            case Rounded::kMultiply: mulsd(left, right); return;
            case Rounded::kDivide: divsd(left, right); return;
            case Rounded::kSquareRoot: sqrtsd(left, right); return;
        }
    }

    void rounded_in_instruction(Rounded operation, const Xmm& left, const Xmm& right, const Xmm& to) {
        switch (operation) {
            case Rounded::kAdd: vaddsd(to, left, right | T_rn_sae); return;
            case Rounded::kSubtract: vsubsd(to, left, right | T_rn_sae); return;
            case Rounded::kMultiply: vmulsd(to, left, right | T_rn_sae); return;
            case Rounded::kDivide: vdivsd(to, left, right | T_rn_sae); return;
            case Rounded::kSquareRoot: vsqrtsd(to, left, right | T_rn_sae); return;
        }
    }
    void rounded_in_instruction(Rounded operation, const Xmm& left, const Xmm& right) {
        rounded_in_instruction(operation, left, right, left);
    }

    // Xbyak (6.68) takes {sae} on the scalar compare only with zmm
    // operands; the bytes are those of the xmm form (as GNU as encodes it):
    // a scalar instruction ignores the vector length.
    static Zmm wide(const Xmm& x) { return Zmm(x.getIdx()); }

    template <typename Right>
    Xmm in_register(const Right& operand) {
        if constexpr (std::is_same_v<Right, Xmm>) {
            return operand;
        } else {
            vmovsd(loaded(), operand);
            return loaded();
        }
    }

    // Flags from x against the constant k, as ucomisd sets them; with
    // {sae} in code that rounds per instruction, so that a NaN or a
    // subnormal raises no flag there.
    void compare_with(const Xmm& x, double k) {
        if (!rounds_per_instruction_) {
            ucomisd(x, constant(k));
            return;
        }
        vmovsd(loaded(), constant(k));
        vucomisd(x, loaded() | T_sae);
    }

    // Opens a slow path from here: the common path jumps to the returned
    // label for the rare arguments and resumes at rejoin().
    Label& slow_path(Operator code, double exponent = 2.0) {
        SlowPath& path = slow_paths_.emplace_back();
        path.depth = depth_;
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

    // Refuses a zero or NaN divisor in a register, as the interpreter does.
    void refuse_zero_divisor(const Xmm& divisor) {
        compare_with(divisor, 0.0);
        je(refuse_division_, T_NEAR);  // equal or unordered
    }

    template <typename Right>
    void divide(const Xmm& left, const Right& right, const FastInsn* constant_right) {
        if (constant_right) {
            if (is_zero_divisor(constant_right->k)) jmp(refuse_division_, T_NEAR);
            else rounded(Rounded::kDivide, left, right);
            return;
        }
        if constexpr (std::is_same_v<Right, Xmm>) {
            refuse_zero_divisor(right);
            rounded(Rounded::kDivide, left, right);
        } else {
            load_sd(second_scratch(), right);
            refuse_zero_divisor(second_scratch());
            rounded(Rounded::kDivide, left, second_scratch());
        }
    }

    // acc = (x > 1e-10) - !(x > -1e-10), each comparison a mask of 1.0:
    // 1, +0 or -1, and -1 for NaN, as the interpreter gives.  Code that
    // rounds per instruction compares into opmasks with {sae} and makes
    // 1.0 or +0 of each by a zeroing move.
    void sign() {
        Xmm above = scratch(), below = second_scratch();
        if (rounds_per_instruction_) {
            vmovsd(loaded(0), constant(kZeroBandHalf));
            vcmpsd(k1, wide(loaded(0)), wide(acc()) | T_sae, kLessOrdered);
            vmovsd(loaded(1), constant(-kZeroBandHalf));
            vcmpsd(k2, wide(loaded(1)), wide(acc()) | T_sae, kNotLessUnordered);
            vmovsd(loaded(0), constant(1.0));
            vmovsd(above | k1 | T_z, loaded(0), loaded(0));
            vmovsd(below | k2 | T_z, loaded(0), loaded(0));
            vsubsd(acc(), above, below | T_rn_sae);
            return;
        }
        movsd(above, constant(kZeroBandHalf));
        cmpltsd(above, acc());
        movsd(below, constant(-kZeroBandHalf));
        cmpnltsd(below, acc());
        andpd(above, mask(std::bit_cast<uint64_t>(1.0)));
        andpd(below, mask(std::bit_cast<uint64_t>(1.0)));
        subsd(above, below);
        movapd(acc(), above);
    }

    // acc = |x| <= 1e-10 as 1.0 or +0 (NaN compares false).
    void ez() {
        and_pd(acc(), mask(0x7fffffffffffffffu));
        if (rounds_per_instruction_) {
            vmovsd(loaded(0), constant(kZeroBandHalf));
            vcmpsd(k1, wide(acc()), wide(loaded(0)) | T_sae, kLessOrEqualOrdered);
            vmovsd(loaded(0), constant(1.0));
            vmovsd(acc() | k1 | T_z, loaded(0), loaded(0));
            return;
        }
        cmplesd(acc(), constant(kZeroBandHalf));
        andpd(acc(), mask(std::bit_cast<uint64_t>(1.0)));
    }

    // Jumps to `away` unless the accumulator's biased exponent lies in
    // [low, high): one unsigned compare of its bits, which sends zeros,
    // subnormals, infinities and NaNs away with the rest.  kEitherSign
    // shifts the sign out first; kPositiveOnly keeps it, so that any
    // negative value lands far above the range.
    static constexpr bool kEitherSign = true, kPositiveOnly = false;
    void leave_unless_exponent_in(uint32_t low, uint32_t high, bool either_sign, Label& away) {
        int shift = either_sign ? 53 : 52;
        bits_to(rax, acc());
        if (either_sign) add(rax, rax);
        if (low != 0) sub(rax, pooled(uint64_t{low} << shift));
        cmp(rax, pooled(uint64_t{high - low} << shift));
        jae(away, T_NEAR);
    }

    // The interpreter's refusals, then the arguments for which the guarded
    // entry's rules may fire (to the helper), before the standard function.
    void guard(Lowering lowering, Operator code) {
        switch (lowering) {
            case Lowering::PeriodicCall:
                // Total loss from |x| >= 2^53, infinities and NaNs.
                leave_unless_exponent_in(0, mathlayer::kTrigLossExponent, kEitherSign, slow_path(code));
                return;
            case Lowering::ExpCall:
                ucomisd(acc(), constant(kExpBound));
                ja(refuse_overflow_, T_NEAR);
                // Underflow from x <= -708.39599609375 on, and NaNs.
                ucomisd(acc(), constant(elementary::kExpUnderflowFrom));
                jbe(slow_path(code), T_NEAR);
                return;
            case Lowering::LogarithmCall:
                ucomisd(acc(), constant(kLogBound));
                jbe(refuse_domain_, T_NEAR);  // not above, or unordered
                ucomisd(acc(), constant(mathlayer::kLargest));
                ja(slow_path(code), T_NEAR);  // +inf overflows
                return;
            case Lowering::ArcCall:
                ucomisd(acc(), constant(elementary::row_of(elementary::Function::kAsin).lowest));
                jb(refuse_domain_, T_NEAR);  // below, or unordered
                ucomisd(acc(), constant(elementary::row_of(elementary::Function::kAsin).highest));
                ja(refuse_domain_, T_NEAR);
                return;
            case Lowering::Call:  // no rule
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::Nothing:
                return;
        }
    }

    // acc = function(acc): the standard function where the guard lets the
    // argument through, the helper for the rest.
    void guarded_call(Lowering lowering, Operator code) {
        size_t slow_paths_before = slow_paths_.size();
        guard(lowering, code);
        call_standard(standard_function(code));
        if (slow_paths_.size() != slow_paths_before) rejoin();
    }

    // acc = acc ^ k for a constant k: the standard pow at once over the band
    // where no rule can fire, for a base of either sign when k is an
    // integer (which pow's parity rule needs) and a positive one otherwise;
    // the helper applies every rule elsewhere.
    void power_by_constant(const double& k) {
        int band = mathlayer::pow_band_without_rules(k);
        if (band == 0) {
            call_binary_helper(binary_helper(Operator::kPow), constant(k));
            return;
        }
        bool sign = mathlayer::is_integer(k) ? kEitherSign : kPositiveOnly;
        leave_unless_exponent_in(1023 - band, 1023 + band, sign, slow_path(Operator::kPow, k));
        call_standard(reinterpret_cast<const void*>(elementary::elementary_functions.pow), &k);
        rejoin();
    }

    // acc = floor(a / b) (div) or a - floor(a / b) * b (mod), the
    // interpreter's operations in its order, with roundsd as floor; a
    // divisor is refused as the interpreter refuses it.
    template <typename Right>
    void floored(Operator code, const Right& right, const FastInsn* constant_right) {
        if (constant_right && is_zero_divisor(constant_right->k)) {
            jmp(refuse_division_, T_NEAR);
            return;
        }
        Xmm divisor = second_scratch(), quotient = scratch();
        if constexpr (std::is_same_v<Right, Xmm>) divisor = right;
        else load_sd(divisor, right);
        if (!constant_right) refuse_zero_divisor(divisor);
        bool quotient_only = program::operator_info(code).lowering == Lowering::FlooredQuotient;
        if (rounds_per_instruction_) {
            rounded_in_instruction(Rounded::kDivide, acc(), divisor, quotient);
            vrndscalesd(quotient_only ? acc() : quotient, quotient, quotient | T_sae, kRoundDownQuietly);
            if (quotient_only) return;
        } else {
            movapd(quotient, acc());
            divsd(quotient, divisor);
            roundsd(quotient, quotient, kRoundDownQuietly);
            if (quotient_only) {
                movapd(acc(), quotient);
                return;
            }
        }
        rounded(Rounded::kMultiply, quotient, divisor);
        rounded(Rounded::kSubtract, acc(), quotient);
    }
};

// The walk over the fast form: each instruction shape in turn, with the
// stack depth it leaves.
class Generator : public OperatorWriter {
public:
    using OperatorWriter::OperatorWriter;

    // False when the program is too deep for the registers.
    bool program(const FastInsn* code) {
        bool calls = false, calls_anywhere = false;
        if (!survey(code, calls, calls_anywhere)) return false;
        // A standard function on the straight path runs under the library's
        // MXCSR: such a program keeps the switch around the whole of it.
        if (rounds_per_instruction_ && calls) return false;
        calls_on_straight_path_ = calls;
        // Without a red zone, a frame also holds the MXCSR of every program
        // that calls out anywhere, and the registers the deep entries take.
        framed_ = kConvention.red_zone_bytes ? calls : calls_anywhere || saved_xmm_ > 0;
        prologue();
        for (const FastInsn* ip = code; ip->op != kEnd; ip += width(ip->op)) instruction(ip);
        epilogue();
        slow_path_code();
        failure_stubs();
        write_pool();
        if (kConvention.unwind_tables && framed_) unwind_data();
        return true;
    }

private:
    // Whether the program fits the registers, whether it calls out on its
    // straight path, and anywhere (the square calls on its slow path); notes
    // the saved registers it needs.
    bool survey(const FastInsn* code, bool& calls, bool& calls_anywhere) {
        int depth = -1, deepest = 0;
        for (const FastInsn* ip = code; ip->op != kEnd; ip += width(ip->op)) {
            const FastOpFacts& f = facts(ip->op);
            switch (f.shape) {
                case Shape::Load: case Shape::FusedLoad: depth = 0; break;
                case Shape::Push: case Shape::FusedPush: ++depth; break;
                case Shape::Binary: if (f.operands == Operands::Stack) --depth; break;
                case Shape::End: case Shape::Operand: case Shape::Unary: case Shape::Square: case Shape::Apply: break;
            }
            if (depth >= kStack.depth) return false;
            if (depth > deepest) deepest = depth;
            bool straight_call = (f.shape == Shape::Binary || f.shape == Shape::Unary) && calls_on_straight_path(f.op);
            calls = calls || straight_call;
            calls_anywhere = calls_anywhere || straight_call || f.shape == Shape::Square;
        }
        saved_xmm_ = deepest >= kStack.volatile_depth ? deepest - kStack.volatile_depth + 1 : 0;
        return true;
    }

    void instruction(const FastInsn* ip) {
        const FastOpFacts& f = facts(ip->op);
        switch (f.shape) {
            case Shape::End: case Shape::Operand: return;
            case Shape::Load: depth_ = 0; load_sd(acc(), operand_of(*ip, first_is_variable(f.operands))); return;
            case Shape::Push: ++depth_; load_sd(acc(), operand_of(*ip, first_is_variable(f.operands))); return;
            case Shape::Square: square(); return;
            case Shape::Unary: unary(f.op); return;
            case Shape::Binary: binary_instruction(f, ip); return;
            case Shape::FusedLoad: depth_ = 0; fused_into_accumulator(f, ip); return;
            case Shape::FusedPush: ++depth_; fused_into_accumulator(f, ip); return;
            case Shape::Apply: applied(f, ip); return;
        }
    }

    void binary_instruction(const FastOpFacts& f, const FastInsn* ip) {
        switch (f.operands) {
            case Operands::Stack: {
                Xmm right = acc();
                --depth_;
                binary(f.op, right);
                return;
            }
            case Operands::K: binary(f.op, constant(ip->k), ip); return;
            case Operands::V: binary(f.op, variable(ip->p)); return;
            case Operands::None: case Operands::VV: case Operands::VK: case Operands::KV:
                return;  // the list has no such binary form
        }
    }

    // One operand of a fused or folded instruction: a constant or a variable.
    Address operand_of(const FastInsn& insn, bool is_variable) {
        return is_variable ? variable(insn.p) : constant(insn.k);
    }

    // The operands of a paired instruction, X in its own slot and Y in the next.
    Address first_operand(const FastInsn* ip, Operands pair) { return operand_of(ip[0], first_is_variable(pair)); }
    Address second_operand(const FastInsn* ip, Operands pair) { return operand_of(ip[1], second_is_variable(pair)); }
    static const FastInsn* constant_second(const FastInsn* ip, Operands pair) {
        return second_is_variable(pair) ? nullptr : &ip[1];
    }

    // acc = X op Y
    void fused_into_accumulator(const FastOpFacts& f, const FastInsn* ip) {
        load_sd(acc(), first_operand(ip, f.operands));
        arithmetic(f.op, acc(), second_operand(ip, f.operands), constant_second(ip, f.operands));
    }

    // acc = acc outer (X inner Y)
    void applied(const FastOpFacts& f, const FastInsn* ip) {
        Xmm inner = scratch();
        load_sd(inner, first_operand(ip, f.operands));
        arithmetic(f.inner, inner, second_operand(ip, f.operands), constant_second(ip, f.operands));
        arithmetic(f.op, acc(), inner);
    }
};

// Code is generated in place, in an area straight from the system that is
// writable until the code is written, then sealed (executable_memory.hpp).
// It is asked for near the variable values, so that the code reaches them
// from its instructions (where the system places it elsewhere, the code
// reaches them through pointers).

int32_t fast_instruction_count(const FastInsn* code) {
    int32_t count = 0;
    for (const FastInsn* ip = code; ip->op != kEnd && count <= kJitMaxInstructions; ++ip) ++count;
    return count;
}

// One function of machine code in a mapping of its own: code that rounds
// per instruction where for_flushing_host is given and the program calls
// nothing on its straight path, else the switching code.  None when it
// cannot be made.  A program refuses before it writes a byte, so the
// switching code may follow in the same area.
MachineCode generate(const FastInsn* fast, const void* for_flushing_host) {
    int32_t count = fast_instruction_count(fast);
    if (count > kJitMaxInstructions) return {};
    // One page more than the code and pool need: the pool starts on a page of its own.
    size_t mapped = whole_pages(1024 + static_cast<size_t>(count) * kBytesPerInstruction) + whole_pages(1);
    void* area = executable_memory::map_writable_near(vars::var_table.values, mapped);
    if (!area) return {};
    size_t code_bytes = 0, used = 0, unwind_table = 0;
    bool rounds = false;
    auto try_program = [&](const void* fallback) {
        Generator generator(mapped, area, fallback);
        if (!generator.program(fast) || generator.getSize() > kJitMaxCodeBytes) return false;
        code_bytes = generator.pool_offset();
        used = whole_pages(generator.getSize());
        unwind_table = generator.unwind_table_offset();
        rounds = fallback != nullptr;
        return true;
    };
    try {
        if (!(for_flushing_host && try_program(for_flushing_host))) try_program(nullptr);
    } catch (...) {
        used = 0;  // too big, out of memory: the formula stays interpreted
    }
    if (used == 0) {
        executable_memory::unmap(area, mapped);
        return {};
    }
    if (!executable_memory::seal(area, mapped, code_bytes, used)) return {};
    void* unwind = nullptr;
    if (unwind_table != 0) {
        unwind = executable_memory::register_unwind_table(area, static_cast<char*>(area) + unwind_table);
        if (!unwind) {  // code the unwinder cannot walk is not run
            executable_memory::unmap(area, used);
            return {};
        }
    }
    return {reinterpret_cast<CompiledCode>(area), {area, used, unwind}, rounds, {}};
}

void free_mapping(CodeMapping& mapping) {
    executable_memory::unregister_unwind_table(mapping.unwind);
    if (mapping.start) executable_memory::unmap(mapping.start, mapping.bytes);
    mapping = {};
}

}  // namespace

MachineCode compile(const FastInsn* fast, CompiledCode for_flushing_host) {
    bool rounding = core::fp_switch.rounding_per_instruction && jit_settings.rounding_per_instruction;
    return generate(fast, rounding ? reinterpret_cast<const void*>(for_flushing_host) : nullptr);
}

CodeMapping compile_switching(const FastInsn* fast) { return generate(fast, nullptr).own; }

void free_machine_code(MachineCode& machine_code) {
    free_mapping(machine_code.own);
    free_mapping(machine_code.switching);
    machine_code = {};
}

}  // namespace tallymat::eval

#endif
