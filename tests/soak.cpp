// Soak: millions of mixed random calls from one thread through the C
// interface, with resident memory sampled as it runs.  Fails when memory
// grows after the warm-up or when any answer breaks an invariant.
//
//   soak [seconds]     default 10; run it for an hour to soak properly
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/invariants.hpp"

namespace {

// AddressSanitizer's quarantine holds freed blocks back, so resident memory
// says nothing about leaks there; the invariants still hold.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kWatchMemory = false;
#else
constexpr bool kWatchMemory = true;
#endif

long resident_kib() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    long pages_total = 0, pages_resident = 0;
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
    std::fclose(f);
    return pages_resident * 4;
}

const char* const kFormulas[] = {
    "x*(x+1)-sqrt(y)", "(y+x/y)*(x-y/x)", "sin(x)^2+cos(x)^2", "exp(-x*x/2)", "ln(x+2)+lg(y+3)",
    "x mod y", "x div y", "x ** y", "x ^ y", "abs(sin(sqrt(x^2+y^2))*255)", "sign(x)+ez(y)",
    "arcsin(x)+arccos(y)+arctg(x)", "tg(x)/y", "-x^2", "1/x", "2e+3*x", ".5*y", "x*(x+1",
    "sin x", "1+", "((((x))))", "x y", "mod mod mod", "-(-(-(x)))", "12345678901", "1e400*x",
};

double random_value(std::mt19937_64& rng) {
    static const double special[] = {0.0, -0.0, INFINITY, -INFINITY, NAN, 0x1p-1074, 1e308, -1e-10,
                                     1e-10, 1e16, -708.4, 709.79, 2.0, -3.0, 0.5, 100.5};
    if (rng() % 4 == 0) return special[rng() % 16];
    return std::ldexp(static_cast<double>(static_cast<int64_t>(rng() % 2000001) - 1000000) / 1000.0,
                      static_cast<int>(rng() % 40) - 20);
}

std::string random_formula(std::mt19937_64& rng) {
    std::string text = kFormulas[rng() % (sizeof kFormulas / sizeof kFormulas[0])];
    if (rng() % 3 == 0 && !text.empty()) {  // damage it a little
        size_t at = rng() % text.size();
        text[at] = static_cast<char>(1 + rng() % 255);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::mt19937_64 rng(20261208);
    const char* names[] = {"x", "y", "mod", "long_name_of_a_variable"};
    auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

    long baseline_kib = 0, peak_kib = 0;
    unsigned long long calls = 0;
    std::vector<int> handles;
    while (elapsed() < seconds) {
        for (int burst = 0; burst < 10000; ++burst, ++calls) {
            switch (rng() % 10) {
                case 0: vinsert(names[rng() % 4], random_value(rng)); fuzzcheck::expect_codes("vinsert", {0, 8, 9}); break;
                case 1: vsetvalue(static_cast<int>(rng() % 6) - 1, random_value(rng)); fuzzcheck::expect_codes("vsetvalue", {0, 19}); break;
                case 2: case 3: {
                    std::string text = random_formula(rng);
                    int handle = exprpost(text.c_str());
                    fuzzcheck::check_translation(handle, text.c_str());
                    if (handle >= 0) handles.push_back(handle);
                    break;
                }
                case 4: case 5: case 6: {
                    int handle = handles.empty() ? static_cast<int>(rng() % 100) : handles[rng() % handles.size()];
                    fuzzcheck::check_evaluation(calcpost(handle));
                    break;
                }
                case 7:
                    if (!handles.empty()) {
                        size_t at = rng() % handles.size();
                        if (exprdelete(handles[at]) != 0) fuzzcheck::violated("exprdelete of a live handle");
                        handles.erase(handles.begin() + static_cast<long>(at));
                    }
                    break;
                case 8:
                    if (rng() % 50 == 0) {
                        vclr();
                        fuzzcheck::expect_codes("vclr", {0});
                    }
                    if (handles.size() > 90 || rng() % 100 == 0) {
                        exprclr();
                        handles.clear();
                    }
                    break;
                default: {
                    if (getstrerror(static_cast<int>(rng() % 30) - 4) == nullptr) fuzzcheck::violated("null message");
                    vlookup(names[rng() % 4]);
                    break;
                }
            }
        }
        long now = resident_kib();
        if (baseline_kib == 0 && elapsed() > std::min(1.0, seconds / 10)) baseline_kib = now;  // after warm-up
        if (now > peak_kib) peak_kib = now;
        if (kWatchMemory && baseline_kib && now > baseline_kib + 1024) {
            std::fprintf(stderr, "soak: resident memory grew from %ld KiB to %ld KiB\n", baseline_kib, now);
            return 1;
        }
    }
    exprclr();
    vclr();
    std::printf("soak: %llu calls in %.1f s, resident %ld KiB after warm-up, peak %ld KiB\n", calls, elapsed(),
                baseline_kib, peak_kib);
    return 0;
}
