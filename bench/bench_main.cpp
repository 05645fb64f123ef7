// tallymat against compiled C++: evaluation and translation of a fixed set
// of formulas, and how both scale.  Prints Google Benchmark's table and
// then a summary of the ratios (medians of the repetitions).
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "host_loop.hpp"

namespace {

using namespace benchset;

const Inputs kInputs = make_inputs();

// Evaluations per timed iteration: the ring buffer's length, so both sides
// see every input once per iteration.
constexpr size_t kBatch = kInputCount;

void time_evaluation(benchmark::State& state, const char* text) {
    Handles h = define_variables();
    exprclr();
    int handle = exprpost(text);
    if (handle < 0) {
        state.SkipWithError("translation failed");
        return;
    }
    static Ring ring;
    for (auto _ : state) {
        run_tallymat(handle, h.x, kInputs, ring, kBatch);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
    exprdelete(handle);
}

void BM_tallymat(benchmark::State& state, int index) { time_evaluation(state, kFormulas[index].text); }

void BM_native(benchmark::State& state, int index) {
    static Ring ring;
    for (auto _ : state) {
        run_native(kFormulas[index].native, kInputs, ring, kBatch);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
}

void BM_translate(benchmark::State& state, int index) {
    define_variables();
    exprclr();
    for (auto _ : state) {
        int handle = exprpost(kFormulas[index].text);
        benchmark::DoNotOptimize(handle);
        exprdelete(handle);
    }
}

std::string long_formula(size_t bytes, const char* piece) {
    std::string text = "x";
    while (text.size() + std::strlen(piece) <= bytes) text += piece;
    return text;
}

void BM_translate_bytes(benchmark::State& state, const char* piece) {
    define_variables();
    exprclr();
    std::string text = long_formula(static_cast<size_t>(state.range(0)), piece);
    for (auto _ : state) {
        int handle = exprpost(text.c_str());
        benchmark::DoNotOptimize(handle);
        exprdelete(handle);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["ns_per_byte"] = benchmark::Counter(static_cast<double>(text.size()),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

void BM_evaluate_items(benchmark::State& state) {
    // "x" then "+x*1.5" pieces: four items each.
    size_t items = static_cast<size_t>(state.range(0));
    std::string text = "x";
    for (size_t n = 1; n + 4 <= items; n += 4) text += "+x*1.5";
    time_evaluation(state, text.c_str());
    state.counters["ns_per_item"] = benchmark::Counter(static_cast<double>(items * kBatch),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

// Doubles ordered as integers: the distance counts the doubles between them.
int64_t ordered(double x) {
    auto bits = std::bit_cast<int64_t>(x);
    return bits < 0 ? std::numeric_limits<int64_t>::min() - bits : bits;
}

// Every formula must give the native bits before its speed means anything,
// within a few units in the last place: the library's exp, ln, lg and ^ are
// correctly rounded, the C runtime's that native calls are not always.
bool same_bits_everywhere() {
    constexpr int64_t kRuntimeMisrounding = 4;
    Handles h = define_variables();
    exprclr();
    bool all_same = true;
    for (const auto& f : kFormulas) {
        int handle = exprpost(f.text);
        for (double x : kInputs.x) {
            Vars v = kStart;
            v.x = x;
            vsetvalue(h.x, v.x);
            double mine = calcpost(handle), native = f.native(v);
            int64_t apart = ordered(mine) - ordered(native);
            if (geterrnum() != 0 || apart > kRuntimeMisrounding || apart < -kRuntimeMisrounding) {
                std::fprintf(stderr, "differs: %s at x=%g: tallymat %.17g (code %d), native %.17g\n", f.name, v.x,
                             mine, geterrnum(), native);
                all_same = false;
                break;
            }
        }
        exprdelete(handle);
    }
    return all_same;
}

// Collects the median of every benchmark's repetitions for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            std::string name = run.run_name.function_name + "/" + run.run_name.args;
            if (run.run_type != Run::RT_Aggregate && medians.count(name)) continue;
            medians[name] = run.GetAdjustedRealTime();
        }
    }
};

void print_summary(const SummaryReporter& reporter) {
    std::printf("\n%s, the host's inexact flag set\n", cpu_model().c_str());
    std::printf("\n%-38s %12s %12s %8s %14s\n", "formula", "tallymat ns", "native ns", "ratio", "translate ns");
    double log_ratio = 0, log_translate = 0;
    int n = 0;
    for (size_t i = 0; i < std::size(kFormulas); ++i) {
        auto get = [&](const char* kind) {
            auto it = reporter.medians.find(std::string(kind) + "/" + std::to_string(i));
            return it == reporter.medians.end() ? NAN : it->second;
        };
        // One iteration of the evaluation benchmarks is a batch of evaluations.
        double mine = get("evaluate") / kBatch, native = get("native") / kBatch, translate = get("translate");
        std::printf("%-38s %12.2f %12.2f %8.2f %14.1f\n", kFormulas[i].name, mine, native, mine / native, translate);
        log_ratio += std::log(mine / native);
        log_translate += std::log(translate);
        ++n;
    }
    std::printf("%-38s %12s %12s %8.2f %14.1f\n", "geometric mean", "", "", std::exp(log_ratio / n),
                std::exp(log_translate / n));
}

}  // namespace

int main(int argc, char** argv) {
    raise_host_inexact_flag();
    if (!same_bits_everywhere()) return 1;
    for (size_t i = 0; i < std::size(kFormulas); ++i) {
        int index = static_cast<int>(i);
        benchmark::RegisterBenchmark("evaluate", BM_tallymat, index)->Arg(index);
        benchmark::RegisterBenchmark("native", BM_native, index)->Arg(index);
        benchmark::RegisterBenchmark("translate", BM_translate, index)->Arg(index);
    }
    benchmark::RegisterBenchmark("translate_sum_bytes", BM_translate_bytes, "+x")->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);
    benchmark::RegisterBenchmark("translate_product_bytes", BM_translate_bytes, "*1.5")->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);
    benchmark::RegisterBenchmark("evaluate_items", BM_evaluate_items)->Arg(10)->Arg(1000)->Arg(100000);

    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_summary(reporter);
    benchmark::Shutdown();
    return 0;
}
