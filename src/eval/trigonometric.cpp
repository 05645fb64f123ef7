// Sine, cosine, tangent, arcsine, arccosine and arctangent, correctly
// rounded.
//
// Fast path, sine, cosine and tangent: |x| = k pi/2 + r with |r| <= pi/4,
// r a double-double; r = i/256 + t, sin and cos of i/256 from a table and
// short series in t (|t| <= 2^-9).  The arc functions are all atan of a
// ratio n/d <= 1 (its complement where n > d): atan(j/256) from a table
// plus the series of atan t, t = (n - c d)/(d + c n) with c = j/256, again
// |t| <= 2^-9.  Each result must clear the rounding test with its error
// bound, which is computed beside it from the series' terms.
//
// Accurate path: the same decompositions in 320-bit fixed point, with x
// reduced exactly (integer arithmetic on 384 bits of 2/pi).
#include <cmath>
#include <cstdint>
#include <limits>

#include "eval/double_double.hpp"
#include "eval/elementary.hpp"
#include "eval/elementary_parts.hpp"

namespace tallymat::elementary {
namespace {

using namespace parts;

struct SinCosRow {
    DoubleDouble sin, cos;
};
#include "eval/trigonometric_tables.inc"

constexpr double kQuarterPi = 0x1.921fb54442d18p-1;  // just below pi/4: no reduction up to it
constexpr double kThreePartLimit = 0x1p20;           // k < 2^20 below it, so k kHalfPi1 and k kHalfPi2 are exact
constexpr Wide kWideHalfPi = Wide(1) + Wide::from_fraction(kWideHalfPiFraction);

// ---- argument reduction -----------------------------------------------------

struct WideReduction {
    Wide r;  // within 2^-254 of |x| - k pi/2, |r| <= pi/4
    unsigned quadrant;  // k mod 4
};

// |x| = a: k and r exactly, for pi/4 <= a < 2^53, from the product of a's
// mantissa and 384 bits of 2/pi, whose integer part is k and whose fraction
// (of 256 bits, rounded toward zero) is r / (pi/2).
WideReduction reduce_wide(double a) {
    uint64_t bits = bits_of(a);
    uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    int exponent = static_cast<int>(bits >> 52) - 1075;  // a = mantissa 2^exponent, -53 <= exponent <= 0
    constexpr int kProductLimbs = 14;
    uint32_t product[kProductLimbs] = {};
    const uint32_t factor[2] = {static_cast<uint32_t>(mantissa), static_cast<uint32_t>(mantissa >> 32)};
    for (int i = 0; i < 2; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < 12; ++j) {
            uint64_t t = uint64_t{factor[i]} * kTwoOverPiLimbs[j] + product[i + j] + carry;
            product[i + j] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        product[i + 12] = static_cast<uint32_t>(carry);
    }
    // a 2/pi = product 2^(exponent - 384): its binary point lies below bit `point`.
    int point = 384 - exponent;
    auto bits_from = [&product](int position) {  // the 32 bits of the product from `position` up
        int word = position / 32;
        uint64_t pair = product[word] | (word + 1 < kProductLimbs ? uint64_t{product[word + 1]} << 32 : 0);
        return static_cast<uint32_t>(pair >> (position % 32));
    };
    unsigned quadrant = bits_from(point) & 3u;
    uint32_t fraction[8];
    for (int i = 0; i < 8; ++i) fraction[i] = bits_from(point - 256 + 32 * i);
    Wide f = Wide::from_fraction(fraction);
    if (!(f < Wide::power_of_two(-1))) {  // nearer the next quadrant: r is negative
        f = f - Wide(1);
        quadrant = (quadrant + 1) & 3u;
    }
    return {f * kWideHalfPi, quadrant};
}

// The double-double nearest a fixed-point value (within 2^-100 of it).
DoubleDouble to_double_double(const Wide& v) {
    double hi = v.to_double();
    return {hi, (v - Wide::from_double(hi)).to_double()};
}

struct Reduction {
    DoubleDouble r;  // |x| - k pi/2, within 2^-78 of itself; r.hi may be negative
    unsigned quadrant;
};

// False where r lost so much to cancellation that the fast path cannot
// bound its error (|r| < 2^-20 after subtracting k pi/2 in three parts):
// the accurate path then reduces exactly.
template <bool kFused>
[[gnu::always_inline]] inline bool reduce(double a, Reduction& out) {
    if (a <= kQuarterPi) {
        out = {{a, 0.0}, 0};
        return true;
    }
    if (a >= kThreePartLimit) [[unlikely]] {
        WideReduction w = reduce_wide(a);
        out = {to_double_double(w.r), w.quadrant};
        return true;
    }
    // r = ((a - k kHalfPi1) - k kHalfPi2) - k kHalfPi3; the first difference
    // is exact (k kHalfPi1 lies within pi/4 of a), the rest are carried as
    // pairs.  The three parts miss pi/2 by under 2^-119, k of them by 2^-99.
    NearestInteger k = nearest_integer_of(a * kTwoOverPi);
    double first = a - k.value * kHalfPi1;
    DoubleDouble second = two_sum(first, -k.value * kHalfPi2);
    DoubleDouble product = exact_product<kFused>(k.value, kHalfPi3);
    DoubleDouble third = two_sum(second.hi, -product.hi);
    out = {fast_two_sum(third.hi, (second.lo + third.lo) - product.lo), static_cast<unsigned>(k.integer) & 3u};
    return std::fabs(out.r.hi) >= 0x1p-20;
}

// ---- sine and cosine of r ---------------------------------------------------

// r = i/256 + t for 0 <= r <= pi/4 + 2^-20, with t = th + tl (|th| <= 2^-9)
// and the series of th: sin t - t and cos t - 1 but for the terms in tl.
struct AngleTerms {
    const SinCosRow* row;  // sin and cos of i/256
    double th, tl;
    double sin_series;  // sin th - th, to within 2^-50 of itself
    double cos_series;  // cos th - 1, to within 2^-50 of itself
};

template <bool kFused>
[[gnu::always_inline]] inline AngleTerms angle_terms(DoubleDouble r) {
    auto madd = mul_add<kFused>;
    NearestInteger i = nearest_integer_of(r.hi * 256.0);
    double th = r.hi - i.value * 0x1p-8;  // exact
    double t2 = th * th;
    // Truncated past t^7 and t^6: below 2^-86 of the result.
    double sin_series = th * t2 * madd(t2, madd(t2, -1.0 / 5040, 1.0 / 120), -1.0 / 6);
    double cos_series = t2 * madd(t2, madd(t2, -1.0 / 720, 1.0 / 24), -0.5);
    return {&kSinCosTable[i.integer], th, r.lo, sin_series, cos_series};
}

// The error bounds: the series' and their products' roundings (2^-48 of
// the two small terms) and 2^-71 of the result for the rest, r's own error
// and the products with the table's low parts left out among them.
constexpr double kSeriesError = 0x1p-48, kRestError = 0x1p-71;

// sin(a + t) = sin a + cos a th + [cos a (tl + sin series) + sin a (cos series - th tl)].
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble sine_of(const AngleTerms& a, double& error) {
    auto madd = mul_add<kFused>;
    const SinCosRow& row = *a.row;
    DoubleDouble product = exact_product<kFused>(row.cos.hi, a.th);
    DoubleDouble sum = fast_two_sum(row.sin.hi, product.hi);  // sin a > 2^-9 >= |th|, or sin a = 0
    double cos_rest = madd(-a.th, a.tl, a.cos_series), sin_rest = a.tl + a.sin_series;
    double rest = madd(row.cos.hi, sin_rest, madd(row.sin.hi, cos_rest, row.cos.lo * a.th));
    double lo = sum.lo + (product.lo + (row.sin.lo + rest));
    error = (std::fabs(row.sin.hi * a.cos_series) + std::fabs(a.sin_series)) * kSeriesError + std::fabs(sum.hi) * kRestError;
    return {sum.hi, lo};
}

// cos(a + t) = cos a - sin a th + [cos a (cos series - th tl) - sin a (tl + sin series)].
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble cosine_of(const AngleTerms& a, double& error) {
    auto madd = mul_add<kFused>;
    const SinCosRow& row = *a.row;
    DoubleDouble product = exact_product<kFused>(row.sin.hi, a.th);
    DoubleDouble sum = fast_two_sum(row.cos.hi, -product.hi);  // cos a > 0.7
    double cos_rest = madd(-a.th, a.tl, a.cos_series), sin_rest = a.tl + a.sin_series;
    double rest = madd(row.cos.hi, cos_rest, -madd(row.sin.hi, sin_rest, row.sin.lo * a.th));
    double lo = sum.lo + (row.cos.lo + (rest - product.lo));
    error = (std::fabs(a.cos_series) + std::fabs(row.sin.hi * a.sin_series)) * kSeriesError + std::fabs(sum.hi) * kRestError;
    return {sum.hi, lo};
}

// n / d for normalised n and d (|lo| at most a unit of hi), and its error
// bound, from the bounds of n and d: (en + |n/d| ed) / |d|,
// and the quotient's own 2^-100.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble quotient(DoubleDouble n, double n_error, DoubleDouble d, double d_error,
                                                    double& error) {
    double inverse = 1.0 / d.hi;
    double hi = n.hi * inverse;
    DoubleDouble back = exact_product<kFused>(hi, d.hi);
    double lo = (((n.hi - back.hi) - back.lo) + mul_add<kFused>(-hi, d.lo, n.lo)) * inverse;
    error = (n_error + std::fabs(hi) * d_error) * std::fabs(inverse) * (1.0 + 0x1p-50) + std::fabs(hi) * 0x1p-100;
    return {hi, lo};
}

[[gnu::always_inline]] inline DoubleDouble negated(DoubleDouble v) { return {-v.hi, -v.lo}; }

// ---- the arc functions --------------------------------------------------------

// atan(n/d) for 0 <= n <= d (the quotient at most 1 + 2^-50), z within 2^-40
// of n/d; `error` bounds the result's error.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble atan_of_ratio(DoubleDouble n, DoubleDouble d, double z, double& error) {
    auto madd = mul_add<kFused>;
    NearestInteger j = nearest_integer_of(z * 256.0);
    double c = j.value * 0x1p-8;
    DoubleDouble c_d = exact_product<kFused>(c, d.hi);
    DoubleDouble difference = two_sum(n.hi, -c_d.hi);
    DoubleDouble numerator = two_sum(difference.hi, difference.lo + (n.lo - madd(c, d.lo, c_d.lo)));
    DoubleDouble c_n = exact_product<kFused>(c, n.hi);
    DoubleDouble denominator = fast_two_sum(d.hi, c_n.hi);  // c n <= n <= d
    denominator.lo += madd(c, n.lo, c_n.lo) + d.lo;
    double t_error;
    DoubleDouble t = quotient<kFused>(numerator, 0.0, denominator, 0.0, t_error);
    double t2 = t.hi * t.hi;
    // atan t - t, truncated past t^9: below 2^-90 of t.
    double series = t.hi * t2 * madd(t2, madd(t2, madd(t2, 1.0 / 9, -1.0 / 7), 1.0 / 5), -1.0 / 3);
    const DoubleDouble& table = kAtanTable[j.integer];
    DoubleDouble sum = fast_two_sum(table.hi, t.hi);  // atan c > 2^-9 >= |t|, or atan c = 0
    // The series' roundings, and 2^-90 of the result for the rest: the
    // roundings of the numerator (absolute, so relative to atan c where
    // they cancel), the table's and n's and d's own errors.
    error = std::fabs(series) * kSeriesError + std::fabs(sum.hi) * 0x1p-90;
    return {sum.hi, sum.lo + (table.lo + (t.lo + series))};
}

