// Sine, cosine, tangent, arcsine, arccosine and arctangent, correctly
// rounded.
//
// Fast paths, in double-double, each with a table and short series:
// - sine, cosine, tangent: |x| = k pi/2 + r with |r| <= pi/4; r = i/256 + t,
//   sin and cos of i/256 from the table, series in t (|t| <= 2^-9);
// - arctg: atan c + atan((x - c)/(1 + c x)), c = j/256 up to 1 and the
//   middle of x's interval above, the series' argument again within 2^-9;
// - arcsine and arccosine: asin c + asin(u sqrt(1 - c^2) - c sqrt(1 - u^2)),
//   with u = |x| or sqrt((1 - |x|)/2), which needs no division.
// Each result must clear the rounding test with its error bound, which is
// computed beside it from the series' terms.
//
// Accurate path, in 320-bit fixed point: x reduced exactly (integer
// arithmetic on 384 bits of 2/pi), sin and cos by their series, and every
// arc function as atan of a ratio at most 1.
#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/double_double.hpp"
#include "elementary/parts.hpp"
#include "elementary/variants.hpp"
#include "elementary/wide_rounding.hpp"

namespace tallymat::elementary {
namespace {

using namespace parts;

// A row of arcsin's table: the series of asin about j/256, to h^9.
struct alignas(128) AsinRow {
    DoubleDouble value, slope, curvature;  // A0, A1, A2
    double series[7];                      // A3 .. A9
    double unused[3];                      // 128 bytes: the row's address is one shift from j
};
#include "elementary/trigonometric_tables.inc"

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
    DoubleDouble r;  // |x| - k pi/2, within 2^-78 of itself; r.hi may be negative, r.lo up to a unit of it
    unsigned quadrant;  // k mod 4
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
    NearestInteger k = nearest_integer_of(a * kTwoOverPi);
    if constexpr (kFused) {
        // r = ((a - k pi/2's hi) - k pi/2's lo) - k kHalfPiTail.  The fused
        // first difference is exact: k hi and a are multiples of a's last
        // place (or of 2^-53 where k = 1), and their difference is below 1.
        double first = __builtin_fma(-k.value, kHalfPi.hi, a);
        DoubleDouble product = exact_product<true>(k.value, kHalfPi.lo);
        DoubleDouble second = two_sum(first, -product.hi);
        double lo = __builtin_fma(-k.value, kHalfPiTail, second.lo - product.lo);
        out = {{second.hi, lo}, static_cast<unsigned>(k.integer) & 3u};
    } else {
        // r = ((a - k kHalfPi1) - k kHalfPi2) - k kHalfPi3; the first
        // difference is exact (k kHalfPi1 lies within pi/4 of a), the rest
        // are carried as pairs.  The three parts miss pi/2 by under 2^-119,
        // k of them by 2^-99.
        double first = a - k.value * kHalfPi1;
        DoubleDouble second = two_sum(first, -k.value * kHalfPi2);
        DoubleDouble product = exact_product<false>(k.value, kHalfPi3);
        DoubleDouble third = two_sum(second.hi, -product.hi);
        out = {{third.hi, (second.lo + third.lo) - product.lo}, static_cast<unsigned>(k.integer) & 3u};
    }
    return std::fabs(out.r.hi) >= 0x1p-20;
}

// ---- sine and cosine of r ---------------------------------------------------

// r = a + t, a = i/256 (i may be negative), |r| <= pi/4 + 2^-20, with
// t = th + tl (|th| <= 2^-9) and the series of th: sin t - t and cos t - 1
// but for the terms in tl.
struct AngleTerms {
    const double* row;  // sin |a| and cos a, as pairs
    unsigned negative;  // 1 where a < 0: sin a = -sin |a|
    double th, tl;
    double sin_series;  // sin th - th, to within 2^-50 of itself
    double cos_series;  // cos th - 1, to within 2^-50 of itself
    double t2;          // th^2: the series' error bounds follow from it
};

template <bool kFused>
[[gnu::always_inline]] inline AngleTerms angle_terms(DoubleDouble r) {
    auto madd = mul_add<kFused>;
    NearestInteger i = nearest_integer_of(r.hi * 256.0);
    double th = r.hi - i.value * 0x1p-8;  // exact: i/256 lies within a factor 2 of r.hi, or is 0
    double t2 = th * th;
    // Truncated past t^7 and t^6: below 2^-86 of the result.
    double sin_series = th * t2 * madd(t2, madd(t2, -1.0 / 5040, 1.0 / 120), -1.0 / 6);
    double cos_series = t2 * madd(t2, madd(t2, -1.0 / 720, 1.0 / 24), -0.5);
    unsigned negative = static_cast<uint32_t>(i.integer) >> 31;
    return {kSinCosTable[i.integer < 0 ? -i.integer : i.integer], negative, th, r.lo, sin_series, cos_series, t2};
}

// The error bounds: the series' and their products' roundings (2^-48 of
// the two small terms) and 2^-69 of the result for the rest, r's own error
// and the terms left out: the table's low parts times the series, and
// tl's second order (tl, up to a unit of r, times th^2/2).  For sine and
// cosine the small terms are bounded ahead of the series, from th^2:
// |cos t - 1| <= th^2/2 and |sin t - t| <= |th| th^2/6.
constexpr double kSeriesError = 0x1p-48, kRestError = 0x1p-69;

// sin(a + t + quadrant pi/2) = P cos t + Q sin t: (P, Q) is (sin a, cos a),
// (cos a, -sin a), (-sin a, -cos a) or (-cos a, sin a), each a column of
// the row with a sign, by the quadrant and the sign of a.  Chosen from this
// table rather than by branches, which random arguments would mispredict.
struct QuadrantColumns {
    unsigned p, q;  // the columns of P and Q: 0 for sin |a|, 2 for cos a
    double p_sign, q_sign;
};
constexpr QuadrantColumns kQuadrantColumns[8] = {  // by 2 quadrant + (a < 0)
    {0, 2, 1.0, 1.0},  {0, 2, -1.0, 1.0},  {2, 0, 1.0, -1.0}, {2, 0, 1.0, 1.0},
    {0, 2, -1.0, -1.0}, {0, 2, 1.0, -1.0}, {2, 0, -1.0, 1.0}, {2, 0, -1.0, -1.0},
};

//   P + Q th + [Q (tl + sin series) + P (cos series - th tl)]
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble sine_in_quadrant(const AngleTerms& a, unsigned quadrant, double& error) {
    auto madd = mul_add<kFused>;
    const QuadrantColumns& columns = kQuadrantColumns[2 * (quadrant & 3u) + a.negative];
    DoubleDouble p = {a.row[columns.p] * columns.p_sign, a.row[columns.p + 1] * columns.p_sign};
    DoubleDouble q = {a.row[columns.q] * columns.q_sign, a.row[columns.q + 1] * columns.q_sign};
    DoubleDouble product = exact_product<kFused>(q.hi, a.th);
    DoubleDouble sum = fast_two_sum(p.hi, product.hi);  // |p| is cos a > 0.7, or sin |a| > 2^-9 >= |th|, or 0
    double cos_rest = madd(-a.th, a.tl, a.cos_series), sin_rest = a.tl + a.sin_series;
    double rest = madd(q.hi, sin_rest, madd(p.hi, cos_rest, q.lo * a.th));
    double lo = (sum.lo + (product.lo + p.lo)) + rest;  // the series' terms last: they are ready last
    error = madd(a.t2, madd(std::fabs(p.hi), kSeriesError * 0.5, std::fabs(product.hi) * (kSeriesError / 4)),
                 std::fabs(sum.hi) * kRestError);
    return {sum.hi, lo};
}

// n / d for normalised n and d (|lo| at most a unit of hi), within 2^-100
// of itself: a rounded quotient hi (n.hi times 1/d.hi, or n.hi / d.hi,
// which need not wait for the inverse) and Newton's correction.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble pair_quotient(DoubleDouble n, DoubleDouble d, double inverse, double hi) {
    DoubleDouble back = exact_product<kFused>(hi, d.hi);
    return {hi, (((n.hi - back.hi) - back.lo) + mul_add<kFused>(-hi, d.lo, n.lo)) * inverse};
}

