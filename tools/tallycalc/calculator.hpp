// The calculator's line handling: "name = formula", a formula, a command,
// "# comment".  Results go to one stream, errors to another.
#pragma once

#include <iconv.h>

#include <ostream>
#include <string>
#include <string_view>

#include "hints.hpp"
#include "translation.hpp"
#include "tallymat.hpp"

namespace tallycalc {

// Library messages are Windows-1251; the terminal gets its own encoding
// (UTF-8 when the locale names none but ASCII).
class MessageConverter {
public:
    MessageConverter();
    ~MessageConverter();
    MessageConverter(const MessageConverter&) = delete;
    MessageConverter& operator=(const MessageConverter&) = delete;

    std::string from_library(const char* text) const { return convert(from_cp1251_, text); }

private:
    iconv_t from_cp1251_ = kNoConversion;
};

// The shortest text that reads back to the same double, in plain decimal
// notation from 1e-5 to below 1e16 (500000, not 5e+05).
std::string format_value(double value);

// Results show 15 significant digits unless asked otherwise: a literal such
// as 0.3 converts one unit in the last place off, and 15 digits show it as
// written.  17 asks for the shortest text that reads back as the same double.
inline constexpr int kDefaultDigits = 15, kRoundTripDigits = 17;

// The variables pi and e hold at start: the doubles nearest to π and e.
inline constexpr double kPi = 0x1.921fb54442d18p+1, kE = 0x1.5bf0a8b145769p+1;

// The formula language in a screenful: precedence, signs, literal limits.
void print_formula_rules(std::ostream& out);

std::string_view trim(std::string_view text);

// Why a name cannot be assigned (it could never be read back in a formula),
// or empty when it can.
std::string unassignable_reason(std::string_view name);

// The names a formula may call, for completion and help, and the
// operators spelled as words; null-terminated, from the library's
// operator table.
extern const char* const* const kFunctionNames;
extern const char* const* const kOperatorWords;

class Calculator {
public:
    Calculator(std::ostream& out, std::ostream& err);

    // Runs one input line; false when it failed.  "quit" and "exit" end the
    // run.  A result is printed (unless `quiet`) and kept in the variable ans.
    bool run_line(std::string_view line, bool quiet = false);
    bool finished() const { return finished_; }

    // Where the lines come from, for error reports: "FILE:LINE", "-e 2",
    // "-D x"; empty: nowhere to name (the prompt).
    void set_location(std::string where) { location_ = std::move(where); }
    // An error of tallycalc's own at the current location.
    void report_problem(const std::string& what);

    // Results with this many significant digits (1 to 16), trailing zeros
    // dropped; kRoundTripDigits: the shortest text that reads back as the same double.
    void set_digits(int digits) { digits_ = digits; }
    int digits() const { return digits_; }
    std::string format(double value) const;

    // Translates and evaluates once, reporting any error; the slot is
    // released.  An error echoes `line` (default: the formula), in which the
    // formula starts at `formula_at`.
    bool evaluate(std::string_view formula, double& value, std::string_view line = {}, size_t formula_at = 0);

    // Stores a value under a name that formulas can read.
    bool store(std::string_view name, double value);

    void list_variables();
    void print_help();

    // The error text of a code, in the terminal's encoding, with its English
    // gloss where the locale's language is not Russian.
    std::string message(int code) const;
    // Reports a failed call (with a hint about `formula` where one helps);
    // false, for returning at once.
    bool report(const tallymat::Error& error, std::string_view formula = {});
    void report_translation_error(std::string_view formula, const tallymat::Error& error, std::string_view line = {},
                                  size_t formula_at = 0);
    void report_hint(const std::string& hint);

private:
    // "hint: ...\n" in the terminal's encoding; empty for no hint.
    std::string hint_line(const std::string& hint) const;

public:

private:
    std::ostream& out_;
    std::ostream& err_;
    std::string location() const;

    MessageConverter messages_;
    bool finished_ = false;
    bool gloss_messages_ = true;  // the library's Russian messages get English glosses
    int digits_ = kDefaultDigits;
    unsigned surprises_shown_ = 0;  // the surprise hints given this session
    std::string location_;
};

}  // namespace tallycalc
