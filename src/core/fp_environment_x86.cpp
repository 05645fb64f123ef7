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

}  // namespace

void choose_fp_switch() {
    fp_switch.restore = cpu_reads_mxcsr_slowly() ? HostMxcsrRestore::kAlways : HostMxcsrRestore::kWhenChanged;
}

}  // namespace tallymat::core

#endif