// The same with its error bound, from the bounds of n and d:
// (en + |n/d| ed) / |d|, and the quotient's own 2^-100.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble quotient(DoubleDouble n, double n_error, DoubleDouble d, double d_error,
                                                    double& error) {
    double inverse = 1.0 / d.hi;
    DoubleDouble q = pair_quotient<kFused>(n, d, inverse, n.hi * inverse);
    error = (n_error + std::fabs(q.hi) * d_error) * std::fabs(inverse) * (1.0 + 0x1p-50) + std::fabs(q.hi) * 0x1p-100;
    return q;
}

// ---- the arc functions --------------------------------------------------------

// atan a = atan c + atan t, t = (a - c)/(1 + c a), for a >= 0 and c
// near enough that |t| <= 2^-9, with atan c a pair from a table.  a - c is
// exact: c lies within a factor 2 of a, or is 0.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble atan_near(double a, double c, DoubleDouble atan_c, double& error) {
    auto madd = mul_add<kFused>;
    DoubleDouble product = exact_product<kFused>(c, a);
    DoubleDouble denominator = two_sum(1.0, product.hi);
    // The inverse for the quotient's correction, from this sum (within a
    // unit of the upper part below, which is close enough): with fused
    // products it is ready a little after that part, so that the division
    // the chain waits for starts first.
    double inverse = 1.0 / denominator.hi;
    if constexpr (kFused) {
        // The division waits for one fused multiply-add, not a product and a
        // sum: 1 + c a rounded once, within a unit of the sum above, and the
        // rest from there (within 2^-104 of itself).
        double hi = __builtin_fma(c, a, 1.0);
        denominator = {hi, ((denominator.hi - hi) + denominator.lo) + product.lo};
    } else {
        denominator.lo += product.lo;
    }
    double n = a - c;
    DoubleDouble t = pair_quotient<kFused>({n, 0.0}, denominator, inverse, n / denominator.hi);
    double t2 = t.hi * t.hi, t3 = t.hi * t2, t4 = t2 * t2;
    // atan t - t = t^3 (-1/3 + t^2/5 - t^4/7), truncated below 2^-57 |t|^3.
    double polynomial = madd(t4, -1.0 / 7, madd(t2, 0.2, -1.0 / 3));
    DoubleDouble sum = fast_two_sum(atan_c.hi, t.hi);  // atan c > 2^-9 >= |t|, or c = 0
    // The series' roundings and truncation (bounded ahead of it: |atan t -
    // t| <= |t|^3/3), and 2^-90 of the result for the rest: the quotient's
    // and the table's errors.  The series joins last, as it is ready last.
    error = mul_add<kFused>(std::fabs(t3), kSeriesError / 2, std::fabs(sum.hi) * 0x1p-90);
    return {sum.hi, madd(t3, polynomial, sum.lo + atan_c.lo) + t.lo};
}

