// exp, ln, lg and powers, correctly rounded.  Fast path: table reduction
// and a short series in double-double, with an error bound that the result
// must clear (rounds_alike).  Accurate path: the same functions in 320-bit
// fixed point.  Error bounds are relative to the result unless said otherwise.
#include "elementary/variants.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "elementary/double_double.hpp"
#include "elementary/parts.hpp"
#include "elementary/wide_rounding.hpp"

namespace tallymat::elementary {
namespace {

using namespace parts;

struct alignas(32) LogTableRow {  // 32 bytes: the row's address is one shift from the index
    double reciprocal;      // c, a multiple of 2^-9: m c lies within 2^-8 of 1
    double minus_log_high;  // -ln c, a multiple of 2^-42
    double minus_log_low;   // the double nearest to the rest
};
#include "elementary/exponential_tables.inc"
static_assert(kLargestReduced < 0x1p-8, "ln's series is bounded for |m c - 1| < 2^-8");

// 2^n for a normal power, -1022 <= n <= 1023.
[[gnu::always_inline]] inline double two_to(int n) { return from_bits(static_cast<uint64_t>(n + 1023) << 52); }

// v 2^e, exactly, where the result is a normal double (|e| <= 1024).
[[gnu::always_inline]] inline double scaled(double v, int e) {
    if (e > -1023 && e < 1024) [[likely]] return v * two_to(e);
    int half = e / 2;
    return v * two_to(half) * two_to(e - half);
}

// ---- the fast path ----------------------------------------------------------

// exp_double_double's result times 2^exponent: with fused products mostly
// already scaled (exponent 0), with Dekker's never.
template <bool kFused>
[[gnu::always_inline]] inline double scaled_result(double v, int exponent) {
    if (kFused && exponent == 0) return v;
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
struct ScaledDoubleDouble {
    DoubleDouble value;
    int exponent;
};
constexpr double kExpFastError = 0x1p-67;

template <bool kFused, bool kMiddle = false>
[[gnu::always_inline]] inline ScaledDoubleDouble exp_double_double(double xh, double xl, double xm = 0.0) {
    // k is read from the shifted sum's low bits (|k| < 2^19, so k kExpStepHigh is exact).
    // (Rounded once or twice, the product may give a neighbour of the
    // nearest k: r then stays within 2^-9.5 (1 + 2^-34).)
    auto madd = mul_add<kFused>;
    double shifted = madd(xh, kStepsPerUnit, kShifter);
    auto k = static_cast<int32_t>(static_cast<uint32_t>(bits_of(shifted)));
    double kd = shifted - kShifter;
    double reduced = madd(kd, -kExpStepHigh, xh);  // exact
    DoubleDouble r;
    if constexpr (kMiddle) {
        // Both sums exact; the upper part waits for two additions, not
        // for the first sum's low part.
        DoubleDouble middle = two_sum(reduced, xm);
        r = two_sum(middle.hi, madd(kd, -kExpStepLow, xl));
        r.lo += middle.lo;
    } else {
        r = two_sum(reduced, madd(kd, -kExpStepLow, xl));
    }
    double s = r.hi, s2 = s * s;
    // e^s - 1 - s = s^2 (c0 + c1 s + c2 s^2 + c3 s^3), by Estrin's scheme.
    double cubic = madd(s2, madd(s, kExpSeries[3], kExpSeries[2]), madd(s, kExpSeries[1], kExpSeries[0]));
    int exponent = k >> 8;
    bool prescaled = kFused && static_cast<unsigned>(exponent + 959) < 1949;  // -959 <= exponent <= 989
    double scale = two_to(prescaled ? exponent : 0);
    DoubleDouble table = {kExpTable[k & 255].hi * scale, kExpTable[k & 255].lo * scale};
    DoubleDouble product = exact_product<kFused>(table.hi, s);
    DoubleDouble sum = fast_two_sum(table.hi, product.hi);
    // The parts that are ready early first; then the series (fused where it
    // can be), and beside it the two late low parts: the two-sum's and the
    // reduced argument's (r.lo, the end of a two-sum of its own).
    double rest = product.lo + madd(table.lo, s, table.lo);
    double lo = madd(table.hi * s2, cubic, rest) + madd(table.hi, r.lo, sum.lo);
    return {{sum.hi, lo}, prescaled ? 0 : exponent};
}

// ln x = k ln2 - ln c + ln(1 + r), with x = 2^k m, m in [0.6875, 1.375),
// r = m c - 1 a double (|r| < 2^-8), and ln(1 + r) a series to r^9.
// The absolute error is below series_error + kLogTableError |value.hi|.
struct LogDoubleDouble {
    DoubleDouble value;
    double series_error;
};

// x = 2^k m with m in [0.6875, 1.375), and m's interval in the table.
struct LogReduction {
    int k;
    double m;
    unsigned interval;
};

[[gnu::always_inline]] inline LogReduction log_reduction(double x) {
    uint64_t ix = bits_of(x);
    int k = 0;
    if (ix < (uint64_t{1} << 52)) {  // subnormal: made normal first
        ix = bits_of(x * 0x1p52);
        k = -52;
    }
    constexpr uint64_t kOffset = 0x3fe6000000000000;  // 0.6875: m's range starts here
    uint64_t from_offset = ix - kOffset;
    k += static_cast<int>(static_cast<int64_t>(from_offset) >> 52);
    return {k, from_bits(ix - (from_offset & (uint64_t{0xfff} << 52))), static_cast<unsigned>(from_offset >> 44) & 255};
}

// m c - 1, exactly: the table's c makes it a double.
template <bool kFused>
[[gnu::always_inline]] inline double reduced_argument(double m, double c) {
    if constexpr (kFused) {
        return __builtin_fma(m, c, -1.0);
    } else {
        // m's upper 21 bits times c (30 bits, then less 1, still exact) and
        // m's lower 32 bits times c (41 bits): both exact, and so is their
        // sum, being the double m c - 1.
        double m_high = from_bits(bits_of(m) & ~uint64_t{0xffffffff});
        return (m_high * c - 1.0) + (m - m_high) * c;
    }
}

// a - r^2/2 as a pair, for |a| >= 2^8 r^2 (or a = r): the upper part
// rounded once, the lower part within 2^-105 of it.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble minus_half_square(double a, double r) {
    if constexpr (kFused) {
        double minus_half = -0.5 * r;
        double hi = __builtin_fma(minus_half, r, a);
        return {hi, __builtin_fma(minus_half, r, a - hi)};  // a - hi is exact: the two are that close
    } else {
        DoubleDouble square = two_square(r);
        DoubleDouble sum = fast_two_sum(a, -0.5 * square.hi);
        return {sum.hi, sum.lo - 0.5 * square.lo};
    }
}

template <bool kFused>
[[gnu::always_inline]] inline LogDoubleDouble log_double_double(double x) {
    auto [k, m, interval] = log_reduction(x);
    const LogTableRow& row = kLogTable[interval];
    double r = reduced_argument<kFused>(m, row.reciprocal);
    double kd = k;
    auto madd = mul_add<kFused>;
    // k ln2's upper part and -ln c's are multiples of 2^-42 below 2^11: their sum is exact.
    double table = madd(kd, kLn2High, row.minus_log_high);
    double table_low = madd(kd, kLn2Low, row.minus_log_low);

    // The table's part is the larger or zero: |ln c| >= |r| where c is not
    // 1 (the table is built so), and |k ln2 - ln c| > 0.3 where k is not 0.
    DoubleDouble b = fast_two_sum(table, r);
    // Then r^2/2 is at most 2^-8 of the rest: |b| >= 2^-9.1 > 2^8 r^2 where
    // the table's part is not 0, as |ln x| is then at least 2^-9.
    DoubleDouble c = minus_half_square<kFused>(b.hi, r);

    // r^3 (1/3 - r/4 + ... + r^6/9), by Estrin's scheme: the rest of the
    // series is below 2^-60 |r|^3.  The series is the last part ready, so it
    // joins the sum last but one, in a fused multiply-add where there is one.
    double r2 = r * r, r4 = r2 * r2, r3 = r * r2;
    double low = madd(r2, madd(r, -1.0 / 6, 0.2), madd(r, -0.25, 1.0 / 3));
    double high = madd(r2, 1.0 / 9, madd(r, -0.125, 1.0 / 7));
    double lo = madd(r3, madd(r4, high, low), b.lo + table_low) + c.lo;
    // The error, from parts known before lo, so that the test need not wait
    // for it: the series' rounding and truncation (under 2^-52.5 |r|^3) and
    // the roundings of lo's sum, whose terms add up to at most 0.34 |r|^3 +
    // 2^-33 |hi| (k ln2's and -ln c's low parts): under 2^-51 |r|^3 +
    // 2^-84 |hi|, with ln 2's and the table's own error (2^-85 |hi|).
    return {{c.hi, lo}, std::fabs(r3) * 0x1p-50};  // |lo| < 2^-16 |hi|: normalised where that matters
}
constexpr double kLogTableError = 0x1p-78;

// ---- the accurate path ------------------------------------------------------

constexpr Wide kWideInverseLn10 = kWideLn10.reciprocal();

Wide times_ln2(int k) {
    Wide magnitude = kWideLn2.times(static_cast<uint32_t>(k < 0 ? -k : k));
    return k < 0 ? -magnitude : magnitude;
}

// ln x to within 2^-232 absolute (so within 2^-178 of it, |ln x| > 2^-54): 2 atanh((m - 1)/(m + 1)) plus k ln 2.
Wide log_wide(double x) {
    LogReduction reduced = log_reduction(x);
    Wide m = Wide::from_double(reduced.m);
    Wide s = (m - Wide(1)) * (m + Wide(1)).reciprocal();  // |s| < 0.19
    Wide s_squared = s * s, power = s, sum = s;
    for (uint32_t odd = 3; ; odd += 2) {
        power = power * s_squared;
        if (power.is_zero()) break;
        sum = sum + power.divided_by(odd);
    }
    return sum + sum + times_ln2(reduced.k);
}

// e^t = 2^k v, v in [0.7, 1.42], to within 2^(24-256) of v: t = k ln2 + r,
// e^(r/2^12) by its Taylor series, squared twelve times.
Wide exp_wide(const Wide& t, int& k) {
    k = static_cast<int>(nearest_integer(t.to_double() * kInverseLn2));
    Wide small = (t - times_ln2(k)).shifted_down(12);
    Wide sum(1), term(1);
    for (uint32_t n = 1; ; ++n) {
        term = (term * small).divided_by(n);
        if (term.is_zero()) break;
        sum = sum + term;
    }
    for (int i = 0; i < 12; ++i) sum = sum * sum;
    return sum;
}

// ---- exact powers -----------------------------------------------------------

// The integer n 2^e rounded to a double (ties to even); the result is
// neither infinite nor below half the smallest subnormal.
double round_integer(uint64_t n, int e) {
    int top = 63 - std::countl_zero(n);
    int shift = top + e >= -1022 ? top - 52 : -1074 - e;  // bits of n below the result's last place
    if (shift <= 0) return assemble(n << -shift, e + shift);
    uint64_t mantissa = n >> shift, rest = n & ((uint64_t{1} << shift) - 1), half = uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (mantissa & 1))) ++mantissa;
    return assemble(mantissa, e + shift);
}

