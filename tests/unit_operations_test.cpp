// The integer power and the operators' semantics, below the C interface.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "support/bits.hpp"
#include "eval/operations.hpp"

using tallymat::eval::integer_power;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kLargest = std::numeric_limits<double>::max();
}  // namespace

TEST(IntegerPower, SquareAndMultiplyOverEveryBit) {
    struct Row {
        double base, exponent, expected;
    };
    const Row rows[] = {
        {2, 10, 1024},
        {2, -3, 0.125},
        {-2, 3, -8},
        {-2, 2.9, 4},
        {-2, -2.9, 0.25},
        {5, 0.9, 1},
        {5, -0.9, 1},
        {0, 3, 0},
        {-0.0, 1, 0},
        {0, 0, kLargest},
        {0, -2, kLargest},
        {0, 0.99, kLargest},
        {2, 511, 0x1p511},
        {2, 512, 0x1p512},  // not the magnitude modulo 512
        {2, 513, 0x1p513},
        {2, 1023, 0x1p1023},
        {2, 1024, kInf},
        {-2, 1025, -kInf},
        {2, -1022, 0x1p-1022},
        {0.5, 1074, 0x1p-1074},
        {2, 1e300, kInf},
        {2, -1e300, 0.0},
        {-1, 1e300, 1},
        {-1, 0x1p63 + 0x1p11, 1},  // counts as 2^63, even
        {-1, 9007199254740991.0, -1},  // 2^53 - 1, odd
        {1.0, -kInf, 1},
        {kInf, 2, kInf},
        {kInf, -1, 0},
        // Each product rounded, square-and-multiply differs from repeated
        // multiplication in the last bits; worked out apart from this code.
        {1.1, 10, 0x1.4bffc0c03023dp+1},    // repeated: ...3023ep+1
        {1e-3, 5, 0x1.203af9ee75616p-50},   // ...75617p-50
        {1.1, 511, 0x1.33784111e5ffdp+70},  // ...e5fa9p+70
        {0.9, -300, 0x1.8445eb5f94534p+45}, // ...94558p+45
        {1.0000001, 500, 0x1.000346e1b913cp+0},
        {-0.7, 13, -0x1.3d7c648d4f70cp-7},
        {3.0, 40, 0x1.517168a4523fdp+63},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bits(integer_power(row.base, row.exponent)), bits(row.expected))
            << row.base << " ** " << row.exponent << " gave " << integer_power(row.base, row.exponent);
    }
}

TEST(IntegerPower, NaNExponentsAndBases) {
    const double nan = std::bit_cast<double>(uint64_t{0x7ff8000000000001});
    EXPECT_EQ(bits(integer_power(2.0, nan)), bits(nan));
    EXPECT_EQ(bits(integer_power(0.0, nan)), bits(nan));
    EXPECT_EQ(bits(integer_power(nan, nan)), bits(nan));
    EXPECT_EQ(bits(integer_power(nan, 3.0)), bits(0.0));      // the zero-base path
    EXPECT_EQ(bits(integer_power(nan, 0.0)), bits(kLargest));
    EXPECT_EQ(bits(integer_power(nan, -1.0)), bits(kLargest));
}
