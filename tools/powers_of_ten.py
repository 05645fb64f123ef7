#!/usr/bin/env python3
"""Writes src/translate/powers_of_ten.inc: 10^k correctly rounded to a double
for k = -323 .. 308, by exact rational arithmetic (Fraction to float rounds
to nearest, ties to even).  The scanner scales number literals by these, so
that no C runtime's pow decides what a literal reads as.

    python3 tools/powers_of_ten.py > src/translate/powers_of_ten.inc
"""
from fractions import Fraction

LOW, HIGH = -323, 308

print("// 10^k correctly rounded, k = %d .. %d; written by tools/powers_of_ten.py." % (LOW, HIGH))
for k in range(LOW, HIGH + 1):
    print("    %s,  // 1e%d" % (float(Fraction(10) ** k).hex(), k))
