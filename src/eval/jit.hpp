// Machine code from the fast form, for x86-64 (Xbyak): a formula evaluated
// often enough is compiled on the calcpost that crosses the threshold and
// runs as a function of its own from then on.  Values and codes are the
// interpreter's, bit for bit: + - * / are SSE2 instructions with the left
// operand as destination, every check is made as the interpreter makes it,
// and every other operator calls the same operator code.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

// Read once at load from TALLYMAT_JIT (0: off) and TALLYMAT_JIT_THRESHOLD
// (interpreted evaluations before a formula is compiled; 0: at once).
struct JitSettings {
    bool enabled;
    uint32_t threshold;
    // The code's fallbacks, which the tests force: off, every variable value
    // is reached through a pointer (as when the code lies out of the values'
    // reach), and div and mod call their helper (as on a CPU without SSE4.1).
    bool cells_from_instructions = true;
    bool floor_by_instruction = true;
};

extern TALLYMAT_HIDDEN JitSettings jit_settings;

// Programs of more fast instructions stay interpreted: with 100 slots this
// bounds the library's executable memory.
inline constexpr int32_t kJitMaxInstructions = 4096;
inline constexpr size_t kJitMaxCodeBytes = 256 * 1024;

#if TALLYMAT_JIT
inline constexpr bool kJitBuilt = true;
#else
inline constexpr bool kJitBuilt = false;
#endif

void configure_jit(const char* enabled, const char* threshold);

// Compiles the slot's fast form; false (and the slot unchanged) when it
// cannot: too long, out of memory, or no JIT in this build.
bool compile(translate::Slot& slot);

// Frees the slot's machine code, if any; the caller refreshes the slot's
// entry once it has changed the slot as it means to.
void discard_compiled(translate::Slot& slot);

inline constexpr uint32_t kNeverCompiled = UINT32_MAX;  // the count of a slot that is never compiled

// Counts an interpreted evaluation; true when the slot has reached the
// threshold (calcpost then tries compile_when_due).  With the JIT off the
// threshold is kNeverCompiled, which a count never passes.
inline bool counts_towards_compilation(translate::Slot& slot) {
    if (!kJitBuilt) return false;
    if (slot.evaluations < jit_settings.threshold) [[likely]] {
        ++slot.evaluations;
        return false;
    }
    return true;
}

// Compiles a slot that reached the threshold; a slot that cannot be
// compiled is not tried again.
inline bool may_be_compiled(const translate::Slot& slot) {
    return jit_settings.enabled && slot.evaluations != kNeverCompiled;
}

inline bool compile_when_due(translate::Slot& slot) {
    if (!may_be_compiled(slot)) return false;
    if (compile(slot)) return true;
    slot.evaluations = kNeverCompiled;
    return false;
}

}  // namespace tallymat::eval
