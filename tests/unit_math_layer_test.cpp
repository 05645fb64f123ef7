// Math layer: every rule, at and beside each bound, with the captured record.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "support/bits.hpp"
#include "support/pow_bounds.hpp"
#include "elementary/functions.hpp"
#include "eval/math_layer.hpp"

namespace el = tallymat::elementary;
namespace ml = tallymat::mathlayer;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kLargest = std::numeric_limits<double>::max();


const double kPositiveNaN = from_bits(0x7ff8000000000000);
const double kNegativeNaN = from_bits(0xfff8000000000000);
const double kSignalingNaN = from_bits(0x7ff0000000000001);  // leading fraction nibble zero
const double kTiny = 0x1p-1027;
const double kSmallestNormal = 0x1p-1022;
const double kSubnormalNotTiny = 0x1p-1025;

enum class Result { kExact, kAnyNaN, kNegativeNaNResult };

struct Case {
    const char* call;
    double (*fn)(double, double);
    double x, y;
    int kind;              // 0: no report
    double expected;       // the returned value (proposed or ordinary)
    Result match = Result::kExact;
};

void run(const Case& c) {
    SCOPED_TRACE(std::string(c.call) + " x=" + std::to_string(c.x) + " y=" + std::to_string(c.y));
    ml::math_error_state = {};
    double result = c.fn(c.x, c.y);
    EXPECT_EQ(ml::math_error_state.flag, c.kind ? 1 : 0);
    EXPECT_EQ(ml::math_error_state.captured.kind, c.kind);
    switch (c.match) {
        case Result::kExact: EXPECT_EQ(bits(result), bits(c.expected)) << result; break;
        case Result::kAnyNaN: EXPECT_TRUE(std::isnan(result)) << result; break;
        case Result::kNegativeNaNResult:
            EXPECT_TRUE(std::isnan(result) && std::signbit(result)) << result;
            break;
    }
    if (c.kind) {
        EXPECT_EQ(bits(ml::math_error_state.captured.arg1), bits(c.x));
        EXPECT_EQ(bits(ml::math_error_state.captured.retval), bits(result));
    }
}

// Results on the paths no rule stops are the library's own functions'
// (correctly rounded: the elementary tests prove them).
double library_log(double x) { return tallymat::elementary::log(x); }
double library_log10(double x) { return tallymat::elementary::log10(x); }

double f_sin(double x, double) { return ml::sin(x); }
double f_cos(double x, double) { return ml::cos(x); }
double f_tan(double x, double) { return ml::tan(x); }
double f_exp(double x, double) { return ml::exp(x); }
double f_log(double x, double) { return ml::log(x); }
double f_log10(double x, double) { return ml::log10(x); }
double f_sqrt(double x, double) { return ml::sqrt(x); }
double f_asin(double x, double) { return ml::asin(x); }
double f_acos(double x, double) { return ml::acos(x); }
double f_pow(double x, double y) { return ml::pow(x, y); }

constexpr int kDomain = ml::kMathDomain, kSing = ml::kMathSingular, kOver = ml::kMathOverflow, kUnder = ml::kMathUnderflow,
              kLoss = ml::kMathTotalLoss;

}  // namespace

TEST(MathLayer, TrigonometryLosesPrecisionFrom2To53) {
    const double below = std::nextafter(0x1p53, 0.0);
    const Case cases[] = {
        {"sin", f_sin, 0x1p53, 0, kLoss, 0, Result::kAnyNaN},
        {"sin", f_sin, -0x1p53, 0, kLoss, 0, Result::kAnyNaN},
        {"sin", f_sin, below, 0, 0, -0x1.c9176a7414f8fp-7},
        {"sin", f_sin, 9e15, 0, 0, 0x1.192c9d38ecf36p-3},
        {"sin", f_sin, 1e16, 0, kLoss, 0, Result::kAnyNaN},
        {"cos", f_cos, 1e300, 0, kLoss, 0, Result::kAnyNaN},
        {"cos", f_cos, -below, 0, 0, -0x1.fff33f44e67c2p-1},
        {"tan", f_tan, kInf, 0, kLoss, 0, Result::kAnyNaN},
        {"tan", f_tan, -kInf, 0, kLoss, 0, Result::kAnyNaN},
        {"tan", f_tan, kPositiveNaN, 0, kLoss, 0, Result::kAnyNaN},
        {"tan", f_tan, 0.5, 0, 0, 0x1.17b4f5bf3474ap-1},
        {"sin", f_sin, -0.0, 0, 0, -0.0},
    };
    for (const Case& c : cases) run(c);
    ml::sin(1e16);
    EXPECT_STREQ(ml::math_error_state.captured.name, "sin");
    ml::tan(1e16);
    EXPECT_STREQ(ml::math_error_state.captured.name, "tan");
}