// |x|^y exactly, when it is a double or a tie between two: such a result
// is m 2^e with m odd and below 2^54, which needs y = p/2^q with p <= 34
// and q <= 5 (m = w^p and x's odd part = w^(2^q)).  False otherwise.
bool exact_power(double x, double y, double& result) {
    double scaled_y = y * 32.0;
    if (!(y > 0.0 && y <= 64.0) || scaled_y != std::floor(scaled_y)) return false;
    uint64_t p = static_cast<uint64_t>(scaled_y);
    int q = 5;
    for (; q > 0 && (p & 1) == 0; --q) p >>= 1;

    uint64_t bits = bits_of(std::fabs(x));
    int biased = static_cast<int>(bits >> 52);
    uint64_t odd = biased ? (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52) : bits;
    int e = (biased ? biased : 1) - 1075;
    int zeros = std::countr_zero(odd);
    odd >>= zeros;
    e += zeros;
    for (; q > 0; --q) {  // one square root per halving of the exponent
        auto root = static_cast<uint64_t>(std::sqrt(static_cast<double>(odd)));  // exact: odd < 2^53
        if (root * root != odd || (e & 1)) return false;
        odd = root;
        e /= 2;
    }
    uint64_t power = 1;
    for (uint64_t i = 0; i < p; ++i) {
        if (odd != 1 && power > (uint64_t{1} << 54) / odd) return false;
        power *= odd;
    }
    int64_t exponent = static_cast<int64_t>(e) * static_cast<int64_t>(p);
    int top = 63 - std::countl_zero(power);
    if (exponent + top > 1023 || exponent < -1100) return false;  // beyond what the callers pass
    result = round_integer(power, static_cast<int>(exponent));
    return true;
}

