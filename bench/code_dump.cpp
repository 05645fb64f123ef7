// The machine code of the benchmark's formulas and of formulas that reach
// every lowering, as hex, one line per formula and setting: two builds'
// outputs compared with diff show whether a change to the compiler left
// its code byte for byte as it was.
//   tallymat_code_dump > code.txt
// Variable values are reached through the pool (as when the code lies out
// of their reach), so the bytes do not depend on where the code is mapped.
#include <cstdio>
#include <string>

#include "core/fp_environment.hpp"
#include "eval/jit/jit.hpp"
#include "formulas.hpp"
#include "tallymat.h"
#include "translate/slots.hpp"

namespace {

// The formulas beyond the benchmark's: every operator, deep stacks (the
// registers a convention must save) and refused constants.
const char* const kMoreFormulas[] = {
    "sin(a)+cos(b)*tg(a)",
    "ln(a)+lg(b)+exp(a)+arcsin(a)+arccos(b)+arctg(a)",
    "a mod b + a div b + a**b + a^b + a^2.5 + a^-3 + a mod 3 + a div 0 + b mod (a+1)",
    "sign(a)+ez(b)+abs(a)-sqrt(b)*(-a) + (+b)",
    "a^0.5+b^7+a^1e300+x^y",
    "a+(b+(a+(b+(a+(b+(a*(b-sin(a))))))))",
    "a/0+b/x+(a+b)/(x-y)+a/(x*y)",
    "a*(b+(x*(y+(a*(b+(x*(y+(a*(b+(x*(y+(a*b))))))))))))+sin(y)",
    "a-(b*x+y*2)+(a/b-x/3)*(2*a-b)",
};

// The bytes up to the pool, which starts on a page of its own after the
// int3 filling: the code's last non-int3 byte ends it.
size_t code_length(const unsigned char* code, size_t mapped) {
    size_t end = 0;
    for (size_t i = 0; i < mapped; ++i)
        if (code[i] != 0xCC) end = i + 1;
        else if (i % 4096 == 4095 && end <= i) break;
    return end;
}

// Where the dumped code would send a flushing host: only its address is
// written, in the pool, which the dump leaves out.
TALLYMAT_SSE_CALL double refuse_flushing_host(uint32_t) { return 0.0; }

void dump(const char* text, const char* setting) {
    int handle = exprpost(text);
    if (handle < 0) {
        std::printf("%s | %s | not translated: %d\n", setting, text, geterrnum());
        return;
    }
    using namespace tallymat;
    eval::MachineCode machine = eval::compile(translate::expr_table.slots[handle].fast, refuse_flushing_host);
    std::printf("%s | %s | ", setting, text);
    if (!machine.code) std::printf("not compiled");
    auto bytes = reinterpret_cast<const unsigned char*>(machine.code);
    for (size_t i = 0, n = machine.code ? code_length(bytes, machine.own.bytes) : 0; i < n; ++i)
        std::printf("%02x", bytes[i]);
    std::printf("\n");
    eval::free_machine_code(machine);
    exprdelete(handle);
}

void dump_all(const char* setting) {
    for (const benchset::Formula& formula : benchset::kFormulas) dump(formula.text, setting);
    for (const char* text : kMoreFormulas) dump(text, setting);
}

}  // namespace

// The switching code in both floor settings and with either exit, then,
// where the CPU has AVX-512, the code that rounds per instruction with
// either probe for a flushing host (which the switching code serves).
int main() {
    using tallymat::eval::jit_settings;
    using namespace tallymat::core;
    for (const char* name : {"a", "b", "x", "y"}) vinsert(name, 0.5);
    jit_settings.cells_from_instructions = false;
    jit_settings.rounding_per_instruction = false;
    for (HostMxcsrRestore exit : {HostMxcsrRestore::kAlways, HostMxcsrRestore::kWhenChanged}) {
        fp_switch.restore = exit;
        const char* exit_name = exit == HostMxcsrRestore::kAlways ? "reload" : "compare";
        for (bool floor_by_instruction : {true, false}) {
            jit_settings.floor_by_instruction = floor_by_instruction;
            std::string setting = std::string(floor_by_instruction ? "roundsd" : "floor helper") + ", " + exit_name;
            dump_all(setting.c_str());
        }
    }
    if (!fp_switch.rounding_per_instruction) return 0;
    jit_settings.floor_by_instruction = true;
    jit_settings.rounding_per_instruction = true;
    for (FlushProbe probe : {FlushProbe::kSubnormalSum, FlushProbe::kReadMxcsr}) {
        fp_switch.flush_probe = probe;
        dump_all(probe == FlushProbe::kSubnormalSum ? "rounding per instruction, sum probe"
                                                    : "rounding per instruction, read probe");
    }
}
