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

#include <cstdint>

#include "core/visibility.hpp"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define TALLYMAT_FP_ENV_MXCSR 1
#else
#include <cfenv>
#endif

namespace tallymat::core {

#if TALLYMAT_FP_ENV_MXCSR

// On x86-64 the library's arithmetic (its own and the C runtime's math) is
// SSE2, governed by MXCSR alone: six sticky flags (bits 0 to 5) and the
// control bits above them (DAZ, the six masks, rounding, FTZ).
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

[[gnu::always_inline]] inline void enter_library_fp_environment(HostFpEnvironment& host) {
    store_mxcsr(host.mxcsr);
    if (!has_library_controls(host.mxcsr)) [[unlikely]]
        load_mxcsr(kLibraryMxcsr);
}

// Gives the host its MXCSR back, flags included: a flag the library raised
// is dropped, one the host had stays.
[[gnu::always_inline]] inline void leave_library_fp_environment(const HostFpEnvironment& host) {
    if (fp_switch.restore == HostMxcsrRestore::kAlways || read_mxcsr() != host.mxcsr) load_mxcsr(host.mxcsr);
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

// Keeps a result's computation on the library's side of the switch back:
// the compiler may not move arithmetic past this point.
inline double pinned(double value) {
#if TALLYMAT_FP_ENV_MXCSR && defined(__GNUC__)
    __asm__ volatile("" : "+x"(value));
#elif defined(__GNUC__)
    __asm__ volatile("" : "+m"(value));
#endif
    return value;
}

}  // namespace tallymat::core
