// The calculator's line handling: "name = formula", a formula, a command,
// "# comment".  Results go to one stream, errors to another.
#pragma once

#include <iconv.h>

#include <ostream>
#include <string>
#include <string_view>

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

    std::string convert(const char* text) const;

private:
    iconv_t cd_;
};

// The shortest text that reads back to the same double, in plain decimal
// notation from 1e-5 to below 1e16 (500000, not 5e+05).
std::string format_value(double value);

std::string_view trim(std::string_view text);

// Why a name cannot be assigned (it could never be read back in a formula),
// or empty when it can.
std::string unassignable_reason(std::string_view name);

// The names a formula may call, for completion and help.
extern const char* const kFunctionNames[];

class Calculator {
public:
    Calculator(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    // Runs one input line; false when it failed.  "quit" and "exit" end the run.
    bool run_line(std::string_view line);
    bool finished() const { return finished_; }

    // Translates and evaluates once, reporting any error; the slot is released.
    bool evaluate(std::string_view formula, double& value);

    // Stores a value under a name that formulas can read.
    bool store(std::string_view name, double value);

    void list_variables();
    void print_help();

    // The error text of a code, in the terminal's encoding.
    std::string message(int code) const;
    // Reports a failed call; false, for returning at once.
    bool report(const tallymat::Error& error);
    void report_translation_error(const std::string& formula, const tallymat::Error& error);

private:
    std::ostream& out_;
    std::ostream& err_;
    MessageConverter messages_;
    bool finished_ = false;
};

}  // namespace tallycalc
