// The calling conventions the machine code is called with and calls out
// with, each stated once: the compiler's emitters read the description of
// the system it runs on and never branch on the convention themselves.
#pragma once

#include <xbyak/xbyak.h>

namespace tallymat::eval::x86_64 {

struct CallingConvention {
    const char* name;
    int xmm_registers;    // xmm0 up
    int volatile_xmm;     // xmm0 up to this one (exclusive) are the caller's to lose at a call
    int first_argument;   // the general register of the first argument (a pointer)
    int second_double;    // the xmm register of a double that follows a pointer
    int double_arguments[2];  // the xmm registers of f(double) and f(double, double)
    int double_result;        // the xmm register a double comes back in
    int shadow_bytes;     // above the return address at every call, the callee's to use
    int red_zone_bytes;   // below rsp, written by nothing else
    bool unwind_tables;   // every frame must be described to the system's unwinder
};

// System V (Linux): arguments by kind (a pointer in rdi, the first double in
// xmm0), every xmm register the callee's, and a red zone.
inline constexpr CallingConvention kSystemV{
    "System V x86-64", 16, 16, Xbyak::Operand::RDI, 0, {0, 1}, 0, 0, 128, false};

// Microsoft x64 (Windows): arguments by position (rcx first, a second
// double in xmm1), xmm6 to xmm15 the caller's, 32 bytes of shadow space,
// no red zone, and unwind tables.
inline constexpr CallingConvention kMicrosoftX64{
    "Microsoft x64", 16, 6, Xbyak::Operand::RCX, 1, {0, 1}, 0, 32, 0, true};

#if defined(_WIN32)
inline constexpr const CallingConvention& kConvention = kMicrosoftX64;
#else
inline constexpr const CallingConvention& kConvention = kSystemV;
#endif

// The postfix stack by depth: the entry at depth d (the accumulator is the
// deepest) lives in a register of its own, so a push moves nothing and an
// operator leaves its result where its left operand was.  The two highest
// volatile registers are scratch; the entries take the volatile ones below
// them first, then the registers above the scratch ones (saved in the
// frame).  Deeper programs stay interpreted.
struct StackRegisters {
    int depth;            // entries that fit the registers
    int volatile_depth;   // entries the code need not save
    int scratch;          // the first scratch register; the second follows it

    constexpr int entry(int d) const { return d < volatile_depth ? d : d + 2; }
};

constexpr StackRegisters stack_registers_of(const CallingConvention& c) {
    return {c.xmm_registers - 2, c.volatile_xmm - 2, c.volatile_xmm - 2};
}

// The frame of a program that calls out (rsp stays 16-aligned at calls),
// from the bottom: the callee's shadow space, the host's MXCSR, the scratch
// value a helper works on (and where an exit reads MXCSR), homes for the
// entries spilled around a call, and the callee-saved registers the deep
// entries take.  A program without a frame keeps the MXCSR in the red zone
// or, without one, in its own shadow space above the return address.
struct FrameLayout {
    int host_mxcsr, scratch, homes, saved_xmm, saved_xmm_max, bytes;
    int unframed_mxcsr, unframed_exit_mxcsr;
};

constexpr FrameLayout frame_layout_of(const CallingConvention& c) {
    StackRegisters stack = stack_registers_of(c);
    FrameLayout f{};
    f.host_mxcsr = c.shadow_bytes;
    f.scratch = c.shadow_bytes + 8;
    f.homes = c.shadow_bytes + 16;
    f.saved_xmm = f.homes + 8 * stack.depth;
    f.saved_xmm_max = stack.depth - stack.volatile_depth;
    f.bytes = f.saved_xmm + 16 * f.saved_xmm_max + 8;  // with the return address, a multiple of 16
    f.unframed_mxcsr = c.red_zone_bytes ? -8 : 8;
    f.unframed_exit_mxcsr = c.red_zone_bytes ? -16 : 16;
    return f;
}

inline constexpr StackRegisters kStack = stack_registers_of(kConvention);
inline constexpr FrameLayout kFrame = frame_layout_of(kConvention);
static_assert(kFrame.bytes % 16 == 8 && kFrame.saved_xmm % 16 == 0);
// Without a frame, a slow path sets one up below the red zone's MXCSR: the
// frame's top eight bytes stay unused for it.
static_assert(!kConvention.red_zone_bytes || kFrame.bytes + kFrame.unframed_mxcsr >= kFrame.homes + 8 * kStack.depth);

}  // namespace tallymat::eval::x86_64
