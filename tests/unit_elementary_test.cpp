// The library's elementary functions give the correctly rounded bits of the
// shared table on every target the suite runs on.
#include <gtest/gtest.h>

#include "eval/elementary.hpp"
#include "support/bits.hpp"
#include "support/elementary_cases.hpp"

namespace el = tallymat::elementary;

namespace {

double compute(const ElementaryCase& c) {
    double x = from_bits(c.x), y = from_bits(c.y);
    switch (c.function) {
        case 'e': return el::exp(x);
        case 'l': return el::log(x);
        case 'L': return el::log10(x);
        case 'p': return el::pow(x, y);
        case 's': return el::sin(x);
        case 'c': return el::cos(x);
        case 't': return el::tan(x);
        case 'S': return el::asin(x);
        case 'C': return el::acos(x);
        default: return el::atan(x);
    }
}

// With Dekker's products and, where the CPU has FMA, with fused ones.
TEST(Elementary, CorrectlyRoundedBits) {
    const bool chosen = el::elementary_functions.fused_products;
    for (bool fused : {false, true}) {
        if (!el::set_fused_products(fused)) continue;
        SCOPED_TRACE(fused ? "fused products" : "Dekker's products");
        for (const ElementaryCase& c : kElementaryCases) {
            SCOPED_TRACE(testing::Message() << c.function << std::hex << " x=" << c.x << " y=" << c.y);
            EXPECT_EQ(bits(compute(c)), c.expected);
        }
    }
    el::set_fused_products(chosen);
}

}  // namespace
