// Fixed-point numbers of 320 bits, 64 of them above the binary point: the
// accurate path of the elementary functions, taken by the rare arguments whose
// double-double result lies too close to a rounding boundary to decide it.
// Plain 32-bit limbs and 64-bit products, so every target computes the same
// bits; constexpr, so that the constants (ln 2, ln 10) are computed by the
// compiler from their series rather than copied in.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "core/visibility.hpp"

namespace tallymat::elementary {

class Wide {
public:
    static constexpr int kLimbs = 10;
    static constexpr int kFractionBits = 256;  // one unit of the last place is 2^-256
    static constexpr int kBits = 32 * kLimbs;

    constexpr Wide() = default;
    constexpr explicit Wide(int32_t integer) {
        uint64_t magnitude = integer < 0 ? uint64_t{0} - static_cast<uint64_t>(static_cast<int64_t>(integer))
                                         : static_cast<uint64_t>(integer);
        limb_[kFractionBits / 32] = static_cast<uint32_t>(magnitude);
        if (integer < 0) *this = -*this;
    }

    // x exactly where it fits (|x| < 2^63); bits below 2^-256 are cut off.
    static constexpr Wide from_double(double x) {
        uint64_t bits = std::bit_cast<uint64_t>(x);
        int biased = static_cast<int>((bits >> 52) & 0x7ff);
        uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
        if (biased != 0) mantissa |= uint64_t{1} << 52;
        else biased = 1;
        // x = mantissa * 2^(biased - 1075): the mantissa's bit 0 lands at this position.
        Wide result;
        result.set_bits(mantissa, biased - 1075 + kFractionBits);
        return (bits >> 63) ? -result : result;
    }

    // A value in [0, 1) from its fraction's limbs, lowest first (the tables).
    static constexpr Wide from_fraction(const uint32_t (&limbs)[kFractionBits / 32]) {
        Wide result;
        for (int i = 0; i < kFractionBits / 32; ++i) result.limb_[i] = limbs[i];
        return result;
    }

    // 2^exponent, for -256 <= exponent < 63.
    static constexpr Wide power_of_two(int exponent) {
        Wide result;
        result.set_bits(1, exponent + kFractionBits);
        return result;
    }

    constexpr bool negative() const { return (limb_[kLimbs - 1] >> 31) != 0; }
    constexpr bool is_zero() const {
        for (uint32_t l : limb_)
            if (l != 0) return false;
        return true;
    }
    constexpr Wide magnitude() const { return negative() ? -*this : *this; }

    constexpr Wide operator-() const {
        Wide result;
        uint64_t carry = 1;
        for (int i = 0; i < kLimbs; ++i) {
            uint64_t sum = uint64_t{static_cast<uint32_t>(~limb_[i])} + carry;
            result.limb_[i] = static_cast<uint32_t>(sum);
            carry = sum >> 32;
        }
        return result;
    }
    friend constexpr Wide operator+(const Wide& a, const Wide& b) {
        Wide result;
        uint64_t carry = 0;
        for (int i = 0; i < kLimbs; ++i) {
            uint64_t sum = uint64_t{a.limb_[i]} + b.limb_[i] + carry;
            result.limb_[i] = static_cast<uint32_t>(sum);
            carry = sum >> 32;
        }
        return result;
    }
    friend constexpr Wide operator-(const Wide& a, const Wide& b) { return a + -b; }
    friend constexpr bool operator<(const Wide& a, const Wide& b) { return (a - b).negative(); }

    // The product, cut toward zero below 2^-256 (an error under one unit).
    friend constexpr Wide operator*(const Wide& a, const Wide& b) {
        Wide x = a.magnitude(), y = b.magnitude();
        std::array<uint32_t, 2 * kLimbs> full{};
        for (int i = 0; i < kLimbs; ++i) {
            uint64_t carry = 0;
            for (int j = 0; j < kLimbs; ++j) {
                uint64_t t = uint64_t{x.limb_[i]} * y.limb_[j] + full[i + j] + carry;
                full[i + j] = static_cast<uint32_t>(t);
                carry = t >> 32;
            }
            full[i + kLimbs] = static_cast<uint32_t>(carry);
        }
        Wide result;
        for (int i = 0; i < kLimbs; ++i) result.limb_[i] = full[i + kFractionBits / 32];
        return a.negative() != b.negative() ? -result : result;
    }

