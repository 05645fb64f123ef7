#include "calculator.hpp"


#include <array>
#include <charconv>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "elementary/functions.hpp"
#include "program/program.hpp"
#include "tallymat.hpp"
#include "translation.hpp"

namespace tallycalc {

namespace {

using tallymat::elementary::Function;
using tallymat::elementary::row_of;
using tallymat::program::kOperatorCount;
using tallymat::program::kOperators;
using tallymat::program::OperatorInfo;

// The spellings of the library's operator table that pass a test, null-terminated.
template <bool (*kTakes)(const OperatorInfo&)>
constexpr std::array<const char*, kOperatorCount + 1> spellings() {
    std::array<const char*, kOperatorCount + 1> names{};
    int count = 0;
    for (const OperatorInfo& row : kOperators)
        if (kTakes(row)) names[count++] = row.name;
    return names;
}

constexpr bool is_function(const OperatorInfo& row) { return row.is_function(); }
constexpr bool is_operator_word(const OperatorInfo& row) { return row.arity == 2 && row.is_word(); }

constexpr auto kFunctionList = spellings<is_function>();
constexpr auto kOperatorWordList = spellings<is_operator_word>();

}  // namespace

const char* const* const kFunctionNames = kFunctionList.data();
const char* const* const kOperatorWords = kOperatorWordList.data();

MessageConverter::MessageConverter() {
    from_cp1251_ = iconv_open((terminal_codeset() + "//TRANSLIT").c_str(), "CP1251");
}

MessageConverter::~MessageConverter() {
    if (from_cp1251_ != kNoConversion) iconv_close(from_cp1251_);
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

std::string_view trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

namespace {

bool is_identifier(std::string_view name) {
    if (name.empty() || !starts_name(name[0])) return false;
    for (char c : name)
        if (!continues_name(c)) return false;
    return true;
}

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

Calculator::Calculator(std::ostream& out, std::ostream& err) : out_(out), err_(err) {
    const char* messages_locale = std::setlocale(LC_MESSAGES, nullptr);
    if (messages_locale && std::strncmp(messages_locale, "ru", 2) == 0) gloss_messages_ = false;
    tallymat::variables::set("pi", kPi);
    tallymat::variables::set("e", kE);
}

std::string unassignable_reason(std::string_view name) {
    std::string quoted = "\"" + std::string(name) + "\"";
    if (!is_identifier(name)) return quoted + " is not a name: a letter or _, then letters, digits and _";
    for (const char* const* f = kFunctionNames; *f; ++f)
        if (equals_ignoring_case(name, *f)) return quoted + " is a function: no formula could read it back";
    for (const char* const* w = kOperatorWords; *w; ++w)
        if (equals_ignoring_case(name, *w)) return quoted + " is an operator: no formula could read it back";
    return {};
}

// Windows editors start files (and pasted lines) with one.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool Calculator::run_line(std::string_view line, bool quiet) {
    if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) line.remove_prefix(kByteOrderMark.size());
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
        if (!quiet) out_ << format(value) << std::endl;  // before a hint about it
        report_hint(surprise_hint(line, surprises_shown_));
        if (quiet) return true;
        tallymat::variables::set("ans", value);
        return true;
    }
    std::string_view name = trim(line.substr(0, equals));
    if (std::string reason = unassignable_reason(name); !reason.empty()) {
        report_problem("cannot assign: " + reason);
        return false;
    }
    size_t formula_at = equals + 1;
    while (formula_at < line.size() && (line[formula_at] == ' ' || line[formula_at] == '\t')) ++formula_at;
    if (!evaluate(line.substr(formula_at), value, line, formula_at)) return false;
    if (!store(name, value)) return false;
    if (!quiet) out_ << name << " = " << format(value) << std::endl;
    report_hint(surprise_hint(line.substr(formula_at), surprises_shown_));
    if (quiet) return true;
    tallymat::variables::set("ans", value);  // a full table leaves ans as it was
    return true;
}

bool Calculator::evaluate(std::string_view formula_view, double& value, std::string_view line, size_t formula_at) {
    std::string text(formula_view);
    tallymat::Formula formula(text);
    if (formula.failed()) {
        report_translation_error(text, formula.error(), line, formula_at);
        return false;
    }
    tallymat::Result result = formula.evaluate();
    if (result.failed()) return report(result.error, text);
    value = result.value;
    return true;
}

bool Calculator::store(std::string_view name, double value) {
    tallymat::Error error = tallymat::variables::set(std::string(name).c_str(), value);
    if (error.ok()) return true;
    report(error);
    if (error.code == TALLYMAT_E_VARIABLE_TABLE_FULL && tallymat::variables::handle("ans") >= 0)
        report_hint(capacity_hint());
    return false;
}

void Calculator::list_variables() {
    for (int handle = 0;; ++handle) {
        std::string name = tallymat::variables::name(handle);
        if (name.empty()) break;
        out_ << handle << "  " << name << " = " << format(tallymat::variables::get(handle).value) << "\n";
    }
}

void Calculator::print_help() {
    out_ << tr("A line is a formula, \"name = formula\", \"vars\" or \"help\"; \"#\" starts a comment.\n"
               "Ctrl-C cancels a line; Ctrl-L clears the screen; quit, exit or Ctrl-D leaves.\n")
         << "\n";
    print_formula_rules(out_);
}

