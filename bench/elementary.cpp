// The library's elementary functions against the C runtime's (glibc on
// Linux), over random arguments of the ranges formulas use:
//   tallymat_elementary                      ns per call, each side, median of 7 rounds
//   tallymat_elementary FUNCTION SIDE COUNT  COUNT calls, for callgrind
//                                            (bench/count_elementary.sh)
// --plain first: Dekker's products even where the CPU has FMA; --own-rounding:
// the AVX-512 functions that round in each instruction (77 where there are none).
// FUNCTION is exp, ln, lg, pow, sin, cos, tg, arcsin, arccos or arctg;
// SIDE is tallymat or runtime.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/cpu_features.hpp"
#include "elementary/elementary.hpp"
#include "host_loop.hpp"

namespace {

constexpr size_t kArguments = 1 << 16;  // a power of two, cycled through: many, so that the rare
                                        // accurate path weighs as often as it is taken

// The library's functions are called as the library calls them (on i686,
// with the double in an SSE register: a double pushed as two halves and
// read whole would stall each call until the stores retire, and no two
// calls would overlap); the runtime's are reached through the same kind of
// call and then called as the C runtime expects.
using Call = double(TALLYMAT_SSE_CALL*)(double, double);
template <double (*F)(double)> TALLYMAT_SSE_CALL double unary(double x, double) { return F(x); }
template <double (*F)(double, double)> TALLYMAT_SSE_CALL double binary(double x, double y) { return F(x, y); }

struct Function {
    const char* name;
    Call library;
    Call runtime;
    void (*draw)(double& x, double& y, double u, double v);
};

double lerp(double lo, double hi, double u) { return lo + (hi - lo) * u; }

namespace el = tallymat::elementary;

// Every call goes through a pointer, so that none is folded or vectorised away.
const Function kFunctions[] = {
    {"exp", unary<el::exp>, unary<std::exp>,
     [](double& x, double&, double u, double) { x = lerp(-700, 700, u); }},
    {"ln", unary<el::log>, unary<std::log>,
     [](double& x, double&, double u, double) { x = std::exp2(lerp(-1000, 1000, u)); }},
    {"lg", unary<el::log10>, unary<std::log10>,
     [](double& x, double&, double u, double) { x = std::exp2(lerp(-1000, 1000, u)); }},
    {"pow", binary<el::pow>, binary<std::pow>,
     [](double& x, double& y, double u, double v) { x = lerp(0.01, 100, u), y = lerp(-50, 50, v); }},
    {"sin", unary<el::sin>, unary<std::sin>,
     [](double& x, double&, double u, double) { x = lerp(-1000, 1000, u); }},
    {"cos", unary<el::cos>, unary<std::cos>,
     [](double& x, double&, double u, double) { x = lerp(-1000, 1000, u); }},
    {"tg", unary<el::tan>, unary<std::tan>,
     [](double& x, double&, double u, double) { x = lerp(-1000, 1000, u); }},
    {"arcsin", unary<el::asin>, unary<std::asin>,
     [](double& x, double&, double u, double) { x = lerp(-1, 1, u); }},
    {"arccos", unary<el::acos>, unary<std::acos>,
     [](double& x, double&, double u, double) { x = lerp(-1, 1, u); }},
    {"arctg", unary<el::atan>, unary<std::atan>,
     [](double& x, double&, double u, double) { x = lerp(-100, 100, u); }},
};

struct Arguments {
    std::vector<double> x = std::vector<double>(kArguments), y = std::vector<double>(kArguments);
};

Arguments make_arguments(const Function& f) {
    Arguments a;
    uint64_t state = 20261209;
    auto uniform = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) * 0x1p-53;
    };
    for (size_t i = 0; i < kArguments; ++i) {
        double u = uniform(), v = uniform();
        f.draw(a.x[i], a.y[i], u, v);
    }
    return a;
}