TEST(MathLayer, ExpBoundsOnTheUpperBits) {
    const Case cases[] = {
        {"exp", f_exp, 709.7822265625, 0, kOver, kLargest},
        {"exp", f_exp, 709.7825, 0, kOver, kLargest},  // e^x is finite there, still reported
        {"exp", f_exp, 709.78222656249, 0, 0, tallymat::elementary::exp(opaque(709.78222656249))},
        {"exp", f_exp, kInf, 0, kOver, kLargest},
        {"exp", f_exp, kPositiveNaN, 0, kOver, kLargest},
        {"exp", f_exp, -708.39599609375, 0, kUnder, 0.0},
        {"exp", f_exp, -708.396, 0, kUnder, 0.0},
        {"exp", f_exp, -708.39, 0, 0, tallymat::elementary::exp(opaque(-708.39))},
        {"exp", f_exp, -1000, 0, kUnder, 0.0},
        {"exp", f_exp, -kInf, 0, kUnder, 0.0},
        {"exp", f_exp, kNegativeNaN, 0, kUnder, 0.0},
        {"exp", f_exp, 1.0, 0, 0, tallymat::elementary::exp(opaque(1.0))},
        {"exp", f_exp, -0.0, 0, 0, 1.0},
    };
    for (const Case& c : cases) run(c);
    EXPECT_NEAR(ml::exp(-708.39), 2.2394e-308, 1e-311);
}

TEST(MathLayer, LogarithmsSingularDomainAndOverflow) {
    for (auto fn : {f_log, f_log10}) {
        double (*standard)(double) = fn == f_log ? library_log : library_log10;
        const Case cases[] = {
            {"log", fn, 0.0, 0, kSing, -kLargest},
            {"log", fn, -0.0, 0, kSing, -kLargest},
            {"log", fn, kTiny, 0, kSing, -kLargest},
            {"log", fn, -kTiny, 0, kSing, -kLargest},
            {"log", fn, 0x1p-1074, 0, kSing, -kLargest},
            {"log", fn, kSubnormalNotTiny, 0, 0, standard(opaque(kSubnormalNotTiny))},
            {"log", fn, 0x1p-1026, 0, 0, standard(opaque(0x1p-1026))},
            {"log", fn, -1.0, 0, kDomain, 0, Result::kNegativeNaNResult},
            {"log", fn, -kInf, 0, kDomain, 0, Result::kNegativeNaNResult},
            {"log", fn, kNegativeNaN, 0, kDomain, 0, Result::kNegativeNaNResult},
            {"log", fn, -kSubnormalNotTiny, 0, kDomain, 0, Result::kNegativeNaNResult},
            {"log", fn, kInf, 0, kOver, kLargest},
            {"log", fn, kSignalingNaN, 0, kOver, kLargest},
            {"log", fn, kPositiveNaN, 0, 0, 0, Result::kAnyNaN},
            {"log", fn, 2.0, 0, 0, standard(opaque(2.0))},
            {"log", fn, kSmallestNormal, 0, 0, standard(opaque(kSmallestNormal))},
        };
        for (const Case& c : cases) run(c);
    }
    ml::log10(-1.0);
    EXPECT_STREQ(ml::math_error_state.captured.name, "log10");
}

TEST(MathLayer, SqrtAndArcs) {
    const Case cases[] = {
        {"sqrt", f_sqrt, 0.0, 0, 0, 0.0},
        {"sqrt", f_sqrt, -0.0, 0, 0, -0.0},
        {"sqrt", f_sqrt, -1.0, 0, kDomain, 0, Result::kAnyNaN},
        {"sqrt", f_sqrt, -kTiny, 0, kDomain, 0, Result::kAnyNaN},
        {"sqrt", f_sqrt, -kInf, 0, kDomain, 0, Result::kAnyNaN},
        {"sqrt", f_sqrt, kNegativeNaN, 0, kDomain, 0, Result::kAnyNaN},
        {"sqrt", f_sqrt, kTiny, 0, 0, std::sqrt(opaque(kTiny))},
        {"sqrt", f_sqrt, 2.0, 0, 0, std::sqrt(opaque(2.0))},
        {"sqrt", f_sqrt, kInf, 0, 0, kInf},
        {"asin", f_asin, 1.0, 0, 0, 0x1.921fb54442d18p+0},
        {"asin", f_asin, -1.0, 0, 0, -0x1.921fb54442d18p+0},
        {"asin", f_asin, std::nextafter(1.0, 2.0), 0, kDomain, 0, Result::kAnyNaN},
        {"asin", f_asin, kInf, 0, kDomain, 0, Result::kAnyNaN},
        {"asin", f_asin, kPositiveNaN, 0, kDomain, 0, Result::kAnyNaN},
        {"acos", f_acos, -1.0000001, 0, kDomain, 0, Result::kAnyNaN},
        {"acos", f_acos, 0.5, 0, 0, 0x1.0c152382d7366p+0},
    };
    for (const Case& c : cases) run(c);
}

