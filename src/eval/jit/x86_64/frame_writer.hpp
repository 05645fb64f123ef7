// The compiler's two lower layers: the constant pool behind the code, and
// the frame, entry, exits, stack registers and calls, as the calling
// convention (jit_target.hpp) lays them out.  The operators' emitters and
// the walk over the fast form sit on them (jit.cpp).
#pragma once

#include <bit>
#include <cstdint>
#include <deque>
#include <map>
#include <tuple>
#include <type_traits>

#include <xbyak/xbyak.h>

#include "core/errors.hpp"
#include "core/fp_environment.hpp"
#include "eval/jit/executable_memory.hpp"
#include "eval/jit/jit.hpp"
#include "eval/jit/jit_target.hpp"

namespace tallymat::eval::jit_writer {

using namespace Xbyak;
using namespace Xbyak::util;
using jit_target::kConvention;
using jit_target::kFrame;
using jit_target::kStack;

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

protected:
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

// General registers that may hold variable cell addresses between helper calls.
constexpr int kCellRegisterCount = 5;

// The frame and the floating-point switch around the code, the postfix
// stack's registers, the operands, and the calls out.  System V frames a
// program that calls out on its straight path; one without keeps the MXCSR
// in the red zone, and its slow paths set up the same frame around their
// helper call.  Without a red zone, a program that calls out at all or
// takes a saved register is framed, and the others keep the MXCSR in their
// shadow space; where the system asks for it, the unwinder is told of
// every frame.
//
// Code given a place to send a flushing host rounds in each instruction
// instead (core::FpSwitch): its arithmetic is EVEX with {rn-sae} or {sae},
// its moves and bitwise operations VEX (no legacy SSE instruction, whose
// cost may depend on the host's upper register state), its straight path
// never reads or writes MXCSR, and only its helper calls, on slow paths,
// switch around the call.
class FrameWriter : public PoolWriter {
public:
    FrameWriter(size_t bytes, void* area, const void* for_flushing_host)
        : PoolWriter(bytes, area),
          rounds_per_instruction_(for_flushing_host != nullptr),
          for_flushing_host_(for_flushing_host) {}

    // Where the function table entry for the system's unwinder lies; 0: none.
    size_t unwind_table_offset() const { return unwind_table_offset_; }

protected:
    const bool rounds_per_instruction_;
    int saved_xmm_ = 0;                // callee-saved registers the deep entries take
    bool calls_on_straight_path_ = false;
    bool framed_ = false;              // the whole program runs in the frame
    bool in_slow_frame_ = false;       // generating a slow path that set up the frame itself
    int depth_ = -1;                   // of the accumulator; -1 before the first load
    Label fail_;                       // eax: the code of a failure
    Label refuse_division_, refuse_domain_, refuse_overflow_;
    Label fail_in_slow_frame_;         // a helper failed in a frame its slow path set up

    // ---- frame, entry and exits ----
    Address host_mxcsr() {
        if (framed_) return ptr[rsp + kFrame.host_mxcsr];
        return ptr[rsp + (in_slow_frame_ ? kFrame.bytes : 0) + kFrame.unframed_mxcsr];
    }
    // Where an exit reads the MXCSR the formula leaves: free once the value is computed.
    Address exit_mxcsr() { return framed_ ? ptr[rsp + kFrame.scratch] : ptr[rsp + kFrame.unframed_exit_mxcsr]; }

    // The floating-point switch of fp_environment.hpp: a host whose control
    // bits are the library's keeps its MXCSR, and the load for the others
    // is out of the straight path.  Where the exit compares (Intel), a
    // program that calls nothing on its straight path keeps the host's
    // value in a register for it: one load less.  Code that rounds per
    // instruction only probes for a flushing host, before its frame, so
    // that the fallback is a jump with the caller's stack and argument.
    void prologue() {
        if (rounds_per_instruction_) {
            probe_for_flushing_host();
            if (framed_) open_frame();
            return;
        }
        keeps_host_mxcsr_ = restore_ == core::HostMxcsrRestore::kWhenChanged && !calls_on_straight_path_;
        if (framed_) open_frame();
        stmxcsr(host_mxcsr());
        if (keeps_host_mxcsr_) {
            // Library controls with any flags: kLibraryMxcsr to kLibraryMxcsr + kMxcsrFlags.
            mov(kHostMxcsr, host_mxcsr());
            lea(eax, ptr[kHostMxcsr.cvt64() - core::kLibraryMxcsr]);
            cmp(eax, core::kMxcsrFlags);
            ja(switch_to_library_, T_NEAR);
        } else {
            mov(eax, host_mxcsr());
            and_(eax, ~core::kMxcsrFlags);
            cmp(eax, core::kLibraryMxcsr);
            jne(switch_to_library_, T_NEAR);
        }
        L(in_library_environment_);
    }

