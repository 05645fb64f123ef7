// Catches a call cost that has gone wrong by an order of magnitude: the
// vsetvalue + calcpost pair of a+1, with the host's inexact flag set,
// against the same formula compiled as C++ and called through a pointer.
// The minimum over many short repetitions is steady on a noisy machine.
//   tallymat_call_guard [LIMIT]   (exit 1 when the ratio is above LIMIT, default 10)
#include <cstdio>
#include <cstdlib>

#include "host_loop.hpp"

using namespace benchset;

namespace {

constexpr size_t kEvaluations = 8 * kInputCount;

}  // namespace

int main(int argc, char** argv) {
    const double limit = argc > 1 ? std::atof(argv[1]) : 10.0;
    raise_host_inexact_flag();
    static Inputs inputs = make_inputs();
    static Ring ring;
    Handles h = define_variables();
    int handle = exprpost(kFormulas[0].text);
    if (handle < 0) return 2;
    run_tallymat(handle, h.x, inputs, ring, 2 * kInputCount);  // past the JIT's threshold

    double library = fastest_ns_per_evaluation(kEvaluations, [&] { run_tallymat(handle, h.x, inputs, ring, kEvaluations); });
    double flags_clear =
        fastest_ns_per_evaluation(kEvaluations, [&] { run_tallymat(handle, h.x, inputs, ring, kEvaluations); }, false);
    double native = fastest_ns_per_evaluation(kEvaluations, [&] { run_native(kFormulas[0].native, inputs, ring, kEvaluations); });
    // What any evaluation through the interface pays before it computes:
    // the host's two calls into the library, the second doing nothing.
    double two_calls = fastest_ns_per_evaluation(kEvaluations, [&] { run_two_calls(h.x, inputs, ring, kEvaluations); });
    double ratio = library / native;
    std::printf("%s: a+1 through vsetvalue + calcpost %.2f ns (host flags clear: %.2f ns), native %.2f ns: "
                "%.1f times (limit %.0f); vsetvalue + geterrnum alone %.2f ns\n",
                cpu_model().c_str(), library, flags_clear, native, ratio, limit, two_calls);
    return ratio <= limit ? 0 : 1;
}
