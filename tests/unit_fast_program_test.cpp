// The fast form and the machine code against the plain loop over the
// postfix items: random formulas and variable values, compared bit for bit
// with their codes.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/bits.hpp"
#include "core/fp_environment.hpp"
#include "eval/value_stack.hpp"
#include "eval/fast_program.hpp"
#include "eval/tiers/entries.hpp"
#include "eval/jit/jit.hpp"
#include "support/plain_loop.hpp"
#include "support/program_dump.hpp"
#include "tallymat.h"

namespace {

using tallymat::eval::Outcome;


// The same bits, NaNs included: their signs decide later codes.
bool same_value(double a, double b) { return bits(a) == bits(b); }

class FormulaGenerator {
public:
    explicit FormulaGenerator(uint64_t seed) : rng_(seed) {}

    std::string formula() { return expression(0); }

private:
    std::mt19937_64 rng_;

    size_t pick(size_t n) { return static_cast<size_t>(rng_() % n); }

    std::string number() {
        static const char* const literals[] = {"0", "1", "2", "0.5", "3", "10", "1e-10", "2e-10", "100", "100.5",
                                               "709.79", "1e16", "1e308", "1e400", "0.1", "7", ".5", "255", "1e-320",
                                               "4.0625", "9999999999", "0.3", "2.675", "1e300"};
        return literals[pick(std::size(literals))];
    }

    // Functions and binary operators come from the operator table, so an
    // operator is fuzzed the day it is added.
    static const std::vector<std::string>& names_of(int arity, bool words_only) {
        static const auto collect = [](int wanted, bool words) {
            std::vector<std::string> names;
            for (const tallymat::program::OperatorInfo& row : tallymat::program::kOperators) {
                bool word = row.name[0] >= 'a' && row.name[0] <= 'z';
                if (row.arity != wanted || (words && !word)) continue;
                names.push_back(word && wanted == 2 ? std::string(" ") + row.name + " " : row.name);
            }
            return names;
        };
        static const std::vector<std::string> functions = collect(1, true), binary = collect(2, false);
        return arity == 1 && words_only ? functions : binary;
    }

    std::string operand(int depth) {
        static const char* const variables[] = {"a", "b", "x", "y"};
        const std::vector<std::string>& functions = names_of(1, true);
        switch (pick(depth > 4 ? 2 : 6)) {
            case 0: return number();
            case 1: return variables[pick(4)];
            case 2: return functions[pick(functions.size())] + "(" + expression(depth + 1) + ")";
            case 3: return "(" + expression(depth + 1) + ")";
            case 4: return std::string(pick(2) ? "-" : "+") + operand(depth + 1);
            default: return variables[pick(4)];
        }
    }

    std::string expression(int depth) {
        const std::vector<std::string>& operators = names_of(2, false);
        std::string text = operand(depth);
        size_t terms = depth > 4 ? 0 : pick(4);
        for (size_t i = 0; i < terms; ++i) {
            const std::string& op = operators[pick(operators.size())];
            // a sign is allowed after every operator but + and -
            std::string right = operand(depth + 1);
            if ((op == "+" || op == "-") && (right[0] == '-' || right[0] == '+')) right = "(" + right + ")";
            text += op + right;
        }
        return text;
    }
};

const double kValues[] = {0.0, -0.0, 1.0, -1.0, 2.0, 0.5, -7.0, 3.0, 1e-10, -1e-10, 2e-10, 1e16, 100.0, 100.5,
                          -708.4, 709.79, 1e308, -1e308, 0x1p-1074, -0x1p-1030,
                          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};

// Translates, runs both forms and the machine code, and holds them to the
// expected code and to each other's bits.
void expect_both_forms(const char* text, int code) {
    SCOPED_TRACE(text);
    int handle = exprpost(text);
    ASSERT_GE(handle, 0);
    auto& slot = tallymat::translate::expr_table.slots[handle];
    Outcome plain = tallymat::eval::run_program(slot);
    Outcome fast = tallymat::eval::run_fast_program(slot.fast);
    EXPECT_EQ(plain.code, code);
    EXPECT_EQ(fast.code, code);
    EXPECT_EQ(bits(fast.value), bits(plain.value));
    if (tallymat::eval::compile_now(handle)) {
        double value = calcpost(handle);
        EXPECT_EQ(geterrnum(), code) << "machine code";
        EXPECT_EQ(bits(value), bits(plain.value)) << "machine code";
    }
    exprdelete(handle);
}

}  // namespace