// constant - v, for 0 <= v <= constant; `error` grows by the constant's
// own error and the rounding of the low parts' sum.
[[gnu::always_inline]] inline DoubleDouble complement(DoubleDouble constant, DoubleDouble v, double& error) {
    DoubleDouble sum = fast_two_sum(constant.hi, -v.hi);
    error += std::fabs(sum.hi) * 0x1p-100;
    return {sum.hi, sum.lo + (constant.lo - v.lo)};
}

// atan(n/d) for n, d >= 0, not both 0: of the smaller over the larger.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble atan_of_quotient(DoubleDouble n, DoubleDouble d, double& error) {
    if (n.hi <= d.hi) return atan_of_ratio<kFused>(n, d, n.hi / d.hi, error);
    return complement(kHalfPi, atan_of_ratio<kFused>(d, n, d.hi / n.hi, error), error);
}

// sqrt(1 - a^2) for 0 <= a < 1, within 2^-100 of itself.  1 - a^2 is exact
// as a pair (a^2 is, and 1 - a^2's rounding is kept); the root's low part
// is Newton's correction, with 1/(2 root) as root / (2 (1 - a^2)) so that
// its division need not wait for the root.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble root_of_one_minus_square(double a) {
    DoubleDouble square = exact_square<kFused>(a);
    DoubleDouble difference = two_sum(1.0, -square.hi);
    DoubleDouble v = fast_two_sum(difference.hi, difference.lo - square.lo);
    double half_inverse = 0.5 / v.hi;
    double root = std::sqrt(v.hi);
    DoubleDouble root_square = exact_square<kFused>(root);
    double residual = ((v.hi - root_square.hi) - root_square.lo) + v.lo;
    return {root, residual * root * half_inverse};
}

