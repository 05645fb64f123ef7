// exprpost: one left-to-right pass with an explicit operator stack.
//
// Grammar, as the operator stack realises it (every level left-associative):
//   sum     := signed { ("+" | "-") product }
//   signed  := [ "+" | "-" ] product      a sign covers the rest of the product
//   product := power { ("*" | "/" | "mod" | "div") (power | signed) }
//   power   := operand { ("^" | "**") (operand | signed) }
//   operand := number | variable | function "(" sum ")" | "(" sum ")"
// so -2^2 is -(2^2) and 2^-1*3 is 2^(-(1*3)); no sign follows "+" or "-".
// Operands go to the program at once; operators wait on the stack until an
// operator of the pop set chosen with them, a ")" or the end pops them.
#include "translate/translator.hpp"

#include "core/errors.hpp"
#include "translate/scanner.hpp"
#include "translate/slots.hpp"
#include "vars/var_table.hpp"

namespace tallymat::translate {

OperatorStack operator_stack{};

namespace {

// The three pop sets, as flags per operator code.
enum PopSet : uint8_t {
    kPopAdditive = 1 << 0,        // "+-*/^PUumd": every binary operator and both signs
    kPopMultiplicative = 1 << 1,  // "*/mdP^"
    kPopPower = 1 << 2,           // "P^"
};

constexpr std::array<uint8_t, 256> kPopMembership = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned char c : {'+', '-', '*', '/', '^', 'P', 'U', 'u', 'm', 'd'}) table[c] |= kPopAdditive;
    for (unsigned char c : {'*', '/', 'm', 'd', 'P', '^'}) table[c] |= kPopMultiplicative;
    for (unsigned char c : {'P', '^'}) table[c] |= kPopPower;
    return table;
}();

inline bool in_pop_set(char code, PopSet set) { return (kPopMembership[static_cast<unsigned char>(code)] & set) != 0; }

inline char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whole-word comparison ignoring the case of ASCII letters; word is lower case.
bool equals_word(const char* name, const char* word) {
    for (; *word; ++name, ++word)
        if (lower_ascii(*name) != *word) return false;
    return *name == '\0';
}

// Per-call state of one translation.
struct Translation {
    const char* text;
    int32_t pos;
    bool operand_expected;
    bool unary_allowed;
    Slot* slot;
    char identifier[kIdentifierBufferSize];
};

inline void reset_operator_stack() {
    operator_stack.entries[0] = kBaseMarker;
    operator_stack.top = 0;
}

inline char top_operator() { return operator_stack.entries[operator_stack.top]; }

// A full stack refuses the push: the text needs more pending entries than it holds.
inline int32_t push_operator(char code) {
    if (operator_stack.top == kOperatorStackSize - 1) return core::kBufferOverflow;
    operator_stack.entries[++operator_stack.top] = code;
    return core::kOk;
}

inline int32_t pop_and_append(Translation& t) {
    return append(*t.slot, operator_item(operator_stack.entries[operator_stack.top--]));
}

int32_t pop_while_in(Translation& t, PopSet set) {
    while (in_pop_set(top_operator(), set))
        if (int32_t code = pop_and_append(t)) return code;
    return core::kOk;
}

inline void set_error_offset(int32_t pos) { core::error_registers.error_offset = pos; }

// A function name must be followed, after any whitespace, by its "(".
int32_t take_function(Translation& t, char code) {
    if (int32_t failure = push_operator(code)) return failure;
    skip_whitespace(t.text, t.pos);
    if (t.text[t.pos] != '(') {
        set_error_offset(t.pos);
        return core::kNoFunctionBracket;
    }
    ++t.pos;
    t.unary_allowed = true;
    return core::kOk;
}

int32_t take_variable(Translation& t, int32_t name_start) {
    vars::SearchResult where = vars::search(t.identifier);
    if (!where.found) {
        set_error_offset(name_start);
        return core::kUndefinedSymbol;
    }
    if (int32_t failure = append(*t.slot, variable_item(vars::var_table.cells[where.position]))) return failure;
    t.operand_expected = t.unary_allowed = false;
    return core::kOk;
}

int32_t operand_step(Translation& t) {
    char c = t.text[t.pos];
    if (has_class(c, kIdentStart)) {
        int32_t name_start = t.pos;
        read_identifier(t.text, t.pos, t.identifier);
        if (char code = function_code(t.identifier)) return take_function(t, code);
        return take_variable(t, name_start);
    }
    if (has_class(c, kDigit) || c == '.') {
        double value = read_number(t.text, t.pos);
        if (int32_t failure = append(*t.slot, number_item(value))) return failure;
        t.operand_expected = t.unary_allowed = false;
        return core::kOk;
    }
    if (c == '(') {
        if (int32_t failure = push_operator('(')) return failure;
        ++t.pos;
        t.unary_allowed = true;
        return core::kOk;
    }
    if (t.unary_allowed && (c == '+' || c == '-')) {
        if (int32_t failure = push_operator(c == '+' ? op::kPlus : op::kNeg)) return failure;
        ++t.pos;
        t.unary_allowed = false;
        return core::kOk;
    }
    return core::kUndefinedSymbol;
}