// The interval of kAtanAboveOne that holds a, 1 < a < 2^56, and its middle
// c: binade e in 2^(8-e) intervals below 2^8, one interval from there on.
// c is a's leading bits and the next one set, so it is ready before the row.
struct IntervalAboveOne {
    int row;
    double middle;
};
[[gnu::always_inline]] inline IntervalAboveOne interval_above_one(double a) {
    uint64_t bits = bits_of(a);
    int binade = static_cast<int>(bits >> 52) - 1023;
    int cut = binade < 8 ? binade : 8;
    int dropped = 44 + cut;  // the bits below the interval's
    int within = static_cast<int>((bits >> dropped) & ((1u << (8 - cut)) - 1));
    double middle = from_bits((bits & (~uint64_t{0} << dropped)) | (uint64_t{1} << (dropped - 1)));
    return {512 - (512 >> cut) + within + (binade - cut), middle};
}

// sqrt(v) for a pair v = v.hi + v.lo > 0, within 2^-100 of itself, given
// 1/v.hi: Newton's correction of the rounded root, with 1/root taken as
// root / v so that the division starts beside the root, not after it.
template <bool kFused>
[[gnu::always_inline]] inline DoubleDouble square_root(DoubleDouble v, double inverse_v) {
    double root = std::sqrt(v.hi);
    DoubleDouble square = exact_square<kFused>(root);
    double residual = ((v.hi - square.hi) - square.lo) + v.lo;
    return {root, residual * root * inverse_v * 0.5};
}

