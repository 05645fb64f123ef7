// Lexical scanning.
#include "translate/scanner.hpp"

#include <iterator>
#include <limits>

namespace tallymat::translate {

namespace {

inline int digit_value(char c) { return c - '0'; }

// Caps on the digits each part of a literal takes; the translator meets
// the first digit beyond a cap where it expects an operator.
constexpr int kIntegerDigitsMax = 10;
constexpr int kFractionDigitsMax = 10;
constexpr int kExponentDigitsMax = 4;

// Exponents within this magnitude use one power of ten, as the literal's
// value has always been defined; beyond it the scale is split in two so
// that 1e301 or 1.8e308 keep their meaning.
constexpr int kDirectExponentMax = 300;

// 10^k correctly rounded, built by exact arithmetic (tools/powers_of_ten.py):
// a literal reads as the same double whatever a C runtime's pow gives
// (glibc's misrounds 10^23 and 10^210).  Beyond the table 10^k rounds to
// infinity above and to zero below.
constexpr int kPowerTableLow = -323, kPowerTableHigh = 308;
constexpr double kPowersOfTen[] = {
#include "translate/powers_of_ten.inc"
};
static_assert(std::size(kPowersOfTen) == kPowerTableHigh - kPowerTableLow + 1);

double power_of_ten(int k) {
    if (k > kPowerTableHigh) return std::numeric_limits<double>::infinity();
    if (k < kPowerTableLow) return 0.0;
    return kPowersOfTen[k - kPowerTableLow];
}

double scale_by_power_of_ten(double mantissa, int exponent) {
    if (exponent == 0) return mantissa;  // 10^0 is exactly 1, and 1 x d is d
    if (exponent >= -kDirectExponentMax && exponent <= kDirectExponentMax) return power_of_ten(exponent) * mantissa;
    if (mantissa == 0.0) return 0.0;  // 0 x inf would be NaN
    if (exponent > 0)
        return (mantissa * power_of_ten(exponent - kDirectExponentMax)) * power_of_ten(kDirectExponentMax);
    return (mantissa * power_of_ten(exponent + kDirectExponentMax)) * power_of_ten(-kDirectExponentMax);
}

}  // namespace

double read_number(const char* text, int32_t& pos) {
    double mantissa = 0.0;
    for (int taken = 0; taken < kIntegerDigitsMax && has_class(text[pos], kDigit); ++taken)
        mantissa = mantissa * 10.0 + digit_value(text[pos++]);

    if (text[pos] == '.') {
        ++pos;
        double weight = 0.1;  // itself rounded, and so is every later power of 0.1
        for (int taken = 0; taken < kFractionDigitsMax && has_class(text[pos], kDigit); ++taken) {
            mantissa = mantissa + digit_value(text[pos++]) * weight;
            weight = weight * 0.1;
        }
    }

    int exponent = 0;
    if (text[pos] == 'e' || text[pos] == 'E') {
        ++pos;
        int sign = 1;
        if (text[pos] == '-') {
            sign = -1;
            ++pos;
        } else if (text[pos] == '+') {
            ++pos;
        }
        for (int taken = 0; taken < kExponentDigitsMax && has_class(text[pos], kDigit); ++taken)
            exponent = exponent * 10 + digit_value(text[pos++]);
        exponent *= sign;
    }
    return scale_by_power_of_ten(mantissa, exponent);
}

int32_t count_tokens(const char* text) {
    int64_t count = 0;
    int64_t i = 0;
    for (;;) {
        if (i > kMaxTextLength) return kTextTooLong;
        char c = text[i];
        if (c == '\0') break;
        uint8_t cls = kCharClasses[static_cast<unsigned char>(c)];
        if (cls & kBlank) {
            ++i;  // blanks separate tokens and count for nothing
        } else if (cls & kIdentStart) {
            ++count;
            do ++i; while (has_class(text[i], kIdentChar));  // no length limit here
        } else if (cls & kDigit) {
            ++count;
            do ++i; while (has_class(text[i], kDigit));
        } else {
            ++count;  // any other character, line feeds and NUL-free junk included
            ++i;
        }
    }
    return static_cast<int32_t>(count);
}

}  // namespace tallymat::translate
