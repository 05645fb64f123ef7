// Machine code from the fast form (see jit.hpp).
//
// The generated function ignores its argument (the slot index every entry
// takes) and returns the value in xmm0, as calcpost does; it switches MXCSR
// as the interpreter's run does (or, rounding per instruction, leaves it
// alone) and writes the code of a failure to the last error (calcpost sets
// it to 0 before the call).  Each stack entry lives in a register of its
// own.  Constants and helper addresses come from a pool behind the code,
// read RIP-relative: no formula value becomes an instruction immediate.
// Variable values are read where they live, in the variable table, from
// the instruction itself when the code was mapped within reach of them.
// The code is generated in place into a writable mapping, which is then
// made read-and-execute: it is never writable and executable at once.
//
// Layers: the walk over the fast form and the choice of each operator's
// lowering (walk.hpp) know no instruction set; the x86-64 target
// (x86_64/): its calling conventions, the pool, the instruction forms of
// the two kinds of code, the environments, the frame and the operators'
// emitters, each reading the ones below.  Here: the mapping the code is
// generated into.
#include "eval/jit/jit.hpp"

#include "core/errors.hpp"

namespace tallymat::eval {

constinit JitSettings jit_settings{};

}  // namespace tallymat::eval

#if !TALLYMAT_JIT

namespace tallymat::eval {
MachineCode compile(const program::FastInsn*, CompiledCode) { return {}; }
CodeMapping compile_switching(const program::FastInsn*) { return {}; }
void free_machine_code(MachineCode& machine_code) { machine_code = {}; }
}  // namespace tallymat::eval

#else

#include "eval/jit/walk.hpp"
#include "eval/jit/x86/target.hpp"
#include "vars/var_table.hpp"

namespace tallymat::eval {

namespace {

using executable_memory::whole_pages;
static_assert(x86::Target::kStackDepth == kJitStackDepth);

// Bytes of code and pool per fast instruction, enough for the widest: a
// function call at the deepest stack, with every register spilled and
// reloaded around it on the straight path and again on its slow path
// (about 500 bytes).  Unused pages are given back after generation.
constexpr size_t kBytesPerInstruction = 640;

// Code is generated in place, in an area straight from the system that is
// writable until the code is written, then sealed (executable_memory.hpp).
// It is asked for near the variable values, so that the code reaches them
// from its instructions (where the system places it elsewhere, the code
// reaches them through pointers).

int32_t fast_instruction_count(const FastInsn* code) {
    int32_t count = 0;
    for (const FastInsn* ip = code; ip->op != program::kEnd && count <= kJitMaxInstructions; ++ip) ++count;
    return count;
}

// One function of machine code in a mapping of its own: code that rounds
// per instruction where for_flushing_host is given and the program calls
// no helper on its straight path, else the switching code.  None when it
// cannot be made.  A program refuses before it writes a byte, so the
// switching code may follow in the same area.
MachineCode generate(const FastInsn* fast, const void* for_flushing_host) {
    int32_t count = fast_instruction_count(fast);
    if (count > kJitMaxInstructions) return {};
    // One page more than the code and pool need: the pool starts on a page of its own.
    size_t mapped = whole_pages(1024 + static_cast<size_t>(count) * kBytesPerInstruction) + whole_pages(1);
    void* area = executable_memory::map_writable_near(vars::var_table.values, mapped);
    if (!area) return {};
    size_t code_bytes = 0, used = 0, unwind_table = 0;
    bool rounds = false, calls_standard_function = false;
    auto try_program = [&](const void* fallback) {
        size_t planned_pool_offset = whole_pages(1);  // where a small program's pool starts
        for (int writing = 0; writing < 2; ++writing) {
            x86::Target target(mapped, area, fallback, planned_pool_offset);
            Walk<x86::Target> walk(target);
            if (!walk.program(fast) || target.getSize() > kJitMaxCodeBytes) return false;
            if (!target.pool_where_planned()) {  // 32-bit code longer than planned: written again
                planned_pool_offset = target.pool_offset();
                continue;
            }
            code_bytes = target.pool_offset();
            used = whole_pages(target.getSize());
            unwind_table = target.unwind_table_offset();
            rounds = fallback != nullptr;
            calls_standard_function = target.calls_standard_function();
            return true;
        }
        return false;
    };
    try {
        if (!(for_flushing_host && try_program(for_flushing_host))) try_program(nullptr);
    } catch (...) {
        used = 0;  // too big, out of memory: the formula stays interpreted
    }
    if (used == 0) {
        executable_memory::unmap(area, mapped);
        return {};
    }
    if (!executable_memory::seal(area, mapped, code_bytes, used)) return {};
    void* unwind = nullptr;
    if (unwind_table != 0) {
        unwind = executable_memory::register_unwind_table(area, static_cast<char*>(area) + unwind_table);
        if (!unwind) {  // code the unwinder cannot walk is not run
            executable_memory::unmap(area, used);
            return {};
        }
    }
    return {reinterpret_cast<CompiledCode>(area), {area, used, unwind}, rounds, calls_standard_function, {}};
}

void free_mapping(CodeMapping& mapping) {
    executable_memory::unregister_unwind_table(mapping.unwind);
    if (mapping.start) executable_memory::unmap(mapping.start, mapping.bytes);
    mapping = {};
}

}  // namespace

MachineCode compile(const FastInsn* fast, CompiledCode for_flushing_host) {
    bool rounding = x86::kRoundsPerInstructionBuilt && core::fp_switch.rounding_per_instruction &&
                    jit_settings.rounding_per_instruction;
    return generate(fast, rounding ? reinterpret_cast<const void*>(for_flushing_host) : nullptr);
}

CodeMapping compile_switching(const FastInsn* fast) { return generate(fast, nullptr).own; }

void free_machine_code(MachineCode& machine_code) {
    free_mapping(machine_code.own);
    free_mapping(machine_code.switching);
    machine_code = {};
}

}  // namespace tallymat::eval

#endif
