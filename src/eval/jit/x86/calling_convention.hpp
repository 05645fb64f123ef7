// The calling conventions the machine code is called with and calls out
// with, each stated once: the compiler's emitters read the description of
// the system it runs on and never branch on the convention themselves.
#pragma once

#include <xbyak/xbyak.h>

namespace tallymat::eval::x86 {

// The first argument's place where it is no register.
inline constexpr int kOnTheStack = -1;

struct CallingConvention {
    const char* name;
    int word_bytes;       // an address's, and the return address's on the stack
    int xmm_registers;    // xmm0 up
    int volatile_xmm;     // xmm0 up to this one (exclusive) are the caller's to lose at a call
    int first_argument;   // the general register of the first argument (a pointer), or kOnTheStack
    int second_double;    // the xmm register of a double that follows a pointer
    int double_arguments[2];  // the xmm registers of f(double) and f(double, double)
    int double_result;        // the xmm register a double comes back in
    int shadow_bytes;     // above the return address at every call, the callee's to use
    int argument_bytes;   // at the frame's bottom: the arguments of a call out that go on the stack
    int red_zone_bytes;   // below rsp, written by nothing else
    bool unwind_tables;   // every frame must be described to the system's unwinder
    bool host_loads_x87;  // the value reaches the host through st(0)
    bool results_in_x87;  // a called function's double, and the code's own, come back in st(0)
};

#if defined(XBYAK64)
// System V (Linux): arguments by kind (a pointer in rdi, the first double in
// xmm0), every xmm register the callee's, and a red zone.
inline constexpr CallingConvention kSystemV{
    "System V x86-64", 8, 16, 16, Xbyak::Operand::RDI, 0, {0, 1}, 0, 0, 0, 128, false, false, false};

// Microsoft x64 (Windows): arguments by position (rcx first, a second
// double in xmm1), xmm6 to xmm15 the caller's, 32 bytes of shadow space,
// no red zone, and unwind tables.
inline constexpr CallingConvention kMicrosoftX64{
    "Microsoft x64", 8, 16, 6, Xbyak::Operand::RCX, 1, {0, 1}, 0, 32, 0, 0, true, false, false};
#endif

// 32-bit x86 Linux as the library's own functions use it: System V i386,
// whose arguments go on the stack, with doubles in SSE registers both ways
// (sseregparm, TALLYMAT_SSE_CALL: the code returns in xmm0 and calls the
// standard functions with xmm0 and xmm1), eight xmm registers, every one
// the caller's, and neither red zone nor shadow space.  The frame's bottom
// holds a helper's pointer argument, padded to keep what lies above aligned.
// The exported functions return in st(0), whose load would trap on a
// signalling NaN where the host unmasked invalid: the code quiets it.
inline constexpr CallingConvention kSystemVI386Sse{
    "System V i386 (doubles in SSE registers)", 4, 8, 8, kOnTheStack, 0, {0, 1}, 0, 0, 8, 0, false, true, false};

// 32-bit Windows as GCC builds the library's own functions: arguments as on
// 32-bit Linux (the pointer on the stack, doubles in SSE registers), but
// every double comes back in st(0), the code's own included, so the code
// runs inside the switch of the x87 unit (entries.cpp).  The callee never
// pops (the entries are cdecl; only the exported functions are stdcall).
// Nothing asks for unwind tables: exceptions are found through the chain
// on the stack, which the code never touches, and a debugger walking the
// stack sees frames without a frame pointer, as in optimised C.
inline constexpr CallingConvention kWindowsI386Sse{
    "Windows i386 (doubles in SSE registers, results in st(0))", 4, 8, 8, kOnTheStack, 0, {0, 1}, 0, 0, 8, 0,
    false, true, true};

#if defined(XBYAK64) && defined(_WIN32)
inline constexpr const CallingConvention& kConvention = kMicrosoftX64;
#elif defined(XBYAK64)
inline constexpr const CallingConvention& kConvention = kSystemV;
#elif defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
inline constexpr const CallingConvention& kConvention = kSystemVI386Sse;
#elif defined(_WIN32) && defined(__GNUC__) && !defined(__clang__)
inline constexpr const CallingConvention& kConvention = kWindowsI386Sse;
#else
#error "32-bit machine code needs the library's functions to pass doubles in SSE registers (GCC)"
#endif

// General registers as wide as an address, and the ones the code takes
// beside eax: those that may keep variable cells' addresses between helper
// calls, and the one that keeps the host's MXCSR on the way to an exit
// (caller-saved, and no cell's).  32-bit code reaches every address from
// its instructions and needs a cell register only when the tests force it.
#if defined(XBYAK64)
using Word = Xbyak::Reg64;
// Volatile under both conventions; rcx is free until a failure exit.
inline constexpr int kCellRegisters[] = {Xbyak::Operand::RDX, Xbyak::Operand::RCX, Xbyak::Operand::R8,
                                         Xbyak::Operand::R9, Xbyak::Operand::R10};
inline constexpr int kHostMxcsrRegister = Xbyak::Operand::R11;
#else
using Word = Xbyak::Reg32;
inline constexpr int kCellRegisters[] = {Xbyak::Operand::ECX};
inline constexpr int kHostMxcsrRegister = Xbyak::Operand::EDX;
#endif
inline constexpr int kCellRegisterCount = sizeof kCellRegisters / sizeof kCellRegisters[0];
inline constexpr Word kStackPointer{Xbyak::Operand::ESP};
inline constexpr Word kAccumulator{Xbyak::Operand::EAX};  // also a helper's result
static_assert(sizeof(void*) == kConvention.word_bytes, "the convention describes the word the library is built for");

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
    f.host_mxcsr = c.shadow_bytes + c.argument_bytes;
    f.scratch = f.host_mxcsr + 8;
    f.homes = f.host_mxcsr + 16;
    f.saved_xmm = f.homes + 8 * stack.depth;
    f.saved_xmm_max = stack.depth - stack.volatile_depth;
    // With the return address, a multiple of 16.
    f.bytes = (f.saved_xmm + 16 * f.saved_xmm_max + c.word_bytes + 15) / 16 * 16 - c.word_bytes;
    f.unframed_mxcsr = c.red_zone_bytes ? -8 : 8;
    f.unframed_exit_mxcsr = c.red_zone_bytes ? -16 : 16;
    return f;
}

inline constexpr StackRegisters kStack = stack_registers_of(kConvention);
inline constexpr FrameLayout kFrame = frame_layout_of(kConvention);
static_assert((kFrame.bytes + kConvention.word_bytes) % 16 == 0 &&
              (kFrame.saved_xmm_max == 0 || kFrame.saved_xmm % 16 == 0));
// Where neither a red zone nor shadow space holds the MXCSR, every program
// is framed: an unframed program's words lie in one or the other.
inline constexpr bool kFramesEveryProgram = !kConvention.red_zone_bytes && kConvention.shadow_bytes < 24;
static_assert(kFramesEveryProgram || kConvention.red_zone_bytes >= -kFrame.unframed_exit_mxcsr ||
              kConvention.shadow_bytes >= kFrame.unframed_exit_mxcsr + 8 - kConvention.word_bytes);
// Without a frame, a slow path sets one up below the red zone's MXCSR: the
// frame's top eight bytes stay unused for it.
static_assert(!kConvention.red_zone_bytes || kFrame.bytes + kFrame.unframed_mxcsr >= kFrame.homes + 8 * kStack.depth);

}  // namespace tallymat::eval::x86
