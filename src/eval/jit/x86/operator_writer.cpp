// The operators' emitters that call out or take slow paths (operator_writer.hpp).
// (Built only with the JIT: the target needs Xbyak's header.)
#if TALLYMAT_JIT

#include "eval/jit/x86/operator_writer.hpp"

namespace tallymat::eval::x86 {

using elementary::Function;
using elementary::row_of;

// acc = acc ^ 2: the square at once where no rule can fire, for
// 2^-510 <= |x| < 2^510.
void OperatorWriter::square() {
    leave_unless_exponent_in(mathlayer::kSquareBandLow, mathlayer::kSquareBandHigh, kEitherSign,
                             slow_path(Operator::kPow));
    forms().rounded(Rounded::kMultiply, acc(), acc());
    rejoin();
}

void OperatorWriter::slow_path_code() {
    for (SlowPath& path : slow_paths_) {
        L(path.entry);
        begin_slow_path(path.depth);
        if (path.code == Operator::kPow)
            call_binary_helper(jit_callees::binary_helper(Operator::kPow), constant(path.exponent));
        else
            call_unary_helper(jit_callees::unary_helper(path.code));
        end_slow_path();
        jmp(path.back, T_NEAR);
    }
    end_slow_paths();
}

// 32-bit code compares the upper word alone: the bounds are multiples of
// 2^52 (2^53 with the sign shifted out), so the lower word cannot carry
// the value across one.
void OperatorWriter::leave_unless_exponent_in(uint32_t low, uint32_t high, bool either_sign, Label& away) {
    int shift = either_sign ? 53 : 52;
#if defined(XBYAK64)
    forms().bits_to(rax, acc());
#else
    shift -= 32;
    forms().high_word_to(eax, acc(), scratch());
#endif
    if (either_sign) add(kAccumulator, kAccumulator);
    if (low != 0) sub(kAccumulator, pooled(uint64_t{low} << shift));
    cmp(kAccumulator, pooled(uint64_t{high - low} << shift));
    jae(away, T_NEAR);
}

// In code that rounds per instruction the comparisons raise no flag.
void OperatorWriter::guard(Lowering lowering, Operator code) {
    switch (lowering) {
        case Lowering::PeriodicCall:
            // Total loss from |x| >= 2^53, infinities and NaNs.
            leave_unless_exponent_in(0, mathlayer::kTrigLossExponent, kEitherSign, slow_path(code));
            return;
        case Lowering::ExpCall:
            forms().compare_with(acc(), kExpBound);
            ja(refuse_overflow_, T_NEAR);
            // Underflow from x <= -708.39599609375 on, and NaNs.
            forms().compare_with(acc(), elementary::kExpUnderflowFrom);
            jbe(slow_path(code), T_NEAR);
            return;
        case Lowering::LogarithmCall:
            forms().compare_with(acc(), kLogBound);
            jbe(refuse_domain_, T_NEAR);  // not above, or unordered
            forms().compare_with(acc(), mathlayer::kLargest);
            ja(slow_path(code), T_NEAR);  // +inf overflows
            return;
        case Lowering::ArcCall:
            forms().compare_with(acc(), row_of(Function::kAsin).lowest);
            jb(refuse_domain_, T_NEAR);  // below, or unordered
            forms().compare_with(acc(), row_of(Function::kAsin).highest);
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
void OperatorWriter::guarded_call(Lowering lowering, Operator code) {
    size_t slow_paths_before = slow_paths_.size();
    guard(lowering, code);
    call_standard(jit_callees::standard_function(code, *standard_functions()));
    if (slow_paths_.size() != slow_paths_before) rejoin();
}

// acc = acc ^ k for a constant k: the standard pow at once over the band
// where no rule can fire, for a base of either sign when k is an integer
// (which pow's parity rule needs) and a positive one otherwise; the helper
// applies every rule elsewhere.
void OperatorWriter::power_by_constant(double k) {
    const Address exponent = constant(k);
    int band = mathlayer::pow_band_without_rules(k);
    if (band == 0) {
        call_binary_helper(jit_callees::binary_helper(Operator::kPow), exponent);
        return;
    }
    bool sign = mathlayer::is_integer(k) ? kEitherSign : kPositiveOnly;
    leave_unless_exponent_in(1023 - band, 1023 + band, sign, slow_path(Operator::kPow, k));
    call_standard(jit_callees::standard_pow(*standard_functions()), &exponent);
    rejoin();
}

}  // namespace tallymat::eval::x86

#endif