// Translates `count` random formulas and compares the plain loop, the fast
// form and the machine code on random variable values.
static void compare_on_random_formulas(int count, uint64_t seed) {
    exprclr();
    vclr();
    for (const char* name : {"a", "b", "x", "y"}) vinsert(name, 1.0);
    FormulaGenerator generator(seed);
    std::mt19937_64 rng(7);
    int translated = 0, failed_evaluations = 0;
    for (int n = 0; n < count; ++n) {
        std::string text = generator.formula();
        int handle = exprpost(text.c_str());
        if (handle < 0) continue;
        ++translated;
        auto& slot = tallymat::translate::expr_table.slots[handle];
        // The third side: the formula's machine code, where the JIT is built.
        bool compiled = tallymat::eval::compile_now(handle);
        bool fits = tallymat::program::deepest_depth(slot.fast) < tallymat::eval::kJitStackDepth;
        ASSERT_EQ(compiled, tallymat::eval::kJitBuilt && fits) << text;
        for (int round = 0; round < 6; ++round) {
            for (int v = 0; v < 4; ++v) vsetvalue(v, kValues[rng() % std::size(kValues)]);
            Outcome plain = tallymat::eval::run_program(slot);
            Outcome fast = tallymat::eval::run_fast_program(slot.fast);
            double through_api = calcpost(handle);  // the machine code when compiled
            failed_evaluations += plain.code != 0;
            ASSERT_EQ(fast.code, plain.code) << text << "\n" << dump_program(handle) << "\na b x y = " << vgetvalue(0) << " " << vgetvalue(1) << " " << vgetvalue(2) << " " << vgetvalue(3);
            ASSERT_TRUE(same_value(fast.value, plain.value))
                << text << ": fast " << fast.value << ", plain " << plain.value << "\n" << dump_program(handle);
            ASSERT_EQ(geterrnum(), plain.code) << text;
            ASSERT_TRUE(same_value(through_api, plain.value)) << text;
        }
        exprdelete(handle);  // frees the machine code with the slot
    }
    // The generator must exercise both outcomes to mean anything.
    EXPECT_GT(translated, count * 3 / 4);
    EXPECT_GT(failed_evaluations, count / 20);
    vclr();
}

TEST(FastProgram, MatchesThePlainLoopOnRandomFormulas) { compare_on_random_formulas(20000, 20261208); }

// The machine code's fallbacks: the switching code where the CPU rounds per
// instruction (as on a CPU without AVX-512), and with it values out of
// reach read through pointers from the pool, div and mod through their
// helper as on a CPU without SSE4.1.
TEST(FastProgram, MatchesThePlainLoopThroughTheFallbacks) {
    using tallymat::eval::JitSettings;
    struct Restore {  // however the test ends
        ~Restore() { tallymat::eval::jit_settings = JitSettings{}; }
    } restore;
    const JitSettings rows[] = {{true, true, false}, {false, false, false}};
    for (const JitSettings& settings : rows) {
        tallymat::eval::jit_settings = settings;
        compare_on_random_formulas(3000, 20261209);
    }
}

