#include "hints.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "calculator.hpp"
#include "elementary/functions.hpp"
#include "tallymat.hpp"
#include "translation.hpp"

namespace tallycalc {

namespace {

// Names people bring from other calculators and languages, with what this
// one has instead.
struct Alias {
    const char* name;
    const char* instead;
};
constexpr Alias kAliases[] = {
    {"tan", N_("the tangent is tg")},
    {"atan", N_("the arc tangent is arctg")},
    {"arctan", N_("the arc tangent is arctg")},
    {"asin", N_("the arc sine is arcsin")},
    {"acos", N_("the arc cosine is arccos")},
    {"log", N_("the logarithms are ln (natural) and lg (base 10)")},
    {"log10", N_("the base-10 logarithm is lg")},
    {"pow", N_("powers are x^y and x**n")},
    {"fabs", N_("the absolute value is abs")},
    {"sgn", N_("the sign is sign")},
};

constexpr const tallymat::elementary::FunctionRow& exp_row() {
    return tallymat::elementary::row_of(tallymat::elementary::Function::kExp);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A hint proposes only text that translates (with the variables there are).
bool translates(std::string_view text) { return !text.empty() && tallymat::Formula(text).ok(); }

// The formula with every comma between two digits made a point: 1,5+1 -> 1.5+1.
std::string with_decimal_points(std::string_view formula) {
    std::string text(formula);
    for (size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] == ',' && is_digit(text[i - 1]) && is_digit(text[i + 1])) text[i] = '.';
    return text;
}

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

// The first `count` of the significant digits `digits`, rounded half up
// (a carry past the first digit raises `exponent`).
std::string rounded_digits(std::string digits, size_t count, long& exponent) {
    if (digits.size() <= count) return digits;
    bool up = digits[count] >= '5';
    digits.resize(count);
    for (size_t i = count; up && i-- > 0;) {
        up = digits[i] == '9';
        digits[i] = up ? '0' : static_cast<char>(digits[i] + 1);
    }
    if (up) {
        digits.insert(digits.begin(), '1');
        digits.pop_back();
        ++exponent;
    }
    return digits;
}

// The literal in the form the limits allow: 12345678901 -> 1.2345678901e10
// (its 11 significant digits, rounded); empty when its exponent is itself too long.
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
    std::string significant = rounded_digits(digits.substr(first), 11, exponent);
    significant.erase(significant.find_last_not_of('0') + 1);
    std::string text = significant.substr(0, 1);
    if (significant.size() > 1) text += "." + significant.substr(1);
    return exponent == 0 ? text : text + "e" + std::to_string(exponent);
}

std::string unknown_name_hint(std::string_view name) {
    auto is_unknown = [&](const char* instead) { return fill(tr("\"{}\" is unknown: {}"), {name, tr(instead)}); };
    for (const Alias& alias : kAliases)
        if (equals_ignoring_case(name, alias.name)) return is_unknown(alias.instead);
    for (const char* const* f = kFunctionNames; *f; ++f)
        if (equals_ignoring_case(name, *f)) return {};
    if (tallymat::variables::handle(name) >= 0) return {};  // it exists: the trouble is elsewhere
    return is_unknown(N_("no such variable (vars lists them) or function (help lists them)"));
}

// A number whose exponent has no digits: "2e", "2e+" (the literal reads as 2).
bool ends_with_bare_exponent(std::string_view text) {
    if (!text.empty() && (text.back() == '+' || text.back() == '-')) text.remove_suffix(1);
    if (text.empty() || (text.back() != 'e' && text.back() != 'E')) return false;
    text.remove_suffix(1);
    if (text.empty() || !(is_digit(text.back()) || text.back() == '.')) return false;
    size_t start = literal_around(text, text.size()).first;
    return start == 0 || !continues_name(text[start - 1]);  // not a name such as x2e
}

// Error 6 (an operand where an operator is due): what came before says why.
std::string missing_operator_hint(std::string_view formula, size_t at) {
    size_t before = at;
    while (before > 0 && is_blank(formula[before - 1])) --before;
    if (before == 0) return {};
    char previous = formula[before - 1], here = formula[at];
    if (ends_with_bare_exponent(formula.substr(0, before)))
        return tr("a number's exponent needs digits, as in 2e+3; 2 times e is 2*e");
    if (is_digit(here) && before == at && (is_digit(previous) || previous == '.')) {
        auto [start, end] = literal_around(formula, at);
        std::string form = scientific_form(formula.substr(start, end - start));
        if (!translates(form)) form.clear();
        const char* limits = tr("a number has at most 10 digits before the point and 10 after it, and an exponent "
                                "of up to four digits");
        std::string hint = form.empty() ? limits : fill(tr("{}: write {}"), {limits, form});
        if (form.rfind("3.14159265", 0) == 0) hint += tr("; for π write pi");
        if (form.rfind("2.71828182", 0) == 0) hint += tr("; for e write e");
        return hint;
    }
    if (is_digit(here) && (is_digit(previous) || previous == '.')) {
        std::string joined(formula.substr(0, before));
        joined += formula.substr(at);
        return translates(joined) ? fill(tr("no spaces inside a number: write {}"), {escape_controls(joined)})
                                  : std::string();
    }
    if (starts_name(here) || here == '(' || is_digit(here)) {
        std::string product(formula.substr(0, before));
        product += "*";
        product += formula.substr(at);
        return translates(product)
                   ? fill(tr("there is no implicit multiplication: write {}"), {escape_controls(product)})
                   : std::string();
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

namespace {

std::string not_in_language(std::string_view rest) {
    return fill(tr("\"{}\" is not part of the formula language"), {escape_controls(rest.substr(0, 1))});
}

}  // namespace

std::string translation_hint(std::string_view formula, int code, int offset) {
    if (offset < 0 || static_cast<size_t>(offset) >= formula.size()) return {};
    const auto at = static_cast<size_t>(offset);
    std::string_view rest = formula.substr(at);
    if (code == TALLYMAT_E_UNDEFINED_OPERATION) {
        if (std::string hint = missing_operator_hint(formula, at); !hint.empty()) return hint;
    }
    if (code != TALLYMAT_E_UNDEFINED_SYMBOL && code != TALLYMAT_E_UNDEFINED_OPERATION) return {};
    if (starts_name(rest[0])) {
        size_t length = 1;
        while (length < rest.size() && continues_name(rest[length])) ++length;
        return unknown_name_hint(rest.substr(0, length));
    }
    switch (rest[0]) {
        case '%': return tr("\"%\" is not an operator: the remainder is mod (7 mod 3)");
        case ',': {
            std::string pointed = with_decimal_points(formula);
            if (at > 0 && is_digit(formula[at - 1]) && translates(pointed))
                return fill(tr("{}: write {}"), {tr("the fraction follows a point"), escape_controls(pointed)});
            break;
        }
        case '=': return tr("a line assigns with one =, as in x = 3; there is no comparison");
        case '+': case '-': case '*': case '/': case '^':
            return fill(tr("\"{}\" cannot follow an operator: a sign needs brackets, as in a*(-b)"),
                        {rest.substr(0, 1)});
        default:
            if (static_cast<unsigned char>(rest[0]) < 0x80 && !std::strchr("0123456789.() \t", rest[0]))
                return not_in_language(rest);
            return {};
    }
    return not_in_language(rest);
}

std::string evaluation_hint(std::string_view formula, int code) {
    if (code != TALLYMAT_E_OVERFLOW) return {};
    for (size_t i = 0; i + 3 <= formula.size(); ++i)
        if (equals_ignoring_case(formula.substr(i, 3), "exp") && (i == 0 || !continues_name(formula[i - 1])) &&
            (i + 3 == formula.size() || !continues_name(formula[i + 3])))
            return fill(tr("exp takes arguments up to {}"), {format_value(exp_row().refused_above)});
    return {};
}

std::string capacity_hint() {
    return tr("ans (the last result), pi and e take three of the 100 places (vars lists them)");
}

namespace {

size_t skip_blanks(std::string_view text, size_t i) {
    while (i < text.size() && is_blank(text[i])) ++i;
    return i;
}

// Past the bracketed group that opens at `i` (or to the end).
size_t skip_group(std::string_view text, size_t i) {
    for (int depth = 0; i < text.size(); ++i) {
        if (text[i] == '(') ++depth;
        else if (text[i] == ')' && --depth == 0) return i + 1;
    }
    return i;
}

// The power operator at `i`, "^" or "**": its length, 0 when there is none.
size_t power_at(std::string_view text, size_t i) {
    if (i < text.size() && text[i] == '^') return 1;
    return text.substr(i, 2) == "**" ? 2 : 0;
}

// Past the operand of a power that starts at `i`: a sign, then a number, a
// name (with its call's brackets) or a bracketed group.
size_t skip_power_operand(std::string_view text, size_t i) {
    i = skip_blanks(text, i);
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) i = skip_blanks(text, i + 1);
    if (i < text.size() && text[i] == '(') return skip_group(text, i);
    if (i < text.size() && starts_name(text[i])) {
        while (i < text.size() && continues_name(text[i])) ++i;
        size_t call = skip_blanks(text, i);
        return call < text.size() && text[call] == '(' ? skip_group(text, call) : i;
    }
    size_t end = i;
    while (end < text.size() && (is_digit(text[end]) || text[end] == '.' || text[end] == 'e' || text[end] == 'E' ||
                                 ((text[end] == '+' || text[end] == '-') && end > 0 &&
                                  (text[end - 1] == 'e' || text[end - 1] == 'E'))))
        ++end;
    return end;
}

// The value of a power's exponent when it is a number or a variable's
// name, else NaN.
double exponent_value(std::string_view operand) {
    std::string text(operand);
    if (!text.empty() && starts_name(text[0])) {
        int handle = tallymat::variables::handle(text);
        return handle >= 0 ? tallymat::variables::get(handle).value : std::nan("");
    }
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' ? value : std::nan("");
}

constexpr const char* kIntegerPower =
    N_("** truncates its exponent toward zero (2**0.5 is 2**0 = 1): a root is 2^0.5 or sqrt(2)");
constexpr const char* kSignAfterPower =
    N_("a sign after ^ covers the whole product after it: 2^-1*3 is 2^(-1*3) = 0.125; (1/2)*3 is 2^(-1)*3");
constexpr const char* kChainedPower = N_("powers group from the left: 2^3^2 is (2^3)^2 = 64; 2^(3^2) is 512");

}  // namespace

std::string surprise_hint(std::string_view formula, unsigned& shown) {
    auto once = [&](Surprise surprise, const char* text) -> std::string {
        auto bit = 1u << static_cast<unsigned>(surprise);
        if (shown & bit) return {};
        shown |= bit;
        return tr(text);
    };
    for (size_t i = 0; i < formula.size(); ++i) {
        size_t length = power_at(formula, i);
        if (length == 0) continue;
        size_t operand = skip_blanks(formula, i + length);
        size_t operand_end = skip_power_operand(formula, operand);
        if (operand < formula.size() && (formula[operand] == '-' || formula[operand] == '+'))
            if (std::string hint = once(Surprise::kSignAfterPower, kSignAfterPower); !hint.empty()) return hint;
        if (length == 2) {
            double value = exponent_value(formula.substr(operand, operand_end - operand));
            if (std::isfinite(value) && value != std::trunc(value))
                if (std::string hint = once(Surprise::kIntegerPower, kIntegerPower); !hint.empty()) return hint;
        }
        if (power_at(formula, skip_blanks(formula, operand_end)) != 0)
            if (std::string hint = once(Surprise::kChainedPower, kChainedPower); !hint.empty()) return hint;
        i += length - 1;
    }
    return {};
}

}  // namespace tallycalc
