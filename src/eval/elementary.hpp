// The library's own exp, ln, lg and powers.  Each result is correctly
// rounded: the double nearest to the exact value (ties to even), the same
// bits on every target whatever its C runtime or the host's floating-point
// settings (the callers run them under the library's own environment).
//
// Each function first computes in double-double with a proven error bound
// and keeps the result when both ends of the error interval round alike;
// the rare rest goes to an accurate path in 320-bit fixed point whose error
// is below 2^-160 of the result.  Powers whose exact value is a double or a
// tie between two are recognised and computed exactly.
//
// The rules of the math layer (domains, bounds, special values) are applied
// before these are called: each states the arguments it takes.
#pragma once

namespace tallymat::elementary {

// e^x for -708.396 < x < 709.78 (results above 2^-1022 and finite).
double exp(double x);

// ln x and log10 x for every positive finite x, subnormals included.
double log(double x);
double log10(double x);

// x^y for finite nonzero x and finite y with |y ln|x|| below 709.79: x
// negative only with an integer y (the result then takes the sign of x^y).
// Results below 2^-1022 round as subnormals.
double pow(double x, double y);

}  // namespace tallymat::elementary
