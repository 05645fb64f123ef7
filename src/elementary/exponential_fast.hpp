// The fast paths of exp, ln, lg and powers, written once over the number
// type (number.hpp) and built by exponential.cpp and own_rounding.cpp:
// table reduction and a short series in double-double, with an error bound
// that the result must clear (rounds_alike).  The rest goes to the
// accurate paths (exponential.cpp), in 320-bit fixed point.  Error bounds
// are relative to the result unless said otherwise.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"
#include "elementary/double_double.hpp"
#include "elementary/parts.hpp"

namespace tallymat::elementary {

struct alignas(32) LogTableRow {  // 32 bytes: the row's address is one shift from the index
    double reciprocal;      // c, a multiple of 2^-9: m c lies within 2^-8 of 1
    double minus_log_high;  // -ln c, a multiple of 2^-42
    double minus_log_low;   // the double nearest to the rest
};
#include "elementary/exponential_tables.inc"
static_assert(kLargestReduced < 0x1p-8, "ln's series is bounded for |m c - 1| < 2^-8");

// The accurate paths, plain C++ (exponential.cpp).
TALLYMAT_SSE_CALL double exp_accurate(double x);
TALLYMAT_SSE_CALL double log_accurate(double x);
TALLYMAT_SSE_CALL double log10_accurate(double x);
TALLYMAT_SSE_CALL double pow_accurate(double x, double y);

namespace fast {

using parts::NearestInteger;
using parts::kShifter;
using parts::rounds_alike;

// 2^n for a normal power, -1022 <= n <= 1023.
template <class N>
[[gnu::always_inline]] inline N two_to(int n) { return N::from_bits(static_cast<uint64_t>(n + 1023) << 52); }

// v 2^e, exactly, where the result is a normal double (|e| <= 1024).
template <class N>
[[gnu::always_inline]] inline N scaled(N v, int e) {
    if (e > -1023 && e < 1024) [[likely]] return v * two_to<N>(e);
    int half = e / 2;
    return v * two_to<N>(half) * two_to<N>(e - half);
}

// exp_double_double's result times 2^exponent: with fused products mostly
// already scaled (exponent 0), with Dekker's never.
template <class N>
[[gnu::always_inline]] inline N scaled_result(N v, int exponent) {
    if (N::kFused && exponent == 0) return v;
    return scaled(v, exponent);
}

// e^(xh + xl) = 2^exponent (value.hi + value.lo), for |xh| < 745 and
// |xl| < 2^-40: relative error below 2^-67.8 (bound used: 2^-67).
// x = (256 e + j) ln2/256 + r, |r| <= 2^-9.5; e^r - 1 - r is r^2 times a
// fitted cubic (within 2^-69.3, the rest being roundings); 2^(j/256) comes
// from the table.
//
// With fused products, where 2^-960 <= e^x < 2^990, the table's entry is
// scaled by 2^e first, so that the value needs no scaling (exponent 0) and
// the result no last product: the scaling is exact, every part stays far
// from overflow, and what the products lose near the subnormals (2^-1074
// at most) is below 2^-110 of the result.  (With Dekker's products the
// instructions would cost more than the latency they save.)
//
// With a middle part, e^(xh + xm + xl) for |xm| < 2^-16: k comes from xh
// alone, so it need not wait for xm, which joins the reduced argument
// exactly (|r| then stays within 2^-9.49).
template <class N>
struct ScaledDoubleDouble {
    Pair<N> value;
    int exponent;
};
constexpr double kExpFastError = 0x1p-67;

template <class N, bool kMiddle = false>
[[gnu::always_inline]] inline ScaledDoubleDouble<N> exp_double_double(N xh, N xl, N xm = 0.0) {
    // k is read from the shifted sum's low bits (|k| < 2^19, so k kExpStepHigh is exact).
    // (Rounded once or twice, the product may give a neighbour of the
    // nearest k: r then stays within 2^-9.5 (1 + 2^-34).)
    auto madd = mul_add<N>;
    N shifted = madd(xh, kStepsPerUnit, kShifter);
    auto k = static_cast<int32_t>(static_cast<uint32_t>(bits_of(shifted)));
    N kd = shifted - kShifter;
    N reduced = madd(kd, -kExpStepHigh, xh);  // exact
    Pair<N> r;
    if constexpr (kMiddle) {
        // Both sums exact; the upper part waits for two additions, not
        // for the first sum's low part.
        Pair<N> middle = two_sum(reduced, xm);
        r = two_sum(middle.hi, madd(kd, -kExpStepLow, xl));
        r.lo += middle.lo;
    } else {
        r = two_sum(reduced, madd(kd, -kExpStepLow, xl));
    }
    N s = r.hi, s2 = s * s;
    // e^s - 1 - s = s^2 (c0 + c1 s + c2 s^2 + c3 s^3), by Estrin's scheme.
    N cubic = madd(s2, madd(s, kExpSeries[3], kExpSeries[2]), madd(s, kExpSeries[1], kExpSeries[0]));
    int exponent = k >> 8;
    bool prescaled = N::kFused && static_cast<unsigned>(exponent + 959) < 1949;  // -959 <= exponent <= 989
    N scale = two_to<N>(prescaled ? exponent : 0);
    Pair<N> table = {N(kExpTable[k & 255].hi) * scale, N(kExpTable[k & 255].lo) * scale};
    Pair<N> product = exact_product(table.hi, s);
    Pair<N> sum = fast_two_sum(table.hi, product.hi);
    // The parts that are ready early first; then the series (fused where it
    // can be), and beside it the two late low parts: the two-sum's and the
    // reduced argument's (r.lo, the end of a two-sum of its own).
    N rest = product.lo + madd(table.lo, s, table.lo);
    N lo = madd(table.hi * s2, cubic, rest) + madd(table.hi, r.lo, sum.lo);
    return {{sum.hi, lo}, prescaled ? 0 : exponent};
}

// ln x = k ln2 - ln c + ln(1 + r), with x = 2^k m, m in [0.6875, 1.375),
// r = m c - 1 a double (|r| < 2^-8), and ln(1 + r) a series to r^9.
// The absolute error is below series_error + kLogTableError |value.hi|.
template <class N>
struct LogDoubleDouble {
    Pair<N> value;
    N series_error;
};
constexpr double kLogTableError = 0x1p-78;

// x = 2^k m with m in [0.6875, 1.375), and m's interval in the table.
template <class N>
struct LogReduction {
    int k;
    N m;
    unsigned interval;
};

template <class N>
[[gnu::always_inline]] inline LogReduction<N> log_reduction(N x) {
    uint64_t ix = bits_of(x);
    int k = 0;
    if (ix < (uint64_t{1} << 52)) {  // subnormal: made normal first
        ix = bits_of(x * 0x1p52);
        k = -52;
    }
    constexpr uint64_t kOffset = 0x3fe6000000000000;  // 0.6875: m's range starts here
    uint64_t from_offset = ix - kOffset;
    k += static_cast<int>(static_cast<int64_t>(from_offset) >> 52);
    return {k, N::from_bits(ix - (from_offset & (uint64_t{0xfff} << 52))),
            static_cast<unsigned>(from_offset >> 44) & 255};
}

// m c - 1, exactly: the table's c makes it a double.
template <class N>
[[gnu::always_inline]] inline N reduced_argument(N m, N c) {
    if constexpr (N::kFused) {
        return fma(m, c, N(-1.0));
    } else {
        // m's upper 21 bits times c (30 bits, then less 1, still exact) and
        // m's lower 32 bits times c (41 bits): both exact, and so is their
        // sum, being the double m c - 1.
        N m_high = N::from_bits(bits_of(m) & ~uint64_t{0xffffffff});
        return (m_high * c - 1.0) + (m - m_high) * c;
    }
}

// a - r^2/2 as a pair, for |a| >= 2^8 r^2 (or a = r): the upper part
// rounded once, the lower part within 2^-105 of it.
template <class N>
[[gnu::always_inline]] inline Pair<N> minus_half_square(N a, N r) {
    if constexpr (N::kFused) {
        N minus_half = N(-0.5) * r;
        N hi = fma(minus_half, r, a);
        return {hi, fma(minus_half, r, a - hi)};  // a - hi is exact: the two are that close
    } else {
        Pair<N> square = exact_square(r);
        Pair<N> sum = fast_two_sum(a, N(-0.5) * square.hi);
        return {sum.hi, sum.lo - N(0.5) * square.lo};
    }
}

template <class N>
[[gnu::always_inline]] inline LogDoubleDouble<N> log_double_double(N x) {
    auto [k, m, interval] = log_reduction(x);
    const LogTableRow& row = kLogTable[interval];
    N r = reduced_argument(m, N(row.reciprocal));
    N kd = N::of_integer(k);
    auto madd = mul_add<N>;
    // k ln2's upper part and -ln c's are multiples of 2^-42 below 2^11: their sum is exact.
    N table = madd(kd, kLn2High, row.minus_log_high);
    N table_low = madd(kd, kLn2Low, row.minus_log_low);

    // The table's part is the larger or zero: |ln c| >= |r| where c is not
    // 1 (the table is built so), and |k ln2 - ln c| > 0.3 where k is not 0.
    Pair<N> b = fast_two_sum(table, r);
    // Then r^2/2 is at most 2^-8 of the rest: |b| >= 2^-9.1 > 2^8 r^2 where
    // the table's part is not 0, as |ln x| is then at least 2^-9.
    Pair<N> c = minus_half_square(b.hi, r);

    // r^3 (1/3 - r/4 + ... + r^6/9), by Estrin's scheme: the rest of the
    // series is below 2^-60 |r|^3.  The series is the last part ready, so it
    // joins the sum last but one, in a fused multiply-add where there is one.
    N r2 = r * r, r4 = r2 * r2, r3 = r * r2;
    N low = madd(r2, madd(r, -1.0 / 6, 0.2), madd(r, -0.25, 1.0 / 3));
    N high = madd(r2, 1.0 / 9, madd(r, -0.125, 1.0 / 7));
    N lo = madd(r3, madd(r4, high, low), b.lo + table_low) + c.lo;
    // The error, from parts known before lo, so that the test need not wait
    // for it: the series' rounding and truncation (under 2^-52.5 |r|^3) and
    // the roundings of lo's sum, whose terms add up to at most 0.34 |r|^3 +
    // 2^-33 |hi| (k ln2's and -ln c's low parts): under 2^-51 |r|^3 +
    // 2^-84 |hi|, with ln 2's and the table's own error (2^-85 |hi|).
    return {{c.hi, lo}, abs(r3) * 0x1p-50};  // |lo| < 2^-16 |hi|: normalised where that matters
}

template <class N>
[[gnu::always_inline]] inline N exp_fast(N x) {
    ScaledDoubleDouble<N> e = exp_double_double<N>(x, 0.0);
    N result;
    if (rounds_alike(e.value.hi, e.value.lo, e.value.hi * kExpFastError, result)) [[likely]]
        return scaled_result(result, e.exponent);
    return N::in_library_environment([x] { return exp_accurate(x.value()); });
}

template <class N>
[[gnu::always_inline]] inline N log_fast(N x) {
    LogDoubleDouble<N> l = log_double_double(x);
    N result;
    N error = l.series_error + abs(l.value.hi) * kLogTableError;
    if (rounds_alike(l.value.hi, l.value.lo, error, result)) [[likely]] return result;
    return N::in_library_environment([x] { return log_accurate(x.value()); });
}

template <class N>
[[gnu::always_inline]] inline N log10_fast(N x) {
    LogDoubleDouble<N> l = log_double_double(x);  // lo's products round within ln's error
    Pair<N> product = exact_product(l.value.hi, N(kInverseLn10.hi));
    N lo = product.lo + (l.value.lo * kInverseLn10.hi + l.value.hi * kInverseLn10.lo);
    // ln's error times 1/ln 10 < 0.5, and the roundings of lo's three terms
    // (lo being at most 0.34 |r|^3 + 2^-33 |ln x|), with room to spare.
    N error = l.series_error * 0.5 + abs(product.hi) * 0x1p-75;
    N result;
    if (rounds_alike(product.hi, lo, error, result)) [[likely]] return result;
    return N::in_library_environment([x] { return log10_accurate(x.value()); });
}

// y is an odd integer: |y| < 2^53 and its last bit, by the bits alone.
[[gnu::always_inline]] inline bool is_odd_integer_bits(uint64_t bits) {
    int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1075;  // y = mantissa 2^exponent
    if (exponent > 0 || exponent < -52) return false;
    uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    return ((mantissa >> -exponent) & 1) != 0 && (mantissa & ((uint64_t{1} << -exponent) - 1)) == 0;
}

template <class N>
[[gnu::always_inline]] inline N pow_fast(N x, N y) {
    N magnitude = abs(x);
    bool negative = signbit(x) && is_odd_integer_bits(bits_of(y));
    LogDoubleDouble<N> l = log_double_double(magnitude);
    // t = y ln|x| in three parts: y's exact products with ln's upper and
    // lower parts, and the rest (below 2^-43, its sum rounded once).  ln's
    // lower part is below 2^-25.5, so for |y| < 2^9 the middle part is
    // below 2^-16, as exp takes it, and exp's reduction need not wait for it.
    // Larger y (only |x| within (1/4, 4) has a finite power) take ln
    // normalised first, the lower part then below 2^-53 of the upper.
    // |x| = 1 gives ln exactly 0 and so e^0 = 1 exactly, but y may then be
    // too large to split (Dekker's products): answered here.
    if (!(abs(y) < 0x1p9)) [[unlikely]] {
        if (magnitude == 1.0) return negative ? -1.0 : 1.0;
        l.value = fast_two_sum(l.value.hi, l.value.lo);
    }
    Pair<N> upper = exact_product(y, l.value.hi);
    Pair<N> middle = exact_product(y, l.value.lo);
    ScaledDoubleDouble<N> e = exp_double_double<N, true>(upper.hi, upper.lo + middle.lo, middle.hi);
    // t's error: |y| times ln's (the series' part, and 2^-77.9 |t| for the
    // rest), and 2^-98 |t| from its own roundings; |t| < 2^9.5, so all but the
    // series' part add up to less than 2^-68 of e^t.
    constexpr double kPowFastError = kExpFastError + 0x1p-68;
    N error = e.value.hi * mul_add<N>(abs(y), l.series_error, kPowFastError);
    N result;
    // Results that may be subnormal round on the accurate path.
    if ((e.exponent == 0 || e.exponent > -1022) && rounds_alike(e.value.hi, e.value.lo, error, result))
        [[likely]]
        result = scaled_result(result, e.exponent);
    else
        result = N::in_library_environment([magnitude, y] { return pow_accurate(magnitude.value(), y.value()); });
    return negative ? -result : result;
}

}  // namespace fast
}  // namespace tallymat::elementary
