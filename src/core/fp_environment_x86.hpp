// The floating-point switch on x86 (see fp_environment.hpp): MXCSR, and in
// the 32-bit DLL the x87 unit beside it.  Included by fp_environment.hpp only.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "core/visibility.hpp"

namespace tallymat::core {

// On x86 the library's own arithmetic is SSE2, governed by MXCSR: six
// sticky flags (bits 0 to 5) and the control bits above them (DAZ, the six
// masks, rounding, FTZ).  The library never computes in the x87 unit (its
// elementary functions, floor, absolute values and conversions are its own
// SSE2 and integer code).  On 32-bit Linux its functions pass doubles to
// each other in SSE registers too (TALLYMAT_SSE_CALL), so the x87 unit is
// the host's alone: only an exported function's double comes back through
// st(0), as the system's convention says.  The 32-bit Windows convention
// keeps returning doubles in st(0) whatever a function declares, and an
// x87 load sets the denormal flag for a subnormal and traps on a
// signalling NaN where the host unmasked invalid (Delphi): there the
// library's x87 control word (all masked) and the host's flags are
// switched and restored beside MXCSR.
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

// Where the CPU gives each instruction its own rounding (AVX-512's
// {rn-sae}: round to nearest, no flag, no trap, whatever MXCSR holds),
// machine code needs no switch at all; only a host that flushes subnormals
// (DAZ or FTZ, which no instruction overrides) is then told apart on entry
// and takes the switching code.  How it is told apart follows the same
// costs as the exit: AMD reads MXCSR slowly and adds subnormals at full
// speed, so one sum of a subnormal with itself (zero when either bit is
// set) is the probe; Intel reads MXCSR cheaply and takes a microcode
// assist of over 100 cycles for a subnormal result, so its probe reads
// MXCSR and tests the two bits.
enum class FlushProbe : uint8_t {
    kReadMxcsr,
    kSubnormalSum,
};

inline constexpr uint32_t kMxcsrFlushBits = 0x8040;  // FTZ and DAZ

// Chosen once at load from the CPU (choose_fp_switch); the tests force
// each choice.  Machine code follows the values it was generated under.
struct FpSwitch {
    HostMxcsrRestore restore = HostMxcsrRestore::kWhenChanged;
    FlushProbe flush_probe = FlushProbe::kReadMxcsr;
    bool rounding_per_instruction = false;  // AVX-512F, and the system saves its registers
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

// The x87 half of the switch for a scope: what machine code calls outside
// the switch keeps the host's x87 state itself.
class X87Kept {
public:
    X87Kept() { enter_x87(host_); }
    ~X87Kept() { leave_x87(host_); }
    X87Kept(const X87Kept&) = delete;
    X87Kept& operator=(const X87Kept&) = delete;

private:
    HostFpEnvironment host_;
};
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

// Keeps a result's computation on the library's side of the switch back:
// the compiler may not move arithmetic past this point.
inline double pinned(double value) {
#if defined(__GNUC__)
    __asm__ volatile("" : "+x"(value));
#endif
    return value;
}

}  // namespace tallymat::core
