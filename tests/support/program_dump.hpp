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

// The name of the variable whose value a cell holds.
inline std::string name_of_cell(const double* cell) {
    const tallymat::vars::VarTable& table = tallymat::vars::var_table;
    for (int32_t h = 0; h < table.count; ++h)
        if (table.cells[h] == cell) return table.names[h];
    return "<cell>";
}

inline std::string dump_program(int handle) {
    using namespace tallymat;
    if (!translate::is_occupied(handle)) return "<free>";
    const translate::Slot& slot = translate::expr_table.slots[handle];
    std::string out;
    for (int32_t i = 0; i < slot.count; ++i) {
        const program::Item& item = slot.items[i];
        if (!out.empty()) out += ' ';
        switch (item.kind) {
            case program::kOperatorItem: out += static_cast<char>(item.op); break;
            case program::kNumberItem: out += shortest_text(item.number); break;
            case program::kVariableItem: out += name_of_cell(item.cell); break;
            default: out += "<kind " + std::to_string(item.kind) + ">";
        }
    }
    return out;
}

// Renders a slot's fast form ("LoadV X; AddK 1; End"); a fused instruction
// shows both operands ("LoadVV X Y Mul" as "LoadVVMul X Y").
inline std::string dump_fast_program(int handle) {
    using namespace tallymat;
    if (!translate::is_occupied(handle)) return "<free>";
    auto operand = [](const program::FastInsn& insn, bool variable) {
        if (!variable) return shortest_text(insn.k);
        return name_of_cell(insn.p);
    };
    std::string out;
    for (const program::FastInsn* ip = translate::expr_table.slots[handle].fast;; ++ip) {
        if (!out.empty()) out += "; ";
        out += program::fast_op_name(ip->op);
        if (ip->op == program::kEnd) return out;
        const program::FastOpFacts& facts = program::facts(ip->op);
        if (facts.operands == program::Operands::None || facts.operands == program::Operands::Stack) continue;
        out += " " + operand(ip[0], program::first_is_variable(facts.operands));
        if (program::width(ip->op) == 2) {
            out += " " + operand(ip[1], program::second_is_variable(facts.operands));
            ++ip;
        }
    }
}
