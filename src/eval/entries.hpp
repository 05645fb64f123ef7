// How calcpost reaches a formula: one entry per slot, always callable, so
// that the evaluation of a valid handle is one indirect jump.  An entry is
// the slot's machine code, the interpreter (which also counts towards
// compilation), or the refusal of a free or retired slot (20).
#pragma once

#include <cstdint>

#include "core/visibility.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

// Every entry takes the slot's index; machine code ignores it.
using Entry = translate::CompiledCode;

struct EntryTable {
    Entry for_slot[translate::kSlotCount];
};

extern TALLYMAT_HIDDEN EntryTable entry_table;

// Points the slot's entry at what the slot now holds: machine code, a
// runnable fast form, or nothing calcpost may run.
void refresh_entry(const translate::Slot& slot);

}  // namespace tallymat::eval
