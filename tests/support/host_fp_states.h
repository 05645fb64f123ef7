/* The host floating-point states that matter to the library, and how a
 * host sets and reads them: each sticky flag already set, all clear, and
 * each control bit changed on its own or in the combinations hosts use
 * (traps unmasked, other rounding, -ffast-math's flush-to-zero).  On x86
 * that is MXCSR, and on 32-bit x86 the x87 control word too (24- and 53-bit
 * precision, other rounding); on 64-bit Arm FPCR and FPSR; elsewhere the
 * rounding modes and flags of <fenv.h>.  For C and C++ tests alike. */
#ifndef TALLYMAT_TESTS_HOST_FP_STATES_H
#define TALLYMAT_TESTS_HOST_FP_STATES_H

#include <stdint.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

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
    /* Not the denormal and underflow traps: a subnormal coming back through
     * the x87 register trips them in the host's own code (load, store).  The
     * invalid trap stays masked for every signalling NaN the library hands
     * back quiet, and for those it passes through st(0) on the way. */
    {"x87 divide-by-zero and overflow traps", {DEFAULT_MXCSR, 0x0373, 0}},
    {"x87 as Delphi sets it: invalid, divide-by-zero and overflow traps", {DEFAULT_MXCSR, 0x1332, 0}},
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
/* Other CPUs: the rounding modes and sticky flags <fenv.h> names. */
#include <fenv.h>
struct fp_state {
    int rounding, flags;
};

static struct fp_state read_state(void) {
    struct fp_state state = {fegetround(), fetestexcept(FE_ALL_EXCEPT)};
    return state;
}

static void write_state(struct fp_state state) {
    fesetround(state.rounding);
    feclearexcept(FE_ALL_EXCEPT);
    feraiseexcept(state.flags);
}

static const struct { const char* name; struct fp_state state; } kStates[] = {
    {"flags clear", {FE_TONEAREST, 0}},
    {"every flag set", {FE_TONEAREST, FE_ALL_EXCEPT}},
    {"rounding up", {FE_UPWARD, FE_INEXACT}},
    {"rounding down", {FE_DOWNWARD, 0}},
    {"rounding toward zero", {FE_TOWARDZERO, FE_INEXACT}},
};
#endif
enum { kStateCount = sizeof kStates / sizeof kStates[0] };

#endif
