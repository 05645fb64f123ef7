// What the CPU offers that the library chooses code by: read once at load
// (read_cpu_features, before anything is chosen), the one place CPUID is
// asked.  On CPUs other than x86 the facts are fixed by the architecture.
#pragma once

#include "core/visibility.hpp"

namespace tallymat::core {

struct CpuFeatures {
    // AMD and Hygon: MXCSR is slow to read (stmxcsr) and cheap to load.
    bool reads_mxcsr_slowly = false;
    // A fused multiply-add the library may use: FMA3 with the AVX state
    // saved by the system on x86; always on 64-bit Arm and s390x.
    bool fused_multiply_add = false;
    // SSE4.1's roundsd (x86-64).
    bool sse41 = false;
    // AVX-512F with its opmask and upper vector state saved by the system
    // (x86-64): instructions that carry their own rounding.
    bool avx512f = false;
};

extern TALLYMAT_HIDDEN CpuFeatures cpu_features;

void read_cpu_features();

}  // namespace tallymat::core
