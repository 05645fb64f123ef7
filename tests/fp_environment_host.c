/* A host that calls the library in every floating-point state that matters
 * to it: each sticky flag already set, all clear, and each control bit
 * changed on its own or in the combinations hosts use (traps unmasked,
 * other rounding, -ffast-math's flush-to-zero).  On x86 that is MXCSR, and
 * on 32-bit x86 the x87 control word too (24- and 53-bit precision, other
 * rounding); on 64-bit Arm FPCR and FPSR.  In each state every formula,
 * whether it succeeds, fails, overflows or underflows, must give the bits
 * and codes of the default state, without a signal, and the whole state
 * after each exported call must be what it was before it, flags included.
 * Each formula is evaluated twice, so that at TALLYMAT_JIT_THRESHOLD=0 both
 * the compiling evaluation and a plain run of the machine code are seen. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "tallymat.h"

#ifdef FORCE_RESTORE_STRATEGY
/* Built against the library's internals: the exit strategy of the given
 * name instead of the one chosen for this CPU. */
int force_host_mxcsr_restore(const char* strategy);
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
    {"1e-320*x", 1e10}, {".1e-300*1e-300", 0}, {"x*x*x", 1e-200}, {"x+", 1}, {"ln(x", 1},
};
enum { kFormulaCount = sizeof kFormulas / sizeof kFormulas[0] };

/* The floating-point state of this CPU, as the host sets and reads it. */
#if defined(__x86_64__) || defined(__i386__)
struct fp_state {
    unsigned mxcsr;
    unsigned short x87_control, x87_status; /* 32-bit x86 only */
};
#define DEFAULT_MXCSR 0x1F80u /* every exception masked, nearest, flags clear */
#define FLAG_INEXACT 0x20u
#define X87_DEFAULT 0x037F /* every exception masked, 64-bit precision, nearest */
#define MXCSR_STATE(bits) {(bits), X87_DEFAULT, 0}

static struct fp_state read_state(void) {
    struct fp_state state = {_mm_getcsr(), 0, 0};
#if defined(__i386__)
    __asm__ volatile("fnstcw %0\n\tfnstsw %1" : "=m"(state.x87_control), "=m"(state.x87_status));
    state.x87_status &= 0x3F; /* the flags; the rest says where the stack is */
#endif
    return state;
}

static void write_state(struct fp_state state) {
    _mm_setcsr(state.mxcsr);
#if defined(__i386__)
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(state.x87_control));
#endif
}

static const struct { const char* name; struct fp_state state; } kStates[] = {
    {"flags clear", MXCSR_STATE(DEFAULT_MXCSR)},
    {"invalid flag set", MXCSR_STATE(DEFAULT_MXCSR | 0x01)},
    {"denormal flag set", MXCSR_STATE(DEFAULT_MXCSR | 0x02)},
    {"divide-by-zero flag set", MXCSR_STATE(DEFAULT_MXCSR | 0x04)},
    {"overflow flag set", MXCSR_STATE(DEFAULT_MXCSR | 0x08)},
    {"underflow flag set", MXCSR_STATE(DEFAULT_MXCSR | 0x10)},
    {"inexact flag set", MXCSR_STATE(DEFAULT_MXCSR | FLAG_INEXACT)},
    {"every flag set", MXCSR_STATE(DEFAULT_MXCSR | 0x3F)},
    {"denormals are zero", MXCSR_STATE(DEFAULT_MXCSR | 0x40 | FLAG_INEXACT)},
    {"invalid trap", MXCSR_STATE((DEFAULT_MXCSR & ~0x0080u) | FLAG_INEXACT)},
    {"denormal trap", MXCSR_STATE((DEFAULT_MXCSR & ~0x0100u) | FLAG_INEXACT)},
    {"divide-by-zero trap", MXCSR_STATE((DEFAULT_MXCSR & ~0x0200u) | FLAG_INEXACT)},
    {"overflow trap", MXCSR_STATE((DEFAULT_MXCSR & ~0x0400u) | FLAG_INEXACT)},
    {"underflow trap", MXCSR_STATE((DEFAULT_MXCSR & ~0x0800u) | FLAG_INEXACT)},
    {"inexact trap", MXCSR_STATE(DEFAULT_MXCSR & ~0x1000u)},
    {"rounding down", MXCSR_STATE(DEFAULT_MXCSR | 0x2000 | FLAG_INEXACT)},
    {"rounding up", MXCSR_STATE(DEFAULT_MXCSR | 0x4000 | FLAG_INEXACT)},
    {"rounding toward zero", MXCSR_STATE(DEFAULT_MXCSR | 0x6000)},
    {"flush to zero", MXCSR_STATE(DEFAULT_MXCSR | 0x8000 | FLAG_INEXACT)},
    {"flush to zero, denormals are zero", MXCSR_STATE(DEFAULT_MXCSR | 0x8040 | FLAG_INEXACT)},
    {"four traps unmasked", MXCSR_STATE((DEFAULT_MXCSR & ~0x0E80u) | FLAG_INEXACT)},
#if defined(__i386__)
    {"x87 at 24-bit precision", {DEFAULT_MXCSR | FLAG_INEXACT, 0x007F, 0}},
    {"x87 at 53-bit precision (MSVC hosts)", {DEFAULT_MXCSR, 0x027F, 0}},
    {"x87 rounding up", {DEFAULT_MXCSR, 0x0B7F, 0}},
    {"x87 rounding toward zero, 24-bit", {DEFAULT_MXCSR | FLAG_INEXACT, 0x0C7F, 0}},
    /* Only these two: a subnormal or signalling NaN coming back through the
     * x87 register trips the others in the host's own code (load, store). */
    {"x87 divide-by-zero and overflow traps", {DEFAULT_MXCSR, 0x0373, 0}},
#endif
};
#elif defined(__aarch64__)
struct fp_state {
    uint64_t fpcr, fpsr;
};

