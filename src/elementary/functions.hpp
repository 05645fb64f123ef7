// The ten elementary functions, one row each: every fact about a function
// that the math layer, the evaluator, the compiler's guards, the accuracy
// checker, the tests and tallycalc read.  A new function is a row here,
// its implementation (variants.hpp) and its place in ElementaryFunctions.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <limits>

namespace tallymat::elementary {

enum class Function : uint8_t { kExp, kLog, kLog10, kPow, kSin, kCos, kTan, kAsin, kAcos, kAtan };
inline constexpr int kFunctionCount = 10;

constexpr double next_up(double x) { return std::bit_cast<double>(std::bit_cast<uint64_t>(x) + (x < 0 ? -1 : 1)); }
constexpr double next_down(double x) { return -next_up(-x); }

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();
inline constexpr double kLargestDouble = std::numeric_limits<double>::max();

struct FunctionRow {
    Function function;
    const char* name;     // the C name, which a math error record carries
    const char* formula;  // as formulas write it
    char letter;          // its name in tests/data/elementary_cases.txt
    // The arguments (x; pow's base) the function itself takes, both ends
    // included: the math layer's rules send every other one elsewhere.
    double lowest, highest;
    // pow only: |y ln|x|| stays below it, else the result leaves the double range.
    double log_bound;
    // The formula language's own bounds, narrower than the function's: the
    // evaluator refuses an argument above `refused_above` (kOverflow) or
    // not above `refused_unless_above` (kDomain).
    double refused_above, refused_unless_above;
};

// e^x is finite and normal for -708.39599609375 < x < 709.7822265625.
inline constexpr double kExpUnderflowFrom = -708.39599609375, kExpOverflowFrom = 709.7822265625;
// sin, cos and tan reduce exactly below 2^53.
inline constexpr double kPeriodicLimit = 0x1p53;

// ORDER Function
inline constexpr std::array<FunctionRow, kFunctionCount> kFunctionRows{{
    // function        name     formula   letter lowest                     highest                      log bound    refused above, unless above
    {Function::kExp,   "exp",   "exp",    'e', next_up(kExpUnderflowFrom),   next_down(kExpOverflowFrom), 0,           100.0,     -kInfinity},
    {Function::kLog,   "log",   "ln",     'l', 0x1p-1074,                    kLargestDouble,              0,           kInfinity, 1e-10},
    {Function::kLog10, "log10", "lg",     'L', 0x1p-1074,                    kLargestDouble,              0,           kInfinity, 1e-10},
    {Function::kPow,   "pow",   "^",      'p', -kLargestDouble,              kLargestDouble,              709.78125,   kInfinity, -kInfinity},
    {Function::kSin,   "sin",   "sin",    's', -next_down(kPeriodicLimit),   next_down(kPeriodicLimit),   0,           kInfinity, -kInfinity},
    {Function::kCos,   "cos",   "cos",    'c', -next_down(kPeriodicLimit),   next_down(kPeriodicLimit),   0,           kInfinity, -kInfinity},
    {Function::kTan,   "tan",   "tg",     't', -next_down(kPeriodicLimit),   next_down(kPeriodicLimit),   0,           kInfinity, -kInfinity},
    {Function::kAsin,  "asin",  "arcsin", 'S', -1.0,                         1.0,                         0,           kInfinity, -kInfinity},
    {Function::kAcos,  "acos",  "arccos", 'C', -1.0,                         1.0,                         0,           kInfinity, -kInfinity},
    {Function::kAtan,  "atan",  "arctg",  'T', -kInfinity,                   kInfinity,                   0,           kInfinity, -kInfinity},
}};

constexpr const FunctionRow& row_of(Function f) { return kFunctionRows[static_cast<int>(f)]; }

constexpr bool rows_follow_the_enum() {
    for (int i = 0; i < kFunctionCount; ++i)
        if (static_cast<int>(kFunctionRows[i].function) != i) return false;
    return true;
}
static_assert(rows_follow_the_enum(), "kFunctionRows must list the functions in the order of enum Function");

// Whether the function itself takes x (pow: as its base, y aside).
constexpr bool takes(Function f, double x) { return x >= row_of(f).lowest && x <= row_of(f).highest; }

}  // namespace tallymat::elementary
