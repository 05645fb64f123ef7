/* A host that calls the library in every floating-point state that matters
 * to it (support/host_fp_states.h).  In each state every formula,
 * whether it succeeds, fails, overflows or underflows, must give the bits
 * and codes of the default state, without a signal, and the whole state
 * after each exported call must be what it was before it, flags included.
 * Each formula is evaluated twice, so that at TALLYMAT_JIT_THRESHOLD=0 both
 * the compiling evaluation and a plain run of the machine code are seen. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include "tallymat.h"

#ifdef FORCE_FP_PATH
/* Built against the library's internals: the way of keeping the host's
 * state of the given name instead of the one chosen for this CPU
 * (support/force_fp_path.cpp). */
int force_fp_path(const char* path);
#define SKIPPED 77
#endif

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
    {"1e-320*x", 1e10}, {".1e-300*1e-300", 0}, {"x*x*x", 1e-200}, {"x^2", 1e300}, {"x mod 0.75", 1e-310},
    {"x+", 1}, {"ln(x", 1}, {"cos(x)+lg(x)", 0.7}, {"arccos(x)-arctg(x)*x^1.5", 0.3}, {"sin(x)", 1e7},
    {"exp(x)", 0.125}, {"x^x", 3}, {"sin(x)+tg(x)", 1570.7963267948965 /* 500 pi: the accurate path */},
    {"sin(x)*1e300", 1e-310 /* a subnormal through st(0) in the 32-bit DLL, not returned */},
    {"x**1070*1e300", 0.5 /* a subnormal through the helper of ** */},
};
enum { kFormulaCount = sizeof kFormulas / sizeof kFormulas[0] };

#include "support/host_fp_states.h"


struct outcome {
    unsigned long long bits[2];
    int code[2];
};

static int environment_changes; /* exported calls that left the state other than they found it */

/* On 32-bit x86 a double comes back in an x87 register, and loading a
 * subnormal there sets the x87 denormal flag: the calling convention's
 * doing, in calcpost's last instruction, after the library has restored the
 * host's state.  That flag is not held against a calcpost that returned a
 * subnormal; one raised by a subnormal met on the way is. */
#define X87_FLAGS_OF_A_RETURNED_SUBNORMAL 0x02

#if defined(__i386__)
/* By its bits: a comparison would trap or flush in some of the states. */
static int is_subnormal(double value) {
    unsigned long long bits;
    memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7FF0000000000000ull) == 0 && (bits << 1) != 0;
}
#endif

static void check_state_kept(struct fp_state before, const char* call, const struct formula* f, const char* state,
                             double returned) {
    struct fp_state after = read_state();
#if defined(__i386__)
    if (is_subnormal(returned))
        after.x87_status &= (unsigned short)~(X87_FLAGS_OF_A_RETURNED_SUBNORMAL & ~before.x87_status);
#else
    (void)returned;
#endif
    if (memcmp(&after, &before, sizeof after) != 0) {
        fprintf(stderr, "%s: %s of \"%s\" changed the floating-point state\n", state, call, f->text);
        ++environment_changes;
    }
    write_state(before); /* a forgiven flag is sticky: it would hide the next call's */
}

static struct outcome evaluate(const struct formula* f, const char* state) {
    struct outcome out;
    struct fp_state before;
    int h, i;
    memset(&out, 0, sizeof out);
    vclr();
    vinsert("x", f->x);
    before = read_state();
    h = exprpost(f->text);
    check_state_kept(before, "exprpost", f, state, 0);
    if (h < 0) {
        out.code[0] = out.code[1] = 100 + geterrnum();
        return out;
    }
    for (i = 0; i < 2; ++i) {
        double value;
        before = read_state();
        value = calcpost(h);
        check_state_kept(before, "calcpost", f, state, value);
        out.code[i] = geterrnum();
        memcpy(&out.bits[i], &value, sizeof value);
    }
    exprdelete(h);
    return out;
}

int main(int argc, char** argv) {
    struct outcome expected[kFormulaCount];
    int s, i, failures = 0;

#ifdef FORCE_FP_PATH
    int forced = argc < 2 ? 0 : force_fp_path(argv[1]);
    if (forced < 0) {
        printf("%s: this CPU lacks AVX-512 or the system does not save its state; skipped\n", argv[1]);
        return SKIPPED;
    }
    if (forced == 0) {
        fprintf(stderr, "usage: %s always|when-changed|sum-probe|read-probe\n", argv[0]);
        return 2;
    }
#else
    (void)argc;
    (void)argv;
#endif

    const struct fp_state initial = read_state();
    for (i = 0; i < kFormulaCount; ++i) expected[i] = evaluate(&kFormulas[i], "default");

    for (s = 0; s < kStateCount; ++s) {
        write_state(kStates[s].state);  /* bits this CPU lacks read as zero afterwards */
        for (i = 0; i < kFormulaCount; ++i) {
            struct outcome got = evaluate(&kFormulas[i], kStates[s].name);
            if (memcmp(&got, &expected[i], sizeof got) != 0) {
                fprintf(stderr, "%s: %s with x = %g: %016llx code %d, default state %016llx code %d\n",
                        kStates[s].name, kFormulas[i].text, kFormulas[i].x, got.bits[1], got.code[1],
                        expected[i].bits[1], expected[i].code[1]);
                ++failures;
            }
        }
        write_state(initial);
    }
    failures += environment_changes;
    printf("%d host states, %d formulas, %d failures\n", kStateCount, kFormulaCount, failures);
    return failures == 0 ? 0 : 1;
}
