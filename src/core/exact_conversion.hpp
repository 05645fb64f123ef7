// Conversions between doubles and 64-bit integers by their bits, for the
// values where they are exact: integer code and SSE2 on every target.  (On
// 32-bit x86 the compiler's own conversions use the x87 unit, which the
// library leaves to the host.)
#pragma once

#include <bit>
#include <cstdint>

namespace tallymat::core {

// x truncated toward zero, for 0 <= x < 2^64.
inline uint64_t truncated_to_uint64(double x) {
    uint64_t bits = std::bit_cast<uint64_t>(x);
    int exponent = static_cast<int>(bits >> 52) - 1075;  // x = mantissa 2^exponent
    if (exponent < -52) return 0;                        // below 1, zero included
    uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    return exponent >= 0 ? mantissa << exponent : mantissa >> -exponent;
}

// n as a double, for n < 2^53: its two halves, each a double exactly
// (2^52 plus the half, less 2^52), and their sum, exact below 2^53.
inline double exact_double(uint64_t n) {
    constexpr uint64_t kTwoTo52Bits = 0x4330000000000000;
    double high = std::bit_cast<double>(kTwoTo52Bits | (n >> 32)) - 0x1p52;
    double low = std::bit_cast<double>(kTwoTo52Bits | (n & 0xffffffff)) - 0x1p52;
    return high * 0x1p32 + low;
}

// Whether a finite x has no fraction bits.
inline bool is_integral(double x) {
    uint64_t bits = std::bit_cast<uint64_t>(x);
    int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1075;
    if (exponent >= 0) return true;
    if (exponent < -52) return (bits << 1) == 0;  // below 1: only zeros
    return (bits & ((uint64_t{1} << -exponent) - 1)) == 0;
}

}  // namespace tallymat::core
