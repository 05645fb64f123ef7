// What a translated program is: its postfix items with their operator
// codes, and the instruction layout of the fast form derived from them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallymat::translate {

enum ItemKind : int32_t {
    kOperatorItem = 0,  // payload: op
    kNumberItem = 1,    // payload: number
    kVariableItem = 2,  // payload: cell, the value cell of a variable entry
};

// Operator codes, as stored in operator items and on the operator stack.
namespace op {
inline constexpr char kAdd = '+';       // a b  -> a + b
inline constexpr char kSub = '-';       // a b  -> a - b
inline constexpr char kMul = '*';       // a b  -> a * b
inline constexpr char kDiv = '/';       // a b  -> a / b, b = 0 refused
inline constexpr char kPow = '^';       // a b  -> pow(a, b) through the math layer
inline constexpr char kIntPow = 'P';    // a b  -> a to the integer trunc(b), "**"
inline constexpr char kMod = 'm';       // a b  -> a - floor(a / b) * b, "mod"
inline constexpr char kIntDiv = 'd';    // a b  -> floor(a / b), "div"
inline constexpr char kNeg = 'u';       // x    -> -x, a leading "-"
inline constexpr char kPlus = 'U';      // x    -> x, a leading "+"
inline constexpr char kSin = 's';       // the one-argument functions, x -> f(x)
inline constexpr char kCos = 'c';
inline constexpr char kTan = 't';       // "tg"
inline constexpr char kLn = 'l';
inline constexpr char kLg = 'L';
inline constexpr char kArcsin = 'S';
inline constexpr char kArccos = 'C';
inline constexpr char kArctg = 'T';
inline constexpr char kExp = 'e';
inline constexpr char kSqrt = 'r';
inline constexpr char kAbs = 'a';
inline constexpr char kSign = 'i';
inline constexpr char kEz = 'q';
}  // namespace op

// Packed to 12 bytes: a program buffer holds one item per token, and a
// 1 MiB formula has up to a million tokens.
#pragma pack(push, 4)
struct Item {
    int32_t kind;
    union {
        char op;
        double number;
        const double* cell;
    };
};
#pragma pack(pop)
static_assert(sizeof(Item) == 12);

}  // namespace tallymat::translate

// The fast form of a program: derived once from the postfix items when a
// translation succeeds, and run by calcpost.
//
// The running value (the top of the postfix stack) stays in a local, the
// accumulator; the rest of the stack lives in the value stack.  Operands
// that are constants or variables are folded into the instruction that uses
// them, and operators that can never fail are applied to constants at
// translation time.  Every instruction does what the postfix items it
// stands for do, in the same order, so values and codes are the same bits.
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

}  // namespace tallymat::eval
