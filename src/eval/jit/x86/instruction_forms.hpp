// The instructions of the two kinds of machine code, behind one interface:
// - SSE2 (with SSE4.1's roundsd), which rounds as MXCSR says: the switching
//   code, run under the library's MXCSR;
// - AVX-512's EVEX forms, each carrying its rounding ({rn-sae}) or
//   suppressing exceptions ({sae}): code that never touches MXCSR.  Its
//   moves and bitwise operations are VEX (no legacy SSE instruction, whose
//   cost may depend on the host's upper register state), and a memory
//   operand of an operation that rounds is loaded into xmm16 up first, as
//   EVEX rounding takes registers only.  x86-64 only: 32-bit code has
//   eight xmm registers, which the stack and its scratch registers take.
// The writers above ask for an operation and never for an encoding.
#pragma once

#include <cstdint>

#include "eval/jit/x86/pool_writer.hpp"

namespace tallymat::eval::x86 {

#if defined(XBYAK64)
inline constexpr bool kRoundsPerInstructionBuilt = true;
#else
inline constexpr bool kRoundsPerInstructionBuilt = false;
#endif

// The operations that round.
enum class Rounded : uint8_t { kAdd, kSubtract, kMultiply, kDivide, kSquareRoot };

class InstructionForms {
public:
    explicit InstructionForms(PoolWriter& code) : code_(code) {}
    virtual ~InstructionForms() = default;
    InstructionForms(const InstructionForms&) = delete;
    InstructionForms& operator=(const InstructionForms&) = delete;

    // Moves and bitwise operations: none of them rounds.
    virtual void load_sd(const Xmm& x, const Address& from) = 0;
    virtual void store_sd(const Address& to, const Xmm& x) = 0;
    virtual void copy_pd(const Xmm& to, const Xmm& from) = 0;
    virtual void xor_pd(const Xmm& x, const Address& bits) = 0;
    virtual void and_pd(const Xmm& x, const Address& bits) = 0;
#if defined(XBYAK64)
    virtual void bits_to(const Reg64& r, const Xmm& x) = 0;
#else
    // x's upper 32 bits (the sign, the exponent and the fraction's top), through via.
    virtual void high_word_to(const Reg32& r, const Xmm& x, const Xmm& via) = 0;
#endif
    virtual void zero(const Xmm& x) = 0;
    // A saved register's 16 bytes, to or from its home in the frame.
    virtual void save_whole(const Address& to, const Xmm& from) = 0;
    virtual void restore_whole(const Xmm& to, const Address& from) = 0;

    // left = left (operation) right; the square root takes right's root.
    virtual void rounded(Rounded operation, const Xmm& left, const Xmm& right) = 0;
    virtual void rounded(Rounded operation, const Xmm& left, const Address& right) = 0;
    // Flags from x against the constant k, as ucomisd sets them, without
    // raising a flag where the code rounds per instruction.
    virtual void compare_with(const Xmm& x, double k) = 0;
    // acc = (x > 1e-10) - !(x > -1e-10), each comparison a mask of 1.0, in
    // the two scratch registers: 1, +0 or -1, and -1 for NaN.
    virtual void sign(const Xmm& acc, const Xmm& above, const Xmm& below, double zero_band_half) = 0;
    // acc = |x| <= 1e-10 as 1.0 or +0 (NaN compares false).
    virtual void ez(const Xmm& acc, double zero_band_half) = 0;
    // result = floor(dividend / divisor), through quotient (which may be result).
    virtual void floor_of_quotient(const Xmm& result, const Xmm& dividend, const Xmm& divisor,
                                   const Xmm& quotient) = 0;

protected:
    static constexpr uint8_t kRoundDownQuietly = 0b1001;  // toward -inf, no precision exception
    PoolWriter& code_;
};

// The switching code's forms: SSE2 under the library's MXCSR.
class SseForms final : public InstructionForms {
public:
    using InstructionForms::InstructionForms;

