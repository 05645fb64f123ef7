// What a host does, on both sides of the comparison: change one variable,
// evaluate, keep the result.  x comes from a table of 1,024 varied values
// (a short cycle would let the branch predictor learn the math functions'
// paths), results go to a ring buffer, and nothing carries from one
// evaluation to the next.
#pragma once

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <string>

#include "formulas.hpp"
#include "tallymat.h"

namespace benchset {

// A real host has done an inexact operation before it evaluates anything,
// so the inexact flag is set in its floating-point status: every
// measurement starts from that state, which is what a host pays for.
inline void raise_host_inexact_flag() {
    volatile double one = 1.0;
    volatile double third = one / 3.0;
    (void)third;
}

// The CPU the figures were taken on, named beside them.
inline std::string cpu_model() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

inline constexpr size_t kInputCount = 1024;  // a power of two: the ring wraps by masking

struct Inputs {
    double x[kInputCount];
};

// x in [0.5, 2.5), from a fixed linear congruential sequence.
inline Inputs make_inputs() {
    Inputs in{};
    unsigned long long state = 20261208;
    for (double& x : in.x) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        x = 0.5 + static_cast<double>(state >> 11) * 0x1p-53 * 2.0;
    }
    return in;
}

inline constexpr Vars kStart{1.25, -0.75, 0.5, 2.0};

struct Handles {
    int a, b, x, y;
};

inline Handles define_variables() {
    vclr();
    vinsert("a", kStart.a);
    vinsert("b", kStart.b);
    vinsert("x", kStart.x);
    vinsert("y", kStart.y);
    return {vlookup("a"), vlookup("b"), vlookup("x"), vlookup("y")};
}

struct Ring {
    double results[kInputCount];
};

inline void run_tallymat(int handle, int x_handle, const Inputs& in, Ring& out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        vsetvalue(x_handle, in.x[i & (kInputCount - 1)]);
        out.results[i & (kInputCount - 1)] = calcpost(handle);
    }
}

// The host's side of run_tallymat with an exported call that does nothing
// in calcpost's place: the floor of an evaluation through the interface.
inline void run_two_calls(int x_handle, const Inputs& in, Ring& out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        vsetvalue(x_handle, in.x[i & (kInputCount - 1)]);
        out.results[i & (kInputCount - 1)] = geterrnum();
    }
}

inline void run_native(Native through, const Inputs& in, Ring& out, size_t count) {
    Native volatile fn = through;  // called through a pointer: nothing folds into the loop
    Vars v = kStart;
    for (size_t i = 0; i < count; ++i) {
        v.x = in.x[i & (kInputCount - 1)];
        out.results[i & (kInputCount - 1)] = fn(v);
    }
}

// The fastest of many short repetitions of `loop` (which makes `evaluations`
// evaluations), in ns per evaluation: steady on a noisy machine.  Each
// repetition starts from the host state asked for: the timing's own
// arithmetic raises the inexact flag between repetitions.
template <typename Loop>
double fastest_ns_per_evaluation(size_t evaluations, Loop loop, bool inexact_flag_set = true, int repetitions = 200) {
    double best = 1e300;
    for (int i = 0; i < repetitions; ++i) {
        if (inexact_flag_set) raise_host_inexact_flag();
        else std::feclearexcept(FE_ALL_EXCEPT);
        auto start = std::chrono::steady_clock::now();
        loop();
        std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / static_cast<double>(evaluations));
    }
    return best;
}

}  // namespace benchset
