#include "calculator.hpp"

#include <langinfo.h>

#include <charconv>
#include <cstdio>
#include <cstring>

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

std::string_view trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

namespace {

bool is_identifier(std::string_view name) {
    auto start = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
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

}  // namespace

std::string unassignable_reason(std::string_view name) {
    std::string quoted = "\"" + std::string(name) + "\"";
    if (!is_identifier(name)) return quoted + " is not a name: a letter or _, then letters, digits and _";
    for (const char* const* f = kFunctionNames; *f; ++f)
        if (equals_ignoring_case(name, *f)) return quoted + " is a function: no formula could read it back";
    if (equals_ignoring_case(name, "mod") || equals_ignoring_case(name, "div"))
        return quoted + " is an operator: no formula could read it back";
    return {};
}

bool Calculator::run_line(std::string_view line) {
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
        out_ << format_value(value) << "\n";
        return true;
    }
    std::string_view name = trim(line.substr(0, equals));
    if (std::string reason = unassignable_reason(name); !reason.empty()) {
        err_ << "error: cannot assign: " << reason << "\n";
        return false;
    }
    if (!evaluate(trim(line.substr(equals + 1)), value)) return false;
    if (!store(name, value)) return false;
    out_ << name << " = " << format_value(value) << "\n";
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
            "Operators: + - * / mod div ^ ** and signs; functions:";
    for (const char* const* f = kFunctionNames; *f; ++f) out_ << " " << *f;
    out_ << ".\nNames are case-insensitive.  Ctrl-C cancels a line; quit, exit or Ctrl-D leaves.\n";
}

std::string Calculator::message(int code) const { return messages_.convert(getstrerror(code)); }

bool Calculator::report(const tallymat::Error& error) {
    err_ << "error " << error.code << ": " << message(error.code) << "\n";
    return false;
}

void Calculator::report_translation_error(const std::string& formula, const tallymat::Error& error) {
    err_ << "error " << error.code << " at offset " << error.offset << ": " << message(error.code) << "\n";
    err_ << "  " << formula << "\n  ";
    // The caret stands under the byte at the offset; tabs are kept so it lines up.
    for (int i = 0; i < error.offset && i < static_cast<int>(formula.size()); ++i)
        err_ << (formula[i] == '\t' ? '\t' : ' ');
    err_ << "^\n";
}

}  // namespace tallycalc