    void load_sd(const Xmm& x, const Address& from) override { code_.movsd(x, from); }
    void store_sd(const Address& to, const Xmm& x) override { code_.movsd(to, x); }
    void copy_pd(const Xmm& to, const Xmm& from) override { code_.movapd(to, from); }
    void xor_pd(const Xmm& x, const Address& bits) override { code_.xorpd(x, bits); }
    void and_pd(const Xmm& x, const Address& bits) override { code_.andpd(x, bits); }
#if defined(XBYAK64)
    void bits_to(const Reg64& r, const Xmm& x) override { code_.movq(r, x); }
#else
    void high_word_to(const Reg32& r, const Xmm& x, const Xmm& via) override {
        code_.pshufd(via, x, 0b01010101);
        code_.movd(r, via);
    }
#endif
    void zero(const Xmm& x) override { code_.xorpd(x, x); }
    void save_whole(const Address& to, const Xmm& from) override { code_.movaps(to, from); }
    void restore_whole(const Xmm& to, const Address& from) override { code_.movaps(to, from); }

    void rounded(Rounded operation, const Xmm& left, const Xmm& right) override { apply(operation, left, right); }
    void rounded(Rounded operation, const Xmm& left, const Address& right) override { apply(operation, left, right); }

    void compare_with(const Xmm& x, double k) override { code_.ucomisd(x, code_.constant(k)); }

    void sign(const Xmm& acc, const Xmm& above, const Xmm& below, double zero_band_half) override {
        code_.movsd(above, code_.constant(zero_band_half));
        code_.cmpltsd(above, acc);
        code_.movsd(below, code_.constant(-zero_band_half));
        code_.cmpnltsd(below, acc);
        code_.andpd(above, code_.mask(std::bit_cast<uint64_t>(1.0)));
        code_.andpd(below, code_.mask(std::bit_cast<uint64_t>(1.0)));
        code_.subsd(above, below);
        code_.movapd(acc, above);
    }

    void ez(const Xmm& acc, double zero_band_half) override {
        and_pd(acc, code_.mask(0x7fffffffffffffffu));
        code_.cmplesd(acc, code_.constant(zero_band_half));
        code_.andpd(acc, code_.mask(std::bit_cast<uint64_t>(1.0)));
    }

    void floor_of_quotient(const Xmm& result, const Xmm& dividend, const Xmm& divisor, const Xmm& quotient) override {
        code_.movapd(quotient, dividend);
        code_.divsd(quotient, divisor);
        code_.roundsd(quotient, quotient, kRoundDownQuietly);
        if (result.getIdx() != quotient.getIdx()) code_.movapd(result, quotient);
    }

private:
    template <typename Right>
    void apply(Rounded operation, const Xmm& left, const Right& right) {
        switch (operation) {
            case Rounded::kAdd: code_.addsd(left, right); return;
            case Rounded::kSubtract: code_.subsd(left, right); return;
            case Rounded::kMultiply: code_.mulsd(left, right); return;
            case Rounded::kDivide: code_.divsd(left, right); return;
            case Rounded::kSquareRoot: code_.sqrtsd(left, right); return;
        }
    }
};

#if defined(XBYAK64)
// The forms of code that rounds per instruction: EVEX with {rn-sae} or {sae}.
class EvexForms final : public InstructionForms {
public:
    using InstructionForms::InstructionForms;

    // Where a memory operand of an operation is loaded: xmm16 up are
    // volatile under both conventions and out of the stack's way.
    static Xmm loaded(int i = 0) { return Xmm(16 + i); }

