// The fast form of a translated program: derived once from the postfix items
// when a translation succeeds, and run by calcpost.
//
// The running value (the top of the postfix stack) stays in a local, the
// accumulator; the rest of the stack lives in the value stack.  Operands
// that are constants or variables are folded into the instruction that uses
// them, and operators that can never fail are applied to constants at
// translation time.  Every instruction does what the postfix items it
// stands for do, in the same order, so values and codes are the same bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallymat::translate {
struct Slot;
}

namespace tallymat::eval {

// ORDER: FastOp.  Forms: "_K" takes its right operand from the constant k,
// "_V" from the variable cell p; the plain form pops its left operand from
// the stack, and the accumulator is the right one.  The fused forms
// "Load/Push X Op Y" and "Apply" compute X op Y from two operands, the
// second held in the following slot (marked kOperand), and take two slots.
enum FastOp : uint8_t {
    kEnd,          // return acc
    kOperand,      // the second operand of a fused instruction; never dispatched
    kLoadK,        // acc = k                    (the stack is empty)
    kLoadV,        // acc = *p
    kPushK,        // push acc; acc = k
    kPushV,        // push acc; acc = *p
    kAdd, kSub, kMul, kDiv, kIntDiv, kMod, kPow, kIntPow,                  // acc = pop() op acc
    kAddK, kSubK, kMulK, kDivK, kIntDivK, kModK, kPowK, kIntPowK,          // acc = acc op k
    kAddV, kSubV, kMulV, kDivV, kIntDivV, kModV, kPowV, kIntPowV,          // acc = acc op *p
    kNeg, kAbs, kArctg, kSign, kEz,                                         // acc = f(acc), never fail
    kSin, kCos, kTan, kLn, kLg, kArcsin, kArccos, kExp, kSqrt,              // acc = f(acc), may fail
    // Fused, in blocks of four operators (+ - * /), ORDER: the block's name.
    kLoadVVAdd, kLoadVVSub, kLoadVVMul, kLoadVVDiv,  // acc = *p op *q
    kLoadVKAdd, kLoadVKSub, kLoadVKMul, kLoadVKDiv,  // acc = *p op k
    kLoadKVAdd, kLoadKVSub, kLoadKVMul, kLoadKVDiv,  // acc = k op *q
    kPushVVAdd, kPushVVSub, kPushVVMul, kPushVVDiv,  // push acc; then as the Load forms
    kPushVKAdd, kPushVKSub, kPushVKMul, kPushVKDiv,
    kPushKVAdd, kPushKVSub, kPushKVMul, kPushKVDiv,
    // acc = acc OUTER (X inner Y): a binary operator whose right operand a
    // fused Push form computes, so the push and the pop both go.  Twelve per
    // outer operator, in the order of the Push forms above.
    kApplyAddFirst,                    // + : kApplyAddFirst .. +11
    kApplySubFirst = kApplyAddFirst + 12,
    kApplyMulFirst = kApplySubFirst + 12,
    kApplyDivFirst = kApplyMulFirst + 12,
    kFastOpCount = kApplyDivFirst + 12
};

struct FastInsn {
    FastOp op;
    union {
        double k;
        const double* p;
    };
};

// Room for the fast form of a program of up to capacity items (one more for kEnd).
inline size_t fast_program_bytes(int32_t capacity) {
    return (static_cast<size_t>(capacity) + 1) * sizeof(FastInsn);
}

// Writes the fast form of the slot's finished program behind its items.
void derive_fast_program(translate::Slot& slot);

struct Outcome;
// Runs a fast form to its value or its first failure.
Outcome run_fast_program(const FastInsn* code);

}  // namespace tallymat::eval