void print_formula_rules(std::ostream& out) {
    out << tr("Formulas: numbers, variables, brackets, the operators below and the functions\n") << " ";
    for (const char* const* f = kFunctionNames; *f; ++f) out << " " << *f;
    out << "\n"
        << tr("Operators, lowest precedence first; each level groups from the left:\n"
              "  + -\n"
              "  * / mod div    mod is floored: (-7) mod 3 is 2; div is the floor of the quotient\n"
              "  ^ **           2^3^2 is (2^3)^2 = 64; ** truncates its exponent (2**2.9 is 4)\n"
              "                 and 0**0 is the largest double, 1.79769313486232e+308\n"
              "A sign stands at the start, after ( and after * / mod div ^ **, and covers the\n"
              "whole product or power after it: -7 mod 3 is -(7 mod 3) = -1, -2^2 is -4,\n"
              "2^-1*3 is 2^(-1*3) = 0.125.  Write a*(-b), not a+-b.\n"
              "Numbers have at most 10 digits before the point and 10 after it, and an\n"
              "exponent of up to four digits: 12345678901 is written 1.2345678901e10.\n"
              "There is no implicit multiplication (3*x, not 3x).  pi and e are variables\n"
              "set at start (the doubles nearest to them), which a line may change.\n")
        << fill(tr("exp takes arguments up to {}; ln and lg above {}.\n"),
                {format_value(row_of(Function::kExp).refused_above),
                 format_value(row_of(Function::kLog).refused_unless_above)})
        << tr("ans is the last result; names are case-insensitive.\n");
}

std::string Calculator::message(int code) const {
    std::string text = messages_.from_library(getstrerror(code));
    if (gloss_messages_ && code > 0 && code < static_cast<int>(std::size(kEnglishGlosses)))
        text += std::string(" (") + kEnglishGlosses[code] + ")";
    return text;
}

std::string Calculator::format(double value) const {
    if (value == 0.0) value = 0.0;  // -0 reads as 0 to a person
    if (digits_ >= kRoundTripDigits || !std::isfinite(value)) return format_value(value);
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits_).ptr;
    return std::string(buffer, end);
}

std::string Calculator::location() const {
    return location_.empty() ? std::string() : location_ + ": ";
}

void Calculator::report_problem(const std::string& what) { err_ << location() << tr("error: ") << what << "\n"; }

bool Calculator::report(const tallymat::Error& error, std::string_view formula) {
    err_ << location() << fill(tr("error {}: "), {std::to_string(error.code)}) << message(error.code) << "\n";
    report_hint(evaluation_hint(formula, error.code));
    return false;
}

void Calculator::report_hint(const std::string& hint) { err_ << hint_line(hint); }

std::string Calculator::hint_line(const std::string& hint) const {
    if (hint.empty()) return {};
    return tr("hint: ") + hint + "\n";
}

namespace {

// Echoed lines are cut to about this many characters around the caret.
constexpr size_t kEchoWidth = 200;
constexpr std::string_view kCutMark = "...";

bool is_utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The line (its control characters escaped), and a caret under byte
// `caret` (one past the end: under the end), cut around the caret when long.
std::string echo_with_caret(std::string_view line, size_t caret) {
    caret = std::min(caret, line.size());
    size_t start = 0, end = line.size();
    if (line.size() > kEchoWidth) {
        start = caret > kEchoWidth / 2 ? caret - kEchoWidth / 2 : 0;
        end = std::min(line.size(), start + kEchoWidth);
        while (start > 0 && start < line.size() && is_utf8_continuation(line[start])) ++start;
        while (end < line.size() && is_utf8_continuation(line[end])) --end;
    }
    std::string shown = std::string(start > 0 ? kCutMark : "") + escape_controls(line.substr(start, end - start)) +
                        std::string(end < line.size() ? kCutMark : "");
    std::string under(start > 0 ? kCutMark.size() : 0, ' ');
    for (size_t i = start; i < caret; ++i) {
        auto byte = static_cast<unsigned char>(line[i]);
        if (byte == '\t') under += '\t';
        else if (byte < 0x20 || byte == 0x7f) under += "    ";  // as wide as its \xHH
        else if (!is_utf8_continuation(line[i])) under += ' ';  // one column per UTF-8 character
    }
    return "  " + shown + "\n  " + under + "^\n";
}

}  // namespace

// The report in one piece (one write, however long the line): the message,
// the line with a caret under the character at the offset, and what the
// user probably meant.
void Calculator::report_translation_error(std::string_view formula, const tallymat::Error& error,
                                          std::string_view line, size_t formula_at) {
    if (line.empty()) {
        line = formula;
        formula_at = 0;
    }
    const size_t offset = formula_at + static_cast<size_t>(std::max(error.offset, 0));  // in the line shown
    std::string report = location() + fill(tr("error {} at offset {}: "), {std::to_string(error.code),
                                                                            std::to_string(offset)}) +
                         message(error.code) + "\n";
    report += echo_with_caret(line, offset);
    report += hint_line(translation_hint(formula, error.code, error.offset));
    err_ << report;
}

}  // namespace tallycalc
