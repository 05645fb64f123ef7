// Special values with the bits and codes x86-64 gives, which define them on
// every target: NaNs made from non-NaN operands, which NaN an operator
// passes on, the codes that follow from a NaN's sign, and literals that a
// C runtime's pow or rounding would read otherwise.  Run compiled and
// interpreted, on every CPU the suite is built for, and in every host
// floating-point state of support/host_fp_states.h.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/api_fixture.hpp"
#include "support/elementary_cases.hpp"
#include "support/host_fp_states.h"

namespace {

struct Row {
    const char* text;
    uint64_t bits;
    int code;
};

// On 32-bit x86 a double comes back to the host in an x87 register, and
// loading a signalling NaN there quiets it: the C calling convention's
// doing, after the library has computed the bits below.
#if defined(__i386__)
constexpr uint64_t kSignallingOnReturn = 0x0008000000000000u;
#else
constexpr uint64_t kSignallingOnReturn = 0;
#endif

// x = +inf; q a quiet NaN and s a signalling one, both with payload 1; n a
// negative quiet NaN with payload 5.
void define_special_variables() {
    vinsert("x", from_bits(0x7ff0000000000000));
    vinsert("q", from_bits(0x7ff8000000000001));
    vinsert("s", from_bits(0x7ff0000000000001));
    vinsert("n", from_bits(0xfff8000000000005));
}

class SpecialValues : public Api {};

TEST_F(SpecialValues, BitsAndCodesAsOnX86_64) {
    const Row rows[] = {
        // A NaN made from numbers is the default NaN, negative and quiet; its
        // sign decides what exp reports (a negative NaN underflows).
        {"x-x", 0xfff8000000000000u, 0},      {"x*0", 0xfff8000000000000u, 0},
        {"0*x", 0xfff8000000000000u, 0},      {"x/x", 0xfff8000000000000u, 0},
        {"5 mod x", 0xfff8000000000000u, 0},  {"x mod 2", 0xfff8000000000000u, 0},
        {"-x mod 3", 0x7ff8000000000000u, 0}, {"x-x+q", 0xfff8000000000000u, 0},
        {"exp(x-x)", 0, 15},                  {"exp(x*0)", 0, 15},
        {"exp(x/x)", 0, 15},                  {"exp(5 mod x)", 0, 15},
        {"x div 2", 0x7ff0000000000000u, 0},
        // An operator passes on its left operand's NaN, else its right
        // one's, quieted; sign, payload and all.
        {"q-s", 0x7ff8000000000001u, 0},   {"s-q", 0x7ff8000000000001u, 0},
        {"1-s", 0x7ff8000000000001u, 0},   {"s-1", 0x7ff8000000000001u, 0},
        {"q+s", 0x7ff8000000000001u, 0},   {"s*q", 0x7ff8000000000001u, 0},
        {"n-q", 0xfff8000000000005u, 0},   {"q-n", 0x7ff8000000000001u, 0},
        {"n+x", 0xfff8000000000005u, 0},   {"x+n", 0xfff8000000000005u, 0},
        {"n*2", 0xfff8000000000005u, 0},   {"q-(x-x)", 0x7ff8000000000001u, 0},
        {"s mod 2", 0x7ff8000000000001u, 0}, {"s div 2", 0x7ff8000000000001u, 0},
        {"arctg(s)", 0x7ff8000000000001u, 0},
        // Bit operations and the integer power's NaN exponent leave a signalling NaN as it is.
        {"-s", 0xfff0000000000001u | kSignallingOnReturn, 0},
        {"abs(s)", 0x7ff0000000000001u | kSignallingOnReturn, 0},
        {"2**s", 0x7ff0000000000001u | kSignallingOnReturn, 0},
        {"s**2", 0, 0},  // a NaN base is a zero base
        {"q/s", 0, 11},                    {"sign(s)", 0xbff0000000000000u, 0},
        {"exp(-q)", 0, 15},                {"exp(q)", 0, 14},
        {"ln(q)", 0, 13},                  {"sqrt(s)", 0, 13},
        // Literals read by the library's own conversion, the same double everywhere.
        {"1e23", 0x44b52d02c7e14af6u, 0},          {"1e210", 0x6b88557f31326bbbu, 0},
        {"2.5e-308", 0x0011fa182c40c60du, 0},      {"123456.789e-3", 0x405edd3c07ee0b0bu, 0},
        {"1e-10", 0x3ddb7cdfd9d7bdbbu, 0},         {"0.3", 0x3fd3333333333334u, 0},
        {"4.9e-324", 0x0000000000000001u, 0},      {"1e300*10", 0x7e6ddd4baa009303u, 0},
        {"sign(1e-10)", 0, 0},                     {"1e300 div 7", 0x7e0b4dfc092518b2u, 0},
        {"-0*1", 0x8000000000000000u, 0},
    };
    define_special_variables();
    const fp_state initial = read_state();
    for (const auto& host : kStates) {
        SCOPED_TRACE(host.name);
        write_state(host.state);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.text);
            Evaluation e = translate_and_evaluate(row.text);
            EXPECT_GE(e.handle, 0);
            EXPECT_EQ(bits(e.value), row.bits) << std::hex << bits(e.value);
            EXPECT_EQ(e.code, row.code);
            exprdelete(e.handle);
        }
        write_state(initial);
    }
}

