// Double-double arithmetic: a value carried as an unevaluated sum hi + lo of
// two doubles.  Sums and products are exact by the classic error-free
// transformations (Knuth's two-sum, Dekker's product), in plain double
// arithmetic, so that every target computes the same bits: no fma and no
// wider registers (the build forbids contraction and uses SSE2 on x86).
#pragma once

namespace tallymat::elementary {

struct DoubleDouble {
    double hi;
    double lo;
};

// a + b exactly, for |a| >= |b| (or a = 0).
inline DoubleDouble fast_two_sum(double a, double b) {
    double sum = a + b;
    return {sum, b - (sum - a)};
}

// a + b exactly, whatever their magnitudes.
inline DoubleDouble two_sum(double a, double b) {
    double sum = a + b;
    double b_part = sum - a;
    return {sum, (a - (sum - b_part)) + (b - b_part)};
}

// a split into two halves of 26 bits each, a = hi + lo; |a| < 2^995.
inline DoubleDouble split(double a) {
    constexpr double kSplitter = 0x1p27 + 1.0;
    double scaled = kSplitter * a;
    double hi = scaled - (scaled - a);
    return {hi, a - hi};
}

// a * b exactly, as the rounded product and its error; |a|, |b| < 2^995 and
// the product far from the subnormal range.
inline DoubleDouble two_product(double a, double b) {
    double product = a * b;
    DoubleDouble x = split(a), y = split(b);
    double error = ((x.hi * y.hi - product) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
    return {product, error};
}

}  // namespace tallymat::elementary