    void epilogue() {
        static_assert(kStack.entry(0) == kConvention.double_result, "the accumulator at depth 0 is the result");
        leave();

        L(fail_);  // eax: the code
        mov(rcx, pointer(&core::error_registers.last_error));
        mov(dword[rcx], eax);
        const Xmm result(kConvention.double_result);
        if (rounds_per_instruction_) vxorpd(result, result, result);
        else xorpd(result, result);
        leave();
    }

    void failure_stubs() {
        L(refuse_division_);
        mov(eax, core::kDivisionByZero);
        jmp(fail_, T_NEAR);
        L(refuse_domain_);
        mov(eax, core::kDomain);
        jmp(fail_, T_NEAR);
        L(refuse_overflow_);
        mov(eax, core::kOverflow);
        jmp(fail_, T_NEAR);
        L(fail_in_slow_frame_);
        add(rsp, kFrame.bytes);
        jmp(fail_, T_NEAR);
        if (rounds_per_instruction_) {
            L(flushing_host_);
            jmp(pointer(for_flushing_host_));
            return;
        }
        L(switch_to_library_);
        ldmxcsr(pooled(core::kLibraryMxcsr));
        jmp(in_library_environment_, T_NEAR);
        L(restore_host_);  // a flag was raised that the host did not have, or the host's controls differ
        ldmxcsr(host_mxcsr());
        if (framed_) close_frame();
        ret();
    }

    // The frame as the system's unwinder reads it (Microsoft x64's
    // UNWIND_INFO and RUNTIME_FUNCTION, offsets from the code's start): the
    // prologue allocates the frame, then saves the registers the deep
    // entries take; its steps are listed last first.
    void unwind_data() {
        constexpr uint8_t kAllocLarge = 1, kSaveXmm128 = 8;
        align(4);
        size_t info = getSize();
        int slots = 2 * saved_xmm_ + 2;
        db(1);  // version 1, no handler
        db(static_cast<uint8_t>(prologue_end_));
        db(static_cast<uint8_t>(slots));
        db(0);  // no frame register
        for (int i = saved_xmm_ - 1; i >= 0; --i) {
            db(static_cast<uint8_t>(xmm_saved_at_[i]));
            db(static_cast<uint8_t>(kSaveXmm128 | (entry(kStack.volatile_depth + i).getIdx() << 4)));
            dw(static_cast<uint16_t>((kFrame.saved_xmm + 16 * i) / 16));
        }
        db(static_cast<uint8_t>(frame_allocated_at_));
        db(kAllocLarge);  // the size in the next slot, in eights
        dw(kFrame.bytes / 8);
        if (slots % 2) dw(0);
        unwind_table_offset_ = getSize();
        dd(0);
        dd(static_cast<uint32_t>(pool_offset()));
        dd(static_cast<uint32_t>(info));
    }

    // ---- the stack ----
    static Xmm entry(int depth) { return Xmm(kStack.entry(depth)); }
    // Where code that rounds per instruction loads a memory operand: EVEX
    // rounding takes registers only.  xmm16 up are volatile under both
    // conventions and out of the stack's way.
    static Xmm loaded(int i = 0) { return Xmm(16 + i); }
    static Xmm scratch() { return Xmm(kStack.scratch); }
    static Xmm second_scratch() { return Xmm(kStack.scratch + 1); }
    Xmm acc() const { return entry(depth_); }
    Address home_of(int depth) { return ptr[rsp + kFrame.homes + 8 * depth]; }

    // ---- operands ----
    // A value within reach of every byte of the code is addressed from the
    // instruction itself; one out of reach through a pointer from the pool.
    Address variable(const double* cell) {
        if (jit_settings.cells_from_instructions && within_reach(cell))
            return ptr[rip + static_cast<const void*>(cell)];
        return ptr[cell_register(cell)];
    }