int32_t closing_bracket(Translation& t) {
    if (int32_t failure = pop_while_in(t, kPopAdditive)) return failure;
    if (operator_stack.top == 0) return core::kSurplusBracket;
    if (top_operator() == '(') {
        --operator_stack.top;
    } else if (int32_t failure = pop_and_append(t)) {  // a function code: apply it
        return failure;
    }
    t.operand_expected = t.unary_allowed = false;
    ++t.pos;
    return core::kOk;
}

struct BinaryOperator {
    char code;
    PopSet pops;
    bool unary_allowed_after;
    int32_t length;  // characters taken
};

// "mod" and "div" are operators only here; any other word starting with
// d or m is an undefined operation at its first character.
bool read_operator_word(Translation& t, BinaryOperator& found) {
    int32_t start = t.pos;
    int32_t length = read_identifier(t.text, t.pos, t.identifier);
    t.pos = start;
    if (equals_word(t.identifier, "mod")) found = {op::kMod, kPopMultiplicative, true, length};
    else if (equals_word(t.identifier, "div")) found = {op::kIntDiv, kPopMultiplicative, true, length};
    else return false;
    return true;
}

int32_t operator_step(Translation& t) {
    BinaryOperator found{};
    switch (t.text[t.pos]) {
        case '+': found = {op::kAdd, kPopAdditive, false, 1}; break;
        case '-': found = {op::kSub, kPopAdditive, false, 1}; break;
        case '*':
            if (t.text[t.pos + 1] == '*') found = {op::kIntPow, kPopPower, true, 2};
            else found = {op::kMul, kPopMultiplicative, true, 1};
            break;
        case '/': found = {op::kDiv, kPopMultiplicative, true, 1}; break;
        case '^': found = {op::kPow, kPopPower, true, 1}; break;
        case 'm': case 'M': case 'd': case 'D':
            if (!read_operator_word(t, found)) return core::kUndefinedOperation;
            break;
        case ')': return closing_bracket(t);
        default: return core::kUndefinedOperation;
    }
    if (int32_t failure = pop_while_in(t, found.pops)) return failure;
    if (int32_t failure = push_operator(found.code)) return failure;
    t.pos += found.length;
    t.operand_expected = true;
    t.unary_allowed = found.unary_allowed_after;
    return core::kOk;
}

// At the end only binary operators and signs may still wait; a "(" or a
// function code means a missing ")".
int32_t finish(Translation& t) {
    if (t.operand_expected) return core::kUnexpectedEnd;
    while (operator_stack.top != 0) {
        if (!in_pop_set(top_operator(), kPopAdditive)) return core::kNoClosingBracket;
        if (int32_t failure = pop_and_append(t)) return failure;
    }
    return core::kOk;
}

int32_t translate_text(Translation& t) {
    skip_whitespace(t.text, t.pos);
    while (t.text[t.pos] != '\0') {
        set_error_offset(t.pos);
        int32_t failure = t.operand_expected ? operand_step(t) : operator_step(t);
        if (failure) return failure;
        skip_whitespace(t.text, t.pos);
    }
    set_error_offset(t.pos);
    return finish(t);
}

}  // namespace

// The function rows of the operator table, grouped by first letter at
// compile time: every name in a formula is looked up here first, so a name
// is compared only with the functions that share its first letter.
namespace {

constexpr int kMaxFunctionsPerLetter = 4;

struct FunctionsByLetter {
    int8_t rows[26][kMaxFunctionsPerLetter];
    int8_t count[26];
};

constexpr FunctionsByLetter kFunctionsByLetter = [] {
    FunctionsByLetter index{};
    for (int i = 0; i < kOperatorCount; ++i) {
        char first = kOperators[i].name[0];
        if (kOperators[i].arity != 1 || first < 'a' || first > 'z') continue;
        int letter = first - 'a';
        index.rows[letter][index.count[letter]++] = static_cast<int8_t>(i);  // overflowing fails to compile
    }
    for (int i = 0; i < kOperatorCount; ++i) {
        if (kOperators[i].arity == 1 && kOperators[i].name[0] >= 'a' && kOperators[i].name[1] == '\0') throw "a function name has two letters or more";
    }
    return index;
}();

}  // namespace

char function_code(const char* name) {
    if (name[0] == '\0' || name[1] == '\0') return 0;  // every function name has two letters or more
    char first = lower_ascii(name[0]);
    if (first < 'a' || first > 'z') return 0;
    int letter = first - 'a';
    for (int i = 0; i < kFunctionsByLetter.count[letter]; ++i) {
        const OperatorInfo& row = kOperators[kFunctionsByLetter.rows[letter][i]];
        if (equals_word(name, row.name)) return row.code;
    }
    return 0;
}

}  // namespace tallymat::translate

namespace tallymat::translate {

// Translates a whole text into a newly taken slot, recording the error
// offset; a failed translation leaves no slot behind.
int32_t translate_formula(const char* text, int32_t* index) {
    reset_operator_stack();
    set_error_offset(0);

    int32_t tokens = count_tokens(text);
    if (tokens == kTextTooLong) return core::kBufferOverflow;
    if (tokens == 0) return core::kEmptyString;

    if (int32_t failure = allocate_slot(tokens, index)) return failure;

    Translation t{text, 0, true, true, &expr_table.slots[*index], {}};
    if (int32_t failure = translate_text(t)) {
        release_slot(*index);  // failed translations never use up slots
        return failure;
    }
    return core::kOk;
}

}  // namespace tallymat::translate