#if TALLYMAT_JIT
// Code that never touches MXCSR is made for every formula whose straight
// path calls no helper, where the CPU has AVX-512 (a slow path may call
// one): the standard functions it calls round in their own instructions.
TEST(FastProgram, CodeRoundsPerInstructionWhereNoHelperIsCalled) {
    if (!tallymat::core::fp_switch.rounding_per_instruction)
        GTEST_SKIP() << "this CPU lacks AVX-512 (or the system does not save its state): only the switching code runs";
    struct Row {
        const char* text;
        bool floor_by_instruction, rounds_per_instruction;
    };
    const Row rows[] = {
        {"a+1", true, true},          {"x^2-sqrt(y)/x", true, true},     {"sign(x)*ez(y)-abs(-a)", true, true},
        {"x mod 3 + x div y", true, true}, {"x mod 3", false, false}, {"x**y", true, false},
        {"x^y", true, false},         {"x^0", true, false},              {"x^0.5-x^-3", true, true},
        {"sin(x)+cos(x)+tg(x)+exp(x)", true, true}, {"ln(x)+lg(x)+arcsin(x)+arccos(x)+arctg(x)", true, true},
        {"a*(b+(x*(y+(a*(b+(x*(y+(a*(b+(x*(y+(a*b))))))))))))", true, true},
    };
    struct Restore {
        ~Restore() { tallymat::eval::jit_settings = tallymat::eval::JitSettings{}; }
    } restore;
    exprclr();
    vclr();
    for (const char* name : {"a", "b", "x", "y"}) vinsert(name, 1.5);
    for (const Row& row : rows) {
        tallymat::eval::jit_settings.floor_by_instruction = row.floor_by_instruction;
        int handle = exprpost(row.text);
        ASSERT_GE(handle, 0) << row.text;
        ASSERT_TRUE(tallymat::eval::compile_now(handle)) << row.text;
        EXPECT_EQ(tallymat::eval::tier_table.slots[handle].machine_code.rounds_per_instruction,
                  row.rounds_per_instruction)
            << row.text;
        exprdelete(handle);
    }
    vclr();
}
#endif

// The settings' words, by their effect: with the threshold at 0, a formula
// evaluated once runs as machine code unless the word says no.
TEST(FastProgram, TheJitIsTurnedOffByTheUsualWordsForNo) {
    struct Row {
        const char* setting;
        bool enabled;
    };
    const Row rows[] = {{"0", false},   {"off", false}, {"OFF", false}, {"False", false}, {"no", false},
                        {"1", true},    {"yes", true},  {"", true},     {nullptr, true},  {"nope", true},
                        {"of", true},   {"00", true},   {"0 ", true}};
    const tallymat::eval::TierPolicy saved = tallymat::eval::tier_policy;
    exprclr();
    for (const Row& row : rows) {
        tallymat::eval::configure_tier_policy(row.setting, "0");
        int handle = exprpost("2*3+1");
        ASSERT_GE(handle, 0);
        EXPECT_EQ(calcpost(handle), 7.0);
        EXPECT_EQ(tallymat::eval::tier_table.slots[handle].machine_code.code != nullptr,
                  row.enabled && tallymat::eval::kJitBuilt)
            << (row.setting ? row.setting : "(unset)");
        exprdelete(handle);
    }
    tallymat::eval::tier_policy = saved;
}

// Machine code checks some arguments itself and calls the standard function
// directly: at and beside every bound of those checks, it must agree with
// the plain loop, as the first entry on the stack and above another.
TEST(FastProgram, FunctionsAgreeAtTheBoundsOfTheirRules) {
    const double bounds[] = {0x1p53, -0x1p53, 0x1.fffffffffffffp52, -708.39599609375, -0x1.6232bp+9 + 0x1p-44,
                             100.0, 0x1.9000000000001p6, 1e-10, 0x1.b7cdfd9d7bdbcp-34, 1.0, -1.0,
                             0x1.0000000000001p0, -0x1.0000000000001p0, std::numeric_limits<double>::max(),
                             0x1p-510, 0x1.fffffffffffffp-511, 0x1p510, 0x1.fffffffffffffp509, -0x1p510,
                             1e300, -0x1p-600, 0x1p342, -0x1p342, 0x1p-342, 0x1p683, 0x1p1022, 0x1p-1022,
                             0.5, 2.0, -2.0};
    const char* const shapes[] = {"sin(x)", "cos(x)", "tg(x)", "exp(x)", "ln(x)", "lg(x)", "arcsin(x)",
                                  "arccos(x)", "arctg(x)", "x^2", "y-sin(x)", "y-exp(x)", "y-ln(x)",
                                  "y-arccos(x)", "y-x^2", "x^3", "x^0.5", "x^-1.5", "y-x^3", "x^1000",
                                  "x^1e10", "x^-3"};
    exprclr();
    vclr();
    vinsert("x", 0.0);
    vinsert("y", 2.0);
    for (const char* text : shapes) {
        int handle = exprpost(text);
        ASSERT_GE(handle, 0) << text;
        auto& slot = tallymat::translate::expr_table.slots[handle];
        ASSERT_EQ(tallymat::eval::compile_now(handle), tallymat::eval::kJitBuilt) << text;
        for (double x : bounds) {
            for (double value : {x, std::nextafter(x, 0.0)}) {
                vsetvalue(vlookup("x"), value);
                Outcome plain = tallymat::eval::run_program(slot);
                double compiled = calcpost(handle);
                EXPECT_EQ(geterrnum(), plain.code) << text << " at " << value;
                EXPECT_EQ(bits(compiled), bits(plain.value)) << text << " at " << value;
            }
        }
        exprdelete(handle);
    }
    vclr();
}

