// The table of the elementary functions' arguments with their correctly
// rounded bits (MPFR's), shared by the unit and the interface tests.
#pragma once

#include <cstdint>

struct ElementaryCase {
    char function;  // a letter of kElementaryFormulas
    uint64_t x, y, expected;
};

inline constexpr ElementaryCase kElementaryCases[] = {
#include "data/elementary_cases.inc"
};

// Each function's letter in the table and the formula that computes it.
struct ElementaryFormula {
    char function;
    const char* formula;
};
inline constexpr ElementaryFormula kElementaryFormulas[] = {
    {'e', "exp(x)"}, {'l', "ln(x)"},     {'L', "lg(x)"},     {'p', "x^y"},       {'s', "sin(x)"},
    {'c', "cos(x)"}, {'t', "tg(x)"}, {'S', "arcsin(x)"}, {'C', "arccos(x)"}, {'T', "arctg(x)"},
};
