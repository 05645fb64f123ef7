// The number of functions that run in the host's MXCSR (x86-64 with
// AVX-512F; only the one file built for it includes this): every
// floating-point instruction carries its rounding, to nearest ({rn-sae}),
// or suppresses exceptions ({sae}), so that the host's rounding mode and
// flags neither change a result nor are changed.  (DAZ and FTZ no
// instruction overrides: the machine code sends a host with either set to
// code that switches to the library's MXCSR.)  Moves and bitwise
// operations raise nothing, and an int32's conversion is exact.  The
// value lives in a vector register's low lane; the upper lane is never
// read (bitwise operations on it raise nothing).
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "core/fp_environment.hpp"

namespace tallymat::elementary {

namespace {

// path(arguments) under the library's MXCSR (all exceptions masked, to
// nearest), and the host's back afterwards, flags included.  Rare enough
// for the switch to cost nothing measurable; out of line, so that the fast
// path needs no frame to keep the host's value in.  (Internal: this
// header has one includer.)
template <typename Path>
[[gnu::noinline, gnu::cold]] auto run_in_library_mxcsr(Path path) {
    unsigned host = _mm_getcsr();
    _mm_setcsr(core::kLibraryMxcsr);
    auto result = path();
    _mm_setcsr(host);
    return result;
}

}  // namespace

struct OwnRoundingNumber {
    static constexpr bool kFused = true;
    static constexpr bool kRoundsItself = true;
    static constexpr int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    static constexpr int kQuiet = _MM_FROUND_NO_EXC;

    __m128d v;
    // x's register as it is: the upper lane, which nothing reads, need not
    // be cleared (an instruction on the argument's way in).  (Clang takes
    // no such tied operand; it clears the lane.)
    [[gnu::always_inline]] OwnRoundingNumber(double x = 0.0) {
#if defined(__clang__)
        v = _mm_set_sd(x);
#else
        asm("" : "=x"(v) : "0"(x));
#endif
    }
    [[gnu::always_inline]] OwnRoundingNumber(__m128d x) : v(x) {}
    [[gnu::always_inline]] double value() const { return _mm_cvtsd_f64(v); }

    using N = OwnRoundingNumber;
    [[gnu::always_inline]] friend N operator+(N a, N b) { return _mm_add_round_sd(a.v, b.v, kNearest); }
    [[gnu::always_inline]] friend N operator-(N a, N b) { return _mm_sub_round_sd(a.v, b.v, kNearest); }
    [[gnu::always_inline]] friend N operator*(N a, N b) { return _mm_mul_round_sd(a.v, b.v, kNearest); }
    [[gnu::always_inline]] friend N operator/(N a, N b) { return _mm_div_round_sd(a.v, b.v, kNearest); }
    [[gnu::always_inline]] friend N operator-(N a) { return _mm_xor_pd(a.v, _mm_set_sd(-0.0)); }
    [[gnu::always_inline]] N& operator+=(N b) { return *this = *this + b; }
    [[gnu::always_inline]] friend bool operator==(N a, N b) { return _mm_comi_round_sd(a.v, b.v, _CMP_EQ_OQ, kQuiet); }
    [[gnu::always_inline]] friend bool operator<(N a, N b) { return _mm_comi_round_sd(a.v, b.v, _CMP_LT_OQ, kQuiet); }
    [[gnu::always_inline]] friend bool operator<=(N a, N b) { return _mm_comi_round_sd(a.v, b.v, _CMP_LE_OQ, kQuiet); }
    [[gnu::always_inline]] friend bool operator>(N a, N b) { return _mm_comi_round_sd(a.v, b.v, _CMP_GT_OQ, kQuiet); }
    [[gnu::always_inline]] friend bool operator>=(N a, N b) { return _mm_comi_round_sd(a.v, b.v, _CMP_GE_OQ, kQuiet); }

    [[gnu::always_inline]] friend N fma(N a, N b, N c) { return _mm_fmadd_round_sd(a.v, b.v, c.v, kNearest); }
    [[gnu::always_inline]] friend N sqrt(N a) { return _mm_sqrt_round_sd(a.v, a.v, kNearest); }
    [[gnu::always_inline]] friend N abs(N a) { return _mm_andnot_pd(_mm_set_sd(-0.0), a.v); }
    [[gnu::always_inline]] friend N copysign(N a, N sign) {
        __m128d sign_bit = _mm_set_sd(-0.0);
        return _mm_or_pd(_mm_andnot_pd(sign_bit, a.v), _mm_and_pd(sign_bit, sign.v));
    }
    [[gnu::always_inline]] friend bool signbit(N a) { return (_mm_movemask_pd(a.v) & 1) != 0; }
    [[gnu::always_inline]] friend uint64_t bits_of(N a) {
        return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_castpd_si128(a.v)));
    }
    [[gnu::always_inline]] static N from_bits(uint64_t bits) {
        return _mm_castsi128_pd(_mm_cvtsi64_si128(static_cast<long long>(bits)));
    }
    [[gnu::always_inline]] static N of_integer(int32_t i) { return _mm_cvti32_sd(_mm_setzero_pd(), i); }

    // The accurate paths are plain C++, which rounds as MXCSR says.
    template <typename Path>
    [[gnu::always_inline]] static auto in_library_environment(Path path) {
        return run_in_library_mxcsr(path);
    }
};


}  // namespace tallymat::elementary
