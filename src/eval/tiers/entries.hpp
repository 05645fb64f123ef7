// How calcpost reaches a formula, and which tier runs it: one entry per
// slot, always callable, so that the evaluation of a valid handle is one
// indirect jump.  An entry is the slot's machine code, the interpreter
// (which also counts towards compilation), or the refusal of a free or
// retired slot (kInvalidExpression).  This is the one place that decides a formula's tier
// and keeps its machine code: the interface reports each event of a slot's
// life here, and the compiler only generates code when asked.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"
#include "eval/jit/jit.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

// A threshold no count reaches, and the count of a slot never to be compiled.
inline constexpr uint32_t kNeverCompiled = UINT32_MAX;

// When formulas are compiled: read once at load from TALLYMAT_JIT (0, off,
// false, no: never) and TALLYMAT_JIT_THRESHOLD (interpreted evaluations
// before a formula is compiled; 0: at once).
struct TierPolicy {
    bool compiles;
    uint32_t threshold;
};

extern TALLYMAT_HIDDEN TierPolicy tier_policy;

void configure_tier_policy(const char* enabled, const char* threshold);

// TALLYMAT_JIT_AVX512 set to a word for no keeps the switching machine
// code on CPUs that round per instruction (jit_settings).
void configure_rounding_per_instruction(const char* enabled);

// Every entry takes the slot's index; machine code ignores it.
using Entry = CompiledCode;

struct EntryTable {
    Entry for_slot[translate::kSlotCount];
};

extern TALLYMAT_HIDDEN EntryTable entry_table;

// A slot's tier: its machine code, if any, and its interpreted evaluations
// so far (kNeverCompiled once compiling it has failed).
struct SlotTier {
    MachineCode machine_code;
    uint32_t evaluations;
};

struct TierTable {
    SlotTier slots[translate::kSlotCount];
};

extern TALLYMAT_HIDDEN TierTable tier_table;

// The events of a slot's life, one call each from the interface.
// A translation succeeded: its fast form is derived and interpreted,
// counting towards compilation from 0.
void formula_translated(int32_t index);
// The slot was released: its machine code goes, calcpost refuses it.
void formula_released(int32_t index);
// vclr retired the programs that name variables: their machine code goes.
void variables_cleared();

// Compiles the slot's formula now, whatever its count (the tests ask for
// this); false when it stays interpreted.
bool compile_now(int32_t index);

}  // namespace tallymat::eval