// asin u for 0 <= u <= 0.7, u a pair (|u.lo| <= 2^-52 u.hi): the series
// of asin about c = j/256 nearest u, in h = u.hi - c (exact, |h| <= 2^-9),
// from the table.  A0 + A1 h + A2 h^2 are summed exactly into the upper
// part, so that the low part is the rest of the series and small; u.lo,
// where there is one (kLowPart), enters through asin's slope at u, to
// second order (its error is below 2^-80 of the result).  Neither a square
// root nor a division, and the row is the only load.  `error` bounds the
// result's error.
template <bool kFused, bool kLowPart>
[[gnu::always_inline]] inline DoubleDouble asin_of_pair(DoubleDouble u, double& error) {
    auto madd = mul_add<kFused>;
    NearestInteger j = nearest_integer_of(u.hi * 256.0);
    double h = u.hi - j.value * 0x1p-8;
    const AsinRow& row = kAsinTable[j.integer];
    const double* a = row.series;  // A3 .. A9
    DoubleDouble h2 = exact_square<kFused>(h);
    DoubleDouble first = exact_product<kFused>(row.slope.hi, h);
    DoubleDouble second = exact_product<kFused>(row.curvature.hi, h2.hi);
    // asin c > 2^-8 > |A1 h| (or c = 0, A0 = 0); then the sum exceeds 2^-9.8
    // against A2 h^2 < 2^-18 (or c = 0, A2 = 0).
    DoubleDouble sum = fast_two_sum(row.value.hi, first.hi);
    DoubleDouble upper = fast_two_sum(sum.hi, second.hi);
    double small = madd(row.slope.lo, h, first.lo) + madd(row.curvature.lo, h2.hi, second.lo) +
                   madd(row.curvature.hi, h2.lo, row.value.lo);
    if constexpr (kLowPart) small += madd(h, madd(3.0 * a[0], h, 2.0 * row.curvature.hi), row.slope.hi) * u.lo;
    // h^3 (A3 + A4 h + ... + A9 h^6), by Estrin's scheme, joins last.
    double h4 = h2.hi * h2.hi, h3 = h * h2.hi;
    double low = madd(h2.hi, madd(a[3], h, a[2]), madd(a[1], h, a[0]));
    double high = madd(h2.hi, a[6], madd(a[5], h, a[4]));
    double lo = madd(h3, madd(h4, high, low), (sum.lo + upper.lo) + small);
    // The series' roundings (its polynomial is below 2 in magnitude, its
    // roundings within 2^-50.7 of it), and 2^-76 of the result for the
    // rest: the truncation (2^-78), the table's errors and the roundings
    // of the small terms.
    error = madd(std::fabs(h3), 0x1p-49, std::fabs(upper.hi) * 0x1p-76);
    return {upper.hi, lo};
}

// arcsin and arccos of x from v = asin of a = |x| or of sqrt((1 - a)/2)
// (`halved`, for a > 0.7, where asin a = pi/2 - 2 v): each is
// offset + factor v with offset 0, pi/2 or pi and factor +-1 or +-2.
struct ArcTerms {
    DoubleDouble v;
    double error;
    bool halved;
};

