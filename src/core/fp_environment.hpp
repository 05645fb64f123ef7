// The floating-point environment the library computes in: round to nearest,
// every exception masked, subnormals kept (no flush-to-zero, no
// denormals-are-zero).  exprpost and calcpost switch into it for their
// duration and give the host back its own environment exactly, sticky
// flags included, so a host's traps, rounding mode or -ffast-math start-up
// settings change neither the bits of a result nor turn a code into a signal.
// This header is the one definition of that switch: the interpreter, the
// translation, the compiling calcpost and the machine code's entry and
// exits all follow it.
#pragma once

#include <bit>
#include <cstdint>

#include "core/visibility.hpp"

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#include <immintrin.h>
#define TALLYMAT_FP_ENV_MXCSR 1
#if defined(__i386__)
#define TALLYMAT_FP_ENV_X87 1  // 32-bit x86: the C runtime's floor uses the x87 unit too
#endif
#elif defined(__aarch64__) && defined(__GNUC__)
#define TALLYMAT_FP_ENV_FPCR 1
#else
#include <cfenv>
#endif

namespace tallymat::core {

#if TALLYMAT_FP_ENV_MXCSR

// On x86 the library's own arithmetic is SSE2, governed by MXCSR: six
// sticky flags (bits 0 to 5) and the control bits above them (DAZ, the six
// masks, rounding, FTZ).  The elementary functions are the library's own;
// of the C runtime only floor is left, SSE2 on x86-64 but x87 code on
// 32-bit x86, whose control word and flags are therefore switched and
// restored beside MXCSR.
inline constexpr uint32_t kLibraryMxcsr = 0x1F80;  // all masked, nearest, no FTZ/DAZ, flags clear
inline constexpr uint32_t kMxcsrFlags = 0x3F;

// The library never reads the flags, so a host whose control bits are the
// library's already is left in its own MXCSR: nothing is loaded on entry.
// That is nearly every host, and it matters because on Intel CPUs a load
// that changes flag bits costs 20 to 30 ns, where a read costs under 1 ns.
inline bool has_library_controls(uint32_t mxcsr) { return (mxcsr & ~kMxcsrFlags) == kLibraryMxcsr; }

// How the host's MXCSR comes back on exit.  Reading it again and reloading
// only when a formula raised a flag the host did not have is cheapest where
// reads are cheap (Intel); where the read is the slow one and loads are
// cheap (AMD: about 3 ns for stmxcsr), the host's value is reloaded at once.
enum class HostMxcsrRestore : uint8_t {
    kWhenChanged,
    kAlways,
};

// Chosen once at load from the CPU's vendor (choose_fp_switch); the tests
// force each strategy.  Machine code follows the value it was generated under.
struct FpSwitch {
    HostMxcsrRestore restore = HostMxcsrRestore::kWhenChanged;
};

extern TALLYMAT_HIDDEN FpSwitch fp_switch;

void choose_fp_switch();

struct HostFpEnvironment {
    uint32_t mxcsr;
#if TALLYMAT_FP_ENV_X87
    uint16_t x87_control, x87_status;
#endif
};

// Through memory, where ldmxcsr and stmxcsr work (the intrinsics would move
// the value through a register and back).
[[gnu::always_inline]] inline void store_mxcsr(uint32_t& into) {
#if defined(__GNUC__)
    __asm__ volatile("stmxcsr %0" : "=m"(into));
#else
    into = _mm_getcsr();
#endif
}

[[gnu::always_inline]] inline uint32_t read_mxcsr() {
    uint32_t value;
    store_mxcsr(value);
    return value;
}

[[gnu::always_inline]] inline void load_mxcsr(const uint32_t& value) {
#if defined(__GNUC__)
    __asm__ volatile("ldmxcsr %0" : : "m"(value));
#else
    _mm_setcsr(value);
#endif
}

#if TALLYMAT_FP_ENV_X87
// Every exception masked, 64-bit precision, to nearest: the state the C
// runtime's x87 code is written for.
inline constexpr uint16_t kLibraryX87Control = 0x037F;
inline constexpr uint16_t kX87Flags = 0x3F;

inline void enter_x87(HostFpEnvironment& host) {
    __asm__ volatile("fnstcw %0\n\tfnstsw %1" : "=m"(host.x87_control), "=m"(host.x87_status));
    if (host.x87_control != kLibraryX87Control) [[unlikely]] {
        __asm__ volatile("fldcw %0" : : "m"(kLibraryX87Control));
    }
}

// The x87 flags can only be written back through the whole environment,
// so that happens only when the library raised one the host did not have.
inline void leave_x87(const HostFpEnvironment& host) {
    uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    if ((status ^ host.x87_status) & kX87Flags) [[unlikely]] {
        struct {
            uint16_t control, unused1, status, unused2;
            uint32_t rest[5];
        } environment;
        __asm__ volatile("fnstenv %0" : "=m"(environment));
        environment.status = static_cast<uint16_t>((environment.status & ~kX87Flags) | (host.x87_status & kX87Flags));
        __asm__ volatile("fldenv %0" : : "m"(environment));
    }
    if (host.x87_control != kLibraryX87Control) [[unlikely]] {
        __asm__ volatile("fldcw %0" : : "m"(host.x87_control));
    }
}
#endif

[[gnu::always_inline]] inline void enter_library_fp_environment(HostFpEnvironment& host) {
    store_mxcsr(host.mxcsr);
    if (!has_library_controls(host.mxcsr)) [[unlikely]]
        load_mxcsr(kLibraryMxcsr);
#if TALLYMAT_FP_ENV_X87
    enter_x87(host);
#endif
}

// Gives the host its MXCSR back, flags included: a flag the library raised
// is dropped, one the host had stays.
[[gnu::always_inline]] inline void leave_library_fp_environment(const HostFpEnvironment& host) {
#if TALLYMAT_FP_ENV_X87
    leave_x87(host);
#endif
    if (fp_switch.restore == HostMxcsrRestore::kAlways || read_mxcsr() != host.mxcsr) load_mxcsr(host.mxcsr);
}

#elif TALLYMAT_FP_ENV_FPCR

// On 64-bit Arm the controls are FPCR (rounding, flush-to-zero, default
// NaN, the alternate half-precision and FEAT_AFP bits AH and FIZ, trap
// enables) and the sticky flags FPSR.  The library's FPCR is all zero; a
// host whose FPCR is zero keeps it, and FPSR is written back only when the
// library raised a flag the host did not have.
struct HostFpEnvironment {
    uint64_t fpcr, fpsr;
};

inline void choose_fp_switch() {}

[[gnu::always_inline]] inline void enter_library_fp_environment(HostFpEnvironment& host) {
    __asm__ volatile("mrs %0, fpcr\n\tmrs %1, fpsr" : "=r"(host.fpcr), "=r"(host.fpsr));
    if (host.fpcr != 0) [[unlikely]] {
        __asm__ volatile("msr fpcr, xzr");
    }
}

[[gnu::always_inline]] inline void leave_library_fp_environment(const HostFpEnvironment& host) {
    uint64_t fpsr;
    __asm__ volatile("mrs %0, fpsr" : "=r"(fpsr));
    if (fpsr != host.fpsr) [[unlikely]] {
        __asm__ volatile("msr fpsr, %0" : : "r"(host.fpsr));
    }
    if (host.fpcr != 0) [[unlikely]] {
        __asm__ volatile("msr fpcr, %0" : : "r"(host.fpcr));
    }
}

#else

struct HostFpEnvironment {
    std::fenv_t env;
};

inline void choose_fp_switch() {}

inline void enter_library_fp_environment(HostFpEnvironment& host) {
    std::feholdexcept(&host.env);  // saves, clears the flags, masks every trap
    std::fesetround(FE_TONEAREST);
}

inline void leave_library_fp_environment(const HostFpEnvironment& host) { std::fesetenv(&host.env); }

#endif

// On 32-bit x86 a double reaches the caller in an x87 register, loaded by
// an fldl that the host's control word governs: with the invalid exception
// unmasked (Delphi's default) a signalling NaN would trap there.  It is
// handed back quiet, as a host with the exception masked receives it.
// Elsewhere doubles return in vector registers, untouched.
inline double returnable_to_host(double value) {
#if defined(__i386__) || defined(_M_IX86)
    uint64_t bits = std::bit_cast<uint64_t>(value);
    constexpr uint64_t kExponent = 0x7ff0000000000000, kQuiet = 0x0008000000000000;
    if ((bits & kExponent) == kExponent && (bits & ~(kExponent | (uint64_t{1} << 63))) != 0) bits |= kQuiet;
    return std::bit_cast<double>(bits);
#else
    return value;
#endif
}

// Keeps a result's computation on the library's side of the switch back:
// the compiler may not move arithmetic past this point.
inline double pinned(double value) {
#if TALLYMAT_FP_ENV_MXCSR && defined(__GNUC__)
    __asm__ volatile("" : "+x"(value));
#elif TALLYMAT_FP_ENV_FPCR
    __asm__ volatile("" : "+w"(value));
#elif defined(__GNUC__)
    __asm__ volatile("" : "+m"(value));
#endif
    return value;
}

}  // namespace tallymat::core
