/* A host that changes its floating-point environment before calling the
 * library: traps unmasked, rounding upward, or flush-to-zero with
 * denormals-are-zero.  One mode per process.  Every formula must give the
 * bits and codes it gives in the default environment, without a signal, and
 * the host's environment must be as it was afterwards. */
#define _GNU_SOURCE
#include <fenv.h>
#include <stdio.h>
#include <string.h>
#include <xmmintrin.h>

#include "tallymat.h"

#define MXCSR_FTZ_DAZ 0x8040u

struct formula {
    const char* text;
    double x;
};

static const struct formula kFormulas[] = {
    {"1e400", 0}, {"1e300*1e300", 0}, {"2**2000", 0}, {"2**-2000", 0}, {"x*0", 1.0 / 0.0},
    {"x-x", 1.0 / 0.0}, {"1/x", 1e-310}, {"1/x", 0.0 / 0.0}, {"sign(x)", 0.0 / 0.0},
    {"ez(x)", 0.0 / 0.0}, {"x/1e10", 1e-300}, {"x*1", 4.9e-324}, {"x*0.5", 2.2250738585072014e-308},
    {"0.1+0.2", 0}, {"1/3", 0}, {"x/3", 2.0}, {"sin(x)", 1e-310}, {"exp(x)", -745.0}, {"exp(x)", -700},
    {"2^x", -1070}, {"x^0.5", 2.0}, {"x^2", 1.0000001}, {"ln(x)", 3.0}, {"sqrt(x)", -1},
    {"10 div x", 3}, {"-7 mod x", 3}, {"x mod 0", 1}, {"arcsin(x)", 2}, {"tg(x)", 1e17},
    {"1e-320*x", 1e10}, {".1e-300*1e-300", 0},
};
enum { kCount = sizeof kFormulas / sizeof kFormulas[0] };

struct outcome {
    unsigned long long bits;
    int code;
};

static struct outcome evaluate(const struct formula* f) {
    struct outcome out = {0, 0};
    int h;
    double value;
    vclr();
    vinsert("x", f->x);
    h = exprpost(f->text);
    if (h < 0) {
        out.code = 100 + geterrnum();
        return out;
    }
    value = calcpost(h);
    out.code = geterrnum();
    memcpy(&out.bits, &value, sizeof value);
    exprdelete(h);
    return out;
}

struct environment {
    unsigned mxcsr;
    int round, traps, flags;
};

static struct environment current(void) {
    struct environment e;
    e.mxcsr = _mm_getcsr();
    e.round = fegetround();
    e.traps = fegetexcept();
    e.flags = fetestexcept(FE_ALL_EXCEPT);
    return e;
}

int main(int argc, char** argv) {
    struct outcome expected[kCount];
    struct environment before, after;
    const char* mode = argc > 1 ? argv[1] : "";
    int i, failures = 0;

    for (i = 0; i < kCount; ++i) expected[i] = evaluate(&kFormulas[i]);

    feclearexcept(FE_ALL_EXCEPT);
    if (strcmp(mode, "traps") == 0) {
        feenableexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID | FE_UNDERFLOW);
    } else if (strcmp(mode, "upward") == 0) {
        fesetround(FE_UPWARD);
    } else if (strcmp(mode, "ftz-daz") == 0) {
        _mm_setcsr(_mm_getcsr() | MXCSR_FTZ_DAZ);
    } else {
        fprintf(stderr, "usage: fp_environment_host traps|upward|ftz-daz\n");
        return 2;
    }
    feraiseexcept(FE_INEXACT);  /* a flag of the host's own, to be kept */
    before = current();

    for (i = 0; i < kCount; ++i) {
        struct outcome got = evaluate(&kFormulas[i]);
        if (got.bits != expected[i].bits || got.code != expected[i].code) {
            fprintf(stderr, "%s with x = %g: %016llx code %d, default environment %016llx code %d\n",
                    kFormulas[i].text, kFormulas[i].x, got.bits, got.code, expected[i].bits, expected[i].code);
            ++failures;
        }
    }

    after = current();
    if (memcmp(&before, &after, sizeof before) != 0) {
        fprintf(stderr, "host environment changed: mxcsr %04x -> %04x, round %d -> %d, traps %x -> %x, flags %x -> %x\n",
                before.mxcsr, after.mxcsr, before.round, after.round, before.traps, after.traps, before.flags,
                after.flags);
        ++failures;
    }
    printf("%s: %d formulas, %d failures\n", mode, kCount, failures);
    return failures == 0 ? 0 : 1;
}
