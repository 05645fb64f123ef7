// What a translated program is: its postfix items and the operator table
// (the fast form derived from them: instruction_set.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tallymat::program {

enum ItemKind : int32_t {
    kOperatorItem = 0,  // payload: op
    kNumberItem = 1,    // payload: number
    kVariableItem = 2,  // payload: cell, the value cell of a variable
};

// The operators, one row each, with every fact about them:
//   M(ctx, Name, code, spelling, binding, associativity, may_report, foldable, lowering)
// code: what operator items and the operator stack hold (unique);
// spelling: as written in formulas, a word (a name of letters) or a sign
// (unique among the operators of the same arity); binding: how tightly it
// holds its operands (Bracket: a function, which waits for its ")"; signs
// wait at the level of a sum); associativity: which of two equal bindings
// applies first; may_report: runs a guarded math entry, so the math error
// flag is tested after it; foldable: never fails nor reports, so it is
// applied to constants at translation; lowering: how the machine code
// computes it (eval/jit/walk.hpp and its target; Helper: through the
// operator's own code, which needs nothing of the compiler).  From these rows come the Operator
// codes, the translator's spellings and bindings, the fast form's opcodes
// (instruction_set.hpp), the compiler's lowering and tallycalc's list of
// functions.  A new function is one row here and its semantics in
// eval::apply_unary; a new infix operator one row and its semantics in
// eval::apply_binary; a unit test then names the hand-kept lists that lack
// the new spelling (the fuzz dictionary, the README, tallymat(3)).
#define TALLYMAT_BINARY_OPERATORS(M, ctx)                                                                                  \
    M(ctx, Add,    '+', "+",      Sum,     Left,   false, true,  Add             )  /* a b -> a + b */                     \
    M(ctx, Sub,    '-', "-",      Sum,     Left,   false, true,  Subtract        )  /* a b -> a - b */                     \
    M(ctx, Mul,    '*', "*",      Product, Left,   false, true,  Multiply        )  /* a b -> a * b */                     \
    M(ctx, Div,    '/', "/",      Product, Left,   false, false, Divide          )  /* a b -> a / b, b = 0 refused */      \
    M(ctx, IntDiv, 'd', "div",    Product, Left,   false, false, FlooredQuotient )  /* a b -> floor(a / b) */              \
    M(ctx, Mod,    'm', "mod",    Product, Left,   false, false, FlooredRemainder)  /* a b -> a - floor(a / b) * b */      \
    M(ctx, Pow,    '^', "^",      Power,   Left,   true,  false, Power           )  /* a b -> pow(a, b), the math layer */ \
    M(ctx, IntPow, 'P', "**",     Power,   Left,   false, false, Helper          )  /* a b -> a to the integer trunc(b) */
// One-argument operators that run an instruction: x -> f(x).
#define TALLYMAT_UNARY_OPERATORS(M, ctx)                                                                                   \
    M(ctx, Neg,    'u', "-",      Sum,     Prefix, false, true,  Negate          )                                         \
    M(ctx, Sin,    's', "sin",    Bracket, Prefix, true,  false, PeriodicCall    )                                         \
    M(ctx, Cos,    'c', "cos",    Bracket, Prefix, true,  false, PeriodicCall    )                                         \
    M(ctx, Tan,    't', "tg",     Bracket, Prefix, true,  false, PeriodicCall    )                                         \
    M(ctx, Ln,     'l', "ln",     Bracket, Prefix, true,  false, LogarithmCall   )                                         \
    M(ctx, Lg,     'L', "lg",     Bracket, Prefix, true,  false, LogarithmCall   )                                         \
    M(ctx, Arcsin, 'S', "arcsin", Bracket, Prefix, true,  false, ArcCall         )                                         \
    M(ctx, Arccos, 'C', "arccos", Bracket, Prefix, true,  false, ArcCall         )                                         \
    M(ctx, Arctg,  'T', "arctg",  Bracket, Prefix, false, true,  Call            )                                         \
    M(ctx, Exp,    'e', "exp",    Bracket, Prefix, true,  false, ExpCall         )                                         \
    M(ctx, Sqrt,   'r', "sqrt",   Bracket, Prefix, true,  false, SquareRoot      )                                         \
    M(ctx, Abs,    'a', "abs",    Bracket, Prefix, false, true,  Absolute        )                                         \
    M(ctx, Sign,   'i', "sign",   Bracket, Prefix, false, true,  Sign            )                                         \
    M(ctx, Ez,     'q', "ez",     Bracket, Prefix, false, true,  Ez              )
// One-argument operators with no instruction of the fast form: x -> x.
#define TALLYMAT_SILENT_OPERATORS(M, ctx) M(ctx, Plus, 'U', "+", Sum, Prefix, false, true, Nothing)  /* a leading "+" */

// How tightly an operator holds its operands: an incoming operator first
// applies the waiting ones that bind tighter (or as tightly, when it is
// left-associative).  Functions and "(" wait for their ")".
enum class Binding : uint8_t { Bracket, Sum, Product, Power };
enum class Associativity : uint8_t { Left, Right, Prefix };

// How the machine code computes an operator.
enum class Lowering : uint8_t {
    Add, Subtract, Multiply, Divide,  // one SSE2 instruction; a divisor checked first
    FlooredQuotient, FlooredRemainder,  // roundsd as floor where the CPU has SSE4.1, else the helper
    Power,          // a constant exponent: the standard pow over its safe band, the square inline
    Helper,         // the operator's own code, called
    Negate, Absolute, SquareRoot, Sign, Ez,  // a few instructions
    PeriodicCall,   // the standard function below 2^53, the helper for the rest
    LogarithmCall,  // refused at or below 1e-10, the standard function up to the largest double
    ArcCall,        // refused outside [-1, 1], the standard function inside
    ExpCall,        // refused above 100, the helper from the underflow bound down
    Call,           // the standard function for every argument
    Nothing,        // runs nothing
};

