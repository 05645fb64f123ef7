// Sine, cosine, tangent, arcsine, arccosine and arctangent, correctly
// rounded: the fast paths (trigonometric_fast.hpp) built with Dekker's and
// with fused products, and the accurate paths, in 320-bit fixed point: x
// reduced exactly (integer arithmetic on 384 bits of 2/pi), sin and cos by
// their series, and every arc function as atan of a ratio at most 1.
#include <cmath>
#include <cstdint>

#include "elementary/trigonometric_fast.hpp"
#include "elementary/variants.hpp"
#include "elementary/wide_rounding.hpp"

namespace tallymat::elementary {
namespace {

using namespace parts;

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
    double a = __builtin_fabs(x);
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

}  // namespace

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
    Wide a = Wide::from_double(__builtin_fabs(x));
    Wide v = atan_of_quotient_wide(a, root_of_one_minus_square_wide(a));
    return round_wide(x < 0 ? -v : v, 0);
}

[[gnu::noinline, gnu::cold]] double acos_accurate(double x) {
    Wide a = Wide::from_double(__builtin_fabs(x));
    Wide v = atan_of_quotient_wide(root_of_one_minus_square_wide(a), a);
    return round_wide(x < 0 ? kWideHalfPi.times(2) - v : v, 0);
}

[[gnu::noinline, gnu::cold]] double atan_accurate(double x) {
    Wide v = atan_of_quotient_wide(Wide::from_double(__builtin_fabs(x)), Wide(1));
    return round_wide(x < 0 ? -v : v, 0);
}


FarReduction reduce_far(double a) {
    WideReduction w = reduce_wide(a);
    return {to_double_double(w.r), w.quadrant};
}

using fast::sine_or_cosine;
using fast::tan_fast;
using fast::asin_fast;
using fast::acos_fast;
using fast::atan_fast;

double variants::sin_plain(double x) { return sine_or_cosine<DekkersNumber, false>(x).value(); }
double variants::cos_plain(double x) { return sine_or_cosine<DekkersNumber, true>(x).value(); }
double variants::tan_plain(double x) { return tan_fast<DekkersNumber>(x).value(); }
double variants::asin_plain(double x) { return asin_fast<DekkersNumber>(x).value(); }
double variants::acos_plain(double x) { return acos_fast<DekkersNumber>(x).value(); }
double variants::atan_plain(double x) { return atan_fast<DekkersNumber>(x).value(); }
#if TALLYMAT_FUSED_PRODUCTS_BUILT
TALLYMAT_FOR_FUSED_PRODUCTS double variants::sin_fused(double x) { return sine_or_cosine<FusedNumber, false>(x).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::cos_fused(double x) { return sine_or_cosine<FusedNumber, true>(x).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::tan_fused(double x) { return tan_fast<FusedNumber>(x).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::asin_fused(double x) { return asin_fast<FusedNumber>(x).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::acos_fused(double x) { return acos_fast<FusedNumber>(x).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::atan_fused(double x) { return atan_fast<FusedNumber>(x).value(); }
#else
double variants::sin_fused(double x) { return sin_plain(x); }
double variants::cos_fused(double x) { return cos_plain(x); }
double variants::tan_fused(double x) { return tan_plain(x); }
double variants::asin_fused(double x) { return asin_plain(x); }
double variants::acos_fused(double x) { return acos_plain(x); }
double variants::atan_fused(double x) { return atan_plain(x); }
#endif

}  // namespace tallymat::elementary
