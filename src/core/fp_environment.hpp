// The floating-point environment the library computes in: round to nearest,
// every exception masked, subnormals kept (no flush-to-zero, no
// denormals-are-zero).  exprpost and calcpost switch into it for their
// duration and give the host back its own environment exactly, sticky
// flags included, so a host's traps, rounding mode or -ffast-math start-up
// settings change neither the bits of a result nor turn a code into a signal.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define TALLYMAT_FP_ENV_MXCSR 1
#else
#include <cfenv>
#endif

namespace tallymat::core {

#if TALLYMAT_FP_ENV_MXCSR

// On x86-64 the library's arithmetic (its own and glibc's math) is SSE2,
// governed by MXCSR alone.
inline constexpr uint32_t kLibraryMxcsr = 0x1F80;  // all masked, nearest, no FTZ/DAZ

struct HostFpEnvironment {
    uint32_t mxcsr;
};

// The library's value is loaded whatever the host's is: comparing first
// costs more instructions than the load, and on the CPUs measured the
// load is cheap where the read (stmxcsr) is not.  The host's value stays in
// memory, where ldmxcsr takes it back from (through the intrinsics the
// compiler would keep it in a register).
[[gnu::always_inline]] inline void enter_library_fp_environment(HostFpEnvironment& host) {
#if defined(__GNUC__)
    __asm__ volatile("stmxcsr %0\n\tldmxcsr %1" : "=m"(host.mxcsr) : "m"(kLibraryMxcsr));
#else
    host.mxcsr = _mm_getcsr();
    _mm_setcsr(kLibraryMxcsr);
#endif
}

// Writing the host's MXCSR back also drops the flags the library raised.
[[gnu::always_inline]] inline void leave_library_fp_environment(const HostFpEnvironment& host) {
#if defined(__GNUC__)
    __asm__ volatile("ldmxcsr %0" : : "m"(host.mxcsr));
#else
    _mm_setcsr(host.mxcsr);
#endif
}

#else

struct HostFpEnvironment {
    std::fenv_t env;
};

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
