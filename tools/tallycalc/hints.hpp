// What the user probably meant when a line fails: a line of its own under
// the error, in the user's language (through the catalogue).
#pragma once

#include <string>
#include <string_view>

namespace tallycalc {

// Where translating `formula` stopped with `code` at `offset`: an unknown
// name with what exists instead ("tan": the tangent is tg), a number past
// the literal limits written as it can be, implicit multiplication, a space
// inside a number; empty when there is nothing to say.
std::string translation_hint(std::string_view formula, int code, int offset);

// A formula that translated but failed with `code`: the bound it passed.
std::string evaluation_hint(std::string_view formula, int code);

// Readings of a formula that translated and evaluated which surprise
// people used to other calculators: ** with a fractional exponent, a sign
// after ^, chained ^.  Each is told once per session: `shown` remembers.
enum class Surprise : unsigned { kIntegerPower, kSignAfterPower, kChainedPower };
std::string surprise_hint(std::string_view formula, unsigned& shown);

// The variable table is full: ans counts among its places.
std::string capacity_hint();

// The text with every control character but the tab written as \xHH, so
// that an echoed line never sends the terminal an escape sequence.
std::string escape_controls(std::string_view text);

bool starts_name(char c);
bool continues_name(char c);
bool equals_ignoring_case(std::string_view a, std::string_view b);

}  // namespace tallycalc
