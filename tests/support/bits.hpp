// Doubles compared by their bits (NaN signs and payloads, the sign of zero
// included), and a value the compiler cannot fold.
#pragma once

#include <bit>
#include <cstdint>

inline uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }
inline double from_bits(uint64_t b) { return std::bit_cast<double>(b); }

inline double opaque(double x) {
    volatile double v = x;
    return v;
}
