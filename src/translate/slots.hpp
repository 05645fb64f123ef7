// Expression table: 100 slots, each holding one translated postfix program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/errors.hpp"
#include "core/visibility.hpp"
#include "program/instruction_set.hpp"

namespace tallymat::translate {

inline constexpr int32_t kSlotCount = 100;

// One cache line per slot: the interpreter's entry reads the fast form
// pointer of one slot and nothing else.
struct alignas(64) Slot {
    program::Item* items;           // null: the slot is free; one heap block holds both forms
    program::FastInsn* fast;  // the form calcpost runs, behind the items; null when free or retired
    int32_t count;         // items written so far
    int32_t capacity;      // items the buffer holds (the text's token count)
    // A program that names variables holds pointers into their entries: vclr
    // retires it (its fast form goes, the block stays until it is released).
    bool refers_to_variables;
};

struct ExprTable {
    Slot slots[kSlotCount];
};

extern TALLYMAT_HIDDEN ExprTable expr_table;

inline bool is_occupied(int32_t handle) {
    return handle >= 0 && handle < kSlotCount && expr_table.slots[handle].items != nullptr;
}

// The items of a buffer, rounded up so that the fast form behind them is aligned.
inline size_t items_block_bytes(int32_t capacity) {
    size_t bytes = static_cast<size_t>(capacity) * sizeof(program::Item);
    return (bytes + alignof(program::FastInsn) - 1) / alignof(program::FastInsn) * alignof(program::FastInsn);
}

// Takes the lowest free slot with room for capacity items; 0, 18 or 7.
int32_t allocate_slot(int32_t capacity, int32_t* index);

// Writes one item behind the last; 0, or 5 when the buffer is full.
inline int32_t append(Slot& slot, const program::Item& item) {
    if (slot.count == slot.capacity) return core::kBufferOverflow;
    slot.items[slot.count++] = item;
    if (item.kind == program::kVariableItem) slot.refers_to_variables = true;
    return core::kOk;
}

void release_slot(int32_t index);

// After vclr: programs that name variables point into freed entries, so
// they lose their fast form and calcpost refuses them (kInvalidExpression) until released.
void retire_programs_naming_variables();

}  // namespace tallymat::translate
