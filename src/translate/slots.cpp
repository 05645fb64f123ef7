// Expression slots and the two exported operations that release them.
#include "translate/slots.hpp"

#include <cstdlib>

#include "core/core_state.hpp"
#include "tallymat.h"
#include "vars/var_table.hpp"

namespace tallymat::translate {

ExprTable expr_table{};

int32_t allocate_slot(int32_t capacity, int32_t* index) {
    int32_t free_index = 0;
    while (free_index < kSlotCount && expr_table.slots[free_index].program) ++free_index;
    if (free_index == kSlotCount) return core::kTooManyExpressions;

    auto* program = static_cast<Item*>(std::malloc(static_cast<size_t>(capacity) * sizeof(Item)));
    if (!program) return core::kNoMemory;

    Slot& slot = expr_table.slots[free_index];
    slot.program = program;
    slot.count = 0;
    slot.capacity = capacity;
    slot.refers_to_variables = false;
    slot.variable_epoch = vars::var_table.epoch;
    *index = free_index;
    return core::kOk;
}

namespace {

// The next free item, or null when the buffer is full.
inline Item* next_item(Slot& slot) {
    if (slot.count == slot.capacity) return nullptr;
    return &slot.program[slot.count++];
}

}  // namespace

int32_t append_operator(Slot& slot, char code) {
    Item* item = next_item(slot);
    if (!item) return core::kBufferOverflow;
    item->kind = kOperatorItem;
    item->op = code;
    return core::kOk;
}

int32_t append_number(Slot& slot, double value) {
    Item* item = next_item(slot);
    if (!item) return core::kBufferOverflow;
    item->kind = kNumberItem;
    item->number = value;
    return core::kOk;
}

int32_t append_variable(Slot& slot, const double* cell) {
    Item* item = next_item(slot);
    if (!item) return core::kBufferOverflow;
    item->kind = kVariableItem;
    item->cell = cell;
    slot.refers_to_variables = true;
    return core::kOk;
}

void release_slot(int32_t index) {
    Slot& slot = expr_table.slots[index];
    std::free(slot.program);
    slot = Slot{};
}

void release_all_slots() {
    for (int32_t i = 0; i < kSlotCount; ++i)
        if (expr_table.slots[i].program) release_slot(i);
}

}  // namespace tallymat::translate

using namespace tallymat;

extern "C" {

TALLYMAT_API int exprdelete(int handle) {
    if (!translate::is_occupied(handle)) return core::report(core::kInvalidExpression);
    translate::release_slot(handle);
    return core::report(core::kOk);
}

TALLYMAT_API int exprclr(void) {
    translate::release_all_slots();
    return core::report(core::kOk);
}

}  // extern "C"
