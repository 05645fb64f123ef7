#include "hints.hpp"

#include <cstring>

#include "calculator.hpp"
#include "elementary/functions.hpp"
#include "tallymat.h"

namespace tallycalc {

namespace {

// One text in both languages (the Russian in UTF-8).
struct Text {
    const char* english;
    const char* russian;
    const char* in(Language language) const { return language == Language::kRussian ? russian : english; }
};

// Names people bring from other calculators and languages, with what this
// one has instead.
struct Alias {
    const char* name;
    Text instead;
};
constexpr Alias kAliases[] = {
    {"tan", {"the tangent is tg", "тангенс — tg"}},
    {"atan", {"the arc tangent is arctg", "арктангенс — arctg"}},
    {"arctan", {"the arc tangent is arctg", "арктангенс — arctg"}},
    {"asin", {"the arc sine is arcsin", "арксинус — arcsin"}},
    {"acos", {"the arc cosine is arccos", "арккосинус — arccos"}},
    {"log", {"the logarithms are ln (natural) and lg (base 10)", "логарифмы — ln (натуральный) и lg (десятичный)"}},
    {"log10", {"the base-10 logarithm is lg", "десятичный логарифм — lg"}},
    {"pi", {"there are no constants: pi = 4*arctg(1) defines it", "констант нет: pi = 4*arctg(1) задаёт её"}},
    {"e", {"there are no constants: exp(1) is e", "констант нет: e — это exp(1)"}},
    {"pow", {"powers are x^y and x**n", "степени — x^y и x**n"}},
    {"fabs", {"the absolute value is abs", "модуль — abs"}},
    {"sgn", {"the sign is sign", "знак — sign"}},
};

constexpr Text kIsUnknown{" is unknown: ", " неизвестно: "};
constexpr Text kNoSuchName{"no such variable (vars lists them) or function (help lists them)",
                           "нет такой переменной (их список — vars) или функции (их список — help)"};
constexpr Text kPercent{"\"%\" is not an operator: the remainder is mod (7 mod 3)",
                        "\"%\" — не операция: остаток — mod (7 mod 3)"};
constexpr Text kSignNeedsBrackets{"\" cannot follow an operator: a sign needs brackets, as in a*(-b)",
                                  "\" не может стоять после операции: знак берётся в скобки, как в a*(-b)"};
constexpr Text kNotInLanguage{"\" is not part of the formula language", "\" не входит в язык формул"};
constexpr Text kSingleEquals{"a line assigns with one =, as in x = 3; there is no comparison",
                             "присваивание пишется одним =, как в x = 3; сравнений нет"};
constexpr Text kLiteralLimits{"a number has at most 10 digits before the point and 10 after it, and an exponent of "
                              "up to four digits",
                              "в числе не больше 10 цифр до точки и 10 после неё, в порядке не больше четырёх цифр"};
constexpr Text kWrite{": write ", ": пишите "};
constexpr Text kImplicitProduct{"there is no implicit multiplication: write ", "умножение пишется явно: "};
constexpr Text kSpaceInNumber{"no spaces inside a number: write ", "внутри числа пробелов нет: "};
constexpr Text kExpBound{"exp takes arguments up to ", "аргумент exp не больше "};
constexpr Text kCapacity{"ans, the last result, takes one of the 100 places (vars lists them)",
                         "ans, последний результат, занимает одно из 100 мест (список — vars)"};

constexpr const tallymat::elementary::FunctionRow& exp_row() {
    return tallymat::elementary::row_of(tallymat::elementary::Function::kExp);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The number literal that holds position `at`: [start, end).
std::pair<size_t, size_t> literal_around(std::string_view text, size_t at) {
    size_t start = at;
    while (start > 0) {
        char c = text[start - 1];
        bool exponent_sign = (c == '+' || c == '-') && start >= 2 && (text[start - 2] == 'e' || text[start - 2] == 'E');
        if (is_digit(c) || c == '.' || c == 'e' || c == 'E' || exponent_sign) --start;
        else break;
    }
    while (start < at && !is_digit(text[start]) && text[start] != '.') ++start;  // no leading "e"
    size_t end = at;
    while (end < text.size() && is_digit(text[end])) ++end;
    return {start, end};
}

// The literal in the form the limits allow: 12345678901 -> 1.2345678901e10
// (its first 11 significant digits); empty when its exponent is itself too long.
std::string scientific_form(std::string_view literal) {
    size_t e = literal.find_first_of("eE");
    std::string_view mantissa = literal.substr(0, e);
    long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view rest = literal.substr(e + 1);
        bool negative = !rest.empty() && rest[0] == '-';
        if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) rest.remove_prefix(1);
        if (rest.size() > 4) return {};
        for (char c : rest) exponent = exponent * 10 + (c - '0');
        if (negative) exponent = -exponent;
    }
    std::string digits;
    long point = -1;
    for (char c : mantissa) {
        if (c == '.') point = static_cast<long>(digits.size());
        else digits += c;
    }
    if (point < 0) point = static_cast<long>(digits.size());
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    exponent += point - static_cast<long>(first) - 1;
    std::string significant = digits.substr(first, 11);
    significant.erase(significant.find_last_not_of('0') + 1);
    std::string text = significant.substr(0, 1);
    if (significant.size() > 1) text += "." + significant.substr(1);
    return exponent == 0 ? text : text + "e" + std::to_string(exponent);
}

std::string unknown_name_hint(std::string_view name, Language language) {
    std::string quoted = "\"" + std::string(name) + "\"";
    for (const Alias& alias : kAliases)
        if (equals_ignoring_case(name, alias.name)) return quoted + kIsUnknown.in(language) + alias.instead.in(language);
    for (const char* const* f = kFunctionNames; *f; ++f)
        if (equals_ignoring_case(name, *f)) return {};
    return quoted + kIsUnknown.in(language) + kNoSuchName.in(language);
}

// Error 6 (an operand where an operator is due): what came before says why.
std::string missing_operator_hint(std::string_view formula, size_t at, Language language) {
    size_t before = at;
    while (before > 0 && is_blank(formula[before - 1])) --before;
    if (before == 0) return {};
    char previous = formula[before - 1], here = formula[at];
    if (is_digit(here) && before == at && (is_digit(previous) || previous == '.')) {
        auto [start, end] = literal_around(formula, at);
        std::string form = scientific_form(formula.substr(start, end - start));
        return std::string(kLiteralLimits.in(language)) + (form.empty() ? "" : kWrite.in(language) + form);
    }
    if (is_digit(here) && (is_digit(previous) || previous == '.')) {
        std::string joined(formula.substr(0, before));
        joined += formula.substr(at);
        return kSpaceInNumber.in(language) + escape_controls(joined);
    }
    if (starts_name(here) || here == '(' || is_digit(here)) {
        std::string product(formula.substr(0, before));
        product += "*";
        product += formula.substr(at);
        return kImplicitProduct.in(language) + escape_controls(product);
    }
    return {};
}

}  // namespace

