// Checks the library's exp, ln, lg, powers, sine, cosine, tangent and arc
// functions against MPFR: every result
// must be the correctly rounded one (MPFR rounds at 53 bits and the double
// range, subnormals included).  Arguments: random ones drawn over each
// function's whole domain and over the ranges that are hard for it, and
// the hard-to-round and exact cases listed in a case file.
//
//   elementary_check [--plain | --own-rounding] COUNT [CASE-FILE]
//                                             COUNT random arguments per function
//                                             (--plain: Dekker's products even
//                                             where the CPU has FMA;
//                                             --own-rounding: the AVX-512 functions
//                                             that round in each instruction, or
//                                             exit status 77 where there are none)
//   elementary_check --table COUNT CASE-FILE  writes the table of arguments and
//                                             correct bits the test suite checks
//
// Exit status 1 when any result is misrounded; each one is printed.
#include <mpfr.h>

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/cpu_features.hpp"
#include "elementary/elementary.hpp"
#include "elementary/functions.hpp"

namespace {

using tallymat::elementary::Function;
using tallymat::elementary::kFunctionCount;
using tallymat::elementary::row_of;
using enum tallymat::elementary::Function;

// As formulas write it; "pow" for ^ (the case file's names).
const char* name_of(Function f) { return f == kPow ? row_of(f).name : row_of(f).formula; }

struct Case {
    Function function;
    double x, y;
};

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }
double from_bits(uint64_t b) { return std::bit_cast<double>(b); }

// The correctly rounded result, by MPFR, in the double range.
double reference(const Case& c) {
    mpfr_t x, y, r;
    mpfr_inits2(53, x, y, r, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(x, c.x, MPFR_RNDN);
    mpfr_set_d(y, c.y, MPFR_RNDN);
    int inexact = 0;
    switch (c.function) {
        case kExp: inexact = mpfr_exp(r, x, MPFR_RNDN); break;
        case kLog: inexact = mpfr_log(r, x, MPFR_RNDN); break;
        case kLog10: inexact = mpfr_log10(r, x, MPFR_RNDN); break;
        case kPow: inexact = mpfr_pow(r, x, y, MPFR_RNDN); break;
        case kSin: inexact = mpfr_sin(r, x, MPFR_RNDN); break;
        case kCos: inexact = mpfr_cos(r, x, MPFR_RNDN); break;
        case kTan: inexact = mpfr_tan(r, x, MPFR_RNDN); break;
        case kAsin: inexact = mpfr_asin(r, x, MPFR_RNDN); break;
        case kAcos: inexact = mpfr_acos(r, x, MPFR_RNDN); break;
        case kAtan: inexact = mpfr_atan(r, x, MPFR_RNDN); break;
    }
    mpfr_subnormalize(r, inexact, MPFR_RNDN);
    double result = mpfr_get_d(r, MPFR_RNDN);
    mpfr_clears(x, y, r, static_cast<mpfr_ptr>(nullptr));
    return result;
}

double library(const Case& c) {
    switch (c.function) {
        case kExp: return tallymat::elementary::exp(c.x);
        case kLog: return tallymat::elementary::log(c.x);
        case kLog10: return tallymat::elementary::log10(c.x);
        case kPow: return tallymat::elementary::pow(c.x, c.y);
        case kSin: return tallymat::elementary::sin(c.x);
        case kCos: return tallymat::elementary::cos(c.x);
        case kTan: return tallymat::elementary::tan(c.x);
        case kAsin: return tallymat::elementary::asin(c.x);
        case kAcos: return tallymat::elementary::acos(c.x);
        case kAtan: return tallymat::elementary::atan(c.x);
    }
    return 0.0;
}

// Whether the library's function takes the arguments (the math layer's rules
// send the rest elsewhere): y ln|x| inside the bounds, with a margin.
bool in_domain(const Case& c) {
    switch (c.function) {
        case kExp: case kLog: case kLog10: case kSin: case kCos: case kTan: case kAsin: case kAcos: case kAtan:
            return tallymat::elementary::takes(c.function, c.x);
        case kPow: {
            if (!(std::isfinite(c.x) && std::isfinite(c.y)) || c.x == 0.0 || c.y == 0.0) return false;
            if (c.x < 0.0 && (c.y != std::floor(c.y) || std::fabs(c.y) >= 0x1p63)) return false;
            double t = c.y * tallymat::elementary::log(std::fabs(c.x));
            return std::fabs(t) < row_of(kPow).log_bound;
        }
    }
    return false;
}

// Deterministic draws (a 64-bit LCG's upper bits).
uint64_t state = 20261209;
uint64_t next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state;
}
double uniform(double lo, double hi) { return lo + (hi - lo) * (static_cast<double>(next() >> 11) * 0x1p-53); }
// Uniform in the exponent as well: sign * 2^U(lo, hi) with a random mantissa.
double log_uniform(double lo, double hi) {
    double magnitude = std::exp2(uniform(lo, hi));
    return (next() >> 63) ? -magnitude : magnitude;
}
double any_positive_double() { return from_bits(next() % 0x7ff0000000000000ull); }
// Within 64 units of a positive edge, on either side.
double near(double edge) { return from_bits(bits(edge) + next() % 129 - 64); }
double either_sign(double x) { return (next() >> 63) ? -x : x; }