    void forget_cells() {
        for (const double*& cell : cached_cells_) cell = nullptr;
    }

    // Moves and bitwise operations in the encoding of the code's kind:
    // none of them rounds, so VEX serves code that rounds per instruction.
    void load_sd(const Xmm& x, const Address& from) {
        if (rounds_per_instruction_) vmovsd(x, from);
        else movsd(x, from);
    }
    void store_sd(const Address& to, const Xmm& x) {
        if (rounds_per_instruction_) vmovsd(to, x);
        else movsd(to, x);
    }
    void copy_pd(const Xmm& to, const Xmm& from) {
        if (rounds_per_instruction_) vmovapd(to, from);
        else movapd(to, from);
    }
    void xor_pd(const Xmm& x, const Address& bits) {
        if (rounds_per_instruction_) vxorpd(x, x, bits);
        else xorpd(x, bits);
    }
    void and_pd(const Xmm& x, const Address& bits) {
        if (rounds_per_instruction_) vandpd(x, x, bits);
        else andpd(x, bits);
    }
    void bits_to(const Reg64& r, const Xmm& x) {
        if (rounds_per_instruction_) vmovq(r, x);
        else movq(r, x);
    }

    // ---- calls out ----
    // acc = left (code) right through a helper that takes the accumulator's
    // address and the right operand.
    template <typename Right>
    void call_binary_helper(const void* helper, const Right& right) {
        store_sd(ptr[rsp + kFrame.scratch], acc());
        spill_entries_below();  // before the argument register, an entry's, takes the right operand
        Xmm argument(kConvention.second_double);
        if constexpr (std::is_same_v<Right, Xmm>) {
            if (right.getIdx() != argument.getIdx()) copy_pd(argument, right);
        } else {
            load_sd(argument, right);
        }
        call_helper(helper);
    }

    void call_unary_helper(const void* helper) {
        store_sd(ptr[rsp + kFrame.scratch], acc());
        spill_entries_below();
        call_helper(helper);
    }

    // acc = function(acc) or function(acc, k), with the entries below saved
    // around the call.
    void call_standard(const void* function, const double* k = nullptr) {
        const Xmm argument(kConvention.double_arguments[0]), exponent(kConvention.double_arguments[1]);
        const Xmm result(kConvention.double_result);
        spill_entries_below();
        if (acc().getIdx() != argument.getIdx()) copy_pd(argument, acc());
        if (k) load_sd(exponent, constant(*k));
        call(pointer(function));
        if (acc().getIdx() != result.getIdx()) copy_pd(acc(), result);
        for (int d = 0; d < depth_; ++d) load_sd(entry(d), home_of(d));
        forget_cells();
    }

    // Gives the host its MXCSR back.  calcpost has set the last error to 0;
    // a failure records its code.
    void leave() {
        if (rounds_per_instruction_) {
            // MXCSR is as the host left it.
        } else if (restore_ == core::HostMxcsrRestore::kAlways) {
            ldmxcsr(host_mxcsr());
        } else if (keeps_host_mxcsr_) {
            stmxcsr(exit_mxcsr());
            cmp(kHostMxcsr, exit_mxcsr());
            jne(restore_host_, T_NEAR);
        } else {
            stmxcsr(exit_mxcsr());
            mov(eax, exit_mxcsr());
            cmp(eax, host_mxcsr());
            jne(restore_host_, T_NEAR);
        }
        if (framed_) close_frame();
        ret();
    }

private:
    // The host's MXCSR on the Intel exit's way: volatile, and no cell's.
    static constexpr Reg32 kHostMxcsr = Xbyak::util::r11d;
    const core::HostMxcsrRestore restore_ = core::fp_switch.restore;
    const core::FlushProbe flush_probe_ = core::fp_switch.flush_probe;
    const void* const for_flushing_host_;  // where code that rounds per instruction sends such a host
    bool keeps_host_mxcsr_ = false;     // in kHostMxcsr from entry to exit
    Label switch_to_library_, in_library_environment_, restore_host_, flushing_host_;
    // The prologue's unwind codes: where each step ends.
    size_t frame_allocated_at_ = 0, prologue_end_ = 0;
    size_t xmm_saved_at_[kFrame.saved_xmm_max > 0 ? kFrame.saved_xmm_max : 1] = {};
    size_t unwind_table_offset_ = 0;
    const double* cached_cells_[kCellRegisterCount] = {};
    int next_cell_register_ = 0;