// The elementary functions give the correctly rounded bits of the shared
// table whatever the host's floating-point state, for the arguments the
// evaluator's own checks and the math layer's rules let through.
bool evaluator_takes(const ElementaryCase& c) {
    double x = from_bits(c.x);
    switch (c.function) {
        case 'e': return x <= 100.0;
        case 'l': case 'L': return x > 1e-10 && x <= 0x1.fffffffffffffp1023;
        case 'p': return std::fabs(x) >= 0x1p-1022;  // a subnormal base is a zero one
        default: return true;
    }
}

// One handle per function of the table, indexed as kElementaryFormulas.
std::vector<int> translate_elementary_formulas() {
    std::vector<int> handles;
    for (const ElementaryFormula& f : kElementaryFormulas) handles.push_back(exprpost(f.formula));
    return handles;
}

int formula_of(const std::vector<int>& handles, char function) {
    for (size_t i = 0; i < std::size(kElementaryFormulas); ++i)
        if (kElementaryFormulas[i].function == function) return handles[i];
    return -1;
}

TEST_F(SpecialValues, ElementaryFunctionsCorrectlyRoundedInEveryHostState) {
    vinsert("x", 0.0);
    vinsert("y", 0.0);
    const int x = vlookup("x"), y = vlookup("y");
    const std::vector<int> formulas = translate_elementary_formulas();
    const fp_state initial = read_state();
    for (const auto& host : kStates) {
        SCOPED_TRACE(host.name);
        for (const ElementaryCase& c : kElementaryCases) {
            if (!evaluator_takes(c)) continue;
            vsetvalue(x, from_bits(c.x));
            vsetvalue(y, from_bits(c.y));
            write_state(host.state);
            [[maybe_unused]] const fp_state before = read_state();
            double value = calcpost(formula_of(formulas, c.function));
            [[maybe_unused]] const fp_state after = read_state();
            write_state(initial);
            EXPECT_EQ(geterrnum(), 0);
            EXPECT_EQ(bits(value), c.expected) << c.function << std::hex << " x=" << c.x << " y=" << c.y;
#if !defined(__i386__)  // (there a returned subnormal sets the x87 denormal flag: fp_environment_host allows for it)
            EXPECT_EQ(std::memcmp(&after, &before, sizeof after), 0) << "the host's floating-point state changed";
#endif
        }
    }
}

#if defined(__i386__)
// A host with the x87 invalid exception unmasked (Delphi's control word)
// receives a signalling NaN quiet, without a trap in the fldl that returns it.
TEST_F(SpecialValues, SignallingNaNComesBackQuietToAHostTrappingInvalid) {
    define_special_variables();
    const int handle = exprpost("s");
    const fp_state initial = read_state();
    fp_state trapping = initial;
    trapping.x87_control = 0x1332;
    write_state(trapping);
    const double read = vgetvalue(vlookup("s")), evaluated = calcpost(handle);
    write_state(initial);
    EXPECT_EQ(bits(read), 0x7ff8000000000001u);
    EXPECT_EQ(bits(evaluated), 0x7ff8000000000001u);
}
#endif

#if defined(_WIN64) && defined(__GNUC__)
// 64-bit Windows hosts may leave the x87 unit at 53-bit precision (the
// convention's default) or change it: the elementary functions never use it, so
// neither their bits nor the host's x87 control and status words change.
TEST_F(SpecialValues, ElementaryFunctionsIgnoreTheX87UnitOn64BitWindows) {
    vinsert("x", 0.0);
    vinsert("y", 0.0);
    const int x = vlookup("x"), y = vlookup("y");
    const std::vector<int> formulas = translate_elementary_formulas();
    unsigned short initial_control;
    __asm__ volatile("fnstcw %0" : "=m"(initial_control));
    for (unsigned short control : {0x007F, 0x027F, 0x037F, 0x0B7F, 0x0C7F, 0x0F7F}) {
        SCOPED_TRACE(control);
        __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(control));
        for (const ElementaryCase& c : kElementaryCases) {
            if (!evaluator_takes(c)) continue;
            vsetvalue(x, from_bits(c.x));
            vsetvalue(y, from_bits(c.y));
            double value = calcpost(formula_of(formulas, c.function));
            unsigned short control_after, status_after;
            __asm__ volatile("fnstcw %0\n\tfnstsw %1" : "=m"(control_after), "=m"(status_after));
            EXPECT_EQ(bits(value), c.expected) << c.function << std::hex << " x=" << c.x << " y=" << c.y;
            EXPECT_EQ(control_after, control);
            EXPECT_EQ(status_after & 0x3F, 0);
        }
    }
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(initial_control));
}
#endif

}  // namespace
