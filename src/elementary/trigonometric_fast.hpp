// The fast paths of sine, cosine, tangent, arcsine, arccosine and arctg,
// written once over the number type (number.hpp) and built by
// trigonometric.cpp and own_rounding.cpp.  In double-double, each with a
// table and short series:
// - sine, cosine, tangent: |x| = k pi/2 + r with |r| <= pi/4; r = i/256 + t,
//   sin and cos of i/256 from the table, series in t (|t| <= 2^-9);
// - arctg: atan c + atan((x - c)/(1 + c x)), c = j/256 up to 1 and the
//   middle of x's interval above, the series' argument again within 2^-9;
// - arcsine and arccosine: asin c + asin(u sqrt(1 - c^2) - c sqrt(1 - u^2)),
//   with u = |x| or sqrt((1 - |x|)/2), which needs no division.
// Each result must clear the rounding test with its error bound, which is
// computed beside it from the series' terms; the rest goes to the accurate
// paths (trigonometric.cpp).
#pragma once

#include <cstdint>
#include <limits>

#include "core/visibility.hpp"
#include "elementary/double_double.hpp"
#include "elementary/parts.hpp"

namespace tallymat::elementary {

// A row of arcsin's table: the series of asin about j/256, to h^9.
struct alignas(128) AsinRow {
    DoubleDouble value, slope, curvature;  // A0, A1, A2
    double series[7];                      // A3 .. A9
    double unused[3];                      // 128 bytes: the row's address is one shift from j
};
#include "elementary/trigonometric_tables.inc"

// The accurate paths, plain C++ (trigonometric.cpp).
TALLYMAT_SSE_CALL double sin_accurate(double x);
TALLYMAT_SSE_CALL double cos_accurate(double x);
TALLYMAT_SSE_CALL double tan_accurate(double x);
TALLYMAT_SSE_CALL double asin_accurate(double x);
TALLYMAT_SSE_CALL double acos_accurate(double x);
TALLYMAT_SSE_CALL double atan_accurate(double x);

// |x| - k pi/2 for |x| >= 2^20, exactly reduced (integer arithmetic on the
// bits of 2/pi), as a pair within 2^-100 of itself, and k mod 4.
struct FarReduction {
    DoubleDouble r;
    unsigned quadrant;
};
FarReduction reduce_far(double a);

namespace fast {

using parts::NearestInteger;
using parts::nearest_integer_of;
using parts::rounds_alike;

constexpr double kThreePartLimit = 0x1p20;  // k < 2^20 below it, so k kHalfPi1 and k kHalfPi2 are exact

// ---- argument reduction -----------------------------------------------------

template <class N>
struct Reduction {
    Pair<N> r;  // |x| - k pi/2, within 2^-78 of itself; r.hi may be negative, r.lo up to a unit of it
    unsigned quadrant;  // k mod 4
};

// False where r lost so much to cancellation that the fast path cannot
// bound its error (|r| < 2^-20 after subtracting k pi/2 in three parts):
// the accurate path then reduces exactly.
template <class N>
[[gnu::always_inline]] inline bool reduce(N a, Reduction<N>& out) {
    if (a <= kQuarterPi) {
        out = {{a, 0.0}, 0};
        return true;
    }
    if (a >= kThreePartLimit) [[unlikely]] {
        FarReduction far = N::in_library_environment([a] { return reduce_far(a.value()); });
        out = {Pair<N>::of(far.r), far.quadrant};
        return true;
    }
    NearestInteger<N> k = nearest_integer_of(a * kTwoOverPi);
    if constexpr (N::kFused) {
        // r = ((a - k pi/2's hi) - k pi/2's lo) - k kHalfPiTail.  The fused
        // first difference is exact: k hi and a are multiples of a's last
        // place (or of 2^-53 where k = 1), and their difference is below 1.
        N first = fma(-k.value, kHalfPi.hi, a);
        Pair<N> product = exact_product(k.value, N(kHalfPi.lo));
        Pair<N> second = two_sum(first, -product.hi);
        N lo = fma(-k.value, kHalfPiTail, second.lo - product.lo);
        out = {{second.hi, lo}, static_cast<unsigned>(k.integer) & 3u};
    } else {
        // r = ((a - k kHalfPi1) - k kHalfPi2) - k kHalfPi3; the first
        // difference is exact (k kHalfPi1 lies within pi/4 of a), the rest
        // are carried as pairs.  The three parts miss pi/2 by under 2^-119,
        // k of them by 2^-99.
        N first = a - k.value * kHalfPi1;
        Pair<N> second = two_sum(first, -k.value * kHalfPi2);
        Pair<N> product = exact_product(k.value, N(kHalfPi3));
        Pair<N> third = two_sum(second.hi, -product.hi);
        out = {{third.hi, (second.lo + third.lo) - product.lo}, static_cast<unsigned>(k.integer) & 3u};
    }
    return abs(out.r.hi) >= 0x1p-20;
}

// ---- sine and cosine of r ---------------------------------------------------

// r = a + t, a = i/256 (i may be negative), |r| <= pi/4 + 2^-20, with
// t = th + tl (|th| <= 2^-9) and the series of th: sin t - t and cos t - 1
// but for the terms in tl.
template <class N>
struct AngleTerms {
    const double* row;  // sin |a| and cos a, as pairs
    unsigned negative;  // 1 where a < 0: sin a = -sin |a|
    N th, tl;
    N sin_series;  // sin th - th, to within 2^-50 of itself
    N cos_series;  // cos th - 1, to within 2^-50 of itself
    N t2;          // th^2: the series' error bounds follow from it
};

template <class N>
[[gnu::always_inline]] inline AngleTerms<N> angle_terms(Pair<N> r) {
    auto madd = mul_add<N>;
    NearestInteger<N> i = nearest_integer_of(r.hi * 256.0);
    N th = r.hi - i.value * 0x1p-8;  // exact: i/256 lies within a factor 2 of r.hi, or is 0
    N t2 = th * th;
    // Truncated past t^7 and t^6: below 2^-86 of the result.
    N sin_series = th * t2 * madd(t2, madd(t2, -1.0 / 5040, 1.0 / 120), -1.0 / 6);
    N cos_series = t2 * madd(t2, madd(t2, -1.0 / 720, 1.0 / 24), -0.5);
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
template <class N>
[[gnu::always_inline]] inline Pair<N> sine_in_quadrant(const AngleTerms<N>& a, unsigned quadrant, N& error) {
    auto madd = mul_add<N>;
    const QuadrantColumns& columns = kQuadrantColumns[2 * (quadrant & 3u) + a.negative];
    Pair<N> p = {N(a.row[columns.p]) * columns.p_sign, N(a.row[columns.p + 1]) * columns.p_sign};
    Pair<N> q = {N(a.row[columns.q]) * columns.q_sign, N(a.row[columns.q + 1]) * columns.q_sign};
    Pair<N> product = exact_product(q.hi, a.th);
    Pair<N> sum = fast_two_sum(p.hi, product.hi);  // |p| is cos a > 0.7, or sin |a| > 2^-9 >= |th|, or 0
    N cos_rest = madd(-a.th, a.tl, a.cos_series), sin_rest = a.tl + a.sin_series;
    N rest = madd(q.hi, sin_rest, madd(p.hi, cos_rest, q.lo * a.th));
    N lo = (sum.lo + (product.lo + p.lo)) + rest;  // the series' terms last: they are ready last
    error = madd(a.t2, madd(abs(p.hi), kSeriesError * 0.5, abs(product.hi) * (kSeriesError / 4)),
                 abs(sum.hi) * kRestError);
    return {sum.hi, lo};
}

// n / d for normalised n and d (|lo| at most a unit of hi), within 2^-100
// of itself: a rounded quotient hi (n.hi times 1/d.hi, or n.hi / d.hi,
// which need not wait for the inverse) and Newton's correction.
template <class N>
[[gnu::always_inline]] inline Pair<N> pair_quotient(Pair<N> n, Pair<N> d, N inverse, N hi) {
    Pair<N> back = exact_product(hi, d.hi);
    return {hi, (((n.hi - back.hi) - back.lo) + mul_add<N>(-hi, d.lo, n.lo)) * inverse};
}

// The same with its error bound, from the bounds of n and d:
// (en + |n/d| ed) / |d|, and the quotient's own 2^-100.
template <class N>
[[gnu::always_inline]] inline Pair<N> quotient(Pair<N> n, N n_error, Pair<N> d, N d_error, N& error) {
    N inverse = N(1.0) / d.hi;
    Pair<N> q = pair_quotient(n, d, inverse, n.hi * inverse);
    error = (n_error + abs(q.hi) * d_error) * abs(inverse) * (1.0 + 0x1p-50) + abs(q.hi) * 0x1p-100;
    return q;
}

// ---- the arc functions --------------------------------------------------------

// atan a = atan c + atan t, t = (a - c)/(1 + c a), for a >= 0 and c
// near enough that |t| <= 2^-9, with atan c a pair from a table.  a - c is
// exact: c lies within a factor 2 of a, or is 0.
template <class N>
[[gnu::always_inline]] inline Pair<N> atan_near(N a, N c, Pair<N> atan_c, N& error) {
    auto madd = mul_add<N>;
    Pair<N> product = exact_product(c, a);
    Pair<N> denominator = two_sum(N(1.0), product.hi);
    // The inverse for the quotient's correction, from this sum (within a
    // unit of the upper part below, which is close enough): with fused
    // products it is ready a little after that part, so that the division
    // the chain waits for starts first.
    N inverse = N(1.0) / denominator.hi;
    if constexpr (N::kFused) {
        // The division waits for one fused multiply-add, not a product and a
        // sum: 1 + c a rounded once, within a unit of the sum above, and the
        // rest from there (within 2^-104 of itself).
        N hi = fma(c, a, N(1.0));
        denominator = {hi, ((denominator.hi - hi) + denominator.lo) + product.lo};
    } else {
        denominator.lo += product.lo;
    }
    N n = a - c;
    Pair<N> t = pair_quotient<N>({n, 0.0}, denominator, inverse, n / denominator.hi);
    N t2 = t.hi * t.hi, t3 = t.hi * t2, t4 = t2 * t2;
    // atan t - t = t^3 (-1/3 + t^2/5 - t^4/7), truncated below 2^-57 |t|^3.
    N polynomial = madd(t4, -1.0 / 7, madd(t2, 0.2, -1.0 / 3));
    Pair<N> sum = fast_two_sum(atan_c.hi, t.hi);  // atan c > 2^-9 >= |t|, or c = 0
    // The series' roundings and truncation (bounded ahead of it: |atan t -
    // t| <= |t|^3/3), and 2^-90 of the result for the rest: the quotient's
    // and the table's errors.  The series joins last, as it is ready last.
    error = madd(abs(t3), kSeriesError / 2, abs(sum.hi) * 0x1p-90);
    return {sum.hi, madd(t3, polynomial, sum.lo + atan_c.lo) + t.lo};
}

// The interval of kAtanAboveOne that holds a, 1 < a < 2^56, and its middle
// c: binade e in 2^(8-e) intervals below 2^8, one interval from there on.
// c is a's leading bits and the next one set, so it is ready before the row.
template <class N>
struct IntervalAboveOne {
    int row;
    N middle;
};
template <class N>
[[gnu::always_inline]] inline IntervalAboveOne<N> interval_above_one(N a) {
    // Every bit this reads or sets lies in the upper word: a 32-bit target
    // shifts one register where a whole uint64_t takes two.
    using Word = parts::Word;
    constexpr int kBelow = parts::kBitsBelowWord;
    Word upper = static_cast<Word>(bits_of(a) >> kBelow);
    int binade = static_cast<int>(upper >> (52 - kBelow)) - 1023;
    int cut = binade < 8 ? binade : 8;
    int dropped = 44 - kBelow + cut;  // the bits below the interval's
    int within = static_cast<int>((upper >> dropped) & ((1u << (8 - cut)) - 1));
    N middle = N::from_bits(uint64_t{(upper & (~Word{0} << dropped)) | (Word{1} << (dropped - 1))} << kBelow);
    return {512 - (512 >> cut) + within + (binade - cut), middle};
}

// sqrt(v) for a pair v = v.hi + v.lo > 0, within 2^-100 of itself, given
// 1/v.hi: Newton's correction of the rounded root, with 1/root taken as
// root / v so that the division starts beside the root, not after it.
template <class N>
[[gnu::always_inline]] inline Pair<N> square_root(Pair<N> v, N inverse_v) {
    N root = sqrt(v.hi);
    Pair<N> square = exact_square(root);
    N residual = ((v.hi - square.hi) - square.lo) + v.lo;
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
template <class N, bool kLowPart>
[[gnu::always_inline]] inline Pair<N> asin_of_pair(Pair<N> u, N& error) {
    auto madd = mul_add<N>;
    NearestInteger<N> j = nearest_integer_of(u.hi * 256.0);
    N h = u.hi - j.value * 0x1p-8;
    const AsinRow& row = kAsinTable[j.integer];
    const double* a = row.series;  // A3 .. A9
    Pair<N> h2 = exact_square(h);
    Pair<N> first = exact_product(N(row.slope.hi), h);
    Pair<N> second = exact_product(N(row.curvature.hi), h2.hi);
    // asin c > 2^-8 > |A1 h| (or c = 0, A0 = 0); then the sum exceeds 2^-9.8
    // against A2 h^2 < 2^-18 (or c = 0, A2 = 0).
    Pair<N> sum = fast_two_sum(N(row.value.hi), first.hi);
    Pair<N> upper = fast_two_sum(sum.hi, second.hi);
    N small = madd(row.slope.lo, h, first.lo) + madd(row.curvature.lo, h2.hi, second.lo) +
              madd(row.curvature.hi, h2.lo, row.value.lo);
    if constexpr (kLowPart)
        small += madd(h, madd(N(a[0]) * 3.0, h, N(row.curvature.hi) * 2.0), row.slope.hi) * u.lo;
    // h^3 (A3 + A4 h + ... + A9 h^6), by Estrin's scheme, joins last.
    N h4 = h2.hi * h2.hi, h3 = h * h2.hi;
    N low = madd(h2.hi, madd(a[3], h, a[2]), madd(a[1], h, a[0]));
    N high = madd(h2.hi, a[6], madd(a[5], h, a[4]));
    N lo = madd(h3, madd(h4, high, low), (sum.lo + upper.lo) + small);
    // The series' roundings (its polynomial is below 2 in magnitude, its
    // roundings within 2^-50.7 of it), and 2^-76 of the result for the
    // rest: the truncation (2^-78), the table's errors and the roundings
    // of the small terms.
    error = madd(abs(h3), 0x1p-49, abs(upper.hi) * 0x1p-76);
    return {upper.hi, lo};
}

// arcsin and arccos of x from v = asin of a = |x| or of sqrt((1 - a)/2)
// (`halved`, for a > 0.7, where asin a = pi/2 - 2 v): each is
// offset + factor v with offset 0, pi/2 or pi and factor +-1 or +-2.
template <class N>
struct ArcTerms {
    Pair<N> v;
    N error;
    bool halved;
};

template <class N>
[[gnu::always_inline]] inline ArcTerms<N> arc_terms(N a) {
    ArcTerms<N> terms;
    terms.halved = a > 0.7;
    if (!terms.halved) {
        terms.v = asin_of_pair<N, false>({a, 0.0}, terms.error);
    } else {
        N u2 = (N(1.0) - a) * 0.5;  // exact
        terms.v = asin_of_pair<N, true>(square_root<N>({u2, 0.0}, N(1.0) / u2), terms.error);
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

template <class N>
[[gnu::always_inline]] inline Pair<N> offset_by(const ArcOffset& o, const ArcTerms<N>& terms, N& error) {
    N factor = o.factor;
    Pair<N> sum = fast_two_sum(N(o.offset.hi), factor * terms.v.hi);
    error = terms.error * abs(factor) + abs(sum.hi) * 0x1p-100;
    return {sum.hi, sum.lo + (N(o.offset.lo) + factor * terms.v.lo)};
}

// ---- the functions --------------------------------------------------------------

// Below these, sin x, tan x, arcsin x and arctg x round to x and cos x to
// 1: the next term of each series is below half a unit in the last place.
constexpr double kSinIsX = 0x1p-26, kTanIsX = 0x1p-27, kCosIsOne = 0x1p-27;

// Arguments outside a function's domain (the math layer sends none) give
// a NaN rather than reach a table.
constexpr double kReductionLimit = 0x1p53;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// sin x = sin(|x|) negated for negative x, which is sin(|x| + pi): two
// quadrants on.  cos x = sin(|x| + pi/2), tan x = sin x / cos x.
template <class N>
[[gnu::always_inline]] inline unsigned half_turn_below_zero(N x) { return signbit(x) ? 2u : 0u; }

template <class N, bool kCosine>
[[gnu::always_inline]] inline N sine_or_cosine(N x) {
    N a = abs(x);
    if (!(a < kReductionLimit)) [[unlikely]] return kNaN;
    if (a < (kCosine ? kCosIsOne : kSinIsX)) return kCosine ? N(1.0) : x;
    Reduction<N> reduction;
    if (reduce(a, reduction)) [[likely]] {
        unsigned quadrant = reduction.quadrant + (kCosine ? 1u : half_turn_below_zero(x));
        N error, result;
        Pair<N> v = sine_in_quadrant(angle_terms(reduction.r), quadrant, error);
        if (rounds_alike(v.hi, v.lo, error, result)) [[likely]] return result;
    }
    return N::in_library_environment([x] { return kCosine ? cos_accurate(x.value()) : sin_accurate(x.value()); });
}

template <class N>
[[gnu::always_inline]] inline N tan_fast(N x) {
    N a = abs(x);
    if (!(a < kReductionLimit)) [[unlikely]] return kNaN;
    if (a < kTanIsX) return x;
    Reduction<N> reduction;
    if (!reduce(a, reduction)) [[unlikely]] return N::in_library_environment([x] { return tan_accurate(x.value()); });
    AngleTerms<N> terms = angle_terms(reduction.r);
    N sin_error, cos_error, error, result;
    Pair<N> s = sine_in_quadrant(terms, reduction.quadrant + half_turn_below_zero(x), sin_error);
    Pair<N> c = sine_in_quadrant(terms, reduction.quadrant + 1, cos_error);
    // Normalised for the quotient: the series leave up to 2^-18 of each in its low part.
    Pair<N> v = quotient(fast_two_sum(s.hi, s.lo), sin_error, fast_two_sum(c.hi, c.lo), cos_error, error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]]
        return N::in_library_environment([x] { return tan_accurate(x.value()); });
    return result;
}

template <class N>
[[gnu::always_inline]] inline N atan_fast(N x) {
    N a = abs(x);
    if (a < kTanIsX) return x;
    // pi/2 - 1/a + ... rounds to pi/2's double: pi/2 exceeds it by 0.28
    // units.  A NaN comes back quieted.
    if (!(a < 0x1p56)) [[unlikely]] return x != x ? x + x : copysign(N(kHalfPi.hi), x);
    N error, result;
    Pair<N> v;
    if (a <= 1.0) {  // c = j/256 nearest a
        NearestInteger<N> j = nearest_integer_of(a * 256.0);
        v = atan_near(a, j.value * 0x1p-8, Pair<N>::of(kAtanTable[j.integer]), error);
    } else {  // the middle of a's interval, found from a's bits
        IntervalAboveOne<N> interval = interval_above_one(a);
        v = atan_near(a, interval.middle, Pair<N>::of(kAtanAboveOne[interval.row]), error);
    }
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]]
        return N::in_library_environment([x] { return atan_accurate(x.value()); });
    return copysign(result, x);
}

// arcsin x, with x's sign: v, or pi/2 - 2 v.
template <class N>
[[gnu::always_inline]] inline N asin_fast(N x) {
    N a = abs(x);
    if (!(a <= 1.0)) [[unlikely]] return kNaN;
    if (a < kSinIsX) return x;
    if (a == 1.0) return copysign(N(kHalfPi.hi), x);
    ArcTerms<N> terms = arc_terms(a);
    N error, result;
    Pair<N> v = offset_by(kArcsinOffsets[terms.halved], terms, error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]]
        return N::in_library_environment([x] { return asin_accurate(x.value()); });
    return copysign(result, x);
}

// arccos x = pi/2 - arcsin x: pi/2 -+ v, or 2 v, or pi - 2 v for negative x.
template <class N>
[[gnu::always_inline]] inline N acos_fast(N x) {
    N a = abs(x);
    if (!(a <= 1.0)) [[unlikely]] return kNaN;
    if (a == 1.0) return x > 0.0 ? N(0.0) : N(kPi.hi);
    ArcTerms<N> terms = arc_terms(a);
    N error, result;
    Pair<N> v = offset_by(kArccosOffsets[2 * terms.halved + signbit(x)], terms, error);
    if (!rounds_alike(v.hi, v.lo, error, result)) [[unlikely]]
        return N::in_library_environment([x] { return acos_accurate(x.value()); });
    return result;
}

}  // namespace fast
}  // namespace tallymat::elementary