// One random argument of each kind in turn.
Case draw(Function f, uint64_t i) {
    switch (f) {
        case kExp:
            switch (i % 6) {
                case 0: return {f, uniform(row_of(kExp).lowest, row_of(kExp).highest), 0};
                case 1: return {f, log_uniform(-60, 9.47), 0};         // every scale
                case 2: return {f, log_uniform(-1074, -20), 0};        // near 0
                case 3: return {f, uniform(row_of(kExp).lowest, -700.0), 0};   // near the underflow bound
                case 4: return {f, (next() >> 63) ? uniform(686.0, 686.5) : uniform(-665.7, -665.2), 0};  // 2^990, 2^-960
                default: return {f, uniform(700.0, row_of(kExp).highest), 0};  // near the overflow bound
            }
        case kLog: case kLog10:
            switch (i % 5) {
                case 0: return {f, any_positive_double(), 0};          // uniform in the exponent
                case 1: return {f, 1.0 + uniform(-0x1p-6, 0x1p-6), 0};  // near 1
                case 2: return {f, from_bits(next() % 0x0010000000000000ull + 1), 0};  // subnormal
                case 3: {  // the edges of the reduction's intervals, at every scale
                    uint64_t j = next() % 256;
                    double edge = j < 160 ? 0.6875 + j * 0x1p-9 : 1.0 + (j - 160) * 0x1p-8;
                    return {f, std::ldexp(near(edge), static_cast<int>(next() % 2001) - 1000), 0};
                }
                default: return {f, uniform(1e-10, 1e10), 0};
            }
        case kSin: case kCos: case kTan:
            switch (i % 6) {
                case 0: return {f, uniform(-1e3, 1e3), 0};              // the ranges formulas use
                case 1: return {f, uniform(-4, 4), 0};
                case 2: return {f, log_uniform(-40, 53), 0};             // every scale up to the loss bound
                case 3: return {f, log_uniform(-1074, -20), 0};          // near 0
                case 4: {                                                // near multiples of pi/2
                    double k = std::round(log_uniform(0, 30));
                    return {f, k * 1.5707963267948966 * (1.0 + uniform(-0x1p-50, 0x1p-50)), 0};
                }
                default: return {f, log_uniform(20, 53), 0};            // reduced exactly
            }
        case kAsin: case kAcos:
            switch (i % 6) {
                case 0: return {f, uniform(-1, 1), 0};
                case 1: return {f, log_uniform(-60, 0), 0};              // every scale
                case 2: return {f, std::copysign(1.0 - std::fabs(log_uniform(-53, -4)), uniform(-1, 1)), 0};  // near +-1
                case 3: {  // the edges of the table's intervals, and 0.7 where the halving starts
                    uint64_t j = next() % 181;
                    return {f, either_sign(near(j == 180 ? 0.7 : (j + 0.5) / 256)), 0};
                }
                case 4: {  // the same edges for sqrt((1 - |x|)/2), above 0.7
                    double u = (next() % 100 + 0.5) / 256;
                    return {f, either_sign(near(1.0 - 2.0 * u * u)), 0};
                }
                default: return {f, log_uniform(-1074, -20), 0};         // near 0
            }
        case kAtan:
            switch (i % 5) {
                case 0: return {f, uniform(-10, 10), 0};
                case 1: return {f, log_uniform(-60, 60), 0};             // every scale
                case 2: return {f, log_uniform(-1074, 1024), 0};         // the whole range
                case 3: {  // the edges of the reduction's intervals, below 1 and above
                    int e = static_cast<int>(next() % 57) - 1;
                    uint64_t parts = uint64_t{1} << (e < 0 ? 8 : e < 8 ? 8 - e : 0);
                    double edge = e < 0 ? (next() % 256 + 0.5) / 256 : std::ldexp(1.0 + double(next() % parts) / parts, e);
                    return {f, either_sign(near(edge)), 0};
                }
                default: return {f, uniform(-1e3, 1e3), 0};
            }
        case kPow:
            switch (i % 8) {
                case 6: return {f, uniform(0.25, 4), either_sign(uniform(500, 524))};  // |y| near 2^9
                case 7: {  // results near 2^990 and 2^-960, where exp's scaling changes
                    double x = std::fabs(log_uniform(-10, 10));
                    double target = (next() >> 63) ? 686.2 : -665.4;
                    return {f, x, target / std::log(x) * uniform(0.999, 1.001)};
                }
                case 0: return {f, std::fabs(log_uniform(-20, 20)), uniform(-50, 50)};
                case 1: return {f, log_uniform(-20, 20), std::round(uniform(-2000, 2000))};   // integers, either sign of x
                case 2: return {f, std::fabs(log_uniform(-30, 30)), std::round(uniform(-400, 400)) / 2};  // halves
                case 3: return {f, 1.0 + uniform(-1e-6, 1e-6), std::round(log_uniform(13.3, 30))};  // large integer exponents
                case 4: {  // results near the overflow and underflow bounds
                    double x = std::fabs(log_uniform(-10, 10));
                    double target = (next() >> 63) ? 709.7 : -709.7;
                    return {f, x, target / std::log(x) * uniform(0.99, 1.0)};
                }
                default: return {f, any_positive_double(), log_uniform(-60, 10)};
            }
    }
    return {f, 0.0, 0.0};
}

