// The library's elementary functions give the correctly rounded bits of the
// shared table on every target the suite runs on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "elementary/elementary.hpp"
#include "elementary/functions.hpp"
#include "support/bits.hpp"
#include "support/elementary_cases.hpp"
#if defined(__x86_64__)
#include "support/host_fp_states.h"
#endif

namespace el = tallymat::elementary;

namespace {

// The case table names a function by its row's letter.
el::Function function_of(char letter) {
    for (const el::FunctionRow& row : el::kFunctionRows)
        if (row.letter == letter) return row.function;
    ADD_FAILURE() << "no function has the letter " << letter;
    return el::Function::kExp;
}

double compute(const ElementaryCase& c) {
    double x = from_bits(c.x), y = from_bits(c.y);
    switch (function_of(c.function)) {
        case el::Function::kExp: return el::exp(x);
        case el::Function::kLog: return el::log(x);
        case el::Function::kLog10: return el::log10(x);
        case el::Function::kPow: return el::pow(x, y);
        case el::Function::kSin: return el::sin(x);
        case el::Function::kCos: return el::cos(x);
        case el::Function::kTan: return el::tan(x);
        case el::Function::kAsin: return el::asin(x);
        case el::Function::kAcos: return el::acos(x);
        case el::Function::kAtan: return el::atan(x);
    }
    return 0.0;
}

// With Dekker's products and, where the CPU has them, fused ones and
// instructions that round themselves.
TEST(Elementary, CorrectlyRoundedBits) {
    const el::Products chosen = el::elementary_functions.products;
    for (el::Products products : {el::Products::kDekkers, el::Products::kFused, el::Products::kOwnRounding}) {
        if (!el::set_products(products)) continue;
        SCOPED_TRACE(el::name_of(products));
        for (const ElementaryCase& c : kElementaryCases) {
            SCOPED_TRACE(testing::Message() << c.function << std::hex << " x=" << c.x << " y=" << c.y);
            EXPECT_EQ(bits(compute(c)), c.expected);
        }
    }
    el::set_products(chosen);
}

#if defined(__x86_64__)
// The functions that round in their own instructions give the same bits in
// every host MXCSR the machine code calls them in (every one but those
// that flush subnormals, which get the switching code) and leave it as
// they found it, flags included: their accurate paths too.
TEST(Elementary, OwnRoundingFunctionsKeepTheHostsMxcsr) {
    const el::Products chosen = el::elementary_functions.products;
    if (!el::set_products(el::Products::kOwnRounding)) GTEST_SKIP() << "this CPU lacks AVX-512: no such functions";
    const fp_state initial = read_state();
    for (const auto& host : kStates) {
        if (host.state.mxcsr & 0x8040u) continue;  // DAZ or FTZ
        SCOPED_TRACE(host.name);
        for (const ElementaryCase& c : kElementaryCases) {
            write_state(host.state);
            double value = compute(c);
            unsigned after = read_state().mxcsr;
            write_state(initial);
            EXPECT_EQ(bits(value), c.expected) << c.function << std::hex << " x=" << c.x << " y=" << c.y;
            EXPECT_EQ(after, host.state.mxcsr) << c.function << std::hex << " x=" << c.x << " y=" << c.y;
        }
    }
    el::set_products(chosen);
}
#endif

// Called directly, past the domains the math layer lets through, the
// trigonometric functions give a quiet NaN rather than index a table with
// a meaningless quadrant or interval.
TEST(Elementary, TrigonometricArgumentsOutsideTheirDomainGiveQuietNaNs) {
    const double kInf = std::numeric_limits<double>::infinity();
    const uint64_t kSignallingNaN = 0x7ff0000000000001u, kQuietBit = uint64_t{1} << 51;
    const ElementaryCase outside[] = {
        {'s', bits(0x1p53), 0, 0},  {'c', bits(-kInf), 0, 0}, {'t', kSignallingNaN, 0, 0},
        {'S', bits(1.0000000000000002), 0, 0}, {'C', bits(-kInf), 0, 0}, {'T', kSignallingNaN, 0, 0},
    };
    for (const ElementaryCase& c : outside) {
        uint64_t result = bits(compute(c));
        EXPECT_TRUE(std::isnan(from_bits(result)) && (result & kQuietBit)) << c.function << std::hex << " " << result;
    }
}

}  // namespace