bool is_odd_integer(double y) {
    return std::fabs(y) < 0x1p53 && y == std::floor(y) && (static_cast<int64_t>(y) & 1) != 0;
}

// The accurate paths, out of the fast paths' way (no frame for them there).
[[gnu::noinline, gnu::cold]] double exp_accurate(double x) {
    int k;
    Wide v = exp_wide(Wide::from_double(x), k);
    return round_wide(v, k);
}

[[gnu::noinline, gnu::cold]] double log_accurate(double x) { return round_wide(log_wide(x), 0); }

[[gnu::noinline, gnu::cold]] double log10_accurate(double x) {
    return round_wide(log_wide(x) * kWideInverseLn10, 0);
}

[[gnu::noinline, gnu::cold]] double pow_accurate(double x, double y) {
    double result;
    if (exact_power(x, y, result)) return result;
    int k;
    // ln's error times |y| < 2^63 stays below 2^-160 of the result.
    Wide v = exp_wide(log_wide(x) * Wide::from_double(y), k);
    return round_wide(v, k);
}

template <bool kFused>
[[gnu::always_inline]] inline double exp_fast(double x) {
    ScaledDoubleDouble e = exp_double_double<kFused>(x, 0.0);
    double result;
    if (rounds_alike<kFused>(e.value.hi, e.value.lo, e.value.hi * kExpFastError, result)) [[likely]]
        return scaled_result<kFused>(result, e.exponent);
    return exp_accurate(x);
}