TEST(MathLayer, PowEveryStep) {
    const Case cases[] = {
        // 1: zero or subnormal base
        {"pow", f_pow, 0.0, 2.0, 0, 0.0},
        {"pow", f_pow, -0.0, 3.0, 0, 0.0},
        {"pow", f_pow, 0x1p-1030, 0.5, 0, 0.0},
        {"pow", f_pow, 0.0, kInf, 0, 0.0},
        {"pow", f_pow, 0.0, kPositiveNaN, 0, 0.0},
        {"pow", f_pow, 0.0, 0x1p-1026, 0, 0.0},
        {"pow", f_pow, 0.0, 0.0, kDomain, 1.0},
        {"pow", f_pow, 0.0, kTiny, kDomain, 1.0},
        {"pow", f_pow, 0.0, -1.0, kDomain, kLargest},
        {"pow", f_pow, 0.0, -0.0, kDomain, kLargest},
        {"pow", f_pow, -0.0, -kInf, kDomain, kLargest},
        {"pow", f_pow, 0.0, kNegativeNaN, kDomain, kLargest},
        // 2: infinite or NaN base
        {"pow", f_pow, kInf, 2.0, kOver, kInf},
        {"pow", f_pow, -kInf, 0.0, kOver, -kInf},
        {"pow", f_pow, kPositiveNaN, 1.0, kOver, kPositiveNaN},
        {"pow", f_pow, kInf, -2.0, kUnder, 0.0},
        {"pow", f_pow, kNegativeNaN, -0.0, kUnder, 0.0},
        // 3: zero or subnormal exponent
        {"pow", f_pow, 5.0, 0.0, 0, 1.0},
        {"pow", f_pow, -5.0, -0.0, 0, 1.0},
        {"pow", f_pow, 5.0, 0x1p-1070, 0, 1.0},
        // 4: infinite or NaN exponent
        {"pow", f_pow, 2.0, kInf, kOver, kInf},
        {"pow", f_pow, 0.5, -kInf, kOver, -kInf},
        {"pow", f_pow, 2.0, kNegativeNaN, kOver, kNegativeNaN},
        // 5: exponent not an integer
        {"pow", f_pow, -2.0, 0.5, kDomain, 0, Result::kNegativeNaNResult},
        {"pow", f_pow, 8.0, 1.0 / 3.0, 0, tallymat::elementary::pow(opaque(8.0), 1.0 / 3.0)},
        {"pow", f_pow, 2.0, 1024.5, kOver, kLargest},
        // 6 to 8: integers of 2^63 and beyond, and the sign from parity below: kPowBounds
        // moderate exponents just past the band that skips the logarithm
        {"pow", f_pow, 0x1.fffffffffffffp15, 64.0, kOver, kLargest},
        {"pow", f_pow, -0x1p-16, 64.0, kUnder, 0.0},
        {"pow", f_pow, 10.0, 308.0, 0, tallymat::elementary::pow(opaque(10.0), 308.0)},
        {"pow", f_pow, 1.2, 4000.0, kOver, kLargest},
        {"pow", f_pow, 3.0, 0.5, 0, tallymat::elementary::pow(opaque(3.0), 0.5)},
    };
    for (const Case& c : cases) run(c);
    const int kind_of_code[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kDomain, kOver, kUnder};
    for (const PowBound& b : kPowBounds) {
        ml::math_error_state = {};
        double result = ml::pow(b.x, b.y);
        EXPECT_EQ(ml::math_error_state.captured.kind, kind_of_code[b.code]) << b.x << "^" << b.y;
        if (b.code == 0) {
            EXPECT_EQ(bits(result), bits(b.value)) << b.x << "^" << b.y;
        }
    }
    ml::pow(0.0, 0.0);
    EXPECT_STREQ(ml::math_error_state.captured.name, "pow");
    EXPECT_EQ(bits(ml::math_error_state.captured.arg2), bits(0.0));
}

