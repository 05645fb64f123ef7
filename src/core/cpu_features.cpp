// The CPU's features, asked of CPUID once (see cpu_features.hpp).
#include "core/cpu_features.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>

#include <cstring>
#endif

namespace tallymat::core {

constinit CpuFeatures cpu_features{};

#if defined(__x86_64__) || defined(__i386__)

namespace {

struct CpuidLeaf {
    unsigned a = 0, b = 0, c = 0, d = 0;
    bool present = false;
};

CpuidLeaf cpuid(unsigned leaf, unsigned subleaf = 0) {
    CpuidLeaf r;
    r.present = __get_cpuid_count(leaf, subleaf, &r.a, &r.b, &r.c, &r.d) != 0;
    return r;
}

// The state components the system saves on a switch of task (XCR0), read
// only where OSXSAVE says xgetbv exists.
unsigned saved_state(const CpuidLeaf& leaf1) {
    constexpr unsigned kOsXsave = 1u << 27;
    if (!(leaf1.c & kOsXsave)) return 0;
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return low;
}

bool vendor_is(const CpuidLeaf& leaf0, const char* name) {
    const unsigned spelled[3] = {leaf0.b, leaf0.d, leaf0.c};  // ebx, edx, ecx spell the vendor's name
    return std::memcmp(spelled, name, sizeof spelled) == 0;
}

}  // namespace

void read_cpu_features() {
    constexpr unsigned kSse41 = 1u << 19, kFma = 1u << 12, kAvx = 1u << 28, kAvx512F = 1u << 16;
    constexpr unsigned kAvxState = 0x6, kAvx512State = 0xE6;  // SSE and AVX; with opmask and upper vectors
    CpuidLeaf leaf0 = cpuid(0), leaf1 = cpuid(1);
    unsigned state = leaf1.present ? saved_state(leaf1) : 0;
    CpuFeatures f;
    f.reads_mxcsr_slowly = leaf0.present && (vendor_is(leaf0, "AuthenticAMD") || vendor_is(leaf0, "HygonGenuine"));
    f.sse41 = leaf1.present && (leaf1.c & kSse41);
    f.fused_multiply_add = leaf1.present && (leaf1.c & (kFma | kAvx)) == (kFma | kAvx) && (state & kAvxState) == kAvxState;
#if defined(__x86_64__)
    CpuidLeaf leaf7 = cpuid(7);
    f.avx512f = leaf7.present && (leaf7.b & kAvx512F) && (state & kAvx512State) == kAvx512State;
#else
    (void)kAvx512F;
    (void)kAvx512State;
#endif
    cpu_features = f;
}

#else

void read_cpu_features() {
    cpu_features = {};
#if defined(__aarch64__) || defined(__s390x__)
    cpu_features.fused_multiply_add = true;
#endif
}

#endif

}  // namespace tallymat::core