    void load_sd(const Xmm& x, const Address& from) override { code_.vmovsd(x, from); }
    void store_sd(const Address& to, const Xmm& x) override { code_.vmovsd(to, x); }
    void copy_pd(const Xmm& to, const Xmm& from) override { code_.vmovapd(to, from); }
    void xor_pd(const Xmm& x, const Address& bits) override { code_.vxorpd(x, x, bits); }
    void and_pd(const Xmm& x, const Address& bits) override { code_.vandpd(x, x, bits); }
    void bits_to(const Reg64& r, const Xmm& x) override { code_.vmovq(r, x); }
    void zero(const Xmm& x) override { code_.vxorpd(x, x, x); }
    void save_whole(const Address& to, const Xmm& from) override { code_.vmovaps(to, from); }
    void restore_whole(const Xmm& to, const Address& from) override { code_.vmovaps(to, from); }

    void rounded(Rounded operation, const Xmm& left, const Xmm& right) override { apply(operation, left, right, left); }
    void rounded(Rounded operation, const Xmm& left, const Address& right) override {
        code_.vmovsd(loaded(), right);
        apply(operation, left, loaded(), left);
    }

    void compare_with(const Xmm& x, double k) override {
        code_.vmovsd(loaded(), code_.constant(k));
        code_.vucomisd(x, loaded() | T_sae);
    }

    // Compares into opmasks with {sae} and makes 1.0 or +0 of each by a zeroing move.
    void sign(const Xmm& acc, const Xmm& above, const Xmm& below, double zero_band_half) override {
        constexpr uint8_t kLessOrdered = 1, kNotLessUnordered = 5;  // vcmpsd predicates
        code_.vmovsd(loaded(0), code_.constant(zero_band_half));
        code_.vcmpsd(k1, wide(loaded(0)), wide(acc) | T_sae, kLessOrdered);
        code_.vmovsd(loaded(1), code_.constant(-zero_band_half));
        code_.vcmpsd(k2, wide(loaded(1)), wide(acc) | T_sae, kNotLessUnordered);
        code_.vmovsd(loaded(0), code_.constant(1.0));
        code_.vmovsd(above | k1 | T_z, loaded(0), loaded(0));
        code_.vmovsd(below | k2 | T_z, loaded(0), loaded(0));
        code_.vsubsd(acc, above, below | T_rn_sae);
    }

    void ez(const Xmm& acc, double zero_band_half) override {
        constexpr uint8_t kLessOrEqualOrdered = 2;
        and_pd(acc, code_.mask(0x7fffffffffffffffu));
        code_.vmovsd(loaded(0), code_.constant(zero_band_half));
        code_.vcmpsd(k1, wide(acc), wide(loaded(0)) | T_sae, kLessOrEqualOrdered);
        code_.vmovsd(loaded(0), code_.constant(1.0));
        code_.vmovsd(acc | k1 | T_z, loaded(0), loaded(0));
    }

    void floor_of_quotient(const Xmm& result, const Xmm& dividend, const Xmm& divisor, const Xmm& quotient) override {
        apply(Rounded::kDivide, dividend, divisor, quotient);
        code_.vrndscalesd(result, quotient, quotient | T_sae, kRoundDownQuietly);
    }

private:
    // Xbyak (6.68) takes {sae} on the scalar compare only with zmm
    // operands; the bytes are those of the xmm form (as GNU as encodes it):
    // a scalar instruction ignores the vector length.
    static Zmm wide(const Xmm& x) { return Zmm(x.getIdx()); }

    void apply(Rounded operation, const Xmm& left, const Xmm& right, const Xmm& to) {
        switch (operation) {
            case Rounded::kAdd: code_.vaddsd(to, left, right | T_rn_sae); return;
            case Rounded::kSubtract: code_.vsubsd(to, left, right | T_rn_sae); return;
            case Rounded::kMultiply: code_.vmulsd(to, left, right | T_rn_sae); return;
            case Rounded::kDivide: code_.vdivsd(to, left, right | T_rn_sae); return;
            case Rounded::kSquareRoot: code_.vsqrtsd(to, left, right | T_rn_sae); return;
        }
    }
};
#endif

}  // namespace tallymat::eval::x86