TEST(MathLayer, UnguardedFunctionsNeverReport) {
    ml::math_error_state = {};
    const double args[] = {0.0, -0.0, 1e300, -kInf, kInf, kPositiveNaN, kNegativeNaN, 0x1p-1074};
    for (double x : args) {
        ml::atan(x);
        ml::fabs(x);
        ml::floor(x);
    }
    EXPECT_EQ(ml::math_error_state.flag, 0);
    EXPECT_EQ(ml::math_error_state.captured.kind, 0);
}

// Each function's row ends where the math layer's rules begin: both ends
// are taken without a report, the next double beyond each end is reported,
// with the kind and the record's name.
TEST(MathLayer, EachRowEndsWhereTheRulesBegin) {
    using el::Function;
    struct Ends {
        Function function;
        double(TALLYMAT_SSE_CALL* fn)(double);
        const char* name;
        int below, above;  // the kinds reported beyond each end
    };
    const Ends rows[] = {
        {Function::kExp, ml::exp, "exp", kUnder, kOver},     {Function::kSin, ml::sin, "sin", kLoss, kLoss},
        {Function::kCos, ml::cos, "cos", kLoss, kLoss},      {Function::kTan, ml::tan, "tan", kLoss, kLoss},
        {Function::kAsin, ml::asin, "asin", kDomain, kDomain}, {Function::kAcos, ml::acos, "acos", kDomain, kDomain},
    };
    for (const Ends& r : rows) {
        const el::FunctionRow& row = el::row_of(r.function);
        SCOPED_TRACE(r.name);
        const std::pair<double, int> arguments[] = {{row.lowest, 0}, {row.highest, 0},
                                                    {el::next_down(row.lowest), r.below},
                                                    {el::next_up(row.highest), r.above}};
        for (auto [x, kind] : arguments) {
            ml::math_error_state = {};
            r.fn(x);
            EXPECT_EQ(ml::math_error_state.captured.kind, kind) << std::hexfloat << x;
            if (kind) {
                EXPECT_STREQ(ml::math_error_state.captured.name, r.name);
            }
        }
    }
}

// x^2 is the correctly rounded square x*x wherever no rule reports, and the
// rules report exactly where they did before the square was decided.
TEST(MathLayer, PowOfTwoIsTheExactSquare) {
    const double kMinusZero = -0.0;
    const Case cases[] = {
        {"pow", f_pow, 0x1p510, 2.0, 0, 0x1p1020},
        {"pow", f_pow, -0x1p510, 2.0, 0, 0x1p1020},
        {"pow", f_pow, 0x1.fffffffffffffp510, 2.0, 0, 0x1.fffffffffffffp510 * 0x1.fffffffffffffp510},
        {"pow", f_pow, 0x1p511, 2.0, 0, 0x1p1022},                              // past the fast path, below step 8
        {"pow", f_pow, 0x1.6a09e667f3bccp511, 2.0, 0, 0x1.6a09e667f3bccp511 * 0x1.6a09e667f3bccp511},
        {"pow", f_pow, 0x1p512, 2.0, kOver, kLargest},                          // 2 ln|x| reaches 709.78125
        {"pow", f_pow, 1.9e154, 2.0, kOver, kLargest},
        {"pow", f_pow, 0x1p-510, 2.0, 0, 0x1p-1020},
        {"pow", f_pow, 0x1p-511, 2.0, 0, 0x1p-1022},
        {"pow", f_pow, 0x1p-512, 2.0, kUnder, 0.0},
        {"pow", f_pow, kSmallestNormal, 2.0, kUnder, 0.0},
        {"pow", f_pow, 0x1p-1030, 2.0, 0, 0.0},                                // subnormal base
        {"pow", f_pow, kMinusZero, 2.0, 0, 0.0},
        {"pow", f_pow, -kInf, 2.0, kOver, -kInf},
        {"pow", f_pow, kNegativeNaN, 2.0, kOver, kNegativeNaN},
        {"pow", f_pow, -3.0, 2.0, 0, 9.0},
    };
    for (const Case& c : cases) run(c);

    // A million normal x where no rule reports, through both paths.
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 1000000; ++i) {
        uint64_t exponent = 1023 - 511 + random() % 1022;  // 2^-511 <= |x| < 2^511
        double x = from_bits((random() & 0x800fffffffffffffu) | (exponent << 52));
        ml::math_error_state = {};
        ASSERT_EQ(bits(ml::pow(x, opaque(2.0))), bits(x * x)) << x;
        ASSERT_EQ(ml::math_error_state.flag, 0) << x;
    }
}