template <bool kFused>
[[gnu::always_inline]] inline double log_fast(double x) {
    LogDoubleDouble l = log_double_double<kFused>(x);
    double result;
    double error = l.series_error + std::fabs(l.value.hi) * kLogTableError;
    if (rounds_alike<kFused>(l.value.hi, l.value.lo, error, result)) [[likely]] return result;
    return log_accurate(x);
}

template <bool kFused>
[[gnu::always_inline]] inline double log10_fast(double x) {
    LogDoubleDouble l = log_double_double<kFused>(x);  // lo's products round within ln's error
    DoubleDouble product = exact_product<kFused>(l.value.hi, kInverseLn10.hi);
    double lo = product.lo + (l.value.lo * kInverseLn10.hi + l.value.hi * kInverseLn10.lo);
    // ln's error times 1/ln 10 < 0.5, and the roundings of lo's three terms
    // (lo being at most 0.34 |r|^3 + 2^-33 |ln x|), with room to spare.
    double error = l.series_error * 0.5 + std::fabs(product.hi) * 0x1p-75;
    double result;
    if (rounds_alike<kFused>(product.hi, lo, error, result)) [[likely]] return result;
    return log10_accurate(x);
}

template <bool kFused>
[[gnu::always_inline]] inline double pow_fast(double x, double y) {
    double magnitude = std::fabs(x);
    bool negative = std::signbit(x) && is_odd_integer(y);
    LogDoubleDouble l = log_double_double<kFused>(magnitude);
    // t = y ln|x| in three parts: y's exact products with ln's upper and
    // lower parts, and the rest (below 2^-43, its sum rounded once).  ln's
    // lower part is below 2^-25.5, so for |y| < 2^9 the middle part is
    // below 2^-16, as exp takes it, and exp's reduction need not wait for it.
    // Larger y (only |x| within (1/4, 4) has a finite power) take ln
    // normalised first, the lower part then below 2^-53 of the upper.
    // |x| = 1 gives ln exactly 0 and so e^0 = 1 exactly, but y may then be
    // too large to split (Dekker's products): answered here.
    if (!(std::fabs(y) < 0x1p9)) [[unlikely]] {
        if (magnitude == 1.0) return negative ? -1.0 : 1.0;
        l.value = fast_two_sum(l.value.hi, l.value.lo);
    }
    DoubleDouble upper = exact_product<kFused>(y, l.value.hi);
    DoubleDouble middle = exact_product<kFused>(y, l.value.lo);
    ScaledDoubleDouble e = exp_double_double<kFused, true>(upper.hi, upper.lo + middle.lo, middle.hi);
    // t's error: |y| times ln's (the series' part, and 2^-77.9 |t| for the
    // rest), and 2^-98 |t| from its own roundings; |t| < 2^9.5, so all but the
    // series' part add up to less than 2^-68 of e^t.
    constexpr double kPowFastError = kExpFastError + 0x1p-68;
    double error = e.value.hi * mul_add<kFused>(std::fabs(y), l.series_error, kPowFastError);
    double result;
    // Results that may be subnormal round on the accurate path.
    if ((e.exponent == 0 || e.exponent > -1022) && rounds_alike<kFused>(e.value.hi, e.value.lo, error, result))
        [[likely]]
        result = scaled_result<kFused>(result, e.exponent);
    else
        result = pow_accurate(magnitude, y);
    return negative ? -result : result;
}

}  // namespace

double variants::exp_plain(double x) { return exp_fast<false>(x); }
double variants::log_plain(double x) { return log_fast<false>(x); }
double variants::log10_plain(double x) { return log10_fast<false>(x); }
double variants::pow_plain(double x, double y) { return pow_fast<false>(x, y); }
#if TALLYMAT_FUSED_PRODUCTS_BUILT
TALLYMAT_FOR_FUSED_PRODUCTS double variants::exp_fused(double x) { return exp_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::log_fused(double x) { return log_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::log10_fused(double x) { return log10_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::pow_fused(double x, double y) { return pow_fast<true>(x, y); }
#else
double variants::exp_fused(double x) { return exp_plain(x); }
double variants::log_fused(double x) { return log_plain(x); }
double variants::log10_fused(double x) { return log10_plain(x); }
double variants::pow_fused(double x, double y) { return pow_plain(x, y); }
#endif


}  // namespace tallymat::elementary
