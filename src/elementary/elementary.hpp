// The library's own exp, ln, lg, powers, sine, cosine, tangent and arc
// functions.  Each result is correctly
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

#include <cstdint>
#include <string_view>

#include "core/visibility.hpp"

namespace tallymat::elementary {

// How the fast paths compute: Dekker's products in the compiler's double
// arithmetic; the CPU's fused multiply-add; or (x86-64 with AVX-512F)
// instructions that each round to nearest themselves and raise no flag,
// which code running in the host's MXCSR calls.  The bits are the same
// every way.  The library's own calls (run under its MXCSR) take Dekker's
// or the fused kind, chosen once at load; the tests force each
// (set_products is false when the CPU or the build lacks the kind).
enum class Products : uint8_t { kDekkers, kFused, kOwnRounding };
constexpr const char* name_of(Products products) {
    return products == Products::kDekkers ? "Dekker's" : products == Products::kFused ? "fused" : "own-rounding";
}
// The tools' options that force a kind: --plain and --own-rounding.
constexpr bool names_products(const char* option, Products& products) {
    std::string_view o = option;
    if (o == "--plain") products = Products::kDekkers;
    else if (o == "--own-rounding") products = Products::kOwnRounding;
    else return false;
    return true;
}

struct ElementaryFunctions {
    double(TALLYMAT_SSE_CALL* exp)(double);
    double(TALLYMAT_SSE_CALL* log)(double);
    double(TALLYMAT_SSE_CALL* log10)(double);
    double(TALLYMAT_SSE_CALL* pow)(double, double);
    double(TALLYMAT_SSE_CALL* sin)(double);
    double(TALLYMAT_SSE_CALL* cos)(double);
    double(TALLYMAT_SSE_CALL* tan)(double);
    double(TALLYMAT_SSE_CALL* asin)(double);
    double(TALLYMAT_SSE_CALL* acos)(double);
    double(TALLYMAT_SSE_CALL* atan)(double);
    Products products;
};
extern TALLYMAT_HIDDEN ElementaryFunctions elementary_functions;
// At load, after core::read_cpu_features: the fused kind where the CPU has it.
void choose_elementary_products();
bool set_products(Products products);

// The functions that round in their own instructions, for machine code
// that runs in the host's MXCSR (with neither DAZ nor FTZ set); null
// where the build or the CPU lacks them.  Their rare accurate paths
// switch to the library's MXCSR and back.
const ElementaryFunctions* own_rounding_functions();

// e^x for -708.396 < x < 709.78 (results above 2^-1022 and finite).
inline double exp(double x) { return elementary_functions.exp(x); }

// ln x and log10 x for every positive finite x, subnormals included.
inline double log(double x) { return elementary_functions.log(x); }
inline double log10(double x) { return elementary_functions.log10(x); }

// x^y for finite nonzero x and finite y with |y ln|x|| below 709.79: x
// negative only with an integer y (the result then takes the sign of x^y).
// Results below 2^-1022 round as subnormals.
inline double pow(double x, double y) { return elementary_functions.pow(x, y); }

// sin x, cos x and tan x for |x| < 2^53 (the math layer reports a total
// loss beyond): x is reduced exactly, by integer arithmetic on the bits of 2/pi.
inline double sin(double x) { return elementary_functions.sin(x); }
inline double cos(double x) { return elementary_functions.cos(x); }
inline double tan(double x) { return elementary_functions.tan(x); }

// arcsin x and arccos x for |x| <= 1; arctg x for every x but NaN.
inline double asin(double x) { return elementary_functions.asin(x); }
inline double acos(double x) { return elementary_functions.acos(x); }
inline double atan(double x) { return elementary_functions.atan(x); }

}  // namespace tallymat::elementary
