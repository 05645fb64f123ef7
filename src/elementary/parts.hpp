// What the files of the elementary functions share: bit access and the
// rounding test of the fast paths.
#pragma once

#include <bit>
#include <cstdint>

namespace tallymat::elementary::parts {

inline constexpr double kShifter = 0x1.8p52;  // adding and subtracting it rounds to an integer

[[gnu::always_inline]] inline uint64_t bits_of(double x) { return std::bit_cast<uint64_t>(x); }
[[gnu::always_inline]] inline double from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }
[[gnu::always_inline]] inline double nearest_integer(double x) { return (x + kShifter) - kShifter; }  // |x| < 2^51

// The nearest integer to x (|x| < 2^31) in both forms: the shifted sum's
// low bits hold it, so the integer needs no conversion of its own.
template <class N>
struct NearestInteger {
    N value;
    int32_t integer;
};
template <class N>
[[gnu::always_inline]] inline NearestInteger<N> nearest_integer_of(N x) {
    N shifted = x + kShifter;
    return {shifted - kShifter, static_cast<int32_t>(static_cast<uint32_t>(bits_of(shifted)))};
}

// The rounding test: hi + lo is within `error` of the exact value.  When
// both ends of that interval round to the same double, it is the correctly
// rounded result (rounding is monotonic; the bounds carry a margin for the
// rounding of lo +- error itself), and so is hi + lo, which lies between
// them.  With fused products (newer CPUs, which overlap the test with what
// follows) the result is hi + lo, so that it waits for one sum, not two;
// with Dekker's products (older CPUs, where each instruction counts) it is
// the upper end itself.
template <class N>
[[gnu::always_inline]] inline bool rounds_alike(N hi, N lo, N error, N& result) {
    N up = hi + (lo + error);
    N down = hi + (lo - error);
    result = N::kFused ? hi + lo : up;
    return up == down;
}

}  // namespace tallymat::elementary::parts
