// Machine code from the fast form, for x86-64 (Xbyak): a pure code
// generator, which the entries call when a formula has been evaluated often
// enough (entries.hpp).  Values and codes are the interpreter's, bit for
// bit: + - * / are SSE2 instructions with the left operand as destination
// (or, on CPUs with AVX-512, EVEX instructions that round to nearest
// themselves), every check is made as the interpreter makes it, and every
// other operator calls the same operator code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/visibility.hpp"
#include "program/instruction_set.hpp"

namespace tallymat::eval {

// The code's fallbacks, which the tests force: off, every variable value
// is reached through a pointer (as when the code lies out of the values'
// reach), div and mod call their helper (as on a CPU without SSE4.1), and
// the code switches MXCSR as on a CPU without AVX-512 (also
// TALLYMAT_JIT_AVX512=off).  When to compile is the entries' decision
// (entries.hpp).
struct JitSettings {
    bool cells_from_instructions = true;
    bool floor_by_instruction = true;
    bool rounding_per_instruction = true;
};

extern TALLYMAT_HIDDEN JitSettings jit_settings;

// Programs whose stack goes deeper (program::deepest_depth) than the xmm
// registers hold, two of them scratch, stay interpreted: 16 registers on
// x86-64, 8 in 32-bit code.
inline constexpr int kJitStackDepth = sizeof(void*) == 8 ? 14 : 6;

// Programs whose fast form takes more slots (a paired instruction takes
// two) stay interpreted: with 100 formulas this bounds the library's
// executable memory.
inline constexpr int32_t kJitMaxInstructions = 4096;
inline constexpr size_t kJitMaxCodeBytes = 256 * 1024;

#if TALLYMAT_JIT
inline constexpr bool kJitBuilt = true;
#else
inline constexpr bool kJitBuilt = false;
#endif

// A formula's machine code: called with its slot's index (which it
// ignores) like every entry calcpost jumps through.
using CompiledCode = double(TALLYMAT_SSE_CALL*)(uint32_t index);

struct CodeMapping {
    void* start = nullptr;    // null: none
    size_t bytes = 0;
    void* unwind = nullptr;   // Windows: its registration with the system's unwinder
};

// A formula's code: the switching code, which sets the library's MXCSR
// around the evaluation, or, on CPUs that round in each instruction and
// for formulas that call no helper on their straight path (the standard
// functions they call round in their own instructions too), code that never
// touches MXCSR, whose host with DAZ or FTZ set is served by the
// switching code, made when the first such host calls (entries.hpp).
struct MachineCode {
    CompiledCode code = nullptr;  // the entry; null: none
    CodeMapping own;              // the entry's mapping
    bool rounds_per_instruction = false;
    bool calls_standard_function = false;  // on some path
    CodeMapping switching;        // of code that rounds per instruction, once a flushing host has called
};

// Compiles a fast form into a mapping of its own; no code (and nothing
// held) when it cannot: too long, too deep for the registers, out of
// memory, or no JIT in this build.  Code that rounds per instruction jumps
// to for_flushing_host, with its argument, when the host flushes
// subnormals.  The compiler knows nothing of slots or of when to compile:
// the entries decide (entries.hpp).
MachineCode compile(const program::FastInsn* fast, CompiledCode for_flushing_host);

// The switching code alone, for what for_flushing_host runs.
CodeMapping compile_switching(const program::FastInsn* fast);

// Gives the mapping back; the code becomes none.
void free_machine_code(MachineCode& machine_code);

}  // namespace tallymat::eval
