// The bottom of the x86 target: Xbyak's code generator with the constant
// pool behind the code, and where the code lies.  x86-64 code reads the
// pool RIP-relative; 32-bit code, which has no such addressing, reads it at
// absolute addresses: each entry's place is fixed when the code first asks
// for it, from where the pool is planned to start, and the code is written
// again when the pool starts elsewhere (encodings of absolute addresses
// have one length, so the second writing is the same length as the first).
#pragma once

#include <bit>
#include <cstdint>
#include <deque>
#include <map>
#include <tuple>

#include <xbyak/xbyak.h>

#include "eval/jit/executable_memory.hpp"
#include "eval/jit/x86/calling_convention.hpp"

namespace tallymat::eval::x86 {

using namespace Xbyak;
using namespace Xbyak::util;

// Constants and addresses the code reads, RIP-relative, from a pool behind
// it; and where the code lies, which decides how it reaches other data.
class PoolWriter : public CodeGenerator {
public:
    // Generates in place: the code's final address decides how it reaches
    // the variable values.  32-bit code places its pool at planned_pool_offset.
    PoolWriter(size_t bytes, void* area, size_t planned_pool_offset)
        : CodeGenerator(bytes, area),
          area_begin_(reinterpret_cast<intptr_t>(area)),
          area_end_(area_begin_ + static_cast<intptr_t>(bytes)),
          planned_pool_offset_(planned_pool_offset) {}

    size_t pool_offset() const { return pool_offset_; }
    // False when 32-bit code's pool starts elsewhere than planned: the code
    // is to be written again with pool_offset() as the plan.
    bool pool_where_planned() const { return !kAbsolutePool || pool_offset_ == planned_pool_offset_; }

    // One entry per distinct value, however often the code reads it.
    Address pooled(uint64_t low, uint64_t high = 0, bool wide = false) {
        PoolEntry*& entry = pool_index_[{low, high, wide}];
        if (!entry) {
            entry = &pool_entries_.emplace_back();
            entry->low = low;
            entry->high = high;
            entry->wide = wide;
            entry->offset = wide ? (pool_bytes_ + 15) / 16 * 16 : pool_bytes_;
            pool_bytes_ = entry->offset + (wide ? 16 : 8);
        }
#if defined(XBYAK64)
        return ptr[rip + entry->label];
#else
        return ptr[reinterpret_cast<void*>(area_begin_ + planned_pool_offset_ + entry->offset)];
#endif
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
            if (getSize() - pool_offset_ != entry.offset) throw Error(ERR_INTERNAL);  // never: the same rule
            L(entry.label);
            dq(entry.low);
            if (entry.wide) dq(entry.high);
        }
    }

protected:
    // Whether the code can address target from its instructions: within
    // 32-bit displacements of every byte of the code on x86-64, always in
    // 32-bit code.
    bool within_reach(const void* target) const {
        if (kAbsolutePool) return true;
        constexpr intptr_t kReach = INT32_MAX - 4096;  // a margin for the instruction's own length
        auto address = reinterpret_cast<intptr_t>(target);
        return address - area_begin_ < kReach && area_end_ - address < kReach && area_begin_ - address < kReach &&
               address - area_end_ < kReach;
    }

    // Data at a place the code may not reach from its instructions, through
    // `via` where it does not.
    Address data(const void* target, const Word& via) {
        if (kAbsolutePool) return at(target);
        mov(via, pointer(target));
        return ptr[via];
    }

    // Data at a place within reach, from the instruction.
    Address at(const void* target) {
#if defined(XBYAK64)
        return ptr[rip + target];
#else
        return ptr[target];
#endif
    }

private:
#if defined(XBYAK64)
    static constexpr bool kAbsolutePool = false;
#else
    static constexpr bool kAbsolutePool = true;
#endif
    struct PoolEntry {
        Label label;
        uint64_t low = 0, high = 0;
        bool wide = false;  // 16 bytes, for the packed masks
        size_t offset = 0;  // from the pool's start
    };
    std::deque<PoolEntry> pool_entries_;  // stable addresses: the labels are referred to
    std::map<std::tuple<uint64_t, uint64_t, bool>, PoolEntry*> pool_index_;
    intptr_t area_begin_, area_end_;  // where the code is generated and runs
    size_t pool_offset_ = 0;          // where the pool's pages begin
    size_t planned_pool_offset_;      // where 32-bit code reads them
    size_t pool_bytes_ = 0;
};

}  // namespace tallymat::eval::x86
