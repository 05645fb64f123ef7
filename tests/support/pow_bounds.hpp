// Powers at and beside the bounds of pow's rules: one table that the math
// layer's test calls directly and the interface's test evaluates as x^y.
#pragma once

struct PowBound {
    double x, y;
    int code;      // the last error: 0, 13 (domain), 14 (overflow) or 15 (underflow)
    double value;  // the result where code is 0
};

inline constexpr PowBound kPowBounds[] = {
    {2.0, 1023.0, 0, 0x1p1023},
    {2.0, 1024.0, 14, 0.0},
    {-2.0, 1025.0, 14, 0.0},  // the overflow whatever the sign
    {10.0, 308.0, 0, 0x1.1ccf385ebc8a0p+1023},
    {10.0, 309.0, 14, 0.0},
    {2.0, -1023.0, 0, 0x1p-1023},
    {2.0, -1024.0, 15, 0.0},
    {2.0, -1074.0, 15, 0.0},
    {-8.0, 1.0 / 3.0, 13, 0.0},  // a negative base needs an integer exponent
    {-2.0, 1e19, 13, 0.0},       // below 2^63, so that its parity is known
    {-1.0, 0x1p63, 13, 0.0},
    {-1.0, 0x1.fffffffffffffp62, 0, 1.0},
    {2.0, 1e19, 14, 0.0},
    {1.0, 1e19, 0, 1.0},
    {0.5, 1e19, 15, 0.0},
    {-2.0, 3.0, 0, -8.0},
    {-2.0, 4.0, 0, 16.0},
};