// The pages of a formula's mapping between begin and end, with whether each is executable.
struct Region {
    uintptr_t begin, end;
    bool executable;
};
#ifdef _WIN32
std::vector<Region> regions_within(uintptr_t begin, uintptr_t end) {
    std::vector<Region> regions;
    MEMORY_BASIC_INFORMATION info;
    for (uintptr_t at = begin; at < end && VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info);) {
        uintptr_t high = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
        bool executable = info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE);
        if (info.State == MEM_COMMIT) regions.push_back({at, std::min(high, end), executable});
        at = high;
    }
    return regions;
}
#else
std::vector<Region> regions_within(uintptr_t begin, uintptr_t end) {
    std::vector<Region> regions;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        uintptr_t low = 0, high = 0;
        char permissions[5] = {};
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " %4s", &low, &high, permissions) != 3) continue;
        if (high <= begin || low >= end) continue;
        regions.push_back({std::max(low, begin), std::min(high, end), permissions[2] == 'x'});
    }
    return regions;
}
#endif

// A formula's constants are data: a constant whose bytes are machine code
// must never be executable where it lies.
TEST(FastProgram, ConstantsAreNeverExecutableBytes) {
    if (!tallymat::eval::kJitBuilt) GTEST_SKIP() << "no machine code in this build";
    exprclr();
    vclr();
    vinsert("x", 1.0);
    vinsert("y", 2.0);
    int handle = exprpost("x*0.123456789+y/7.654321-x*x*1e-300");
    ASSERT_GE(handle, 0);
    auto& slot = tallymat::translate::expr_table.slots[handle];
    ASSERT_TRUE(tallymat::eval::compile_now(handle));
    std::vector<uint64_t> constants;
    for (const tallymat::program::FastInsn* ip = slot.fast; ip->op != tallymat::program::kEnd; ip += tallymat::program::width(ip->op)) {
        tallymat::program::Operands operands = tallymat::program::facts(ip->op).operands;
        if (operands == tallymat::program::Operands::K || operands == tallymat::program::Operands::KV) constants.push_back(bits(ip->k));
        if (operands == tallymat::program::Operands::VK) constants.push_back(bits(ip[1].k));
    }
    ASSERT_EQ(constants.size(), 3u);
    const tallymat::eval::MachineCode& machine_code = tallymat::eval::tier_table.slots[handle].machine_code;
    auto begin = reinterpret_cast<uintptr_t>(machine_code.code);
    int found_readable = 0;
    for (const Region& region : regions_within(begin, begin + machine_code.own.bytes)) {
        for (uint64_t constant : constants) {
            auto first = reinterpret_cast<const unsigned char*>(region.begin);
            auto last = reinterpret_cast<const unsigned char*>(region.end);
            auto wanted = reinterpret_cast<const unsigned char*>(&constant);
            bool at = std::search(first, last, wanted, wanted + sizeof constant) != last;
            EXPECT_FALSE(at && region.executable) << std::hex << constant << " in executable bytes";
            found_readable += at && !region.executable;
        }
    }
    EXPECT_EQ(found_readable, 3) << "the pool lies elsewhere than the test looks";
    exprdelete(handle);
    vclr();
}