template <bool kFused>
[[gnu::always_inline]] inline ArcTerms arc_terms(double a) {
    ArcTerms terms;
    terms.halved = a > 0.7;
    if (!terms.halved) {
        terms.v = asin_of_pair<kFused, false>({a, 0.0}, terms.error);
    } else {
        double u2 = (1.0 - a) * 0.5;  // exact
        terms.v = asin_of_pair<kFused, true>(square_root<kFused>({u2, 0.0}, 1.0 / u2), terms.error);
    }
    return terms;
}

// offset + factor v, for 0 <= |factor v| <= offset or offset = 0.  The
// pair is chosen from a table rather than by branches, which arguments of
// either sign and size would mispredict.
struct ArcOffset {
    DoubleDouble offset;
    double factor;
};
constexpr ArcOffset kArcsinOffsets[2] = {{{0.0, 0.0}, 1.0}, {kHalfPi, -2.0}};  // by halved
constexpr ArcOffset kArccosOffsets[4] = {                                      // by 2 halved + (x < 0)
    {kHalfPi, -1.0}, {kHalfPi, 1.0}, {{0.0, 0.0}, 2.0}, {kPi, -2.0}};

[[gnu::always_inline]] inline DoubleDouble offset_by(const ArcOffset& o, const ArcTerms& terms, double& error) {
    DoubleDouble sum = fast_two_sum(o.offset.hi, o.factor * terms.v.hi);
    error = terms.error * std::fabs(o.factor) + std::fabs(sum.hi) * 0x1p-100;
    return {sum.hi, sum.lo + (o.offset.lo + o.factor * terms.v.lo)};
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

// sin x = sin(|x|) negated for negative x, which is sin(|x| + pi): two
// quadrants on.  cos x = sin(|x| + pi/2), tan x = sin x / cos x.
[[gnu::always_inline]] inline unsigned half_turn_below_zero(double x) { return std::signbit(x) ? 2u : 0u; }

template <bool kFused, bool kCosine>
[[gnu::always_inline]] inline double sine_or_cosine(double x) {
    double a = std::fabs(x);
    if (!(a < kReductionLimit)) [[unlikely]] return kNaN;
    if (a < (kCosine ? kCosIsOne : kSinIsX)) return kCosine ? 1.0 : x;
    Reduction reduction;
    if (reduce<kFused>(a, reduction)) [[likely]] {
        unsigned quadrant = reduction.quadrant + (kCosine ? 1u : half_turn_below_zero(x));
        double error, result;
        DoubleDouble v = sine_in_quadrant<kFused>(angle_terms<kFused>(reduction.r), quadrant, error);
        if (rounds_alike<kFused>(v.hi, v.lo, error, result)) [[likely]] return result;
    }
    return kCosine ? cos_accurate(x) : sin_accurate(x);
}

template <bool kFused>
[[gnu::always_inline]] inline double tan_fast(double x) {
    double a = std::fabs(x);
    if (!(a < kReductionLimit)) [[unlikely]] return kNaN;
    if (a < kTanIsX) return x;
    Reduction reduction;
    if (!reduce<kFused>(a, reduction)) [[unlikely]] return tan_accurate(x);
    AngleTerms terms = angle_terms<kFused>(reduction.r);
    double sin_error, cos_error, error, result;
    DoubleDouble s = sine_in_quadrant<kFused>(terms, reduction.quadrant + half_turn_below_zero(x), sin_error);
    DoubleDouble c = sine_in_quadrant<kFused>(terms, reduction.quadrant + 1, cos_error);
    // Normalised for the quotient: the series leave up to 2^-18 of each in its low part.
    DoubleDouble v = quotient<kFused>(fast_two_sum(s.hi, s.lo), sin_error, fast_two_sum(c.hi, c.lo), cos_error, error);
    if (!rounds_alike<kFused>(v.hi, v.lo, error, result)) [[unlikely]] return tan_accurate(x);
    return result;
}

template <bool kFused>
[[gnu::always_inline]] inline double atan_fast(double x) {
    double a = std::fabs(x);
    if (a < kTanIsX) return x;
    // pi/2 - 1/a + ... rounds to pi/2's double: pi/2 exceeds it by 0.28
    // units.  A NaN comes back quieted.
    if (!(a < 0x1p56)) [[unlikely]] return x != x ? x + x : std::copysign(kHalfPi.hi, x);
    double error, result;
    DoubleDouble v;
    if (a <= 1.0) {  // c = j/256 nearest a
        NearestInteger j = nearest_integer_of(a * 256.0);
        v = atan_near<kFused>(a, j.value * 0x1p-8, kAtanTable[j.integer], error);
    } else {  // the middle of a's interval, found from a's bits
        IntervalAboveOne interval = interval_above_one(a);
        v = atan_near<kFused>(a, interval.middle, kAtanAboveOne[interval.row], error);
    }
    if (!rounds_alike<kFused>(v.hi, v.lo, error, result)) [[unlikely]] return atan_accurate(x);
    return std::copysign(result, x);
}

// arcsin x, with x's sign: v, or pi/2 - 2 v.
template <bool kFused>
[[gnu::always_inline]] inline double asin_fast(double x) {
    double a = std::fabs(x);
    if (!(a <= 1.0)) [[unlikely]] return kNaN;
    if (a < kSinIsX) return x;
    if (a == 1.0) return std::copysign(kHalfPi.hi, x);
    ArcTerms terms = arc_terms<kFused>(a);
    double error, result;
    DoubleDouble v = offset_by(kArcsinOffsets[terms.halved], terms, error);
    if (!rounds_alike<kFused>(v.hi, v.lo, error, result)) [[unlikely]] return asin_accurate(x);
    return std::copysign(result, x);
}

// arccos x = pi/2 - arcsin x: pi/2 -+ v, or 2 v, or pi - 2 v for negative x.
template <bool kFused>
[[gnu::always_inline]] inline double acos_fast(double x) {
    double a = std::fabs(x);
    if (!(a <= 1.0)) [[unlikely]] return kNaN;
    if (a == 1.0) return x > 0 ? 0.0 : kPi.hi;
    ArcTerms terms = arc_terms<kFused>(a);
    double error, result;
    DoubleDouble v = offset_by(kArccosOffsets[2 * terms.halved + std::signbit(x)], terms, error);
    if (!rounds_alike<kFused>(v.hi, v.lo, error, result)) [[unlikely]] return acos_accurate(x);
    return result;
}

}  // namespace

