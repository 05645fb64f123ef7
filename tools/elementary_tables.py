#!/usr/bin/env python3
"""Writes the tables and constants of the library's own elementary functions,
from 400-bit arithmetic (mpmath): src/elementary/exponential_tables.inc (exp, ln
and lg) and src/elementary/trigonometric_tables.inc (sine, cosine, tangent and
the arc functions).  Every entry is the double nearest to its value, and a
pair (hi, lo) is the nearest double and the nearest double to what remains;
the fixed-point entries are the nearest multiples of 2^-256.

    python3 tools/elementary_tables.py src/elementary
"""
import sys

from mpmath import mp, mpf, log, exp, nint, floor, pi, sin, cos, atan, asin, sqrt, taylor, chebyfit, polyval, linspace

mp.prec = 400


def nearest(value):
    """The double nearest to value (mpmath rounds to nearest, ties to even)."""
    return float(mp.mpf(value))


def pair(value):
    hi = nearest(value)
    return hi, nearest(value - mpf(hi))


def rounded_to_bits(value, bits):
    """value rounded to `bits` significant bits."""
    exponent = int(floor(log(abs(value), 2)))
    unit = mpf(2) ** (exponent - bits + 1)
    return nint(value / unit) * unit


def hexes(*values):
    return ", ".join(v.hex() for v in values)


LN2 = log(2)
out = ["// Tables and constants of exp, ln and lg; written by tools/elementary_tables.py."]

# ln 2 for the logarithm: kLn2High has 42 bits, so that k * kLn2High is exact
# for |k| < 2^11, the binary exponent of any double.
ln2_high = rounded_to_bits(LN2, 42)
out.append("inline constexpr double kLn2High = %s, kLn2Low = %s;" % (nearest(ln2_high).hex(), nearest(LN2 - ln2_high).hex()))
# ln 2 / 256 for exp: kExpStepHigh has 34 bits, so that k * kExpStepHigh is
# exact for |k| < 2^19.
step = LN2 / 256
step_high = rounded_to_bits(step, 34)
out.append("inline constexpr double kExpStepHigh = %s, kExpStepLow = %s;" % (nearest(step_high).hex(), nearest(step - step_high).hex()))
out.append("inline constexpr double kStepsPerUnit = %s;  // 256 / ln 2" % hexes(nearest(256 / LN2)))
out.append("inline constexpr double kInverseLn2 = %s;  // 1 / ln 2" % hexes(nearest(1 / LN2)))
out.append("inline constexpr DoubleDouble kInverseLn10 = {%s};  // 1 / ln 10" % hexes(*pair(1 / log(10))))
# exp's series: (e^s - 1 - s)/s^2 on |s| <= 2^-9.49 (pow's reduced arguments
# included) by a cubic fitted at Chebyshev points, its coefficients rounded
# to doubles; s^2 times it stays within 2^-69.3 of e^s - 1 - s.
reach = mpf(2) ** -9.49
quotient = lambda s: (exp(s) - 1 - s) / s ** 2 if s else mpf(1) / 2
cubic = [nearest(c) for c in chebyfit(quotient, [-reach, reach], 4)]
worst = max(abs(s ** 2 * polyval([mpf(c) for c in cubic], s) - (exp(s) - 1 - s)) for s in linspace(-reach, reach, 4001))
assert worst < mpf(2) ** -69.3, float(log(worst, 2))
out.append("inline constexpr double kExpSeries[4] = {%s};  // s^2 (c0 + c1 s + ...) is e^s - 1 - s within 2^-69.3" %
           hexes(*reversed(cubic)))

out.append("")
out.append("// 2^(j/256), j = 0 .. 255.")
out.append("inline constexpr DoubleDouble kExpTable[256] = {")
for j in range(256):
    out.append("    {%s}," % hexes(*pair(mpf(2) ** (mpf(j) / 256))))
out.append("};")

