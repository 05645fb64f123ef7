// Exact argument reduction for sine and cosine (see trig_reduction.hpp).
#include "eval/trig_reduction.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

namespace tallymat::mathlayer {

namespace {

// 2/pi to 256 bits after the binary point, least significant word first;
// and pi/2 times 2^126, both from exact integer arithmetic on Machin's
// formula.
constexpr uint64_t kTwoOverPi[4] = {0xfe5163abdebbc561, 0xdb6295993c439041, 0xfc2757d1f534ddc0,
                                    0xa2f9836e4e441529};
constexpr uint64_t kHalfPiHigh = 0x6487ed5110b4611a, kHalfPiLow = 0x62633145c06e0e68;

struct Wide {  // a 128-bit unsigned integer
    uint64_t high, low;
};

Wide multiply(uint64_t a, uint64_t b) {
    uint64_t a_low = a & 0xffffffffu, a_high = a >> 32, b_low = b & 0xffffffffu, b_high = b >> 32;
    uint64_t low_low = a_low * b_low, high_low = a_high * b_low, low_high = a_low * b_high;
    uint64_t middle = (low_low >> 32) + (high_low & 0xffffffffu) + (low_high & 0xffffffffu);
    return {a_high * b_high + (high_low >> 32) + (low_high >> 32) + (middle >> 32),
            (middle << 32) | (low_low & 0xffffffffu)};
}

// r = x - k pi/2 for pi/4 <= x < 2^53: the quadrant k mod 4 and r as hi + lo.
struct Reduced {
    unsigned quadrant;
    double high, low;
};

Reduced reduce(double x) {
    uint64_t bits = std::bit_cast<uint64_t>(x);
    uint64_t mantissa = (bits & 0x000fffffffffffffu) | 0x0010000000000000u;
    int exponent = static_cast<int>(bits >> 52) - 1075;  // x = mantissa * 2^exponent, -53 <= exponent <= 0

    // P = mantissa * (2/pi * 2^256), five words; x * 2/pi = P * 2^(exponent - 256).
    uint64_t product[5] = {};
    for (int i = 0; i < 4; ++i) {
        Wide part = multiply(mantissa, kTwoOverPi[i]);
        uint64_t sum = product[i] + part.low;
        uint64_t carry = sum < part.low;
        product[i] = sum;
        product[i + 1] += part.high + carry;  // no overflow: the top word only ever holds the high part
    }

    // The two integer bits (the quadrant) and 126 bits of fraction.
    int shift = 256 - exponent - 126;  // 130 .. 183
    int word = shift / 64, bit = shift % 64;
    auto window_word = [&](int at) {
        return bit == 0 ? product[at] : (product[at] >> bit) | (product[at + 1] << (64 - bit));
    };
    uint64_t low = window_word(word), high = window_word(word + 1);  // word is 2: words 2 to 4
    unsigned quadrant = static_cast<unsigned>(high >> 62);
    high &= 0x3fffffffffffffffu;

    // Round to the nearest quadrant: a fraction of one half or more counts
    // from the next one, negatively.
    bool negative = high >> 61;
    if (negative) {
        quadrant = (quadrant + 1) & 3;
        high = (uint64_t{1} << 62) - high - (low != 0);
        low = -low;
    }

    // r = fraction * pi/2, from 2^-126 * 2^-126 units: a 252-bit product of
    // the 125-bit fraction and the 127-bit pi/2.
    Wide a = multiply(low, kHalfPiLow), b = multiply(low, kHalfPiHigh), c = multiply(high, kHalfPiLow),
         d = multiply(high, kHalfPiHigh);
    uint64_t r[4];
    r[0] = a.low;
    uint64_t sum1 = a.high + b.low, carry1 = sum1 < b.low;
    uint64_t sum2 = sum1 + c.low, carry2 = sum2 < c.low;
    r[1] = sum2;
    uint64_t sum3 = b.high + c.high, carry3 = sum3 < c.high;
    uint64_t sum4 = sum3 + d.low, carry4 = sum4 < d.low;
    uint64_t sum5 = sum4 + carry1 + carry2, carry5 = sum5 < sum4;
    r[2] = sum5;
    r[3] = d.high + carry3 + carry4 + carry5;

    // The leading 106 bits as two doubles, each exact.
    int top_word = 3;
    while (top_word > 0 && r[top_word] == 0) --top_word;
    if (r[top_word] == 0) return {quadrant, 0.0, 0.0};
    int top_bit = 63 - std::countl_zero(r[top_word]) + 64 * top_word;  // 0-based position of the leading bit
    // The 64 bits whose top one is at position `top`, zeros below position 0.
    auto window = [&](int top) -> uint64_t {
        int bottom = top - 63;
        if (bottom <= -64) return 0;
        if (bottom < 0) return r[0] << -bottom;
        int at = bottom / 64, shift = bottom % 64;
        uint64_t value = r[at] >> shift;
        if (shift != 0 && at < 3) value |= r[at + 1] << (64 - shift);
        return value;
    };
    double high_part = std::ldexp(static_cast<double>(window(top_bit) >> 11), top_bit - 52 - 252);
    double low_part = std::ldexp(static_cast<double>(window(top_bit - 53) >> 11), top_bit - 105 - 252);
    if (negative) {
        high_part = -high_part;
        low_part = -low_part;
    }
    return {quadrant, high_part, low_part};
}

// cos and sin of |h| <= pi/4 to about 2^-25 of their value (Taylor to
// the h^8 and h^9 terms): all the correction term below needs, since lo is
// below half a unit of hi, and one call of the runtime fewer.
double rough_cos(double h) {
    double s = h * h;
    return 1.0 - s * (1.0 / 2 - s * (1.0 / 24 - s * (1.0 / 720 - s * (1.0 / 40320))));
}
double rough_sin(double h) {
    double s = h * h;
    return h * (1.0 - s * (1.0 / 6 - s * (1.0 / 120 - s * (1.0 / 5040 - s * (1.0 / 362880)))));
}

// sin(hi + lo) and cos(hi + lo) for |hi| <= pi/4, lo below hi's last unit.
double sin_of(double high, double low) { return std::sin(high) + low * rough_cos(high); }
double cos_of(double high, double low) { return std::cos(high) - low * rough_sin(high); }

constexpr double kQuarterPi = 0.78539816339744828;  // below pi/4: no reduction

}  // namespace

double sin_reduced_exactly(double x) {
    double magnitude = std::fabs(x);
    if (!(magnitude >= kQuarterPi)) return std::sin(x);
    Reduced r = reduce(magnitude);
    double value;
    switch (r.quadrant) {
        case 0: value = sin_of(r.high, r.low); break;
        case 1: value = cos_of(r.high, r.low); break;
        case 2: value = -sin_of(r.high, r.low); break;
        default: value = -cos_of(r.high, r.low); break;
    }
    return x < 0 ? -value : value;
}

double cos_reduced_exactly(double x) {
    double magnitude = std::fabs(x);
    if (!(magnitude >= kQuarterPi)) return std::cos(x);
    Reduced r = reduce(magnitude);
    switch (r.quadrant) {
        case 0: return cos_of(r.high, r.low);
        case 1: return -sin_of(r.high, r.low);
        case 2: return -cos_of(r.high, r.low);
        default: return sin_of(r.high, r.low);
    }
}

}  // namespace tallymat::mathlayer
