// The table of exp, ln, lg and pow arguments with their correctly rounded
// bits (MPFR's), shared by the unit and the interface tests.
#pragma once

#include <cstdint>

struct ElementaryCase {
    char function;  // 'e' exp, 'l' ln, 'L' lg, 'p' pow
    uint64_t x, y, expected;
};

inline constexpr ElementaryCase kElementaryCases[] = {
#include "data/elementary_cases.inc"
};
