// Lexical scanning.
#include "translate/scanner.hpp"

#include <cmath>

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

double scale_by_power_of_ten(double mantissa, int exponent) {
    if (exponent == 0) return mantissa;  // pow(10, 0) is exactly 1, and 1 x d is d
    if (exponent >= -kDirectExponentMax && exponent <= kDirectExponentMax)
        return std::pow(10.0, exponent) * mantissa;
    if (mantissa == 0.0) return 0.0;  // 0 x inf would be NaN
    if (exponent > 0)
        return (mantissa * std::pow(10.0, exponent - kDirectExponentMax)) * std::pow(10.0, kDirectExponentMax);
    return (mantissa * std::pow(10.0, exponent + kDirectExponentMax)) * std::pow(10.0, -kDirectExponentMax);
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
