// The floating-point switch's one process-wide setting on x86 (see fp_environment_x86.hpp).
#include "core/fp_environment.hpp"

#if TALLYMAT_FP_ENV_MXCSR

#include <cpuid.h>

#include <cstring>

namespace tallymat::core {

constinit FpSwitch fp_switch{};

namespace {

// AMD's and Hygon's cores read MXCSR slowly and load it cheaply.
bool cpu_reads_mxcsr_slowly() {
    unsigned max_leaf = 0, vendor[3] = {};  // ebx, edx, ecx spell the vendor's name
    if (!__get_cpuid(0, &max_leaf, &vendor[0], &vendor[2], &vendor[1])) return false;
    char name[sizeof vendor];
    std::memcpy(name, vendor, sizeof name);
    return std::memcmp(name, "AuthenticAMD", 12) == 0 || std::memcmp(name, "HygonGenuine", 12) == 0;
}

// AVX-512F, usable only where the system saves its registers on a switch
// of task: the opmask and upper vector state enabled in XCR0 (bits 5 to
// 7, with SSE's and AVX's, bits 1 and 2).
bool cpu_rounds_per_instruction() {
#if defined(__x86_64__)
    constexpr unsigned kOsXsave = 1u << 27, kAvx512F = 1u << 16, kVectorState = 0xE6;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & kOsXsave)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & kAvx512F)) return false;
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & kVectorState) == kVectorState;
#else
    return false;  // no machine code on 32-bit x86
#endif
}

}  // namespace

void choose_fp_switch() {
    bool slow_reads = cpu_reads_mxcsr_slowly();
    fp_switch.restore = slow_reads ? HostMxcsrRestore::kAlways : HostMxcsrRestore::kWhenChanged;
    fp_switch.flush_probe = slow_reads ? FlushProbe::kSubnormalSum : FlushProbe::kReadMxcsr;
    fp_switch.rounding_per_instruction = cpu_rounds_per_instruction();
}

}  // namespace tallymat::core

#endif