bool starts_name(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool continues_name(char c) { return starts_name(c) || is_digit(c); }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

std::string escape_controls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string translation_hint(std::string_view formula, int code, int offset, Language language) {
    if (offset < 0 || static_cast<size_t>(offset) >= formula.size()) return {};
    const auto at = static_cast<size_t>(offset);
    std::string_view rest = formula.substr(at);
    if (code == TALLYMAT_E_UNDEFINED_OPERATION) {
        if (std::string hint = missing_operator_hint(formula, at, language); !hint.empty()) return hint;
    }
    if (code != TALLYMAT_E_UNDEFINED_SYMBOL && code != TALLYMAT_E_UNDEFINED_OPERATION) return {};
    if (starts_name(rest[0])) {
        size_t length = 1;
        while (length < rest.size() && continues_name(rest[length])) ++length;
        return unknown_name_hint(rest.substr(0, length), language);
    }
    switch (rest[0]) {
        case '%': return kPercent.in(language);
        case '=': return kSingleEquals.in(language);
        case '+': case '-': case '*': case '/': case '^':
            return "\"" + std::string(1, rest[0]) + kSignNeedsBrackets.in(language);
        default:
            if (static_cast<unsigned char>(rest[0]) < 0x80 && !std::strchr("0123456789.() \t", rest[0]))
                return "\"" + escape_controls(rest.substr(0, 1)) + kNotInLanguage.in(language);
            return {};
    }
}

std::string evaluation_hint(std::string_view formula, int code, Language language) {
    if (code != TALLYMAT_E_OVERFLOW) return {};
    for (size_t i = 0; i + 3 <= formula.size(); ++i)
        if (equals_ignoring_case(formula.substr(i, 3), "exp") && (i == 0 || !continues_name(formula[i - 1])) &&
            (i + 3 == formula.size() || !continues_name(formula[i + 3])))
            return kExpBound.in(language) + format_value(exp_row().refused_above);
    return {};
}

std::string capacity_hint(Language language) { return kCapacity.in(language); }

}  // namespace tallycalc
