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
// operator that binds less tightly (or as tightly, being left-associative),
// a ")" or the end pops them.  The spellings, bindings and associativity
// are the operator table's (program.hpp).
#include "translate/translator.hpp"

#include <string_view>

#include "core/ascii.hpp"
#include "core/errors.hpp"
#include "translate/scanner.hpp"
#include "translate/slots.hpp"
#include "vars/var_table.hpp"

namespace tallymat::translate {

using namespace program;  // the items and the operator table are what translation writes

OperatorStack operator_stack{};

namespace {

// Binding of each code, the "(" and the base marker at the lowest: an
// incoming operator applies the waiting ones whose binding reaches its
// threshold, and a ")" or the end every one above a bracket.
constexpr std::array<Binding, 256> kBindingOf = [] {
    std::array<Binding, 256> table{};
    table.fill(Binding::Bracket);
    for (const OperatorInfo& row : kOperators) table[static_cast<unsigned char>(row.code)] = row.binding;
    return table;
}();

inline Binding binding_of(Operator code) { return kBindingOf[static_cast<unsigned char>(code)]; }

// Whole-word comparison ignoring the case of ASCII letters; word is lower case.
bool equals_word(const char* name, const char* word) {
    for (; *word; ++name, ++word)
        if (core::lower_ascii(*name) != *word) return false;
    return *name == '\0';
}

// The infix operators of the operator table, arranged for the scan: signs
// of one or two characters by their first, and words; each with what the
// scan needs at hand.
struct InfixSpelling {
    Operator code{};
    Binding threshold{};           // the waiting operators it applies first
    uint8_t length = 0;            // 0: none
    bool sign_may_follow = false;  // no sign follows "+" or "-"
};

// A left-associative operator applies the waiting ones of its own binding
// first; a right-associative one waits on them.
constexpr InfixSpelling infix_spelling(const OperatorInfo& row) {
    Binding threshold = row.associativity == Associativity::Right
                            ? static_cast<Binding>(static_cast<int>(row.binding) + 1)
                            : row.binding;
    return {row.code, threshold, static_cast<uint8_t>(std::string_view(row.name).size()), row.binding > Binding::Sum};
}

struct InfixSigns {
    InfixSpelling one[256];  // by the character
    InfixSpelling two[256];  // by the first of two characters
    char second[256];        // that second character
};

constexpr InfixSigns kInfixSigns = [] {
    InfixSigns signs{};
    for (const OperatorInfo& row : kOperators) {
        if (row.arity != 2 || row.is_word()) continue;
        auto first = static_cast<unsigned char>(row.name[0]);
        if (std::string_view(row.name).size() > 2) throw "an infix sign has one or two characters";
        if (row.name[1] == '\0') {
            signs.one[first] = infix_spelling(row);
        } else {
            if (signs.two[first].length) throw "two infix signs of two characters share their first";
            signs.two[first] = infix_spelling(row);
            signs.second[first] = row.name[1];
        }
    }
    return signs;
}();

struct InfixWord {
    const char* name;
    InfixSpelling spelling;
};

constexpr std::array<InfixWord, kOperatorCount> kInfixWords = [] {
    std::array<InfixWord, kOperatorCount> words{};
    int count = 0;
    for (const OperatorInfo& row : kOperators)
        if (row.arity == 2 && row.is_word()) words[count++] = {row.name, infix_spelling(row)};
    return words;
}();

constexpr std::array<const OperatorInfo*, 256> kLeadingSigns = [] {
    std::array<const OperatorInfo*, 256> signs{};
    for (const OperatorInfo& row : kOperators)
        if (row.arity == 1 && !row.is_word()) {
            if (row.name[1] != '\0') throw "a leading sign is one character";
            signs[static_cast<unsigned char>(row.name[0])] = &row;
        }
    return signs;
}();

inline const OperatorInfo* sign_spelled(char c) { return kLeadingSigns[static_cast<unsigned char>(c)]; }

// A ")" or the end applies every waiting operator down to a bracket.
constexpr Binding kAboveBrackets = Binding::Sum;

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

inline Operator top_operator() { return operator_stack.entries[operator_stack.top]; }

// A full stack refuses the push: the text needs more pending entries than it holds.
inline int32_t push_operator(Operator code) {
    if (operator_stack.top == kOperatorStackSize - 1) return core::kBufferOverflow;
    operator_stack.entries[++operator_stack.top] = code;
    return core::kOk;
}

inline int32_t pop_and_append(Translation& t) {
    return append(*t.slot, operator_item(operator_stack.entries[operator_stack.top--]));
}

int32_t pop_while_binding(Translation& t, Binding threshold) {
    while (binding_of(top_operator()) >= threshold)
        if (int32_t code = pop_and_append(t)) return code;
    return core::kOk;
}

inline void set_error_offset(int32_t pos) { core::error_registers.error_offset = pos; }

// A function name must be followed, after any whitespace, by its "(".
int32_t take_function(Translation& t, Operator code) {
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
        if (const OperatorInfo* function = function_named(t.identifier)) return take_function(t, function->code);
        return take_variable(t, name_start);
    }
    if (has_class(c, kDigit) || c == '.') {
        double value = read_number(t.text, t.pos);
        if (int32_t failure = append(*t.slot, number_item(value))) return failure;
        t.operand_expected = t.unary_allowed = false;
        return core::kOk;
    }
    if (c == '(') {
        if (int32_t failure = push_operator(kOpenBracket)) return failure;
        ++t.pos;
        t.unary_allowed = true;
        return core::kOk;
    }
    const OperatorInfo* sign = sign_spelled(c);
    if (t.unary_allowed && sign) {
        if (int32_t failure = push_operator(sign->code)) return failure;
        ++t.pos;
        t.unary_allowed = false;
        return core::kOk;
    }
    return core::kUndefinedSymbol;
}

int32_t closing_bracket(Translation& t) {
    if (int32_t failure = pop_while_binding(t, kAboveBrackets)) return failure;
    if (operator_stack.top == 0) return core::kSurplusBracket;
    if (top_operator() == kOpenBracket) {
        --operator_stack.top;
    } else if (int32_t failure = pop_and_append(t)) {  // a function code: apply it
        return failure;
    }
    t.operand_expected = t.unary_allowed = false;
    ++t.pos;
    return core::kOk;
}

// Applies an infix operator found at t.pos, `length` characters long.
[[gnu::always_inline]] inline int32_t take_infix(Translation& t, const InfixSpelling& found, int32_t length) {
    if (int32_t failure = pop_while_binding(t, found.threshold)) return failure;
    if (int32_t failure = push_operator(found.code)) return failure;
    t.pos += length;
    t.operand_expected = true;
    t.unary_allowed = found.sign_may_follow;
    return core::kOk;
}

// A word in operator position: an infix word, or an undefined operation at
// its first character.
int32_t take_infix_word(Translation& t) {
    int32_t length = read_identifier(t.text, t.pos, t.identifier);
    t.pos -= length;
    for (const InfixWord& word : kInfixWords)
        if (word.name && equals_word(t.identifier, word.name)) return take_infix(t, word.spelling, length);
    return core::kUndefinedOperation;
}

// The characters that start an infix sign, padded to a fixed count:
// operator_step's switch has one case per entry, so that
// each sign's facts are constants there, as a hand-written switch would
// have them.
inline constexpr int kSignCases = 8;
constexpr std::array<unsigned char, kSignCases> kSignFirsts = [] {
    std::array<unsigned char, kSignCases> firsts{};
    int count = 0;
    for (int c = 0; c < 256; ++c)
        if (kInfixSigns.one[c].length || kInfixSigns.two[c].length) {
            if (count == kSignCases) throw "more characters start an infix sign than operator_step has cases";
            firsts[count++] = static_cast<unsigned char>(c);
        }
    // Padding from the punctuation that starts no sign (it is an undefined
    // operation either way), near the signs so that the switch stays a
    // compact jump table.
    for (unsigned char padding = '!'; count < kSignCases; ++padding) {
        bool taken = padding == ')';
        for (int i = 0; i < count; ++i) taken = taken || firsts[i] == padding;
        if (!taken) firsts[count++] = padding;
    }
    return firsts;
}();

// The sign starting with the I-th character, its facts known at compile time.
template <int I>
int32_t take_infix_sign(Translation& t, const char* at) {
    constexpr unsigned char kFirst = kSignFirsts[I];
    constexpr InfixSpelling kOne = kInfixSigns.one[kFirst], kTwo = kInfixSigns.two[kFirst];
    constexpr char kSecond = kInfixSigns.second[kFirst];
    if constexpr (kSecond != 0)
        if (at[1] == kSecond) return take_infix(t, kTwo, kTwo.length);
    if constexpr (kOne.length != 0) return take_infix(t, kOne, kOne.length);
    else return core::kUndefinedOperation;
}

int32_t operator_step(Translation& t) {
    const char* at = t.text + t.pos;
    switch (static_cast<unsigned char>(*at)) {
        case ')': return closing_bracket(t);
        case kSignFirsts[0]: return take_infix_sign<0>(t, at);
        case kSignFirsts[1]: return take_infix_sign<1>(t, at);
        case kSignFirsts[2]: return take_infix_sign<2>(t, at);
        case kSignFirsts[3]: return take_infix_sign<3>(t, at);
        case kSignFirsts[4]: return take_infix_sign<4>(t, at);
        case kSignFirsts[5]: return take_infix_sign<5>(t, at);
        case kSignFirsts[6]: return take_infix_sign<6>(t, at);
        case kSignFirsts[7]: return take_infix_sign<7>(t, at);
        default:
            if (has_class(*at, kIdentStart)) return take_infix_word(t);
            return core::kUndefinedOperation;
    }
}
static_assert(kSignCases == 8, "operator_step has one case per entry of kSignFirsts");

// At the end only binary operators and signs may still wait; a "(" or a
// function code means a missing ")".
int32_t finish(Translation& t) {
    if (t.operand_expected) return core::kUnexpectedEnd;
    while (operator_stack.top != 0) {
        if (binding_of(top_operator()) == Binding::Bracket) return core::kNoClosingBracket;
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
        if (!kOperators[i].is_function()) continue;
        int letter = kOperators[i].name[0] - 'a';
        index.rows[letter][index.count[letter]++] = static_cast<int8_t>(i);  // overflowing fails to compile
    }
    return index;
}();

}  // namespace

const OperatorInfo* function_named(const char* name) {
    if (name[0] == '\0' || name[1] == '\0') return nullptr;  // every function name has two letters or more
    char first = core::lower_ascii(name[0]);
    if (first < 'a' || first > 'z') return nullptr;
    int letter = first - 'a';
    for (int i = 0; i < kFunctionsByLetter.count[letter]; ++i) {
        const OperatorInfo& row = kOperators[kFunctionsByLetter.rows[letter][i]];
        if (equals_word(name, row.name)) return &row;
    }
    return nullptr;
}

}  // namespace tallymat::translate

namespace tallymat::translate {

using namespace program;

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