    void open_frame() {
        sub(rsp, kFrame.bytes);
        frame_allocated_at_ = getSize();
        for (int i = 0; i < saved_xmm_; ++i) {
            move_whole(ptr[rsp + kFrame.saved_xmm + 16 * i], entry(kStack.volatile_depth + i));
            xmm_saved_at_[i] = getSize();
        }
        prologue_end_ = getSize();
    }

    // A saved register's 16 bytes, to or from its home in the frame.
    template <typename To, typename From>
    void move_whole(const To& to, const From& from) {
        if (rounds_per_instruction_) vmovaps(to, from);
        else movaps(to, from);
    }

    void close_frame() {
        for (int i = 0; i < saved_xmm_; ++i)
            move_whole(entry(kStack.volatile_depth + i), ptr[rsp + kFrame.saved_xmm + 16 * i]);
        add(rsp, kFrame.bytes);
    }

    // The address of a variable's cell, in a general register that keeps it
    // until the next helper call.
    Reg64 cell_register(const double* cell) {
        // Volatile under both conventions; rcx is free until a failure exit.
        static const Reg64 kRegisters[kCellRegisterCount] = {Xbyak::util::rdx, Xbyak::util::rcx, Xbyak::util::r8,
                                                            Xbyak::util::r9, Xbyak::util::r10};
        for (int i = 0; i < kCellRegisterCount; ++i)
            if (cached_cells_[i] == cell) return kRegisters[i];
        int taken = next_cell_register_;  // round robin: the oldest goes
        next_cell_register_ = (next_cell_register_ + 1) % kCellRegisterCount;
        cached_cells_[taken] = cell;
        mov(kRegisters[taken], pointer(cell));
        return kRegisters[taken];
    }

    // The entries below the accumulator wait in their homes (where the
    // callee keeps some registers, one spill for all is simpler).
    void spill_entries_below() {
        for (int d = 0; d < depth_; ++d) store_sd(home_of(d), entry(d));
    }

    // Calls a step helper on the scratch value; a failure leaves through
    // fail_ with its code, a success puts the value back in the accumulator.
    // In code that rounds per instruction the helper, C++ like the rest of
    // the library, runs in the library's MXCSR, and the host's comes back
    // after it: MXCSR is touched on slow paths only.
    void call_helper(const void* helper) {
        lea(Reg64(kConvention.first_argument), ptr[rsp + kFrame.scratch]);
        if (rounds_per_instruction_) {
            stmxcsr(ptr[rsp + kFrame.host_mxcsr]);
            ldmxcsr(pooled(core::kLibraryMxcsr));
            call(pointer(helper));
            ldmxcsr(ptr[rsp + kFrame.host_mxcsr]);
        } else {
            call(pointer(helper));
        }
        forget_cells();
        if (keeps_host_mxcsr_) mov(kHostMxcsr, host_mxcsr());
        test(eax, eax);
        jnz(in_slow_frame_ ? fail_in_slow_frame_ : fail_, T_NEAR);
        for (int d = 0; d < depth_; ++d) load_sd(entry(d), home_of(d));
        load_sd(acc(), ptr[rsp + kFrame.scratch]);
    }

    // A host with DAZ or FTZ set is sent on with the caller's stack and
    // argument, to run the switching code for this call (core::FlushProbe):
    // either bit makes the least subnormal's double zero.
    void probe_for_flushing_host() {
        switch (flush_probe_) {
            case core::FlushProbe::kSubnormalSum:
                vmovsd(loaded(), pooled(1));
                vaddsd(loaded(), loaded(), loaded() | T_rn_sae);
                vmovq(rax, loaded());
                test(rax, rax);
                jz(flushing_host_, T_NEAR);
                return;
            case core::FlushProbe::kReadMxcsr:
                stmxcsr(ptr[rsp + kFrame.unframed_mxcsr]);
                test(dword[rsp + kFrame.unframed_mxcsr], core::kMxcsrFlushBits);
                jnz(flushing_host_, T_NEAR);
                return;
        }
    }
};

}  // namespace tallymat::eval::jit_writer