// ---- the accurate path --------------------------------------------------------

// sin and cos of |r| <= 0.8 by their series, to within 2^-250.
struct WideSinCos {
    Wide sine, cosine;
};
WideSinCos sin_cos_wide(const Wide& r) {
    Wide r2 = r * r, term = r, sine = r, cosine(1);
    for (uint32_t n = 2;; n += 2) {
        term = -(term * r2).divided_by(n * (n + 1));
        if (term.is_zero()) break;
        sine = sine + term;
    }
    term = Wide(1);
    for (uint32_t n = 1;; n += 2) {
        term = -(term * r2).divided_by(n * (n + 1));
        if (term.is_zero()) break;
        cosine = cosine + term;
    }
    return {sine, cosine};
}

// sin and cos of |x| - k pi/2, and k mod 4.
struct WideAngle {
    WideSinCos values;
    unsigned quadrant;
};
WideAngle reduced_sin_cos_wide(double x) {
    double a = std::fabs(x);
    WideReduction w = a <= kQuarterPi ? WideReduction{Wide::from_double(a), 0} : reduce_wide(a);
    return {sin_cos_wide(w.r), w.quadrant};
}

// n / d for d != 0, with |n / d| < 2^62.
Wide divided(const Wide& n, const Wide& d) {
    Wide q = n * d.magnitude().reciprocal();
    return d.negative() ? -q : q;
}

