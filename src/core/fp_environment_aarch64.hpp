// The floating-point switch on 64-bit Arm (see fp_environment.hpp): FPCR
// and FPSR.  Included by fp_environment.hpp only.
#pragma once

#include <cstdint>

namespace tallymat::core {

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

// Keeps a result's computation on the library's side of the switch back.
inline double pinned(double value) {
    __asm__ volatile("" : "+w"(value));
    return value;
}

}  // namespace tallymat::core