    // Multiplied by a small integer (the result must fit).
    constexpr Wide times(uint32_t factor) const {
        Wide m = magnitude(), result;
        uint64_t carry = 0;
        for (int i = 0; i < kLimbs; ++i) {
            uint64_t t = uint64_t{m.limb_[i]} * factor + carry;
            result.limb_[i] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        return negative() ? -result : result;
    }

    // Divided by a small integer, cut toward zero.
    constexpr Wide divided_by(uint32_t divisor) const {
        Wide m = magnitude(), result;
        uint64_t remainder = 0;
        for (int i = kLimbs - 1; i >= 0; --i) {
            uint64_t current = (remainder << 32) | m.limb_[i];
            result.limb_[i] = static_cast<uint32_t>(current / divisor);
            remainder = current % divisor;
        }
        return negative() ? -result : result;
    }

    // Divided by 2^count (0 <= count < 32), cut toward zero.
    constexpr Wide shifted_down(int count) const {
        Wide m = magnitude(), result;
        for (int i = 0; i < kLimbs; ++i) {
            uint64_t pair = (i + 1 < kLimbs ? uint64_t{m.limb_[i + 1]} << 32 : 0) | m.limb_[i];
            result.limb_[i] = static_cast<uint32_t>(pair >> count);
        }
        return negative() ? -result : result;
    }

    // 1 / *this for a positive value near 1 to 4: Newton's iteration from
    // the double reciprocal, doubling the correct bits each step.
    constexpr Wide reciprocal() const {
        Wide guess = from_double(1.0 / to_double());
        const Wide two(2);
        for (int step = 0; step < 3; ++step) guess = guess * (two - *this * guess);
        return guess;
    }

    // A double close to the value (for choosing reductions, not for results).
    TALLYMAT_SSE_CALL constexpr double to_double() const {
        Wide m = magnitude();
        double result = 0.0, scale = 0x1p-256;
        for (int i = 0; i < kLimbs; ++i, scale *= 0x1p32) result += m.limb_[i] * scale;
        return negative() ? -result : result;
    }

    constexpr bool bit(int position) const { return (limb_[position / 32] >> (position % 32)) & 1u; }

    // Bits [position, position + 64) of the (nonnegative) value.
    constexpr uint64_t bits_from(int position) const {
        uint64_t result = 0;
        for (int i = 63; i >= 0; --i) result = (result << 1) | (position + i < kBits && position + i >= 0 ? bit(position + i) : 0u);
        return result;
    }

    // Index of the highest set bit of a nonnegative value, -1 for zero.
    constexpr int top_bit() const {
        for (int i = kLimbs - 1; i >= 0; --i)
            if (limb_[i] != 0) return 32 * i + 31 - std::countl_zero(limb_[i]);
        return -1;
    }

    // The value with bits below `position` kept and the rest cleared.
    constexpr Wide bits_below(int position) const {
        Wide result;
        for (int i = 0; i < kLimbs; ++i) {
            int below = position - 32 * i;  // bits of this limb to keep
            result.limb_[i] = below >= 32 ? limb_[i] : below <= 0 ? 0 : limb_[i] & ((uint32_t{1} << below) - 1);
        }
        return result;
    }

private:
    // ORs `value` into the number with its bit 0 at `position` (which may be
    // negative: bits that would fall below bit 0 are dropped).
    constexpr void set_bits(uint64_t value, int position) {
        for (int i = 0; i < 64; ++i) {
            int at = position + i;
            if (((value >> i) & 1u) && at >= 0 && at < kBits) limb_[at / 32] |= uint32_t{1} << (at % 32);
        }
    }

    std::array<uint32_t, kLimbs> limb_{};
};

// ln 2 = 2 atanh(1/3) and ln(5/4) = 2 atanh(1/9), summed by the compiler.
constexpr Wide twice_inverse_hyperbolic_tangent_of_reciprocal(uint32_t n) {
    Wide power = Wide(1).divided_by(n), sum;  // (1/n)^(2i+1)
    for (uint32_t odd = 1; !power.is_zero(); odd += 2) {
        sum = sum + power.divided_by(odd);
        power = power.divided_by(n * n);
    }
    return sum + sum;
}
inline constexpr Wide kWideLn2 = twice_inverse_hyperbolic_tangent_of_reciprocal(3);
inline constexpr Wide kWideLn10 = kWideLn2.times(3) + twice_inverse_hyperbolic_tangent_of_reciprocal(9);

}  // namespace tallymat::elementary
