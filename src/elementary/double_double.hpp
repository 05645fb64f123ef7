// Double-double arithmetic: a value carried as an unevaluated sum hi + lo of
// two numbers.  Sums and products are exact by the classic error-free
// transformations (Knuth's two-sum, Dekker's product) in the number type's
// own operations (number.hpp), which round to nearest: no wider registers,
// and no contraction (the build forbids it and uses SSE2 on x86).  Where
// the number type has a fused multiply-add, a product's error is one
// instruction instead of Dekker's seventeen: the same exact value, so the
// same bits.
#pragma once

#include "elementary/number.hpp"

namespace tallymat::elementary {

// A pair of doubles as the tables hold it.
struct DoubleDouble {
    double hi;
    double lo;
};

// A pair of numbers as the fast paths compute it.
template <class N>
struct Pair {
    N hi;
    N lo;
    [[gnu::always_inline]] static Pair of(const DoubleDouble& d) { return {d.hi, d.lo}; }
};

// a + b exactly, for |a| >= |b| (or a = 0).
template <class N>
[[gnu::always_inline]] inline Pair<N> fast_two_sum(N a, N b) {
    N sum = a + b;
    return {sum, b - (sum - a)};
}

// a + b exactly, whatever their magnitudes.
template <class N>
[[gnu::always_inline]] inline Pair<N> two_sum(N a, N b) {
    N sum = a + b;
    N b_part = sum - a;
    return {sum, (a - (sum - b_part)) + (b - b_part)};
}

// a split into two halves of 26 bits each, a = hi + lo; |a| < 2^995.
template <class N>
[[gnu::always_inline]] inline Pair<N> split(N a) {
    constexpr double kSplitter = 0x1p27 + 1.0;
    N scaled = N(kSplitter) * a;
    N hi = scaled - (scaled - a);
    return {hi, a - hi};
}

// a * b + c: one rounding where fused, two otherwise (error bounds count two).
template <class N>
[[gnu::always_inline]] inline N mul_add(N a, N b, N c) {
    if constexpr (N::kFused) return fma(a, b, c);
    else return a * b + c;
}

// a * b exactly, as the rounded product and its error; |a|, |b| < 2^995 and
// the product far from the subnormal range.
template <class N>
[[gnu::always_inline]] inline Pair<N> exact_product(N a, N b) {
    N product = a * b;
    if constexpr (N::kFused) {
        return {product, fma(a, b, -product)};
    } else {
        Pair<N> x = split(a), y = split(b);
        N error = ((x.hi * y.hi - product) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
        return {product, error};
    }
}

// a * a exactly (Dekker's: one split fewer).
template <class N>
[[gnu::always_inline]] inline Pair<N> exact_square(N a) {
    if constexpr (N::kFused) {
        return exact_product(a, a);
    } else {
        N product = a * a;
        Pair<N> x = split(a);
        N error = ((x.hi * x.hi - product) + N(2.0) * x.hi * x.lo) + x.lo * x.lo;
        return {product, error};
    }
}

// Fused products: on x86 in functions built for FMA3 beside the plain ones,
// chosen at load from the CPU (core/cpu_features.hpp); 64-bit Arm and s390x
// always have a fused multiply-add.  Only in optimised builds: without
// optimisation the compiler may call the C runtime's fma instead of using
// the instruction.
#if (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__s390x__)) && \
    defined(__GNUC__) && defined(__OPTIMIZE__)
#define TALLYMAT_FUSED_PRODUCTS_BUILT 1
#else
#define TALLYMAT_FUSED_PRODUCTS_BUILT 0
#endif

// x86 CPUs with FMA3 take the fused products, in functions compiled for them.
#if defined(__x86_64__) || defined(__i386__)
#define TALLYMAT_FOR_FUSED_PRODUCTS __attribute__((target("fma")))
#else
#define TALLYMAT_FOR_FUSED_PRODUCTS
#endif

// Functions that round in every instruction: x86-64 with AVX-512F, built
// by GCC-compatible compilers (own_rounding.cpp).
#if defined(__x86_64__) && defined(__GNUC__)
#define TALLYMAT_OWN_ROUNDING_BUILT 1
#else
#define TALLYMAT_OWN_ROUNDING_BUILT 0
#endif

}  // namespace tallymat::elementary