// Operator codes, as stored in operator items and on the operator stack,
// and the two kinds the evaluator applies (the same values).
enum class Operator : char {
#define TALLYMAT_OPERATOR_CODE(ctx, Name, code, ...) k##Name = code,
    TALLYMAT_BINARY_OPERATORS(TALLYMAT_OPERATOR_CODE, _)
    TALLYMAT_UNARY_OPERATORS(TALLYMAT_OPERATOR_CODE, _)
    TALLYMAT_SILENT_OPERATORS(TALLYMAT_OPERATOR_CODE, _)
};
enum class Binary : char { TALLYMAT_BINARY_OPERATORS(TALLYMAT_OPERATOR_CODE, _) };
enum class Unary : char {
    TALLYMAT_UNARY_OPERATORS(TALLYMAT_OPERATOR_CODE, _)
    TALLYMAT_SILENT_OPERATORS(TALLYMAT_OPERATOR_CODE, _)
};
#undef TALLYMAT_OPERATOR_CODE

constexpr Operator operator_of(Binary code) { return static_cast<Operator>(code); }
constexpr Operator operator_of(Unary code) { return static_cast<Operator>(code); }

// Packed to 12 bytes: a program buffer holds one item per token, and a
// 1 MiB formula has up to a million tokens.
#pragma pack(push, 4)
struct Item {
    int32_t kind;
    union {
        Operator op;
        double number;
        const double* cell;
    };
};
#pragma pack(pop)
static_assert(sizeof(Item) == 12);

inline Item operator_item(Operator code) {
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

}  // namespace tallymat::program

namespace tallymat::program {

// One row per operator: everything the translator, the constant folding,
// the fast form and the compiler need to know about it, from the lists above.
struct OperatorInfo {
    Operator code;
    const char* name;  // as written in formulas
    int arity;         // 1 or 2
    Binding binding;
    Associativity associativity;
    bool may_report;   // runs a guarded math entry: the math error flag is tested after it
    bool foldable;     // never fails nor reports: applied to constants at translation
    Lowering lowering;

    constexpr bool is_word() const { return name[0] >= 'a' && name[0] <= 'z'; }
    constexpr bool is_function() const { return arity == 1 && is_word(); }
    // Has instructions of the fast form; a leading "+" runs nothing.
    constexpr bool runs() const { return lowering != Lowering::Nothing; }
};

inline constexpr OperatorInfo kOperators[] = {
#define TALLYMAT_OPERATOR_ROW(arity, Name, code, spelling, binding, associativity, report, fold, lowering) \
    {Operator::k##Name, spelling, arity, Binding::binding,                                                   \
     Associativity::associativity, report, fold, Lowering::lowering},
    TALLYMAT_BINARY_OPERATORS(TALLYMAT_OPERATOR_ROW, 2)
    TALLYMAT_UNARY_OPERATORS(TALLYMAT_OPERATOR_ROW, 1)
    TALLYMAT_SILENT_OPERATORS(TALLYMAT_OPERATOR_ROW, 1)
#undef TALLYMAT_OPERATOR_ROW
};
inline constexpr int kOperatorCount = static_cast<int>(std::size(kOperators));

constexpr unsigned code_index(Operator code) { return static_cast<unsigned char>(code); }

// Row of each code (-1: none), by every byte a code may hold.
inline constexpr std::array<int8_t, 256> kOperatorRow = [] {
    std::array<int8_t, 256> rows{};
    rows.fill(-1);
    for (int i = 0; i < kOperatorCount; ++i) rows[code_index(kOperators[i].code)] = static_cast<int8_t>(i);
    return rows;
}();

// A code may stand for one operator only, and a spelling for one operator
// of each arity (a word for one operator of either): otherwise one row
// would silently take another's place.
constexpr bool codes_and_spellings_are_unique() {
    for (int i = 0; i < kOperatorCount; ++i) {
        const OperatorInfo& a = kOperators[i];
        char code = static_cast<char>(a.code);
        if (code < '!' || code > '~' || code == '(' || code == ')') return false;  // printable, not a bracket
        if (a.name[0] == '\0' || (a.is_word() && a.name[1] == '\0')) return false;  // a word has two letters or more
        for (int j = i + 1; j < kOperatorCount; ++j) {
            const OperatorInfo& b = kOperators[j];
            if (a.code == b.code) return false;
            if (std::string_view(a.name) == b.name && (a.arity == b.arity || a.is_word())) return false;
        }
    }
    return true;
}
static_assert(codes_and_spellings_are_unique(), "two operator rows share a code or a spelling");

// The row of an operator code the translator writes (every such code has one).
constexpr const OperatorInfo& operator_info(Operator code) { return kOperators[kOperatorRow[code_index(code)]]; }
constexpr const OperatorInfo& operator_info(Binary code) { return operator_info(operator_of(code)); }
constexpr const OperatorInfo& operator_info(Unary code) { return operator_info(operator_of(code)); }

constexpr int operator_row(Operator code) { return kOperatorRow[code_index(code)]; }

constexpr bool is_binary(Operator code) { return operator_info(code).arity == 2; }
constexpr Binary as_binary(Operator code) { return static_cast<Binary>(code); }
constexpr Unary as_unary(Operator code) { return static_cast<Unary>(code); }

}  // namespace tallymat::program
