// The frame around the code, the postfix stack's registers, the operands
// and the calls out, as the calling convention (calling_convention.hpp)
// lays them out; how the host's floating-point environment is kept is one
// of two environments (environment.hpp), and every instruction's form is
// the code kind's (instruction_forms.hpp).
//
// System V frames a program that calls out on its straight path; one
// without keeps the MXCSR in the red zone, and its slow paths set up the
// same frame around their helper call.  Without a red zone, a program that
// calls out at all or takes a saved register is framed, and the others
// keep the MXCSR in their shadow space; where the system asks for it, the
// unwinder is told of every frame.  32-bit code, with neither, frames every
// program.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "core/errors.hpp"
#include "eval/jit/jit.hpp"
#include "eval/jit/x86/calling_convention.hpp"
#include "eval/jit/x86/environment.hpp"
#include "eval/jit/x86/instruction_forms.hpp"

namespace tallymat::eval::x86 {

// What the walk learns of a program before its code is written.
struct FrameShape {
    int saved_xmm = 0;                  // callee-saved registers the deep entries take
    bool calls_on_straight_path = false;
    bool framed = false;                // the whole program runs in the frame
};

// A result for st(0) is stored in the frame and loaded from there.
static_assert(!kConvention.results_in_x87 || kFramesEveryProgram);

class FrameWriter : public PoolWriter {
public:
    // Code given a place to send a flushing host rounds in each
    // instruction and keeps the host's environment (core::FpSwitch);
    // other code switches MXCSR around the evaluation.
    FrameWriter(size_t bytes, void* area, const void* for_flushing_host, size_t planned_pool_offset)
        : PoolWriter(bytes, area, planned_pool_offset),
          rounds_per_instruction_(kRoundsPerInstructionBuilt && for_flushing_host != nullptr),
          forms_(forms_of_code()),
          environment_(environment_of_code(for_flushing_host)) {}

    // Where the function table entry for the system's unwinder lies; 0: none.
    size_t unwind_table_offset() const { return unwind_table_offset_; }

    // ---- the pieces the environments are made of ----
    bool framed() const { return shape_.framed; }
    bool calls_on_straight_path() const { return shape_.calls_on_straight_path; }
    Address host_mxcsr() {
        if (shape_.framed) return ptr[kStackPointer + kFrame.host_mxcsr];
        return ptr[kStackPointer + (in_slow_frame_ ? kFrame.bytes : 0) + kFrame.unframed_mxcsr];
    }
    // Where an exit reads the MXCSR the formula leaves: free once the value is computed.
    Address exit_mxcsr() {
        return ptr[kStackPointer + (shape_.framed ? kFrame.scratch : kFrame.unframed_exit_mxcsr)];
    }
    void open_frame_if_framed() {
        if (shape_.framed) open_frame();
    }
    void close_frame_if_framed() {
        if (shape_.framed) close_frame();
    }

    bool rounds_per_instruction() const { return rounds_per_instruction_; }
    // Whether any path of the code calls a standard function (whose double comes back through st(0) in
    // the 32-bit DLL).
    bool calls_standard_function() const { return calls_standard_function_; }

    // ---- the stack's depth, as the walk and the slow paths move it ----
    void start_stack() { depth_ = 0; }
    void push_entry() { ++depth_; }

protected:
    Label fail_;                       // eax: the code of a failure
    Label refuse_division_, refuse_domain_, refuse_overflow_;
    Label fail_in_slow_frame_;         // a helper failed in a frame its slow path set up

    InstructionForms& forms() { return *forms_; }
    const FrameShape& shape() const { return shape_; }

    // ---- frame, entry and exits ----
    void prologue(const FrameShape& shape) {
        shape_ = shape;
        environment_->enter();
    }

    void epilogue() {
        static_assert(kStack.entry(0) == kConvention.double_result, "the accumulator at depth 0 is the result");
        // A signalling NaN comes back quiet, as from the interpreter; every
        // other value is its own product by 1 in the library's MXCSR.
        if constexpr (kConvention.host_loads_x87)
            forms_->rounded(Rounded::kMultiply, Xmm(kConvention.double_result), constant(1.0));
        leave();

        L(fail_);  // eax: the code; rcx (or ecx) is free here
        mov(data(&core::error_registers.last_error, Word(Xbyak::Operand::ECX)), eax);
        forms_->zero(Xmm(kConvention.double_result));
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
        add(kStackPointer, kFrame.bytes);
        jmp(fail_, T_NEAR);
        environment_->stubs();
    }

