/* A host that calls the library in every floating-point state that matters
 * to it: each of the six sticky flags already set, all clear, and each
 * control bit (DAZ, the six masks, the two rounding bits, FTZ) changed on its
 * own or in the combinations hosts use (traps unmasked, rounding upward,
 * -ffast-math's FTZ with DAZ).  In each state every formula, whether it
 * succeeds, fails, overflows or underflows, must give the bits and codes of
 * the default state, without a signal, and MXCSR after each exported call
 * must be what it was before it, flags included.  Each formula is evaluated
 * twice, so that at TALLYMAT_JIT_THRESHOLD=0 both the compiling evaluation
 * and a plain run of the machine code are seen. */
#define _GNU_SOURCE
#include <fenv.h>
#include <stdio.h>
#include <string.h>
#include <xmmintrin.h>

#include "tallymat.h"

#ifdef FORCE_RESTORE_STRATEGY
/* Built against the library's internals: the exit strategy of the given
 * name instead of the one chosen for this CPU. */
int force_host_mxcsr_restore(const char* strategy);
#endif

#define DEFAULT_MXCSR 0x1F80u /* every exception masked, nearest, flags clear */
#define FLAG_INEXACT 0x20u

struct formula {
    const char* text;
    double x;
};

static const struct formula kFormulas[] = {
    {"1e400", 0}, {"1e300*1e300", 0}, {"2**2000", 0}, {"2**-2000", 0}, {"x*0", 1.0 / 0.0},
    {"x-x", 1.0 / 0.0}, {"1/x", 1e-310}, {"1/x", 0.0 / 0.0}, {"sign(x)", 0.0 / 0.0},
    {"ez(x)", 0.0 / 0.0}, {"x/1e10", 1e-300}, {"x*1", 4.9e-324}, {"x*0.5", 2.2250738585072014e-308},
    {"0.1+0.2", 0}, {"1/3", 0}, {"x/3", 2.0}, {"x+1", 2.0}, {"sin(x)", 1e-310}, {"exp(x)", -745.0},
    {"exp(x)", -700}, {"2^x", -1070}, {"x^0.5", 2.0}, {"x^2", 1.0000001}, {"x^3", 1e200}, {"ln(x)", 3.0},
    {"sqrt(x)", -1}, {"10 div x", 3}, {"-7 mod x", 3}, {"x mod 0", 1}, {"arcsin(x)", 2}, {"tg(x)", 1e17},
    {"1e-320*x", 1e10}, {".1e-300*1e-300", 0}, {"x*x*x", 1e-200}, {"x+", 1}, {"ln(x", 1},
};
enum { kFormulaCount = sizeof kFormulas / sizeof kFormulas[0] };

struct host_state {
    const char* name;
    unsigned mxcsr;
};

static const struct host_state kStates[] = {
    {"flags clear", DEFAULT_MXCSR},
    {"invalid flag set", DEFAULT_MXCSR | 0x01},
    {"denormal flag set", DEFAULT_MXCSR | 0x02},
    {"divide-by-zero flag set", DEFAULT_MXCSR | 0x04},
    {"overflow flag set", DEFAULT_MXCSR | 0x08},
    {"underflow flag set", DEFAULT_MXCSR | 0x10},
    {"inexact flag set", DEFAULT_MXCSR | FLAG_INEXACT},
    {"every flag set", DEFAULT_MXCSR | 0x3F},
    {"denormals are zero", DEFAULT_MXCSR | 0x40 | FLAG_INEXACT},
    {"invalid trap", (DEFAULT_MXCSR & ~0x0080u) | FLAG_INEXACT},
    {"denormal trap", (DEFAULT_MXCSR & ~0x0100u) | FLAG_INEXACT},
    {"divide-by-zero trap", (DEFAULT_MXCSR & ~0x0200u) | FLAG_INEXACT},
    {"overflow trap", (DEFAULT_MXCSR & ~0x0400u) | FLAG_INEXACT},
    {"underflow trap", (DEFAULT_MXCSR & ~0x0800u) | FLAG_INEXACT},
    {"inexact trap", DEFAULT_MXCSR & ~0x1000u},
    {"rounding down", DEFAULT_MXCSR | 0x2000 | FLAG_INEXACT},
    {"rounding up", DEFAULT_MXCSR | 0x4000 | FLAG_INEXACT},
    {"rounding toward zero", DEFAULT_MXCSR | 0x6000},
    {"flush to zero", DEFAULT_MXCSR | 0x8000 | FLAG_INEXACT},
    {"flush to zero, denormals are zero", DEFAULT_MXCSR | 0x8040 | FLAG_INEXACT},
    {"four traps unmasked", (DEFAULT_MXCSR & ~0x0E80u) | FLAG_INEXACT},
};
enum { kStateCount = sizeof kStates / sizeof kStates[0] };