static struct fp_state read_state(void) {
    struct fp_state state;
    __asm__ volatile("mrs %0, fpcr\n\tmrs %1, fpsr" : "=r"(state.fpcr), "=r"(state.fpsr));
    return state;
}

static void write_state(struct fp_state state) {
    __asm__ volatile("msr fpcr, %0\n\tmsr fpsr, %1" : : "r"(state.fpcr), "r"(state.fpsr));
}

#define FPSR_INEXACT 0x10u
static const struct { const char* name; struct fp_state state; } kStates[] = {
    {"flags clear", {0, 0}},
    {"invalid flag set", {0, 0x01}},
    {"divide-by-zero flag set", {0, 0x02}},
    {"overflow flag set", {0, 0x04}},
    {"underflow flag set", {0, 0x08}},
    {"inexact flag set", {0, FPSR_INEXACT}},
    {"input-denormal flag set", {0, 0x80}},
    {"every flag set", {0, 0x9F}},
    {"flush to zero", {1u << 24, FPSR_INEXACT}},
    {"default NaN", {1u << 25, FPSR_INEXACT}},
    {"rounding up", {1u << 22, FPSR_INEXACT}},
    {"rounding down", {2u << 22, 0}},
    {"rounding toward zero", {3u << 22, FPSR_INEXACT}},
    {"FIZ and AH, where the CPU has them", {0x3, FPSR_INEXACT}},
    {"traps enabled, where the CPU has them", {0x9F00, 0}},
    {"-ffast-math: flush to zero, default NaN", {3u << 24, FPSR_INEXACT}},
};
#else
#error "the floating-point host test knows x86 and 64-bit Arm"
#endif
enum { kStateCount = sizeof kStates / sizeof kStates[0] };

struct outcome {
    unsigned long long bits[2];
    int code[2];
};

static int environment_changes; /* exported calls that left the state other than they found it */

/* On 32-bit x86 a double comes back in an x87 register, and loading a
 * subnormal there sets the x87 denormal flag: the calling convention's
 * doing, in calcpost's last instruction, after the library has restored the
 * host's state.  That flag alone is not held against calcpost there. */
#define X87_FLAGS_OF_A_RETURNED_DOUBLE 0x02

static void check_state_kept(struct fp_state before, const char* call, const struct formula* f, const char* state) {
    struct fp_state after = read_state();
#if defined(__i386__)
    if (strcmp(call, "calcpost") == 0)
        after.x87_status &= (unsigned short)~(X87_FLAGS_OF_A_RETURNED_DOUBLE & ~before.x87_status);
#endif
    if (memcmp(&after, &before, sizeof after) != 0) {
        fprintf(stderr, "%s: %s of \"%s\" changed the floating-point state\n", state, call, f->text);
        write_state(before);
        ++environment_changes;
    }
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
    check_state_kept(before, "exprpost", f, state);
    if (h < 0) {
        out.code[0] = out.code[1] = 100 + geterrnum();
        return out;
    }
    for (i = 0; i < 2; ++i) {
        double value;
        before = read_state();
        value = calcpost(h);
        check_state_kept(before, "calcpost", f, state);
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