    void unwind_data();

    // ---- the stack ----
    static Xmm entry(int depth) { return Xmm(kStack.entry(depth)); }
    static Xmm scratch() { return Xmm(kStack.scratch); }
    static Xmm second_scratch() { return Xmm(kStack.scratch + 1); }
    Xmm acc() const { return entry(depth_); }
    int depth() const { return depth_; }
    void pop_entry() { --depth_; }

    // A slow path's code: at the depth it left, in the frame (which it sets
    // up itself where the program runs without one).
    void begin_slow_path(int depth) {
        depth_ = depth;
        in_slow_frame_ = !shape_.framed;
        if (in_slow_frame_) sub(kStackPointer, kFrame.bytes);
    }
    void end_slow_path() {
        if (in_slow_frame_) add(kStackPointer, kFrame.bytes);
    }
    void end_slow_paths() { in_slow_frame_ = false; }
    Address home_of(int depth) { return ptr[kStackPointer + kFrame.homes + 8 * depth]; }

    // ---- operands ----
    // A value within reach of every byte of the code is addressed from the
    // instruction itself; one out of reach through a pointer from the pool.
    Address variable(const double* cell) {
        if (jit_settings.cells_from_instructions && within_reach(cell)) return at(cell);
        return ptr[cell_register(cell)];
    }

    void forget_cells() {
        for (const double*& cell : cached_cells_) cell = nullptr;
    }

    // ---- calls out ----
    // acc = left (code) right through a helper that takes the accumulator's
    // address and the right operand.
    template <typename Right>
    void call_binary_helper(const void* helper, const Right& right) {
        forms_->store_sd(ptr[kStackPointer + kFrame.scratch], acc());
        spill_entries_below();  // before the argument register, an entry's, takes the right operand
        Xmm argument(kConvention.second_double);
        if constexpr (std::is_same_v<Right, Xmm>) {
            if (right.getIdx() != argument.getIdx()) forms_->copy_pd(argument, right);
        } else {
            forms_->load_sd(argument, right);
        }
        call_helper(helper);
    }

    void call_unary_helper(const void* helper) {
        forms_->store_sd(ptr[kStackPointer + kFrame.scratch], acc());
        spill_entries_below();
        call_helper(helper);
    }

    // acc = function(acc) or function(acc, exponent), with the entries
    // below saved around the call.
    void call_standard(const void* function, const Address* exponent_operand = nullptr) {
        const Xmm argument(kConvention.double_arguments[0]), exponent(kConvention.double_arguments[1]);
        const Xmm result(kConvention.double_result);
        spill_entries_below();
        if (acc().getIdx() != argument.getIdx()) forms_->copy_pd(argument, acc());
        if (exponent_operand) forms_->load_sd(exponent, *exponent_operand);
        calls_standard_function_ = true;
        call(pointer(function));
        if constexpr (kConvention.results_in_x87) {
            fstp(qword[kStackPointer + kFrame.scratch]);
            forms_->load_sd(acc(), ptr[kStackPointer + kFrame.scratch]);
        } else if (acc().getIdx() != result.getIdx()) {
            forms_->copy_pd(acc(), result);
        }
        for (int d = 0; d < depth_; ++d) forms_->load_sd(entry(d), home_of(d));
        forget_cells();
    }

private:
    const bool rounds_per_instruction_;
    int depth_ = -1;                   // of the accumulator; -1 before the first load
    bool in_slow_frame_ = false;       // generating a slow path that set up the frame itself
    bool calls_standard_function_ = false;
    FrameShape shape_;
    std::unique_ptr<InstructionForms> forms_;
    std::unique_ptr<Environment> environment_;
    // The prologue's unwind codes: where each step ends.
    size_t frame_allocated_at_ = 0, prologue_end_ = 0;
    size_t xmm_saved_at_[kFrame.saved_xmm_max > 0 ? kFrame.saved_xmm_max : 1] = {};
    size_t unwind_table_offset_ = 0;
    const double* cached_cells_[kCellRegisterCount] = {};
    int next_cell_register_ = 0;