struct outcome {
    unsigned long long bits[2];
    int code[2];
};

static int environment_changes; /* exported calls that left MXCSR other than they found it */

static void check_mxcsr_kept(unsigned before, const char* call, const struct formula* f, const char* state) {
    unsigned after = _mm_getcsr();
    if (after != before) {
        fprintf(stderr, "%s: %s of \"%s\" changed MXCSR %04x -> %04x\n", state, call, f->text, before, after);
        _mm_setcsr(before);
        ++environment_changes;
    }
}

static struct outcome evaluate(const struct formula* f, const char* state) {
    struct outcome out;
    unsigned before;
    int h, i;
    memset(&out, 0, sizeof out);
    vclr();
    vinsert("x", f->x);
    before = _mm_getcsr();
    h = exprpost(f->text);
    check_mxcsr_kept(before, "exprpost", f, state);
    if (h < 0) {
        out.code[0] = out.code[1] = 100 + geterrnum();
        return out;
    }
    for (i = 0; i < 2; ++i) {
        double value;
        before = _mm_getcsr();
        value = calcpost(h);
        check_mxcsr_kept(before, "calcpost", f, state);
        out.code[i] = geterrnum();
        memcpy(&out.bits[i], &value, sizeof value);
    }
    exprdelete(h);
    return out;
}

int main(int argc, char** argv) {
    struct outcome expected[kFormulaCount];
    int s, i, failures = 0;

#ifdef FORCE_RESTORE_STRATEGY
    if (argc < 2 || !force_host_mxcsr_restore(argv[1])) {
        fprintf(stderr, "usage: %s always|when-changed\n", argv[0]);
        return 2;
    }
#else
    (void)argc;
    (void)argv;
#endif

    _mm_setcsr(DEFAULT_MXCSR);
    for (i = 0; i < kFormulaCount; ++i) expected[i] = evaluate(&kFormulas[i], "default");

    for (s = 0; s < kStateCount; ++s) {
        int round, traps;
        _mm_setcsr(kStates[s].mxcsr);
        round = fegetround();
        traps = fegetexcept();
        for (i = 0; i < kFormulaCount; ++i) {
            struct outcome got = evaluate(&kFormulas[i], kStates[s].name);
            if (memcmp(&got, &expected[i], sizeof got) != 0) {
                fprintf(stderr, "%s: %s with x = %g: %016llx code %d, default state %016llx code %d\n",
                        kStates[s].name, kFormulas[i].text, kFormulas[i].x, got.bits[1], got.code[1],
                        expected[i].bits[1], expected[i].code[1]);
                ++failures;
            }
        }
        if (fegetround() != round || fegetexcept() != traps) {
            fprintf(stderr, "%s: the x87 or SSE rounding or traps changed\n", kStates[s].name);
            ++failures;
        }
        _mm_setcsr(DEFAULT_MXCSR);
    }
    failures += environment_changes;
    printf("%d host states, %d formulas, %d failures\n", kStateCount, kFormulaCount, failures);
    return failures == 0 ? 0 : 1;
}
