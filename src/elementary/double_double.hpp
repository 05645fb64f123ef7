// Double-double arithmetic: a value carried as an unevaluated sum hi + lo of
// two doubles.  Sums and products are exact by the classic error-free
// transformations (Knuth's two-sum, Dekker's product), in plain double
// arithmetic, so that every target computes the same bits: no fma and no
// wider registers (the build forbids contraction and uses SSE2 on x86).
// Where the CPU has a fused multiply-add, a product's error is one
// instruction instead of Dekker's seventeen: the same exact value, so the
// same bits (exact_product<true>, inside functions built for that CPU).
#pragma once

namespace tallymat::elementary {

struct DoubleDouble {
    double hi;
    double lo;
};

// a + b exactly, for |a| >= |b| (or a = 0).
[[gnu::always_inline]] inline DoubleDouble fast_two_sum(double a, double b) {
    double sum = a + b;
    return {sum, b - (sum - a)};
}

// a + b exactly, whatever their magnitudes.
[[gnu::always_inline]] inline DoubleDouble two_sum(double a, double b) {
    double sum = a + b;
    double b_part = sum - a;
    return {sum, (a - (sum - b_part)) + (b - b_part)};
}

// a split into two halves of 26 bits each, a = hi + lo; |a| < 2^995.
[[gnu::always_inline]] inline DoubleDouble split(double a) {
    constexpr double kSplitter = 0x1p27 + 1.0;
    double scaled = kSplitter * a;
    double hi = scaled - (scaled - a);
    return {hi, a - hi};
}

// a * b exactly, as the rounded product and its error; |a|, |b| < 2^995 and
// the product far from the subnormal range.
[[gnu::always_inline]] inline DoubleDouble two_product(double a, double b) {
    double product = a * b;
    DoubleDouble x = split(a), y = split(b);
    double error = ((x.hi * y.hi - product) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
    return {product, error};
}

// a * a exactly, one split fewer.
[[gnu::always_inline]] inline DoubleDouble two_square(double a) {
    double product = a * a;
    DoubleDouble x = split(a);
    double error = ((x.hi * x.hi - product) + 2.0 * x.hi * x.lo) + x.lo * x.lo;
    return {product, error};
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

template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble exact_product(double a, double b) {
    if constexpr (kFused) {
        double product = a * b;
        return {product, __builtin_fma(a, b, -product)};
    } else {
        return two_product(a, b);
    }
}

// a * b + c: one rounding where fused, two otherwise (error bounds count two).
template <bool kFused>
[[gnu::always_inline]] inline double mul_add(double a, double b, double c) {
    if constexpr (kFused) return __builtin_fma(a, b, c);
    else return a * b + c;
}

template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble exact_square(double a) {
    if constexpr (kFused) return exact_product<true>(a, a);
    else return two_square(a);
}

}  // namespace tallymat::elementary
