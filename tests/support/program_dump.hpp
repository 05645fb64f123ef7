// Renders a slot's postfix program as text ("x x 1 + *") so translation
// tests read like the tables they check.
#pragma once

#include <charconv>
#include <string>

#include "translate/slots.hpp"
#include "vars/var_table.hpp"

inline std::string shortest_text(double value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

inline std::string dump_program(int handle) {
    using namespace tallymat;
    if (!translate::is_occupied(handle)) return "<free>";
    const translate::Slot& slot = translate::expr_table.slots[handle];
    std::string out;
    for (int32_t i = 0; i < slot.count; ++i) {
        const translate::Item& item = slot.program[i];
        if (!out.empty()) out += ' ';
        switch (item.kind) {
            case translate::kOperatorItem: out += item.op; break;
            case translate::kNumberItem: out += shortest_text(item.number); break;
            case translate::kVariableItem: {
                // The value cell is the start of its entry; the name follows it.
                auto* entry = reinterpret_cast<vars::Entry*>(const_cast<double*>(item.cell));
                out += vars::name_of(entry);
                break;
            }
            default: out += "<kind " + std::to_string(item.kind) + ">";
        }
    }
    return out;
}