// atan(n/d) for 0 <= n <= d, d > 0: atan(j/256) plus the series of atan t.
Wide atan_of_ratio_wide(const Wide& n, const Wide& d) {
    Wide z = divided(n, d);
    int32_t j = nearest_integer_of(z.to_double() * 256.0).integer;
    Wide c = Wide(j).divided_by(256);
    Wide t = divided(z - c, Wide(1) + c * z);
    Wide t2 = t * t, power = t, sum = t;
    for (uint32_t odd = 3;; odd += 2) {
        power = -(power * t2);
        Wide term = power.divided_by(odd);
        if (term.is_zero()) break;
        sum = sum + term;
    }
    return Wide::from_fraction(kWideAtanTable[j]) + sum;
}

Wide atan_of_quotient_wide(const Wide& n, const Wide& d) {
    if (!(d < n)) return atan_of_ratio_wide(n, d);
    return kWideHalfPi - atan_of_ratio_wide(d, n);
}

// sqrt(1 - a^2) for 2^-27 <= a < 1: Newton's iteration on the reciprocal
// root from the double estimate, doubling the correct bits each step.
Wide root_of_one_minus_square_wide(const Wide& a) {
    Wide v = Wide(1) - a * a;
    Wide y = Wide::from_double(1.0 / std::sqrt(v.to_double()));
    for (int step = 0; step < 3; ++step) y = (y * (Wide(3) - v * y * y)).shifted_down(1);
    return v * y;
}

[[gnu::noinline, gnu::cold]] double sin_accurate(double x) {
    WideAngle w = reduced_sin_cos_wide(x);
    const Wide& s = w.values.sine;
    const Wide& c = w.values.cosine;
    Wide v = w.quadrant == 0 ? s : w.quadrant == 1 ? c : w.quadrant == 2 ? -s : -c;
    return round_wide(x < 0 ? -v : v, 0);
}

