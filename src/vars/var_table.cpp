// Variable table: sorted entries, search, insertion and clearing.
#include "vars/var_table.hpp"

#include <cstdlib>
#include <cstring>

#include "core/errors.hpp"

namespace tallymat::vars {

VarTable var_table{};

namespace {

inline unsigned char upper_ascii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

char* stored_name(const char* name) {
    size_t length = std::strlen(name);
    auto* stored = static_cast<char*>(std::malloc(length + 1));
    if (!stored) return nullptr;
    for (size_t i = 0; i <= length; ++i)
        stored[i] = static_cast<char>(upper_ascii(static_cast<unsigned char>(name[i])));
    return stored;
}

}  // namespace

int compare_with_stored(const char* name, const char* stored) {
    const auto* p = reinterpret_cast<const unsigned char*>(name);
    const auto* q = reinterpret_cast<const unsigned char*>(stored);
    for (;; ++p, ++q) {
        unsigned char x = upper_ascii(*p), y = *q;  // stored names are upper-cased already
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

SearchResult search(const char* name) {
    int32_t count = var_table.count;
    if (count == 0) return {false, 0};

    // Hosts usually insert in order; appending then costs one comparison.
    int last = compare_with_stored(name, var_table.names[count - 1]);
    if (last == 0) return {true, count - 1};
    if (last > 0) return {false, count};

    int32_t lo = 0, hi = count, mid = 0;
    for (;;) {
        int32_t width = hi - lo;
        mid = (lo + hi) / 2;
        int order = compare_with_stored(name, var_table.names[mid]);
        if (order == 0) return {true, mid};
        if (order < 0) hi = mid; else lo = mid;
        if (hi - lo >= width) return {false, hi};
    }
}

int32_t insert(const char* name, double value) {
    // The full table is reported before a duplicate.
    if (var_table.count >= kCapacity) return core::kVariableTableFull;
    SearchResult where = search(name);
    if (where.found) return core::kDuplicate;
    char* stored = stored_name(name);
    if (!stored) return core::kNoMemory;

    double* cell = &var_table.values[var_table.count];
    *cell = value;
    for (int32_t i = var_table.count; i > where.position; --i) {
        var_table.cells[i] = var_table.cells[i - 1];
        var_table.names[i] = var_table.names[i - 1];
    }
    var_table.cells[where.position] = cell;
    var_table.names[where.position] = stored;
    ++var_table.count;
    return core::kOk;
}

void clear() {
    for (int32_t i = 0; i < var_table.count; ++i) {
        std::free(var_table.names[i]);
        var_table.names[i] = nullptr;
        var_table.cells[i] = nullptr;
    }
    var_table.count = 0;
}

}  // namespace tallymat::vars

