// Lets the floating-point host test, built against the library's internals,
// run the exit strategy that this CPU would not choose.
#include <cstring>

#include "core/fp_environment.hpp"

extern "C" int force_host_mxcsr_restore(const char* strategy) {
    using tallymat::core::HostMxcsrRestore;
    if (std::strcmp(strategy, "always") == 0) tallymat::core::fp_switch.restore = HostMxcsrRestore::kAlways;
    else if (std::strcmp(strategy, "when-changed") == 0) tallymat::core::fp_switch.restore = HostMxcsrRestore::kWhenChanged;
    else return 0;
    return 1;
}
