// Variable table: up to 100 named doubles, kept sorted by upper-cased name.
#pragma once

#include <cstdint>

#include "core/visibility.hpp"

namespace tallymat::vars {

inline constexpr int32_t kCapacity = 100;

// One heap block per variable: the value cell first, then the name, upper-cased
// and NUL-terminated.  The block never moves while the variable exists, so
// translated programs may keep pointers to its value cell.
struct Entry {
    double value;
};
static_assert(sizeof(Entry) == 8, "the name starts right behind the value cell");

inline char* name_of(Entry* entry) { return reinterpret_cast<char*>(entry + 1); }

struct VarTable {
    Entry* entries[kCapacity];  // ascending name order; a handle is a position
    int32_t count;
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
