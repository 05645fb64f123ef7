// The number type the fast paths compute in: each function is written once
// over it and built for each kind of CPU (variants.hpp).  A number is one
// double; what differs is how an operation rounds and how products are
// made exact:
// - NativeNumber<false>: the compiler's own double arithmetic (SSE2 on x86),
//   rounding as MXCSR says, with Dekker's products;
// - NativeNumber<true>: the same with the CPU's fused multiply-add;
// - OwnRoundingNumber (own_rounding_number.hpp, x86-64): AVX-512's EVEX
//   instructions, each rounding to nearest and raising no flag itself,
//   for code that runs in the host's MXCSR.
// Each offers + - * /, comparisons, fma (kFused), sqrt, abs, copysign,
// signbit, its bits and conversion from a double (a constant, a table
// entry, an argument) and back.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "elementary/parts.hpp"

namespace tallymat::elementary {

template <bool kFusedProducts>
struct NativeNumber {
    static constexpr bool kFused = kFusedProducts;
    static constexpr bool kRoundsItself = false;  // runs under the library's MXCSR

    double v;
    [[gnu::always_inline]] constexpr NativeNumber(double x = 0.0) : v(x) {}
    [[gnu::always_inline]] constexpr double value() const { return v; }

    [[gnu::always_inline]] friend NativeNumber operator+(NativeNumber a, NativeNumber b) { return a.v + b.v; }
    [[gnu::always_inline]] friend NativeNumber operator-(NativeNumber a, NativeNumber b) { return a.v - b.v; }
    [[gnu::always_inline]] friend NativeNumber operator*(NativeNumber a, NativeNumber b) { return a.v * b.v; }
    [[gnu::always_inline]] friend NativeNumber operator/(NativeNumber a, NativeNumber b) { return a.v / b.v; }
    [[gnu::always_inline]] friend NativeNumber operator-(NativeNumber a) { return -a.v; }
    [[gnu::always_inline]] NativeNumber& operator+=(NativeNumber b) { v += b.v; return *this; }
    [[gnu::always_inline]] friend bool operator==(NativeNumber a, NativeNumber b) { return a.v == b.v; }
    [[gnu::always_inline]] friend bool operator<(NativeNumber a, NativeNumber b) { return a.v < b.v; }
    [[gnu::always_inline]] friend bool operator<=(NativeNumber a, NativeNumber b) { return a.v <= b.v; }
    [[gnu::always_inline]] friend bool operator>(NativeNumber a, NativeNumber b) { return a.v > b.v; }
    [[gnu::always_inline]] friend bool operator>=(NativeNumber a, NativeNumber b) { return a.v >= b.v; }

    // a b + c rounded once: only in functions built for a CPU that has it.
    [[gnu::always_inline]] friend NativeNumber fma(NativeNumber a, NativeNumber b, NativeNumber c) {
        static_assert(kFused, "Dekker's functions have no fused multiply-add");
        return __builtin_fma(a.v, b.v, c.v);
    }
    [[gnu::always_inline]] friend NativeNumber sqrt(NativeNumber a) { return __builtin_sqrt(a.v); }
    [[gnu::always_inline]] friend NativeNumber abs(NativeNumber a) { return __builtin_fabs(a.v); }
    [[gnu::always_inline]] friend NativeNumber copysign(NativeNumber a, NativeNumber sign) {
        return std::copysign(a.v, sign.v);
    }
    [[gnu::always_inline]] friend bool signbit(NativeNumber a) { return std::signbit(a.v); }
    [[gnu::always_inline]] friend uint64_t bits_of(NativeNumber a) { return parts::bits_of(a.v); }
    [[gnu::always_inline]] static NativeNumber from_bits(uint64_t bits) { return parts::from_bits(bits); }
    // An int32 is a double exactly: its conversion neither rounds nor raises a flag.
    [[gnu::always_inline]] static NativeNumber of_integer(int32_t i) { return static_cast<double>(i); }

    // What the accurate paths, plain C++, run under: here, as they are.
    template <typename Path>
    [[gnu::always_inline]] static auto in_library_environment(Path path) {
        return path();
    }
};

using DekkersNumber = NativeNumber<false>;
using FusedNumber = NativeNumber<true>;

}  // namespace tallymat::elementary