std::vector<Case> read_cases(const char* path) {
    std::vector<Case> cases;
    std::ifstream file(path);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path);
        std::exit(2);
    }
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, x, y = "0";
        fields >> name >> x >> y;
        for (int f = 0; f < kFunctionCount; ++f)
            if (name == name_of(Function(f))) cases.push_back({Function(f), std::strtod(x.c_str(), nullptr), std::strtod(y.c_str(), nullptr)});
    }
    return cases;
}

// Checks one case; prints it when misrounded.
bool check(const Case& c) {
    double got = library(c), want = reference(c);
    if (bits(got) == bits(want)) return true;
    std::printf("misrounded: %s(%a, %a) = %a, correctly rounded %a\n", name_of(c.function), c.x, c.y, got, want);
    return false;
}

int run_check(uint64_t count, const char* case_file) {
    int failures = 0;
    if (case_file) {
        std::vector<Case> cases = read_cases(case_file);
        for (const Case& c : cases) failures += in_domain(c) ? !check(c) : 0;
        std::printf("%zu listed cases\n", cases.size());
    }
    for (int f = 0; f < kFunctionCount; ++f) {
        uint64_t checked = 0, misrounded = 0;
        for (uint64_t i = 0; checked < count; ++i) {
            Case c = draw(Function(f), i);
            if (!in_domain(c)) continue;
            ++checked;
            misrounded += !check(c);
        }
        std::printf("%-6s %" PRIu64 " random arguments, %" PRIu64 " misrounded\n", name_of(Function(f)), checked, misrounded);
        failures += static_cast<int>(misrounded);
    }
    return failures == 0 ? 0 : 1;
}

// The test suite's table: the listed cases and `count` random ones per
// function, with MPFR's bits.
int write_table(uint64_t count, const char* case_file) {
    std::vector<Case> cases = read_cases(case_file);
    for (int f = 0; f < kFunctionCount; ++f)
        for (uint64_t i = 0, n = 0; n < count; ++i) {
            Case c = draw(Function(f), i * 7919);
            if (in_domain(c)) cases.push_back(c), ++n;
        }
    std::printf("// Arguments and correctly rounded results (MPFR); written by\n"
                "// tools/accuracy/elementary_check --table %" PRIu64 " tests/data/elementary_cases.txt.\n", count);
    for (const Case& c : cases)
        if (in_domain(c))
            std::printf("{'%c', 0x%016" PRIx64 ", 0x%016" PRIx64 ", 0x%016" PRIx64 "},\n", row_of(c.function).letter, bits(c.x),
                        bits(c.y), bits(reference(c)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // What the library's load does first: the CPU's products chosen.
    tallymat::core::read_cpu_features();
    tallymat::elementary::choose_elementary_products();
    mpfr_set_emin(-1073);  // the double range, subnormals included
    mpfr_set_emax(1024);
    if (tallymat::elementary::Products forced; argc >= 2 && tallymat::elementary::names_products(argv[1], forced)) {
        if (!tallymat::elementary::set_products(forced)) {
            std::printf("SKIPPED: this CPU or build lacks the %s functions\n", tallymat::elementary::name_of(forced));
            return 77;
        }
        ++argv, --argc;
    }
    if (argc >= 4 && std::strcmp(argv[1], "--table") == 0) return write_table(std::strtoull(argv[2], nullptr, 10), argv[3]);
    std::printf("products: %s\n", tallymat::elementary::name_of(tallymat::elementary::elementary_functions.products));
    if (argc < 2) {
        std::fprintf(stderr, "usage: elementary_check COUNT [CASE-FILE] | --table COUNT CASE-FILE\n");
        return 2;
    }
    return run_check(std::strtoull(argv[1], nullptr, 10), argc > 2 ? argv[2] : nullptr);
}