#if defined(_WIN64) && TALLYMAT_JIT
// The system's unwinder walks out of a framed program: its pool page is
// made unreadable, the program faults on its first constant, and a vectored
// handler (the way crash handlers and profilers see code) unwinds one frame
// from the fault, which must land at the caller's return address with the
// caller's stack pointer, then lets the program go on.
namespace unwinding {

struct CallRecord {
    DWORD64 rsp_at_call, return_address;
};
DWORD64 pool_page;
CallRecord unwound;
bool walked;

LONG CALLBACK walk_one_frame(EXCEPTION_POINTERS* exception) {
    if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || walked) return EXCEPTION_CONTINUE_SEARCH;
    walked = true;
    DWORD previous;
    VirtualProtect(reinterpret_cast<void*>(pool_page), 1, PAGE_READONLY, &previous);  // the unwind data lie there too
    CONTEXT context = *exception->ContextRecord;
    DWORD64 base = 0, frame = 0;
    void* handler_data = nullptr;
    if (PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(context.Rip, &base, nullptr)) {
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, entry, &context, &handler_data, &frame, nullptr);
        unwound = {context.Rsp, context.Rip};
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace unwinding

// call_recording(code, index, record): calls code(index) and notes the stack
// pointer at the call and the return address.
extern "C" double call_recording(tallymat::eval::CompiledCode code, uint32_t index, unwinding::CallRecord* record);
asm(R"(
    .text
    .globl call_recording
call_recording:
    sub $40, %rsp
    lea 1f(%rip), %rax
    mov %rax, 8(%r8)
    mov %rsp, (%r8)
    mov %rcx, %rax
    mov %edx, %ecx
    call *%rax
1:  add $40, %rsp
    ret
)");

// Each kind of code: the switching code, and where the CPU has AVX-512 the
// code that rounds per instruction, faulting in its probe (before the
// frame) and in its frame.
TEST(FastProgram, TheSystemUnwinderWalksOutOfAFrame) {
    using tallymat::core::FlushProbe;
    struct Row {
        const char* text;  // each takes xmm6 up
        FlushProbe probe;
    };
    const Row rows[] = {{"x*(x+(x*(x+(x*(x+1)))))+sin(x)", FlushProbe::kReadMxcsr},
                        {"x*(x+(x*(x+(x*(x+1)))))+x^2", FlushProbe::kSubnormalSum},
                        {"x*(x+(x*(x+(x*(x+1)))))+x^2", FlushProbe::kReadMxcsr}};
    const FlushProbe chosen = tallymat::core::fp_switch.flush_probe;
    exprclr();
    vclr();
    vinsert("x", 0.5);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        tallymat::core::fp_switch.flush_probe = row.probe;
        int handle = exprpost(row.text);
        ASSERT_GE(handle, 0);
        ASSERT_TRUE(tallymat::eval::compile_now(handle));
        tallymat::eval::CompiledCode code = tallymat::eval::tier_table.slots[handle].machine_code.code;
        DWORD64 base = 0;
        PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(code), &base, nullptr);
        ASSERT_NE(entry, nullptr) << "the code is not registered with the unwinder";
        unwinding::pool_page = base + entry->EndAddress;
        unwinding::walked = false;
        unwinding::unwound = {};
        void* handler = AddVectoredExceptionHandler(1, unwinding::walk_one_frame);
        DWORD previous;
        ASSERT_TRUE(VirtualProtect(reinterpret_cast<void*>(unwinding::pool_page), 1, PAGE_NOACCESS, &previous));
        unwinding::CallRecord call{};
        double value = call_recording(code, static_cast<uint32_t>(handle), &call);
        RemoveVectoredExceptionHandler(handler);
        EXPECT_TRUE(unwinding::walked);
        EXPECT_EQ(unwinding::unwound.return_address, call.return_address);
        EXPECT_EQ(unwinding::unwound.rsp_at_call, call.rsp_at_call);
        EXPECT_EQ(bits(value), bits(calcpost(handle)));
        exprdelete(handle);
    }
    tallymat::core::fp_switch.flush_probe = chosen;
    vclr();
}
#endif