# The logarithm's reduction: m in [0.6875, 1.375) falls in interval i (of
# width 2^-9 below 1, 2^-8 above), and c brings r = m c - 1 below 2^-8.  c is
# a multiple of 2^-8 for m below 1 and of 2^-9 above, so that m c - 1 is a double
# (its bits run from 2^-9 down to m's last place times c's), exact in one
# fused multiply-add; among those multiples, c is the one that brings the
# interval closest to 1.  The two intervals beside 1 take c = 1, so that ln x
# near 1 is the series alone, with no cancellation.  -ln c is split at 2^-42,
# the last place of k ln2's upper part, so that their sum is exact; elsewhere
# |ln c| is at least |r|, so that adding r needs no reordering.
out.append("")
out.append("// Interval i of m: c, then -ln c as a multiple of 2^-42 and the double nearest to the rest.")
out.append("inline constexpr LogTableRow kLogTable[256] = {")
largest_r = mpf(0)
for i in range(256):
    if i < 160:
        low, width, step = mpf(0.6875) + i * mpf(2) ** -9, mpf(2) ** -9, mpf(2) ** -8
    else:
        low, width, step = 1 + (i - 160) * mpf(2) ** -8, mpf(2) ** -8, mpf(2) ** -9
    high = low + width - (mpf(2) ** -53 if i < 160 else mpf(2) ** -52)  # the interval's last m

    def reach(c):
        return max(abs(low * c - 1), abs(high * c - 1))

    if i in (159, 160):
        c = mpf(1)
    else:
        middle = nint(1 / ((low + high) / 2) / step) * step
        c = min((middle + j * step for j in (-1, 0, 1)), key=reach)
    r = reach(c)
    assert r < mpf(2) ** -8, i
    log_high = nint(-log(c) * mpf(2) ** 42) / mpf(2) ** 42
    assert c == 1 or abs(log_high) >= r, i
    largest_r = max(largest_r, r)
    out.append("    {%s, %s, %s}," % (nearest(c).hex(), nearest(log_high).hex(), nearest(-log(c) - log_high).hex()))
out.append("};")
out.append("inline constexpr double kLargestReduced = %s;  // the largest |m c - 1|" % nearest(largest_r).hex())
folder = sys.argv[1] if len(sys.argv) > 1 else "src/elementary"
with open(folder + "/exponential_tables.inc", "w") as f:
    f.write("\n".join(out) + "\n")


def fraction_limbs(value):
    """The 256 fraction bits of 0 <= value < 1, rounded, as eight 32-bit limbs, lowest first."""
    n = int(nint(value * mpf(2) ** 256))
    assert 0 <= n < 2 ** 256
    return ", ".join("0x%08x" % ((n >> (32 * i)) & 0xffffffff) for i in range(8))


HALF_PI = pi / 2
out = ["// Tables and constants of sine, cosine, tangent and the arc functions;",
       "// written by tools/elementary_tables.py."]
# pi/2 in three parts for the reduction of |x| < 2^20: the first two have
# 33 bits, so that k times either is exact for k < 2^20.
c1 = rounded_to_bits(HALF_PI, 33)
c2 = rounded_to_bits(HALF_PI - c1, 33)
out.append("inline constexpr double kHalfPi1 = %s, kHalfPi2 = %s, kHalfPi3 = %s;" % (
    nearest(c1).hex(), nearest(c2).hex(), nearest(HALF_PI - c1 - c2).hex()))
out.append("inline constexpr double kTwoOverPi = %s;" % nearest(2 / pi).hex())
# The largest argument that needs no reduction: the double nearest pi/4 lies below it.
quarter_pi = nearest(pi / 4)
assert mpf(quarter_pi) < pi / 4
out.append("inline constexpr double kQuarterPi = %s;  // just below pi/4: no reduction up to it" % quarter_pi.hex())
out.append("inline constexpr DoubleDouble kHalfPi = {%s}, kPi = {%s};" % (hexes(*pair(HALF_PI)), hexes(*pair(pi))))
# The third part of pi/2 after the pair, for the reduction with fused products.
half_pi_high, half_pi_low = pair(HALF_PI)
out.append("inline constexpr double kHalfPiTail = %s;" % nearest(HALF_PI - mpf(half_pi_high) - mpf(half_pi_low)).hex())
out.append("inline constexpr uint32_t kWideHalfPiFraction[8] = {%s};  // pi/2 - 1" % fraction_limbs(HALF_PI - 1))
# 2/pi to 384 bits after the binary point (its integer part is 0): enough
# for the fraction of x 2/pi to 2^-300, x < 2^53.
two_over_pi = int(floor(2 / pi * mpf(2) ** 384))
out.append("// floor(2/pi 2^384), lowest limb first.")
out.append("inline constexpr uint32_t kTwoOverPiLimbs[12] = {")
limbs = ["0x%08x" % ((two_over_pi >> (32 * i)) & 0xffffffff) for i in range(12)]
out.append("    " + ", ".join(limbs[:6]) + ",")
out.append("    " + ", ".join(limbs[6:]) + "};")