double variants::sin_plain(double x) { return sine_or_cosine<false, false>(x); }
double variants::cos_plain(double x) { return sine_or_cosine<false, true>(x); }
double variants::tan_plain(double x) { return tan_fast<false>(x); }
double variants::asin_plain(double x) { return asin_fast<false>(x); }
double variants::acos_plain(double x) { return acos_fast<false>(x); }
double variants::atan_plain(double x) { return atan_fast<false>(x); }
#if TALLYMAT_FUSED_PRODUCTS_BUILT
TALLYMAT_FOR_FUSED_PRODUCTS double variants::sin_fused(double x) { return sine_or_cosine<true, false>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::cos_fused(double x) { return sine_or_cosine<true, true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::tan_fused(double x) { return tan_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::asin_fused(double x) { return asin_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::acos_fused(double x) { return acos_fast<true>(x); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::atan_fused(double x) { return atan_fast<true>(x); }
#else
double variants::sin_fused(double x) { return sin_plain(x); }
double variants::cos_fused(double x) { return cos_plain(x); }
double variants::tan_fused(double x) { return tan_plain(x); }
double variants::asin_fused(double x) { return asin_plain(x); }
double variants::acos_fused(double x) { return acos_plain(x); }
double variants::atan_fused(double x) { return atan_plain(x); }
#endif

}  // namespace tallymat::elementary
