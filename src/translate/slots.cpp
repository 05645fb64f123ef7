// Expression slots: allocation, release and retirement after vclr.
#include "translate/slots.hpp"

#include <cstdlib>

#include "core/errors.hpp"
#include "vars/var_table.hpp"

namespace tallymat::translate {

ExprTable expr_table{};

int32_t allocate_slot(int32_t capacity, int32_t* index) {
    int32_t free_index = 0;
    while (free_index < kSlotCount && expr_table.slots[free_index].items) ++free_index;
    if (free_index == kSlotCount) return core::kTooManyExpressions;

    // The postfix items and, behind them, room for their fast form: one block.
    size_t items_bytes = items_block_bytes(capacity);
    auto* block = static_cast<unsigned char*>(std::malloc(items_bytes + program::fast_program_bytes(capacity)));
    if (!block) return core::kNoMemory;

    Slot& slot = expr_table.slots[free_index];
    slot.items = reinterpret_cast<program::Item*>(block);
    slot.fast = reinterpret_cast<program::FastInsn*>(block + items_bytes);
    slot.count = 0;
    slot.capacity = capacity;
    slot.refers_to_variables = false;
    *index = free_index;
    return core::kOk;
}

void release_slot(int32_t index) {
    Slot& slot = expr_table.slots[index];
    std::free(slot.items);
    slot = Slot{};
}

void retire_programs_naming_variables() {
    for (Slot& slot : expr_table.slots)
        if (slot.items && slot.refers_to_variables) slot.fast = nullptr;
}

}  // namespace tallymat::translate