out.append("")
out.append("// sin(i/256) and cos(i/256) as pairs, i = 0 .. 203 (just past pi/4).")
out.append("inline constexpr double kSinCosTable[204][4] = {")
for i in range(204):
    a = mpf(i) / 256
    out.append("    {%s, %s}," % (hexes(*pair(sin(a))), hexes(*pair(cos(a)))))
out.append("};")

out.append("")
out.append("// atan(j/256), j = 0 .. 256.")
out.append("inline constexpr DoubleDouble kAtanTable[257] = {")
for j in range(257):
    out.append("    {%s}," % hexes(*pair(atan(mpf(j) / 256))))
out.append("};")
out.append("")
# Above 1, arctg x = atan b + atan((x - b)/(1 + b x)) with b the middle of
# x's interval: binade e (x in [2^e, 2^(e+1))) is cut in 2^(8-e) intervals
# below 2^8 and is one interval above, so that |x - b|/(1 + b x) <= 2^-9.
# b is x's leading bits with the next one set: the fast path computes it so
# from x, and the table holds atan b alone.
out.append("// Intervals of x > 1 for arctg: atan b as a pair.")
rows = []
for e in range(56):
    parts = 2 ** max(8 - e, 0)
    for k in range(parts):
        b = mpf(2) ** e * (1 + (k + mpf(0.5)) / parts)
        rows.append(atan(b))
assert len(rows) == 558
out.append("inline constexpr DoubleDouble kAtanAboveOne[558] = {")
for value in rows:
    out.append("    {%s}," % hexes(*pair(value)))
out.append("};")
out.append("")
# arcsin near c = j/256: asin(c + h) = A0 + A1 h + ... + A9 h^9 for
# |h| <= 2^-9, the first three coefficients as pairs (their terms reach the
# upper part), the rest as doubles.  The rest of the series stays below
# 2^-78 of the result, and A3 + A4 |h| + ... below 2.
out.append("// asin near j/256, j = 0 .. 180: A0 .. A2 as pairs, A3 .. A9, three zeros.")
out.append("inline constexpr AsinRow kAsinTable[181] = {")
h = mpf(2) ** -9 * (1 + mpf(2) ** -40)
for j in range(181):
    c = mpf(j) / 256
    a = taylor(asin, c, 14)
    rest = sum(abs(a[k]) * h ** k for k in range(10, 15))
    assert rest <= mpf(2) ** -78 * (asin(c - h) if j else h), j
    assert sum(abs(a[k]) * h ** (k - 3) for k in range(3, 10)) < 2, j
    out.append("    {{%s}, {%s}, {%s}, {%s}, {0, 0, 0}}," % (hexes(*pair(a[0])), hexes(*pair(a[1])), hexes(*pair(a[2])),
                                                     hexes(*[nearest(a[k]) for k in range(3, 10)])))
out.append("};")
out.append("")
out.append("// atan(j/256) to 2^-257, j = 0 .. 256: the fraction's limbs, lowest first.")
out.append("inline constexpr uint32_t kWideAtanTable[257][8] = {")
for j in range(257):
    out.append("    {%s}," % fraction_limbs(atan(mpf(j) / 256)))
out.append("};")
with open(folder + "/trigonometric_tables.inc", "w") as f:
    f.write("\n".join(out) + "\n")
