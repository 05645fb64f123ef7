// The floating-point switch's one process-wide setting on x86 (see fp_environment_x86.hpp).
#include "core/fp_environment.hpp"

#if TALLYMAT_FP_ENV_MXCSR

#include "core/cpu_features.hpp"

namespace tallymat::core {

constinit FpSwitch fp_switch{};

void choose_fp_switch() {
    bool slow_reads = cpu_features.reads_mxcsr_slowly;
    fp_switch.restore = slow_reads ? HostMxcsrRestore::kAlways : HostMxcsrRestore::kWhenChanged;
    fp_switch.flush_probe = slow_reads ? FlushProbe::kSubnormalSum : FlushProbe::kReadMxcsr;
    fp_switch.rounding_per_instruction = cpu_features.avx512f;
}

}  // namespace tallymat::core

#endif