TEST(FastProgram, FoldedConstantsStillFailWhereThePlainLoopFails) {
    struct Row {
        const char* text;
        int code;
    };
    const Row rows[] = {{"1/0", 11},        {"2*3/(1-1)", 11},    {"0 mod 0", 11},     {"-(2)^1024", 14},
                        {"2^1024*0", 14},   {"ln(1-1)", 13},      {"exp(101)", 14},    {"sqrt(-1)", 13},
                        {"sin(1e16)*0", 16}, {"1e308*10-1e308*10", 0}, {"abs(-2)^-1074", 15}, {"-(-(3))", 0}};
    exprclr();
    for (const Row& row : rows) expect_both_forms(row.text, row.code);
}

TEST(FastProgram, OperandsAndConstantsAreFolded) {
    struct Row {
        const char* text;
        const char* fast;
    };
    const Row rows[] = {
        {"a+1", "LoadVKAdd A 1; End"},
        {"2*3+4", "LoadK 10; End"},
        {"-(2)", "LoadK -2; End"},
        {"x*(x+1)", "LoadV X; ApplyMulVKAdd X 1; End"},
        {"(a+b)*(a-b)", "LoadVVAdd A B; ApplyMulVVSub A B; End"},
        {"sqrt(x*x+y*y+a*a+b*b)", "LoadVVMul X X; ApplyAddVVMul Y Y; ApplyAddVVMul A A; ApplyAddVVMul B B; Sqrt; End"},
        {"1/0", "LoadK 1; DivK 0; End"},  // division is never folded: it must fail when run
        {"x^2", "LoadV X; Square; End"},
        {"x^3", "LoadV X; PowK 3; End"},
        {"x-(y/0)", "LoadV X; ApplySubVKDiv Y 0; End"},
        {"sin(x)*3 mod y", "LoadV X; Sin; MulK 3; ModV Y; End"},
    };
    exprclr();
    vclr();
    for (const char* name : {"a", "b", "x", "y"}) vinsert(name, 1.0);
    for (const Row& row : rows) {
        int handle = exprpost(row.text);
        ASSERT_GE(handle, 0) << row.text;
        EXPECT_EQ(dump_fast_program(handle), row.fast) << row.text;
        exprdelete(handle);
    }
    vclr();
}

TEST(FastProgram, FusedOperatorsFailInTheirOrder) {
    struct Row {
        const char* text;
        double y;
        int code;
    };
    const Row rows[] = {
        {"x*(1/y)", 0.0, 11},       {"x/(a-a)", 1.0, 11},     {"(x+1)/(y-y)", 1.0, 11},
        {"x-(y/0)", 1.0, 11},       {"(x/y)*(1/y)", 0.0, 11}, {"x*(y+1)", 2.0, 0},
        {"2^1024+(1/y)", 0.0, 14},  {"(1/y)+2^1024", 0.0, 11}, {"x/(y*y)", 1e-200, 11},
    };
    exprclr();
    vclr();
    vinsert("a", 3.0);
    vinsert("x", 5.0);
    vinsert("y", 1.0);
    for (const Row& row : rows) {
        vsetvalue(vlookup("y"), row.y);
        expect_both_forms(row.text, row.code);
    }
    vclr();
}

// Programs the registers cannot hold stay interpreted, with the same value.
TEST(FastProgram, TooDeepForTheRegistersStaysInterpreted) {
    if (!tallymat::eval::kJitBuilt) GTEST_SKIP() << "built without the JIT";
    exprclr();
    vclr();
    vinsert("x", 3.0);
    struct Row {
        int nesting;  // x-(x-(x-...)): one stack entry more per level
        bool compiled;
    };
    constexpr int kDepth = tallymat::eval::kJitStackDepth;  // 14 on x86-64, 6 on 32-bit x86
    for (Row row : {Row{kDepth, true}, Row{kDepth + 1, true}, Row{kDepth + 2, false}, Row{30, false}}) {
        std::string text = "x";
        for (int i = 0; i < row.nesting; ++i) text = "x-(" + text + ")";
        int handle = exprpost(text.c_str());
        ASSERT_GE(handle, 0);
        auto& slot = tallymat::translate::expr_table.slots[handle];
        EXPECT_EQ(tallymat::eval::compile_now(handle), row.compiled) << row.nesting;
        Outcome plain = tallymat::eval::run_program(slot);
        EXPECT_EQ(bits(calcpost(handle)), bits(plain.value)) << row.nesting;
        exprdelete(handle);
    }
    vclr();
}
