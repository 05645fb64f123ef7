#include "calculator.hpp"

#include <langinfo.h>

#include <charconv>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "tallymat.hpp"

namespace tallycalc {

const char* const kFunctionNames[] = {"sin",   "cos", "tg",   "ln",  "lg",   "arcsin", "arccos",
                                      "arctg", "exp", "sqrt", "abs", "sign", "ez",     nullptr};

MessageConverter::MessageConverter() {
    const char* codeset = nl_langinfo(CODESET);
    if (!codeset || !*codeset || std::strcmp(codeset, "ANSI_X3.4-1968") == 0) codeset = "UTF-8";
    std::string target = std::string(codeset) + "//TRANSLIT";
    cd_ = iconv_open(target.c_str(), "CP1251");
}

MessageConverter::~MessageConverter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
}

std::string MessageConverter::convert(const char* text) const {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return text;
    std::string in = text;
    std::string out(in.size() * 4 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t src_left = in.size(), dst_left = out.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) return text;
    out.resize(out.size() - dst_left);
    return out;
}

std::string format_value(double value) {
    char buffer[400];  // the longest fixed double has 309 integer digits
    auto shortest = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view scientific(buffer, static_cast<size_t>(shortest.ptr - buffer));
    size_t e = scientific.find('e');
    if (e == std::string_view::npos) return std::string(scientific);  // inf, nan
    int exponent = 0;
    const char* digits = scientific.data() + e + 1;
    if (*digits == '+') ++digits;
    std::from_chars(digits, scientific.data() + scientific.size(), exponent);
    if (value != 0.0 && (exponent < -5 || exponent >= 16)) return std::string(scientific);  // 1e+20, 1.5e-07
    auto fixed = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, fixed.ptr);
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

std::string_view trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

