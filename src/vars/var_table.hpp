// Variable table: up to 100 named doubles, kept sorted by upper-cased name.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"

namespace tallymat::vars {

inline constexpr int32_t kCapacity = 100;

// The values live in the table itself, in the order the variables were
// inserted (there is no removal but vclr), so a value cell never moves while
// its variable exists: translated programs keep pointers to it, and machine
// code placed near the library can address it directly.  A handle is a
// position in name order, which an insertion shifts; the cell and name
// pointers shift with it.
struct VarTable {
    double* cells[kCapacity];  // by handle
    char* names[kCapacity];    // by handle: upper-cased, NUL-terminated, one heap block each
    int32_t count;
    double values[kCapacity];  // by insertion
};

extern TALLYMAT_HIDDEN VarTable var_table;

struct SearchResult {
    bool found;
    int32_t position;  // the handle when found, the insertion position otherwise
};

// Orders a name against a stored (upper-cased) one: a-z compare as A-Z,
// bytes as unsigned values, a prefix sorts first.
int compare_with_stored(const char* name, const char* stored);

// Last-entry shortcut, then binary search.
SearchResult search(const char* name);

// Adds a variable in name order; 0, 7, 8 or 9.
int32_t insert(const char* name, double value);

// Frees every entry (programs naming them are retired by the caller).
void clear();

inline bool is_valid_handle(int32_t handle) {
    return static_cast<uint32_t>(handle) < static_cast<uint32_t>(var_table.count);
}

}  // namespace tallymat::vars
