// exp, ln, lg and powers, correctly rounded: the fast paths
// (exponential_fast.hpp) built with Dekker's and with fused products, and
// the accurate paths, the same functions in 320-bit fixed point.
#include "elementary/variants.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "core/exact_conversion.hpp"
#include "elementary/exponential_fast.hpp"
#include "elementary/wide_rounding.hpp"

namespace tallymat::elementary {
namespace {

using parts::bits_of;
using parts::nearest_integer;

// ---- the accurate path ------------------------------------------------------

constexpr Wide kWideInverseLn10 = kWideLn10.reciprocal();

Wide times_ln2(int k) {
    Wide magnitude = kWideLn2.times(static_cast<uint32_t>(k < 0 ? -k : k));
    return k < 0 ? -magnitude : magnitude;
}

// ln x to within 2^-232 absolute (so within 2^-178 of it, |ln x| > 2^-54): 2 atanh((m - 1)/(m + 1)) plus k ln 2.
Wide log_wide(double x) {
    fast::LogReduction<DekkersNumber> reduced = fast::log_reduction(DekkersNumber(x));
    Wide m = Wide::from_double(reduced.m.value());
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
    if (!(y > 0.0 && y <= 64.0) || !core::is_integral(scaled_y)) return false;
    uint64_t p = core::truncated_to_uint64(scaled_y);
    int q = 5;
    for (; q > 0 && (p & 1) == 0; --q) p >>= 1;

    uint64_t bits = bits_of(__builtin_fabs(x));
    int biased = static_cast<int>(bits >> 52);
    uint64_t odd = biased ? (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52) : bits;
    int e = (biased ? biased : 1) - 1075;
    int zeros = std::countr_zero(odd);
    odd >>= zeros;
    e += zeros;
    for (; q > 0; --q) {  // one square root per halving of the exponent
        uint64_t root = core::truncated_to_uint64(std::sqrt(core::exact_double(odd)));  // exact: odd < 2^53
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

}  // namespace

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

using fast::exp_fast;
using fast::log_fast;
using fast::log10_fast;
using fast::pow_fast;

double variants::exp_plain(double x) { return exp_fast(DekkersNumber(x)).value(); }
double variants::log_plain(double x) { return log_fast(DekkersNumber(x)).value(); }
double variants::log10_plain(double x) { return log10_fast(DekkersNumber(x)).value(); }
double variants::pow_plain(double x, double y) { return pow_fast(DekkersNumber(x), DekkersNumber(y)).value(); }
#if TALLYMAT_FUSED_PRODUCTS_BUILT
TALLYMAT_FOR_FUSED_PRODUCTS double variants::exp_fused(double x) { return exp_fast(FusedNumber(x)).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::log_fused(double x) { return log_fast(FusedNumber(x)).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::log10_fused(double x) { return log10_fast(FusedNumber(x)).value(); }
TALLYMAT_FOR_FUSED_PRODUCTS double variants::pow_fused(double x, double y) {
    return pow_fast(FusedNumber(x), FusedNumber(y)).value();
}
#else
double variants::exp_fused(double x) { return exp_plain(x); }
double variants::log_fused(double x) { return log_plain(x); }
double variants::log10_fused(double x) { return log10_plain(x); }
double variants::pow_fused(double x, double y) { return pow_plain(x, y); }
#endif

}  // namespace tallymat::elementary
