// Math error capture: guarded entries over the standard math functions.
//
// Each guarded entry classifies its arguments by their bits before calling
// the standard function.  A call the rules class as a failure fills a math
// error record, hands it to _matherr and returns the proposed result; the
// standard library's own signalling (errno, exception flags) is never used.
#pragma once

#include <cstdint>

namespace tallymat::mathlayer {

enum Kind : int32_t {
    kDomain = 1,     // argument outside the domain
    kSingular = 2,   // argument is a singularity
    kOverflow = 3,   // result too large for a double
    kUnderflow = 4,  // result too small for a double
    kTotalLoss = 5,  // argument too large for a meaningful result
};

struct MathErrorRecord {
    int32_t kind;
    const char* name;  // the failing function, a constant string
    double arg1;
    double arg2;       // pow's exponent; 0.0 for one-argument functions
    double retval;     // the proposed result
};

struct MathErrorState {
    int32_t flag;  // 1 once a failure was captured since the current evaluation began
    MathErrorRecord captured;
};

extern MathErrorState math_error_state;

// The library's single hook: captures the record, sets the flag, claims the failure.
int _matherr(MathErrorRecord* record);

// Last-error code for a captured kind (13, 12, 14, 15, 16).
int32_t code_for_kind(int32_t kind);

double sin(double x);
double cos(double x);
double tan(double x);
double exp(double x);
double log(double x);
double log10(double x);
double sqrt(double x);
double asin(double x);
double acos(double x);
double pow(double x, double y);
// These never fail.
double atan(double x);
double fabs(double x);
double floor(double x);

}  // namespace tallymat::mathlayer
