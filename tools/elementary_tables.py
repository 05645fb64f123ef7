#!/usr/bin/env python3
"""Writes src/eval/elementary_tables.inc: the tables and constants of the
library's own exp, ln and lg, from 400-bit arithmetic (mpmath).  Every
entry is the double nearest to its value, and a pair (hi, lo) is the
nearest double and the nearest double to what remains.

    python3 tools/elementary_tables.py > src/eval/elementary_tables.inc
"""
from mpmath import mp, mpf, log, exp, nint, floor

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
out.append("constexpr double kLn2High = %s, kLn2Low = %s;" % (nearest(ln2_high).hex(), nearest(LN2 - ln2_high).hex()))
# ln 2 / 256 for exp: kExpStepHigh has 34 bits, so that k * kExpStepHigh is
# exact for |k| < 2^19.
step = LN2 / 256
step_high = rounded_to_bits(step, 34)
out.append("constexpr double kExpStepHigh = %s, kExpStepLow = %s;" % (nearest(step_high).hex(), nearest(step - step_high).hex()))
out.append("constexpr double kStepsPerUnit = %s;  // 256 / ln 2" % hexes(nearest(256 / LN2)))
out.append("constexpr DoubleDouble kInverseLn10 = {%s};  // 1 / ln 10" % hexes(*pair(1 / log(10))))

out.append("")
out.append("// 2^(j/256), j = 0 .. 255.")
out.append("constexpr DoubleDouble kExpTable[256] = {")
for j in range(256):
    out.append("    {%s}," % hexes(*pair(mpf(2) ** (mpf(j) / 256))))
out.append("};")

# The logarithm's reduction: m in [0.6875, 1.375) falls in interval i (of
# width 2^-9 below 1, 2^-8 above), and c, a 20-bit approximation to the
# reciprocal of the interval's middle, brings m c within 2^-9.4 of 1.  The two
# intervals beside 1 take c = 1 exactly, so that ln x near 1 is the series
# alone, with no cancellation (|r| < 2^-8 there).
out.append("")
out.append("// Interval i of m: c (20 bits), -ln c as a pair.")
out.append("constexpr LogTableRow kLogTable[256] = {")
for i in range(256):
    if i < 160:
        low, width = mpf(0.6875) + i * mpf(2) ** -9, mpf(2) ** -9
    else:
        low, width = 1 + (i - 160) * mpf(2) ** -8, mpf(2) ** -8
    c = mpf(1) if i in (159, 160) else rounded_to_bits(1 / (low + width / 2), 20)
    hi, lo = pair(-log(c))
    out.append("    {%s, %s, %s}," % (nearest(c).hex(), hi.hex(), lo.hex()))
out.append("};")
print("\n".join(out))
