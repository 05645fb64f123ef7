// What a translated program is: its postfix items with their operator
// codes, and the instruction layout of the fast form derived from them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tallymat::translate {

enum ItemKind : int32_t {
    kOperatorItem = 0,  // payload: op
    kNumberItem = 1,    // payload: number
    kVariableItem = 2,  // payload: cell, the value cell of a variable
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

inline Item operator_item(char code) {
    Item item{};
    item.kind = kOperatorItem;
    item.op = code;
    return item;
}
inline Item number_item(double value) {
    Item item{};
    item.kind = kNumberItem;
    item.number = value;
    return item;
}
inline Item variable_item(const double* cell) {
    Item item{};
    item.kind = kVariableItem;
    item.cell = cell;
    return item;
}

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

// The fast form's opcodes, in one list: the enum, the names and the
// interpreter's handlers are all generated from it.  Forms: "K" takes its
// right operand from the constant k, "V" from the variable cell p; the
// plain form pops its left operand from the stack, and the accumulator is
// the right one.  The fused forms "Load/Push X Y Op" and "Apply" compute
// X op Y from two operands, the second held in the following slot (marked
// Operand), and take two slots.
//
//   End                        return acc
//   Operand                    the second operand of a fused instruction; never dispatched
//   LoadK, LoadV               acc = k or *p (the stack is empty)
//   PushK, PushV               push acc; acc = k or *p
//   Add .. IntPow              acc = pop() op acc
//   AddK .. IntPowK            acc = acc op k
//   AddV .. IntPowV            acc = acc op *p
//   Neg .. Ez                  acc = f(acc), never fail
//   Sin .. Sqrt                acc = f(acc), may fail
//   Square                     acc = acc ^ 2, the power operator with the constant exponent 2
//   Load{VV,VK,KV}{op}         acc = X op Y, op one of + - * /
//   Push{VV,VK,KV}{op}         push acc; then as the Load forms
//   Apply{outer}{Push form}    acc = acc outer (X inner Y): a binary operator
//                              whose right operand a fused Push form computes,
//                              so the push and the pop both go
#define TALLYMAT_FUSED_BLOCK(X, prefix) X(prefix##Add) X(prefix##Sub) X(prefix##Mul) X(prefix##Div)
#define TALLYMAT_APPLY_BLOCK(X, outer)                                                          \
    TALLYMAT_FUSED_BLOCK(X, Apply##outer##VV) TALLYMAT_FUSED_BLOCK(X, Apply##outer##VK)        \
    TALLYMAT_FUSED_BLOCK(X, Apply##outer##KV)
#define TALLYMAT_FAST_OPS(X)                                                                    \
    X(End) X(Operand) X(LoadK) X(LoadV) X(PushK) X(PushV)                                       \
    X(Add) X(Sub) X(Mul) X(Div) X(IntDiv) X(Mod) X(Pow) X(IntPow)                               \
    X(AddK) X(SubK) X(MulK) X(DivK) X(IntDivK) X(ModK) X(PowK) X(IntPowK)                       \
    X(AddV) X(SubV) X(MulV) X(DivV) X(IntDivV) X(ModV) X(PowV) X(IntPowV)                       \
    X(Neg) X(Abs) X(Arctg) X(Sign) X(Ez)                                                        \
    X(Sin) X(Cos) X(Tan) X(Ln) X(Lg) X(Arcsin) X(Arccos) X(Exp) X(Sqrt) X(Square)               \
    TALLYMAT_FUSED_BLOCK(X, LoadVV) TALLYMAT_FUSED_BLOCK(X, LoadVK) TALLYMAT_FUSED_BLOCK(X, LoadKV) \
    TALLYMAT_FUSED_BLOCK(X, PushVV) TALLYMAT_FUSED_BLOCK(X, PushVK) TALLYMAT_FUSED_BLOCK(X, PushKV) \
    TALLYMAT_APPLY_BLOCK(X, Add) TALLYMAT_APPLY_BLOCK(X, Sub) TALLYMAT_APPLY_BLOCK(X, Mul)      \
    TALLYMAT_APPLY_BLOCK(X, Div)

enum FastOp : uint8_t {
#define TALLYMAT_ENUM_ENTRY(name) k##name,
    TALLYMAT_FAST_OPS(TALLYMAT_ENUM_ENTRY)
#undef TALLYMAT_ENUM_ENTRY
    kFastOpCount
};

// The first Apply form of each outer operator; the twelve follow in the order of the Push forms.
inline constexpr int kApplyAddFirst = kApplyAddVVAdd;
inline constexpr int kApplySubFirst = kApplySubVVAdd;
inline constexpr int kApplyMulFirst = kApplyMulVVAdd;
inline constexpr int kApplyDivFirst = kApplyDivVVAdd;

// The opcode's name as the list spells it, for dumps and messages.
inline const char* fast_op_name(FastOp code) {
    static constexpr const char* kNames[] = {
#define TALLYMAT_NAME_ENTRY(name) #name,
        TALLYMAT_FAST_OPS(TALLYMAT_NAME_ENTRY)
#undef TALLYMAT_NAME_ENTRY
    };
    return code < kFastOpCount ? kNames[code] : "?";
}

struct FastInsn {
    FastOp op;
    union {
        double k;
        const double* p;
    };
};
static_assert(sizeof(FastInsn) == 16, "with a 12-byte item, 28 bytes per item of a translated program");

// Room for the fast form of a program of up to capacity items (one more for kEnd).
inline size_t fast_program_bytes(int32_t capacity) {
    return (static_cast<size_t>(capacity) + 1) * sizeof(FastInsn);
}

}  // namespace tallymat::eval

namespace tallymat::translate {

// One row per operator: everything the translator, the constant folding
// and the fast form need to know about it.  A new function is one row here
// and one case in eval::apply_unary.
struct OperatorInfo {
    char code;
    const char* name;                 // as written in formulas
    int arity;                        // 1 or 2
    bool may_report;                  // runs a guarded math entry: the math error flag is tested after it
    bool foldable;                    // never fails nor reports: applied to constants at translation
    std::optional<eval::FastOp> fast; // binary: the popping form (K and V forms follow at fixed
                                      // distances); unary: its instruction; none: nothing to run
    int fused_index;                  // + - * /: 0..3, the place in a fused block; -1: never fused
};

inline constexpr OperatorInfo kOperators[] = {
    // code        name      arity report fold  fast              fused
    {op::kAdd,     "+",      2, false, true,  eval::kAdd,      0},
    {op::kSub,     "-",      2, false, true,  eval::kSub,      1},
    {op::kMul,     "*",      2, false, true,  eval::kMul,      2},
    {op::kDiv,     "/",      2, false, false, eval::kDiv,      3},
    {op::kIntDiv,  "div",    2, false, false, eval::kIntDiv,   -1},
    {op::kMod,     "mod",    2, false, false, eval::kMod,      -1},
    {op::kPow,     "^",      2, true,  false, eval::kPow,      -1},
    {op::kIntPow,  "**",     2, false, false, eval::kIntPow,   -1},
    {op::kNeg,     "-",      1, false, true,  eval::kNeg,      -1},
    {op::kPlus,    "+",      1, false, true,  std::nullopt,    -1},
    {op::kSin,     "sin",    1, true,  false, eval::kSin,      -1},
    {op::kCos,     "cos",    1, true,  false, eval::kCos,      -1},
    {op::kTan,     "tg",     1, true,  false, eval::kTan,      -1},
    {op::kLn,      "ln",     1, true,  false, eval::kLn,       -1},
    {op::kLg,      "lg",     1, true,  false, eval::kLg,       -1},
    {op::kArcsin,  "arcsin", 1, true,  false, eval::kArcsin,   -1},
    {op::kArccos,  "arccos", 1, true,  false, eval::kArccos,   -1},
    {op::kArctg,   "arctg",  1, false, true,  eval::kArctg,    -1},
    {op::kExp,     "exp",    1, true,  false, eval::kExp,      -1},
    {op::kSqrt,    "sqrt",   1, true,  false, eval::kSqrt,     -1},
    {op::kAbs,     "abs",    1, false, true,  eval::kAbs,      -1},
    {op::kSign,    "sign",   1, false, true,  eval::kSign,     -1},
    {op::kEz,      "ez",     1, false, true,  eval::kEz,       -1},
};
inline constexpr int kOperatorCount = static_cast<int>(std::size(kOperators));

// Row of each code; the codes are ASCII letters and signs.
inline constexpr std::array<int8_t, 128> kOperatorRow = [] {
    std::array<int8_t, 128> rows{};
    rows.fill(-1);
    for (int i = 0; i < kOperatorCount; ++i) rows[static_cast<unsigned char>(kOperators[i].code)] = static_cast<int8_t>(i);
    return rows;
}();

// The row of an operator code the translator writes (every such code has one).
constexpr const OperatorInfo& operator_info(char code) {
    return kOperators[kOperatorRow[static_cast<unsigned char>(code) & 0x7f]];
}

constexpr bool is_binary(char code) { return operator_info(code).arity == 2; }

}  // namespace tallymat::translate
