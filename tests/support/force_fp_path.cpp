// Lets the floating-point host test, built against the library's internals,
// run the ways of keeping the host's state that this CPU would not choose:
// the switching code with either exit, or the code that rounds per
// instruction with either probe for a flushing host.
#include <cstring>

#include "core/fp_environment.hpp"
#include "eval/jit/jit.hpp"

// 1: forced; 0: no such path; -1: this CPU cannot run it.
extern "C" int force_fp_path(const char* path) {
    using namespace tallymat;
    using core::FlushProbe;
    using core::HostMxcsrRestore;
    struct Path {
        const char* name;
        bool rounds_per_instruction;
        HostMxcsrRestore restore;
        FlushProbe probe;
    };
    static const Path kPaths[] = {
        {"always", false, HostMxcsrRestore::kAlways, FlushProbe::kReadMxcsr},
        {"when-changed", false, HostMxcsrRestore::kWhenChanged, FlushProbe::kReadMxcsr},
        {"sum-probe", true, HostMxcsrRestore::kAlways, FlushProbe::kSubnormalSum},
        {"read-probe", true, HostMxcsrRestore::kWhenChanged, FlushProbe::kReadMxcsr},
    };
    for (const Path& p : kPaths) {
        if (std::strcmp(path, p.name) != 0) continue;
        if (p.rounds_per_instruction && !core::fp_switch.rounding_per_instruction) return -1;
        eval::jit_settings.rounding_per_instruction = p.rounds_per_instruction;
        core::fp_switch.restore = p.restore;
        core::fp_switch.flush_probe = p.probe;
        return 1;
    }
    return 0;
}