    std::unique_ptr<InstructionForms> forms_of_code() {
#if defined(XBYAK64)
        if (rounds_per_instruction_) return std::make_unique<EvexForms>(*this);
#endif
        return std::make_unique<SseForms>(*this);
    }
    std::unique_ptr<Environment> environment_of_code([[maybe_unused]] const void* for_flushing_host) {
#if defined(XBYAK64)
        if (rounds_per_instruction_) return std::make_unique<HostEnvironment>(*this, for_flushing_host);
#endif
        return std::make_unique<SwitchedEnvironment>(*this);
    }

    // Gives the host its environment back, then returns.  calcpost has set
    // the last error to 0; a failure records its code.
    void leave() {
        if constexpr (kConvention.results_in_x87) {
            forms_->store_sd(home_of(0), Xmm(kConvention.double_result));
            fld(qword[kStackPointer + kFrame.homes]);
        }
        environment_->leave();
        close_frame_if_framed();
        ret();
    }

    void open_frame() {
        sub(kStackPointer, kFrame.bytes);
        frame_allocated_at_ = getSize();
        for (int i = 0; i < shape_.saved_xmm; ++i) {
            forms_->save_whole(ptr[kStackPointer + kFrame.saved_xmm + 16 * i], entry(kStack.volatile_depth + i));
            xmm_saved_at_[i] = getSize();
        }
        prologue_end_ = getSize();
    }

    void close_frame() {
        for (int i = 0; i < shape_.saved_xmm; ++i)
            forms_->restore_whole(entry(kStack.volatile_depth + i), ptr[kStackPointer + kFrame.saved_xmm + 16 * i]);
        add(kStackPointer, kFrame.bytes);
    }

    // The address of a variable's cell, in a general register that keeps it
    // until the next helper call.
    Word cell_register(const double* cell) {
        for (int i = 0; i < kCellRegisterCount; ++i)
            if (cached_cells_[i] == cell) return Word(kCellRegisters[i]);
        int taken = next_cell_register_;  // round robin: the oldest goes
        next_cell_register_ = (next_cell_register_ + 1) % kCellRegisterCount;
        cached_cells_[taken] = cell;
        mov(Word(kCellRegisters[taken]), pointer(cell));
        return Word(kCellRegisters[taken]);
    }

    // The entries below the accumulator wait in their homes (where the
    // callee keeps some registers, one spill for all is simpler).
    void spill_entries_below() {
        for (int d = 0; d < depth_; ++d) forms_->store_sd(home_of(d), entry(d));
    }

    // The address of `to` as a call's first argument: in its register, or
    // at the bottom of the frame.
    void pass_pointer(const Address& to) {
        if constexpr (kConvention.first_argument == kOnTheStack) {
            lea(kAccumulator, to);
            mov(ptr[kStackPointer], kAccumulator);
        } else {
            lea(Word(kConvention.first_argument), to);
        }
    }

    // Calls a step helper on the scratch value, in the library's MXCSR; a
    // failure leaves through fail_ with its code, a success puts the value
    // back in the accumulator.
    void call_helper(const void* helper) {
        pass_pointer(ptr[kStackPointer + kFrame.scratch]);
        environment_->call_in_library_environment(helper);
        forget_cells();
        environment_->after_helper_call();
        test(eax, eax);
        jnz(in_slow_frame_ ? fail_in_slow_frame_ : fail_, T_NEAR);
        for (int d = 0; d < depth_; ++d) forms_->load_sd(entry(d), home_of(d));
        forms_->load_sd(acc(), ptr[kStackPointer + kFrame.scratch]);
    }
};

// The frame as the system's unwinder reads it (Microsoft x64's UNWIND_INFO
// and RUNTIME_FUNCTION, offsets from the code's start): the prologue
// allocates the frame, then saves the registers the deep entries take; its
// steps are listed last first.
inline void FrameWriter::unwind_data() {
    constexpr uint8_t kAllocLarge = 1, kSaveXmm128 = 8;
    align(4);
    size_t info = getSize();
    int slots = 2 * shape_.saved_xmm + 2;
    db(1);  // version 1, no handler
    db(static_cast<uint8_t>(prologue_end_));
    db(static_cast<uint8_t>(slots));
    db(0);  // no frame register
    for (int i = shape_.saved_xmm - 1; i >= 0; --i) {
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

}  // namespace tallymat::eval::x86