[[gnu::noinline, gnu::cold]] double cos_accurate(double x) {
    WideAngle w = reduced_sin_cos_wide(x);
    const Wide& s = w.values.sine;
    const Wide& c = w.values.cosine;
    return round_wide(w.quadrant == 0 ? c : w.quadrant == 1 ? -s : w.quadrant == 2 ? -c : s, 0);
}

[[gnu::noinline, gnu::cold]] double tan_accurate(double x) {
    WideAngle w = reduced_sin_cos_wide(x);
    const Wide& s = w.values.sine;
    const Wide& c = w.values.cosine;
    Wide v = (w.quadrant & 1u) ? -divided(c, s) : divided(s, c);
    return round_wide(x < 0 ? -v : v, 0);
}

[[gnu::noinline, gnu::cold]] double asin_accurate(double x) {
    Wide a = Wide::from_double(std::fabs(x));
    Wide v = atan_of_quotient_wide(a, root_of_one_minus_square_wide(a));
    return round_wide(x < 0 ? -v : v, 0);
}

[[gnu::noinline, gnu::cold]] double acos_accurate(double x) {
    Wide a = Wide::from_double(std::fabs(x));
    Wide v = atan_of_quotient_wide(root_of_one_minus_square_wide(a), a);
    return round_wide(x < 0 ? kWideHalfPi.times(2) - v : v, 0);
}

[[gnu::noinline, gnu::cold]] double atan_accurate(double x) {
    Wide v = atan_of_quotient_wide(Wide::from_double(std::fabs(x)), Wide(1));
    return round_wide(x < 0 ? -v : v, 0);
}

// ---- the fast paths -----------------------------------------------------------

// Below these, sin x, tan x, arcsin x and arctg x round to x and cos x to
// 1: the next term of each series is below half a unit in the last place.
constexpr double kSinIsX = 0x1p-26, kTanIsX = 0x1p-27, kCosIsOne = 0x1p-27;

// Arguments outside a function's domain (the math layer sends none) give
// a NaN rather than reach a table.
constexpr double kReductionLimit = 0x1p53;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Sine and cosine of the reduced argument, with the signs that r, the
// quadrant and x give them.
template <bool kFused>
[[gnu::always_inline]] inline double sin_fast(double x) {
    double a = std::fabs(x);
    if (!(a < kReductionLimit)) [[unlikely]] return kNaN;
    if (a < kSinIsX) return x;
    Reduction reduction;
    if (!reduce<kFused>(a, reduction)) [[unlikely]] return sin_accurate(x);
    bool r_negative = reduction.r.hi < 0, odd = reduction.quadrant & 1u;
    AngleTerms terms = angle_terms<kFused>(r_negative ? negated(reduction.r) : reduction.r);
    double error, result;
    DoubleDouble v = odd ? cosine_of<kFused>(terms, error) : sine_of<kFused>(terms, error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]] return sin_accurate(x);
    bool negative = ((x < 0) != (reduction.quadrant >= 2)) != (!odd && r_negative);
    return negative ? -result : result;
}

template <bool kFused>
[[gnu::always_inline]] inline double cos_fast(double x) {
    double a = std::fabs(x);
    if (!(a < kReductionLimit)) [[unlikely]] return kNaN;
    if (a < kCosIsOne) return 1.0;
    Reduction reduction;
    if (!reduce<kFused>(a, reduction)) [[unlikely]] return cos_accurate(x);
    bool r_negative = reduction.r.hi < 0, odd = reduction.quadrant & 1u;
    AngleTerms terms = angle_terms<kFused>(r_negative ? negated(reduction.r) : reduction.r);
    double error, result;
    DoubleDouble v = odd ? sine_of<kFused>(terms, error) : cosine_of<kFused>(terms, error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]] return cos_accurate(x);
    bool negative = (reduction.quadrant == 1 || reduction.quadrant == 2) != (odd && r_negative);
    return negative ? -result : result;
}

