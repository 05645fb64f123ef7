// What a translated program is: its postfix items and the operator table
// (the fast form derived from them: instruction_set.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tallymat::translate {

enum ItemKind : int32_t {
    kOperatorItem = 0,  // payload: op
    kNumberItem = 1,    // payload: number
    kVariableItem = 2,  // payload: cell, the value cell of a variable
};

// The operators, one row each: M(ctx, Name, code, spelling, may_report,
// foldable).  The code is what operator items and the operator stack hold;
// the spelling is as written in formulas; may_report: runs a guarded math
// entry, so the math error flag is tested after it; foldable: never fails
// nor reports, so it is applied to constants at translation.  From these
// rows come the op:: codes, the operator table and the fast form's opcodes
// (instruction_set.hpp).  A new function is one row here and its semantics
// in eval::apply_unary, and, until they are read from these rows too, its
// name in tallycalc's list of functions and the fuzz dictionary; a new
// infix operator also needs its place in the translator's precedence lists.
#define TALLYMAT_BINARY_OPERATORS(M, ctx)                                                      \
    M(ctx, Add, '+', "+", false, true)       /* a b -> a + b */                                  \
    M(ctx, Sub, '-', "-", false, true)       /* a b -> a - b */                                  \
    M(ctx, Mul, '*', "*", false, true)       /* a b -> a * b */                                  \
    M(ctx, Div, '/', "/", false, false)      /* a b -> a / b, b = 0 refused */                   \
    M(ctx, IntDiv, 'd', "div", false, false) /* a b -> floor(a / b) */                           \
    M(ctx, Mod, 'm', "mod", false, false)    /* a b -> a - floor(a / b) * b */                   \
    M(ctx, Pow, '^', "^", true, false)       /* a b -> pow(a, b) through the math layer */       \
    M(ctx, IntPow, 'P', "**", false, false)  /* a b -> a to the integer trunc(b) */
// One-argument operators that run an instruction: x -> f(x).
#define TALLYMAT_UNARY_OPERATORS(M, ctx)                                                       \
    M(ctx, Neg, 'u', "-", false, true)       /* a leading "-" */                                 \
    M(ctx, Sin, 's', "sin", true, false)                                                         \
    M(ctx, Cos, 'c', "cos", true, false)                                                         \
    M(ctx, Tan, 't', "tg", true, false)                                                          \
    M(ctx, Ln, 'l', "ln", true, false)                                                           \
    M(ctx, Lg, 'L', "lg", true, false)                                                           \
    M(ctx, Arcsin, 'S', "arcsin", true, false)                                                   \
    M(ctx, Arccos, 'C', "arccos", true, false)                                                   \
    M(ctx, Arctg, 'T', "arctg", false, true)                                                     \
    M(ctx, Exp, 'e', "exp", true, false)                                                         \
    M(ctx, Sqrt, 'r', "sqrt", true, false)                                                       \
    M(ctx, Abs, 'a', "abs", false, true)                                                         \
    M(ctx, Sign, 'i', "sign", false, true)                                                       \
    M(ctx, Ez, 'q', "ez", false, true)

// Operator codes, as stored in operator items and on the operator stack.
namespace op {
#define TALLYMAT_OPERATOR_CODE(ctx, Name, code, ...) inline constexpr char k##Name = code;
TALLYMAT_BINARY_OPERATORS(TALLYMAT_OPERATOR_CODE, _)
TALLYMAT_UNARY_OPERATORS(TALLYMAT_OPERATOR_CODE, _)
#undef TALLYMAT_OPERATOR_CODE
inline constexpr char kPlus = 'U';  // x -> x, a leading "+": runs nothing
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

namespace tallymat::translate {

// One row per operator: everything the translator, the constant folding
// and the fast form need to know about it, from the lists above.
struct OperatorInfo {
    char code;
    const char* name;  // as written in formulas
    int arity;         // 1 or 2
    bool may_report;   // runs a guarded math entry: the math error flag is tested after it
    bool foldable;     // never fails nor reports: applied to constants at translation
    bool runs;         // has instructions of the fast form; a leading "+" runs nothing
};

inline constexpr OperatorInfo kOperators[] = {
#define TALLYMAT_OPERATOR_ROW(arity, Name, code, spelling, report, fold) {code, spelling, arity, report, fold, true},
    TALLYMAT_BINARY_OPERATORS(TALLYMAT_OPERATOR_ROW, 2)
    TALLYMAT_UNARY_OPERATORS(TALLYMAT_OPERATOR_ROW, 1)
#undef TALLYMAT_OPERATOR_ROW
    {op::kPlus, "+", 1, false, true, false},
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

constexpr int operator_row(char code) { return kOperatorRow[static_cast<unsigned char>(code) & 0x7f]; }

constexpr bool is_binary(char code) { return operator_info(code).arity == 2; }

}  // namespace tallymat::translate
