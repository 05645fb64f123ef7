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

namespace tallymat::translate {

// One row per operator: everything the translator, the constant folding
// and the fast form need to know about it.  A new function is one row here,
// one row of the fast form's list (eval::TALLYMAT_FAST_OPS) and one case in
// eval::apply_unary; the build fails while the fast form's row is missing.
struct OperatorInfo {
    char code;
    const char* name;  // as written in formulas
    int arity;         // 1 or 2
    bool may_report;   // runs a guarded math entry: the math error flag is tested after it
    bool foldable;     // never fails nor reports: applied to constants at translation
    bool runs;         // has instructions of the fast form; a leading "+" runs nothing
};

inline constexpr OperatorInfo kOperators[] = {
    // code        name      arity report fold   runs
    {op::kAdd,     "+",      2, false, true,  true},
    {op::kSub,     "-",      2, false, true,  true},
    {op::kMul,     "*",      2, false, true,  true},
    {op::kDiv,     "/",      2, false, false, true},
    {op::kIntDiv,  "div",    2, false, false, true},
    {op::kMod,     "mod",    2, false, false, true},
    {op::kPow,     "^",      2, true,  false, true},
    {op::kIntPow,  "**",     2, false, false, true},
    {op::kNeg,     "-",      1, false, true,  true},
    {op::kPlus,    "+",      1, false, true,  false},
    {op::kSin,     "sin",    1, true,  false, true},
    {op::kCos,     "cos",    1, true,  false, true},
    {op::kTan,     "tg",     1, true,  false, true},
    {op::kLn,      "ln",     1, true,  false, true},
    {op::kLg,      "lg",     1, true,  false, true},
    {op::kArcsin,  "arcsin", 1, true,  false, true},
    {op::kArccos,  "arccos", 1, true,  false, true},
    {op::kArctg,   "arctg",  1, false, true,  true},
    {op::kExp,     "exp",    1, true,  false, true},
    {op::kSqrt,    "sqrt",   1, true,  false, true},
    {op::kAbs,     "abs",    1, false, true,  true},
    {op::kSign,    "sign",   1, false, true,  true},
    {op::kEz,      "ez",     1, false, true,  true},
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
