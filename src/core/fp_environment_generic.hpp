// The floating-point switch through <cfenv> (see fp_environment.hpp), for
// every other CPU (s390x among them).  Included by fp_environment.hpp only.
#pragma once

#include <cfenv>

namespace tallymat::core {

struct HostFpEnvironment {
    std::fenv_t env;
};

inline void choose_fp_switch() {}

inline void enter_library_fp_environment(HostFpEnvironment& host) {
    std::feholdexcept(&host.env);  // saves, clears the flags, masks every trap
    std::fesetround(FE_TONEAREST);
}

inline void leave_library_fp_environment(const HostFpEnvironment& host) { std::fesetenv(&host.env); }

// Keeps a result's computation on the library's side of the switch back.
inline double pinned(double value) {
#if defined(__GNUC__)
    __asm__ volatile("" : "+m"(value));
#endif
    return value;
}

}  // namespace tallymat::core
