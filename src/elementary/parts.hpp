// What the files of the elementary functions share: bit access and the
// rounding test of the fast paths.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

#if defined(__i386__) && defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tallymat::elementary::parts {

inline constexpr double kShifter = 0x1.8p52;  // adding and subtracting it rounds to an integer

#if defined(__i386__) && defined(__SSE2__)
// 32-bit x86 keeps a uint64_t in two general registers, and std::bit_cast
// between it and a double goes through memory: two 4-byte stores and one
// 8-byte load, which the CPU cannot forward (about 12 cycles, a call's
// throughput turned into its latency).  SSE2 moves the halves directly.
[[gnu::always_inline]] inline uint64_t bits_of(double x) {
    __m128i v = _mm_castpd_si128(_mm_set_sd(x));
    auto low = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    auto high = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(v, 32)));
    return uint64_t{high} << 32 | low;
}
[[gnu::always_inline]] inline double from_bits(uint64_t bits) {
    __m128i low = _mm_cvtsi32_si128(static_cast<int32_t>(static_cast<uint32_t>(bits)));
    __m128i high = _mm_cvtsi32_si128(static_cast<int32_t>(static_cast<uint32_t>(bits >> 32)));
    return _mm_cvtsd_f64(_mm_castsi128_pd(_mm_unpacklo_epi32(low, high)));
}
#else
[[gnu::always_inline]] inline uint64_t bits_of(double x) { return std::bit_cast<uint64_t>(x); }
[[gnu::always_inline]] inline double from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }
#endif
// The widest integer register, and how many of a double's low bits do not
// fit it: bit work on a double's upper part (its exponent and leading
// fraction bits) done in a Word shifted by kBitsBelowWord costs one
// register on 32-bit targets and is the plain 64-bit code elsewhere.
using Word = std::conditional_t<sizeof(void*) >= 8, uint64_t, uint32_t>;
inline constexpr int kBitsBelowWord = 64 - 8 * static_cast<int>(sizeof(Word));

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