// Latency: calls are chained through a data dependence of zero weight, so
// that each waits for the last, as in a formula.
[[gnu::noinline]] double run_chained(Call function, const Arguments& a, size_t count) {
    double sum = 0.0, carry = 0.0;
    for (size_t i = 0; i < count; ++i) {
        size_t k = i & (kArguments - 1);
        double r = function(a.x[k] + carry, a.y[k]);
        carry = r * 0.0;
        sum += r;
    }
    return sum;
}

// Throughput: independent calls over the same arguments, each result
// stored, so that the CPU may overlap them as a host filling an array (or a
// formula with two function calls) lets it.
[[gnu::noinline]] double run_independent(Call function, const Arguments& a, size_t count) {
    static std::vector<double> results(kArguments);
    for (size_t i = 0; i < count; ++i) {
        size_t k = i & (kArguments - 1);
        results[k] = function(a.x[k], a.y[k]);
    }
    double sum = 0.0;
    for (double r : results) sum += r;
    return sum;
}

enum class Mode { kLatency, kThroughput };

double run(Mode mode, Call function, const Arguments& a, size_t count) {
    return mode == Mode::kLatency ? run_chained(function, a, count) : run_independent(function, a, count);
}

// The median of 7 rounds of 2^20 calls.
double nanoseconds_per_call(Mode mode, Call function, const Arguments& a) {
    constexpr size_t kCalls = 1 << 20;
    std::vector<double> rounds;
    for (int round = 0; round < 7; ++round) {
        auto start = std::chrono::steady_clock::now();
        volatile double sink = run(mode, function, a, kCalls);
        (void)sink;
        rounds.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kCalls);
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

}  // namespace

// tallymat_elementary [--plain | --own-rounding]: latency and throughput of the ten, the
// library's against the C runtime's, in ns per call on this CPU.
// tallymat_elementary [--plain | --own-rounding] [--throughput] NAME tallymat|runtime COUNT:
// COUNT calls of one function, for the instruction counter.
int main(int argc, char** argv) {
    // What the library's load does first: the CPU's products chosen.
    tallymat::core::read_cpu_features();
    tallymat::elementary::choose_elementary_products();
    if (tallymat::elementary::Products forced; argc >= 2 && tallymat::elementary::names_products(argv[1], forced)) {
        if (!tallymat::elementary::set_products(forced)) {
            std::printf("SKIPPED: this CPU or build lacks the %s functions\n", tallymat::elementary::name_of(forced));
            return 77;
        }
        ++argv, --argc;
    }
    Mode mode = Mode::kLatency;
    if (argc >= 2 && std::strcmp(argv[1], "--throughput") == 0) {
        mode = Mode::kThroughput;
        ++argv, --argc;
    }
    if (argc == 4) {
        for (const Function& f : kFunctions)
            if (std::strcmp(argv[1], f.name) == 0) {
                Arguments a = make_arguments(f);
                bool library = std::strcmp(argv[2], "tallymat") == 0;
                std::printf("%.17g\n", run(mode, library ? f.library : f.runtime, a, std::strtoull(argv[3], nullptr, 10)));
                return 0;
            }
        return 2;
    }
    benchset::raise_host_inexact_flag();  // as in any host that has computed anything
    std::printf("%s, %s products, ns per call (median of 7 rounds of 2^20 calls)\n", benchset::cpu_model().c_str(),
                tallymat::elementary::name_of(tallymat::elementary::elementary_functions.products));
    std::printf("%-6s | %9s %9s %6s | %9s %9s %6s\n", "", "latency", "runtime", "ratio", "through.", "runtime", "ratio");
    for (const Function& f : kFunctions) {
        Arguments a = make_arguments(f);
        double ours = nanoseconds_per_call(Mode::kLatency, f.library, a);
        double theirs = nanoseconds_per_call(Mode::kLatency, f.runtime, a);
        double ours_t = nanoseconds_per_call(Mode::kThroughput, f.library, a);
        double theirs_t = nanoseconds_per_call(Mode::kThroughput, f.runtime, a);
        std::printf("%-6s | %9.2f %9.2f %6.2f | %9.2f %9.2f %6.2f\n", f.name, ours, theirs, ours / theirs, ours_t,
                    theirs_t, ours_t / theirs_t);
    }
    return 0;
}