namespace {

bool starts_name(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool continues_name(char c) { return starts_name(c) || (c >= '0' && c <= '9'); }

bool is_identifier(std::string_view name) {
    auto start = starts_name;
    if (name.empty() || !start(name[0])) return false;
    for (char c : name)
        if (!start(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

// Names people bring from other calculators and languages, with what this
// one has instead.
struct Alias {
    const char* name;
    const char* instead;
};
constexpr Alias kAliases[] = {
    {"tan", "the tangent is tg"},           {"atan", "the arc tangent is arctg"},
    {"arctan", "the arc tangent is arctg"}, {"asin", "the arc sine is arcsin"},
    {"acos", "the arc cosine is arccos"},   {"log", "the logarithms are ln (natural) and lg (base 10)"},
    {"log10", "the base-10 logarithm is lg"}, {"pi", "there are no constants: pi = 3.141592653589793 defines it"},
    {"e", "there are no constants: exp(1) is e"}, {"pow", "powers are x^y and x**n"},
    {"fabs", "the absolute value is abs"},  {"sgn", "the sign is sign"},
};

// The library's messages in English, as tallymat(3) glosses them.
constexpr const char* kEnglishGlosses[] = {
    "",
    "a closing bracket is missing",
    "no opening bracket after a function name",
    "a surplus closing bracket",
    "an unknown name or character",
    "expression buffer overflow",
    "no operator where one is due",
    "out of memory",
    "100 variables already",
    "the variable exists",
    "the text ends where an operand is due",
    "division by zero",
    "a singularity",
    "argument outside the domain",
    "overflow",
    "underflow",
    "total loss of precision",
    "table not created",
    "100 formulas already",
    "an invalid variable handle",
    "an invalid formula handle",
    "an empty text",
};

}  // namespace

std::string hint_at(std::string_view formula, int offset) {
    if (offset < 0 || static_cast<size_t>(offset) >= formula.size()) return {};
    std::string_view rest = formula.substr(static_cast<size_t>(offset));
    if (starts_name(rest[0])) {
        size_t length = 1;
        while (length < rest.size() && continues_name(rest[length])) ++length;
        std::string_view name = rest.substr(0, length);
        std::string quoted = "\"" + std::string(name) + "\"";
        for (const Alias& alias : kAliases)
            if (equals_ignoring_case(name, alias.name)) return quoted + " is unknown: " + alias.instead;
        for (const char* const* f = kFunctionNames; *f; ++f)
            if (equals_ignoring_case(name, *f)) return {};
        return quoted + " is unknown: no such variable (vars lists them) or function (help lists them)";
    }
    switch (rest[0]) {
        case '%': return "\"%\" is not an operator: the remainder is mod (7 mod 3)";
        case '+': case '-': case '*': case '/': case '^':
            return "\"" + std::string(1, rest[0]) + "\" cannot follow an operator: a sign needs brackets, as in a*(-b)";
        default:
            if (static_cast<unsigned char>(rest[0]) < 0x80 && !std::strchr("0123456789.() \t", rest[0]))
                return "\"" + escape_controls(rest.substr(0, 1)) + "\" is not part of the formula language";
            return {};
    }
}

Calculator::Calculator(std::ostream& out, std::ostream& err) : out_(out), err_(err) {
    const char* messages_locale = std::setlocale(LC_MESSAGES, nullptr);
    russian_ = messages_locale && std::strncmp(messages_locale, "ru", 2) == 0;
}

std::string unassignable_reason(std::string_view name) {
    std::string quoted = "\"" + std::string(name) + "\"";
    if (!is_identifier(name)) return quoted + " is not a name: a letter or _, then letters, digits and _";
    for (const char* const* f = kFunctionNames; *f; ++f)
        if (equals_ignoring_case(name, *f)) return quoted + " is a function: no formula could read it back";
    if (equals_ignoring_case(name, "mod") || equals_ignoring_case(name, "div"))
        return quoted + " is an operator: no formula could read it back";
    return {};
}

bool Calculator::run_line(std::string_view line, bool quiet) {
    size_t comment = line.find('#');
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    line = trim(line);
    if (line.empty()) return true;
    if (line == "vars") {
        list_variables();
        return true;
    }
    if (line == "help") {
        print_help();
        return true;
    }
    if (line == "quit" || line == "exit") {
        finished_ = true;
        return true;
    }
    size_t equals = line.find('=');
    double value;
    if (equals == std::string_view::npos) {
        if (!evaluate(line, value)) return false;
        if (quiet) return true;
        out_ << format(value) << "\n";
        tallymat::variables::set("ans", value);
        return true;
    }
    std::string_view name = trim(line.substr(0, equals));
    if (std::string reason = unassignable_reason(name); !reason.empty()) {
        report_problem("cannot assign: " + reason);
        return false;
    }
    if (!evaluate(trim(line.substr(equals + 1)), value)) return false;
    if (!store(name, value)) return false;
    if (quiet) return true;
    out_ << name << " = " << format(value) << "\n";
    tallymat::variables::set("ans", value);  // a full table leaves ans as it was
    return true;
}

bool Calculator::evaluate(std::string_view formula_view, double& value) {
    std::string text(formula_view);
    tallymat::Formula formula(text);
    if (!formula) {
        report_translation_error(text, formula.error());
        return false;
    }
    tallymat::Result result = formula.evaluate();
    if (!result) return report(result.error);
    value = result.value;
    return true;
}

bool Calculator::store(std::string_view name, double value) {
    tallymat::Error error = tallymat::variables::set(std::string(name).c_str(), value);
    return !error || report(error);
}

void Calculator::list_variables() {
    for (int handle = 0;; ++handle) {
        std::string name = tallymat::variables::name(handle);
        if (name.empty()) break;
        out_ << handle << "  " << name << " = " << format_value(tallymat::variables::get(handle).value) << "\n";
    }
}

void Calculator::print_help() {
    out_ << "A line is a formula, \"name = formula\", \"vars\" or \"help\"; \"#\" starts a comment.\n"
            "Ctrl-C cancels a line; Ctrl-L clears the screen; quit, exit or Ctrl-D leaves.\n\n";
    print_formula_rules(out_);
}

void print_formula_rules(std::ostream& out) {
    out << "Formulas: numbers, variables, brackets, the operators below and the functions\n ";
    for (const char* const* f = kFunctionNames; *f; ++f) out << " " << *f;
    out << "\n"
           "Operators, lowest precedence first; each level groups from the left:\n"
           "  + -\n"
           "  * / mod div    mod is floored: (-7) mod 3 is 2; div is the floor of the quotient\n"
           "  ^ **           2^3^2 is (2^3)^2 = 64; ** truncates its exponent (2**2.9 is 4)\n"
           "                 and 0**0 is the largest double, 1.79769313486232e+308\n"
           "A sign stands at the start, after ( and after * / mod div ^ **, and covers the\n"
           "whole product or power after it: -7 mod 3 is -(7 mod 3) = -1, -2^2 is -4,\n"
           "2^-1*3 is 2^(-1*3) = 0.125.  Write a*(-b), not a+-b.\n"
           "Numbers have at most 10 digits before the point and 10 after it, and an\n"
           "exponent up to 300: 12345678901 is written 1.2345678901e10.\n"
           "There is no implicit multiplication (3*x, not 3x) and there are no constants\n"
           "(pi = 4*arctg(1)).  exp takes arguments up to 100; ln and lg above 1e-10.\n"
           "ans is the last result; names are case-insensitive.\n";
}

std::string Calculator::message(int code) const {
    std::string text = messages_.convert(getstrerror(code));
    if (!russian_ && code > 0 && code < static_cast<int>(std::size(kEnglishGlosses)))
        text += std::string(" (") + kEnglishGlosses[code] + ")";
    return text;
}

std::string Calculator::format(double value) const {
    if (digits_ >= kRoundTripDigits || !std::isfinite(value)) return format_value(value);
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits_).ptr;
    return std::string(buffer, end);
}

std::string Calculator::location() const {
    return location_.empty() ? std::string() : location_ + ": ";
}

void Calculator::report_problem(const std::string& what) { err_ << location() << "error: " << what << "\n"; }

bool Calculator::report(const tallymat::Error& error) {
    err_ << location() << "error " << error.code << ": " << message(error.code) << "\n";
    return false;
}

// The report in one piece (one write, however long the line): the message
// with what the user probably meant, the line with its control characters
// escaped, and a caret under the character at the offset.
void Calculator::report_translation_error(const std::string& formula, const tallymat::Error& error) {
    std::string report = location() + "error " + std::to_string(error.code) + " at offset " +
                         std::to_string(error.offset) + ": " + message(error.code);
    bool unknown = error.code == TALLYMAT_E_UNDEFINED_SYMBOL || error.code == TALLYMAT_E_UNDEFINED_OPERATION;
    if (std::string hint = unknown ? hint_at(formula, error.offset) : ""; !hint.empty()) report += ": " + hint;
    report += "\n  " + escape_controls(formula) + "\n  ";
    for (int i = 0; i < error.offset && i < static_cast<int>(formula.size()); ++i) {
        auto byte = static_cast<unsigned char>(formula[static_cast<size_t>(i)]);
        if (byte == '\t') report += '\t';
        else if (byte < 0x20 || byte == 0x7f) report += "    ";  // as wide as its \xHH
        else if ((byte & 0xC0) != 0x80) report += ' ';          // one column per UTF-8 character
    }
    report += "^\n";
    err_ << report;
}

}  // namespace tallycalc
