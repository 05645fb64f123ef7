// The bottom of the x86-64 target: Xbyak's code generator with the
// constant pool behind the code, and where the code lies.
#pragma once

#include <bit>
#include <cstdint>
#include <deque>
#include <map>
#include <tuple>

#include <xbyak/xbyak.h>

#include "eval/jit/executable_memory.hpp"

namespace tallymat::eval::x86_64 {

using namespace Xbyak;
using namespace Xbyak::util;

// Constants and addresses the code reads, RIP-relative, from a pool behind
// it; and where the code lies, which decides how it reaches other data.
class PoolWriter : public CodeGenerator {
public:
    // Generates in place: the code's final address decides how it reaches
    // the variable values.
    PoolWriter(size_t bytes, void* area)
        : CodeGenerator(bytes, area),
          area_begin_(reinterpret_cast<intptr_t>(area)),
          area_end_(area_begin_ + static_cast<intptr_t>(bytes)) {}

    size_t pool_offset() const { return pool_offset_; }

    // One entry per distinct value, however often the code reads it.
    Address pooled(uint64_t low, uint64_t high = 0, bool wide = false) {
        PoolEntry*& entry = pool_index_[{low, high, wide}];
        if (!entry) {
            entry = &pool_entries_.emplace_back();
            entry->low = low;
            entry->high = high;
            entry->wide = wide;
        }
        return ptr[rip + entry->label];
    }
    Address constant(double k) { return pooled(std::bit_cast<uint64_t>(k)); }
    Address pointer(const void* p) { return pooled(reinterpret_cast<uintptr_t>(p)); }
    Address mask(uint64_t bits) { return pooled(bits, bits, true); }

    // The pool starts on a page of its own, which is sealed readable and
    // never executable: no formula value is ever an executable byte.  The
    // code's last page is filled with int3.
    void write_pool() {
        while (getSize() % executable_memory::whole_pages(1) != 0) db(0xCC);
        pool_offset_ = getSize();
        for (PoolEntry& entry : pool_entries_) {
            if (entry.wide) align(16);
            L(entry.label);
            dq(entry.low);
            if (entry.wide) dq(entry.high);
        }
    }

protected:
    // Whether the code can address target from its instructions.
    bool within_reach(const void* target) const {
        constexpr intptr_t kReach = INT32_MAX - 4096;  // a margin for the instruction's own length
        auto address = reinterpret_cast<intptr_t>(target);
        return address - area_begin_ < kReach && area_end_ - address < kReach && area_begin_ - address < kReach &&
               address - area_end_ < kReach;
    }

private:
    struct PoolEntry {
        Label label;
        uint64_t low = 0, high = 0;
        bool wide = false;  // 16 bytes, for the packed masks
    };
    std::deque<PoolEntry> pool_entries_;  // stable addresses: the labels are referred to
    std::map<std::tuple<uint64_t, uint64_t, bool>, PoolEntry*> pool_index_;
    intptr_t area_begin_, area_end_;  // where the code is generated and runs
    size_t pool_offset_ = 0;          // where the pool's pages begin
};

}  // namespace tallymat::eval::x86_64