// tan = sin r / cos r in even quadrants, -cos r / sin r in odd ones.
template <bool kFused>
[[gnu::always_inline]] inline double tan_fast(double x) {
    double a = std::fabs(x);
    if (!(a < kReductionLimit)) [[unlikely]] return kNaN;
    if (a < kTanIsX) return x;
    Reduction reduction;
    if (!reduce<kFused>(a, reduction)) [[unlikely]] return tan_accurate(x);
    bool r_negative = reduction.r.hi < 0, odd = reduction.quadrant & 1u;
    AngleTerms terms = angle_terms<kFused>(r_negative ? negated(reduction.r) : reduction.r);
    double sin_error, cos_error, error, result;
    // Normalised for the quotient: the series leave up to 2^-18 of each in its low part.
    DoubleDouble s = sine_of<kFused>(terms, sin_error), c = cosine_of<kFused>(terms, cos_error);
    s = fast_two_sum(s.hi, s.lo);
    c = fast_two_sum(c.hi, c.lo);
    DoubleDouble v = odd ? quotient<kFused>(c, cos_error, s, sin_error, error)
                         : quotient<kFused>(s, sin_error, c, cos_error, error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]] return tan_accurate(x);
    bool negative = ((x < 0) != odd) != r_negative;
    return negative ? -result : result;
}

template <bool kFused>
[[gnu::always_inline]] inline double atan_fast(double x) {
    double a = std::fabs(x);
    if (a < kTanIsX) return x;
    // pi/2 - 1/a + ... rounds to pi/2's double: pi/2 exceeds it by 0.28
    // units.  A NaN comes back quieted.
    if (!(a < 0x1p56)) [[unlikely]] return x != x ? x + x : std::copysign(kHalfPi.hi, x);
    double error, result;
    DoubleDouble v = a <= 1.0 ? atan_of_ratio<kFused>({a, 0.0}, {1.0, 0.0}, a, error)
                              : complement(kHalfPi, atan_of_ratio<kFused>({1.0, 0.0}, {a, 0.0}, 1.0 / a, error), error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]] return atan_accurate(x);
    return x < 0 ? -result : result;
}

// arcsin x = atan(|x| / sqrt(1 - x^2)), with x's sign.
template <bool kFused>
[[gnu::always_inline]] inline double asin_fast(double x) {
    double a = std::fabs(x);
    if (!(a <= 1.0)) [[unlikely]] return kNaN;
    if (a < kSinIsX) return x;
    if (a == 1.0) return std::copysign(kHalfPi.hi, x);
    double error, result;
    DoubleDouble v = atan_of_quotient<kFused>({a, 0.0}, root_of_one_minus_square<kFused>(a), error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]] return asin_accurate(x);
    return x < 0 ? -result : result;
}

// arccos x = atan(sqrt(1 - x^2) / x), or pi less that of |x| for negative x.
template <bool kFused>
[[gnu::always_inline]] inline double acos_fast(double x) {
    double a = std::fabs(x);
    if (!(a <= 1.0)) [[unlikely]] return kNaN;
    if (a == 1.0) return x > 0 ? 0.0 : kPi.hi;
    double error, result;
    DoubleDouble v = atan_of_quotient<kFused>(root_of_one_minus_square<kFused>(a), {a, 0.0}, error);
    if (x < 0) v = complement(kPi, v, error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]] return acos_accurate(x);
    return result;
}

}  // namespace

double parts::sin_plain(double x) { return sin_fast<false>(x); }
double parts::cos_plain(double x) { return cos_fast<false>(x); }
double parts::tan_plain(double x) { return tan_fast<false>(x); }
double parts::asin_plain(double x) { return asin_fast<false>(x); }
double parts::acos_plain(double x) { return acos_fast<false>(x); }
double parts::atan_plain(double x) { return atan_fast<false>(x); }
#if TALLYMAT_FUSED_PRODUCTS_BUILT
TALLYMAT_FOR_FUSED_PRODUCTS double parts::sin_fused(double x) { return sin_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double parts::cos_fused(double x) { return cos_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double parts::tan_fused(double x) { return tan_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double parts::asin_fused(double x) { return asin_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double parts::acos_fused(double x) { return acos_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double parts::atan_fused(double x) { return atan_fast<true>(x); }
#else
double parts::sin_fused(double x) { return sin_plain(x); }
double parts::cos_fused(double x) { return cos_plain(x); }
double parts::tan_fused(double x) { return tan_plain(x); }
double parts::asin_fused(double x) { return asin_plain(x); }
double parts::acos_fused(double x) { return acos_plain(x); }
double parts::atan_fused(double x) { return atan_plain(x); }
#endif

}  // namespace tallymat::elementary
