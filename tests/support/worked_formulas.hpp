// Worked examples of the grammar, each with the program it translates to
// and the value it gives, with the variables below: the translator's tests
// read the programs, the interface's tests the values.
#pragma once

struct WorkedVariable {
    const char* name;
    double value;
};

inline constexpr WorkedVariable kWorkedVariables[] = {{"a", 10}, {"b", 3}, {"c", 2}, {"x", 0.5}, {"y", 4}};

struct WorkedFormula {
    const char* text;
    const char* program;  // operands as named (upper case), operators by their codes
    double value;
};

inline constexpr double kSinHalf = 0x1.eaee8744b05fp-2;  // sin 0.5, correctly rounded

inline constexpr WorkedFormula kWorkedFormulas[] = {
    {"-2^2", "2 2 ^ u", -4.0},
    {"2^3^2", "2 3 ^ 2 ^", 64.0},
    {"2 ** 3 ** 2", "2 3 P 2 P", 64.0},
    {"-2 ** 2", "2 2 P u", -4.0},
    {"a-b-c", "A B - C -", 5.0},
    {"8/4/2", "8 4 / 2 /", 1.0},
    {"-a+b", "A u B +", -7.0},
    {"-a * b", "A B * u", -30.0},
    {"2 * -3 + 4", "2 3 u * 4 +", -2.0},
    {"2^-1 * 3", "2 1 3 * u ^", 0.125},
    {"x mod b ^ 2", "X B 2 ^ m", 0.5},
    {"a mod b mod c", "A B m C m", 1.0},
    {"2 * (3+4)", "2 3 4 + *", 14.0},
    {"sin(x)^2", "X s 2 ^", kSinHalf * kSinHalf},
    {"-sin(x)^2", "X s 2 ^ u", -(kSinHalf * kSinHalf)},
    {"SIN (x)", "X s", kSinHalf},
    {"sin\n\r (x)", "X s", kSinHalf},
    {"sin(cos(x))", "X c s", 0x1.89d41ac87d34bp-1},
    {"abs(-3)", "3 u a", 3.0},
    {"(((x)))", "X", 0.5},
    {".5+.5", "0.5 0.5 +", 1.0},
    {"2e + 3", "2 3 +", 5.0},
    {"x * + y", "X Y U *", 2.0},
    {"a mod -b", "A B u m", -2.0},
    {"7 DIV 2", "7 2 d", 3.0},
    {"7 Mod 2", "7 2 m", 1.0},
    {"+x", "X U", 0.5},
    {"-(x+y)", "X Y + u", -4.5},
};
