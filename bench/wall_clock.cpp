// Wall clock per evaluation of every benchmark formula, the library against
// the same formula compiled as C++, without the benchmark library (so it
// builds for Windows too).  The host's inexact flag is set; the fastest of
// many short repetitions counts.  TALLYMAT_JIT=0 gives the interpreter's
// figures, the default the machine code's (past the threshold).
//   tallymat_wall_clock
#include <cmath>
#include <cstdio>
#include <iterator>

#include "host_loop.hpp"

using namespace benchset;

int main() {
    constexpr size_t kEvaluations = 4 * kInputCount;
    raise_host_inexact_flag();
    static Inputs inputs = make_inputs();
    static Ring ring;
    Handles h = define_variables();
    double log_ratio_sum = 0;
    std::printf("%s\n%-28s %10s %10s %7s\n", cpu_model().c_str(), "formula", "library ns", "native ns", "ratio");
    for (const Formula& formula : kFormulas) {
        int handle = exprpost(formula.text);
        if (handle < 0) return 2;
        run_tallymat(handle, h.x, inputs, ring, 2 * kInputCount);  // past the JIT's threshold
        double library = fastest_ns_per_evaluation(kEvaluations, [&] { run_tallymat(handle, h.x, inputs, ring, kEvaluations); });
        double native = fastest_ns_per_evaluation(kEvaluations, [&] { run_native(formula.native, inputs, ring, kEvaluations); });
        std::printf("%-28s %10.2f %10.2f %7.2f\n", formula.name, library, native, library / native);
        log_ratio_sum += std::log(library / native);
        exprdelete(handle);
    }
    std::printf("geometric mean of the ratio: %.2f\n", std::exp(log_ratio_sum / static_cast<double>(std::size(kFormulas))));
    return 0;
}
