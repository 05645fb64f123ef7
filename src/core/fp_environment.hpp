// The floating-point environment the library computes in: round to nearest,
// every exception masked, subnormals kept (no flush-to-zero, no
// denormals-are-zero).  exprpost and calcpost switch into it for their
// duration and give the host back its own environment exactly, sticky
// flags included, so a host's traps, rounding mode or -ffast-math start-up
// settings change neither the bits of a result nor turn a code into a signal.
// This header is the one definition of that switch: the interpreter, the
// translation, the compiling calcpost and the machine code's entry and
// exits all follow it.
//
// Each CPU family has its own file, and each provides the same interface:
//   struct HostFpEnvironment          the host's state, saved on entry
//   void choose_fp_switch()           chooses, at load, how to switch (x86)
//   enter_library_fp_environment(h)   saves the host's state into h, sets the library's
//   leave_library_fp_environment(h)   gives the host's state back, flags included
//   double pinned(double)             keeps a computation before the switch back
#pragma once

#include <bit>
#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#define TALLYMAT_FP_ENV_MXCSR 1
#if defined(__i386__) && defined(_WIN32)
#define TALLYMAT_FP_ENV_X87 1  // the 32-bit DLL: its own functions return doubles in st(0)
#endif
#include "core/fp_environment_x86.hpp"
#elif defined(__aarch64__) && defined(__GNUC__)
#define TALLYMAT_FP_ENV_FPCR 1
#include "core/fp_environment_aarch64.hpp"
#else
#include "core/fp_environment_generic.hpp"
#endif

namespace tallymat::core {

// On 32-bit x86 a double reaches the caller in an x87 register, loaded by
// an fldl that the host's control word governs: with the invalid exception
// unmasked (Delphi's default) a signalling NaN would trap there.  It is
// handed back quiet, as a host with the exception masked receives it.
// Elsewhere doubles return in vector registers, untouched.
inline double returnable_to_host(double value) {
#if defined(__i386__) || defined(_M_IX86)
    // The common value goes back as it came: rebuilt from the integer
    // halves it would be stored twice and reloaded once, a failed
    // store-to-load forwarding (about 5 ns).
    uint64_t bits = std::bit_cast<uint64_t>(value);
    constexpr uint64_t kExponent = 0x7ff0000000000000, kQuiet = 0x0008000000000000;
    if ((bits & kExponent) == kExponent && (bits & ~(kExponent | kQuiet | (uint64_t{1} << 63))) != 0) [[unlikely]]
        return std::bit_cast<double>(bits | kQuiet);
    return value;
#else
    return value;
#endif
}

// A 32-bit host passes a double on the stack and may have written it there
// as two 4-byte halves (GCC does from memory; Delphi always does): one
// 8-byte load of it then waits until both stores have left the store
// buffer (store-to-load forwarding fails: about 5 ns on the CPUs measured),
// where two 4-byte loads take each half from its own store.  The cell gets
// one 8-byte store, so that the evaluation's load of it is forwarded too.
// (Read the argument first thing: after a branch GCC copies it whole.)
// Elsewhere the double arrives in a register.
#if defined(__i386__) && defined(__SSE2__)
using HostDouble = __m128i;
inline HostDouble read_from_host(const double& value) {
    const char* bytes = reinterpret_cast<const char*>(&value);
    HostDouble halves = _mm_unpacklo_epi32(_mm_loadu_si32(bytes), _mm_loadu_si32(bytes + 4));
    __asm__("" : "+x"(halves));  // here, not sunk past a branch
    return halves;
}
inline void store_to_cell(double* cell, HostDouble value) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cell), value);
}
#else
using HostDouble = double;
inline HostDouble read_from_host(const double& value) { return value; }
inline void store_to_cell(double* cell, HostDouble value) { *cell = value; }
#endif

}  // namespace tallymat::core
