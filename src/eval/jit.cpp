// Machine code from the fast form (see jit.hpp).
//
// The generated function ignores its argument (the slot index every entry
// takes) and returns the value in xmm0, as calcpost does; it switches MXCSR
// as the interpreter's run does and writes the code of a failure to the
// last error (calcpost sets it to 0 before the call).  The stack entry at
// depth d lives in xmm<d>.  Constants and helper addresses come from a pool
// behind the code, read RIP-relative: no formula value becomes an
// instruction immediate.  Variable values are read where they live, in the
// variable table, from the instruction itself when the code was mapped
// within reach of them.  The code is generated in place into a writable
// mapping, which is then made read-and-execute: it is never writable and
// executable at once.
#include "eval/jit.hpp"

#include "core/errors.hpp"

namespace tallymat::eval {

constinit JitSettings jit_settings{};

}  // namespace tallymat::eval

#if !TALLYMAT_JIT

namespace tallymat::eval {
MachineCode compile(const FastInsn*) { return {}; }
void free_machine_code(MachineCode& machine_code) { machine_code = {}; }
}  // namespace tallymat::eval

#else

#include <array>
#include <bit>
#include <deque>
#include <map>
#include <tuple>
#include <type_traits>
#include <utility>

#include <xbyak/xbyak.h>
#include <xbyak/xbyak_util.h>

#include "core/fp_environment.hpp"
#include "eval/executable_memory.hpp"
#include "eval/operations.hpp"
#include "vars/var_table.hpp"

namespace tallymat::eval {

namespace {

using namespace Xbyak;
using translate::Binary;
using translate::Lowering;
using translate::Operator;
using translate::Unary;
using namespace Xbyak::util;
using executable_memory::whole_pages;

// The calling convention the code is called with and calls out with.
// System V (Linux): the first argument in rdi, a double in xmm0 or the next
// xmm register, every xmm register the callee's, and 128 bytes below rsp
// (the red zone) that nothing else writes.  Microsoft x64 (Windows):
// arguments by position (rcx first, a second double in xmm1), xmm6 to
// xmm15 the caller's, 32 bytes of shadow space above the return address at
// every call, which the callee may use, and no red zone.
#if defined(_WIN32)
constexpr bool kMicrosoftX64 = true;
#else
constexpr bool kMicrosoftX64 = false;
#endif

// The operator helpers the code calls: the same operator code as the
// interpreter, with its refusal and the math error flag turned into a code.
template <Binary kCode>
int32_t binary_step(double* a, double b) {
    return failure_of(translate::operator_of(kCode), apply_binary(kCode, *a, b));
}

template <Unary kCode>
int32_t unary_step(double* x) {
    return failure_of(translate::operator_of(kCode), apply_unary(kCode, *x));
}

using BinaryStep = int32_t (*)(double*, double);
using UnaryStep = int32_t (*)(double*);
using StandardFunction = double (*)(double);
using StandardMember = StandardFunction elementary::ElementaryFunctions::*;

// The standard functions the guarded math entries end in, for the
// operators lowered to a call of one.  Where the code has checked that no
// rule of the entry can fire (the interpreter's own refusals included), it
// calls the function directly; every other argument takes the helper.
template <Unary>
constexpr StandardMember kStandardFunction = nullptr;
template <> constexpr StandardMember kStandardFunction<Unary::kSin> = &elementary::ElementaryFunctions::sin;
template <> constexpr StandardMember kStandardFunction<Unary::kCos> = &elementary::ElementaryFunctions::cos;
template <> constexpr StandardMember kStandardFunction<Unary::kTan> = &elementary::ElementaryFunctions::tan;
template <> constexpr StandardMember kStandardFunction<Unary::kExp> = &elementary::ElementaryFunctions::exp;
template <> constexpr StandardMember kStandardFunction<Unary::kLn> = &elementary::ElementaryFunctions::log;
template <> constexpr StandardMember kStandardFunction<Unary::kLg> = &elementary::ElementaryFunctions::log10;
template <> constexpr StandardMember kStandardFunction<Unary::kArcsin> = &elementary::ElementaryFunctions::asin;
template <> constexpr StandardMember kStandardFunction<Unary::kArccos> = &elementary::ElementaryFunctions::acos;
template <> constexpr StandardMember kStandardFunction<Unary::kArctg> = &elementary::ElementaryFunctions::atan;

constexpr bool calls_a_standard_function(Lowering lowering) {
    switch (lowering) {
        case Lowering::PeriodicCall: case Lowering::LogarithmCall: case Lowering::ArcCall: case Lowering::ExpCall:
        case Lowering::Call:
            return true;
        case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
        case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power: case Lowering::Helper:
        case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot: case Lowering::Sign:
        case Lowering::Ez: case Lowering::Nothing:
            return false;
    }
    return false;
}

// Each operator's helper and standard function, by its row of the
// operator table: generated from the table, so every operator has the
// helper of its own code.
struct Callee {
    BinaryStep binary = nullptr;
    UnaryStep unary = nullptr;
    StandardMember standard = nullptr;
};

template <int kRow>
constexpr Callee callee_of_row() {
    constexpr translate::OperatorInfo row = translate::kOperators[kRow];
    if constexpr (row.arity == 2) {
        return {binary_step<translate::as_binary(row.code)>, nullptr, nullptr};
    } else {
        constexpr StandardMember standard = kStandardFunction<translate::as_unary(row.code)>;
        static_assert(!calls_a_standard_function(row.lowering) || standard != nullptr,
                      "an operator lowered to a call of its standard function names none in kStandardFunction");
        return {nullptr, unary_step<translate::as_unary(row.code)>, standard};
    }
}

template <size_t... kRows>
constexpr std::array<Callee, sizeof...(kRows)> callees_of(std::index_sequence<kRows...>) {
    return {callee_of_row<static_cast<int>(kRows)>()...};
}

constexpr auto kCallees = callees_of(std::make_index_sequence<translate::kOperatorCount>());

const void* binary_helper(Operator code) {
    return reinterpret_cast<const void*>(kCallees[translate::operator_row(code)].binary);
}
const void* unary_helper(Operator code) {
    return reinterpret_cast<const void*>(kCallees[translate::operator_row(code)].unary);
}
const void* standard_function(Operator code) {
    return reinterpret_cast<const void*>(elementary::elementary_functions.*kCallees[translate::operator_row(code)].standard);
}

// The postfix stack by depth: the entry at depth d (the accumulator is the
// deepest) lives in a register of its own, so a push moves nothing and an
// operator leaves its result where its left operand was.  System V: xmm<d>,
// with xmm14 and xmm15 as scratch.  Microsoft x64: the four shallowest in
// xmm0 to xmm3, the deeper ones from xmm6 up (saved in the frame), and the
// volatile xmm4 and xmm5 as scratch.  Deeper programs stay interpreted.
constexpr int kRegisterDepth = 14;
constexpr int kVolatileDepth = kMicrosoftX64 ? 4 : kRegisterDepth;  // entries the code need not save

// Frame of a program that calls out (rsp stays 16-aligned at calls): the
// callee's shadow space (Microsoft x64), the host's MXCSR, the scratch
// value a helper works on (and where an exit reads MXCSR), homes for the
// entries spilled around a call, and (Microsoft x64) the caller's xmm6 to
// xmm15 that the deep entries take.  System V frames a program that calls
// out on its straight path; one without keeps the MXCSR in the red zone,
// and its slow paths set up the same frame around their helper call, below
// that MXCSR: the frame's top eight bytes are left unused for it.  Without
// a red zone, Microsoft x64 frames every program that calls out at all or
// takes a saved register, and the others keep the MXCSR in their shadow
// space; the system's unwinder is told of every frame.
constexpr int kShadowBytes = kMicrosoftX64 ? 32 : 0;
constexpr int kHostMxcsr = kShadowBytes;
constexpr int kScratch = kShadowBytes + 8;
constexpr int kHomes = kShadowBytes + 16;
constexpr int kSavedXmm = kHomes + 8 * kRegisterDepth;
constexpr int kSavedXmmMax = kMicrosoftX64 ? kRegisterDepth - kVolatileDepth : 0;
constexpr int kFrameBytes = kSavedXmm + 16 * kSavedXmmMax + 8;
static_assert(kFrameBytes % 16 == 8 && kSavedXmm % 16 == 0);
constexpr int kUnframedMxcsr = kMicrosoftX64 ? 8 : -8;
constexpr int kUnframedExitMxcsr = kMicrosoftX64 ? 16 : -16;
static_assert(kMicrosoftX64 || kFrameBytes + kUnframedMxcsr >= kHomes + 8 * kRegisterDepth);

// Bytes of code and pool per fast instruction, enough for the widest: a
// function call at the deepest stack, with every register spilled and
// reloaded around it on the straight path and again on its slow path
// (about 500 bytes).  Unused pages are given back after generation.
constexpr size_t kBytesPerInstruction = 640;

// General registers that may hold variable cell addresses between helper calls.
constexpr int kCellRegisterCount = 6;

class Generator : public CodeGenerator {
public:
    // Generates in place: the code's final address decides how it reaches
    // the variable values.
    Generator(size_t bytes, void* area)
        : CodeGenerator(bytes, area),
          area_begin_(reinterpret_cast<intptr_t>(area)),
          area_end_(area_begin_ + static_cast<intptr_t>(bytes)) {}

    size_t pool_offset() const { return pool_offset_; }
    // Where the function table entry for the system's unwinder lies; 0: none.
    size_t unwind_table_offset() const { return unwind_table_offset_; }

    // False when the program is too deep for the registers.
    bool program(const FastInsn* code) {
        bool calls = false;
        if (!survey(code, calls)) return false;
        framed_ = calls;
        if (kMicrosoftX64) framed_ = calls_anywhere_ || saved_xmm_ > 0;
        prologue();
        for (const FastInsn* ip = code; ip->op != kEnd; ip += width(ip->op)) instruction(ip);
        epilogue();
        slow_path_code();
        failure_stubs();
        pool_();
        return true;
    }

private:
    struct PoolEntry {
        Label label;
        uint64_t low = 0, high = 0;
        bool wide = false;  // 16 bytes, for the packed masks
    };
    std::deque<PoolEntry> pool_entries_;  // stable addresses: the labels are referred to
    std::map<std::tuple<uint64_t, uint64_t, bool>, PoolEntry*> pool_index_;
    intptr_t area_begin_, area_end_;      // where the code is generated and runs
    size_t pool_offset_ = 0;              // where the pool's pages begin
    size_t unwind_table_offset_ = 0;
    bool calls_anywhere_ = false;         // a call on the straight path or a slow one
    int saved_xmm_ = 0;                   // callee-saved registers the deep entries take
    // The prologue's unwind codes (Microsoft x64): where each step ends.
    size_t frame_allocated_at_ = 0, prologue_end_ = 0;
    size_t xmm_saved_at_[kSavedXmmMax > 0 ? kSavedXmmMax : 1] = {};
    Label fail_;
    Label refuse_division_, refuse_domain_, refuse_overflow_;
    Label fail_in_slow_frame_;  // a helper failed in a frame its slow path set up
    Label switch_to_library_, in_library_environment_, restore_host_;
    const core::HostMxcsrRestore restore_ = core::fp_switch.restore;
    // A helper call taken only for rare arguments, placed behind the code
    // so that the common path runs straight through.
    struct SlowPath {
        Label entry, back;
        int depth;
        Operator code;          // the unary operator, or kPow
        double exponent = 2.0;  // kPow's constant exponent
    };
    std::deque<SlowPath> slow_paths_;
    int depth_ = -1;  // of the accumulator; -1 before the first load
    // roundsd (SSE4.1) takes floor's place in div and mod where the CPU has
    // it.  Asked of the CPU facts the C runtime read at start-up: Xbyak's
    // Cpu() runs CPUID anew, about 130 us in a virtual machine.
    const bool floor_by_instruction_ = jit_settings.floor_by_instruction && __builtin_cpu_supports("sse4.1");
    static constexpr uint8_t kRoundDownQuietly = 0b1001;  // toward -inf, no precision exception
    bool framed_ = false;         // the whole program runs in the frame
    bool in_slow_frame_ = false;  // generating a slow path that set up the frame itself
    const double* cached_cells_[kCellRegisterCount] = {};
    int next_cell_register_ = 0;

    // Whether the program fits the registers, and whether it calls out on its
    // straight path; notes calls anywhere and the saved registers it needs.
    bool survey(const FastInsn* code, bool& calls) {
        int depth = -1, deepest = 0;
        for (const FastInsn* ip = code; ip->op != kEnd; ip += width(ip->op)) {
            const FastOpFacts& f = facts(ip->op);
            switch (f.shape) {
                case Shape::Load: case Shape::FusedLoad: depth = 0; break;
                case Shape::Push: case Shape::FusedPush: ++depth; break;
                case Shape::Binary: if (f.operands == Operands::Stack) --depth; break;
                case Shape::End: case Shape::Operand: case Shape::Unary: case Shape::Square: case Shape::Apply: break;
            }
            if (depth >= kRegisterDepth) return false;
            if (depth > deepest) deepest = depth;
            bool straight_call = (f.shape == Shape::Binary || f.shape == Shape::Unary) && calls_on_straight_path(f.op);
            calls = calls || straight_call;
            calls_anywhere_ = calls_anywhere_ || straight_call || f.shape == Shape::Square;  // the square's slow path
        }
        saved_xmm_ = deepest >= kVolatileDepth ? deepest - kVolatileDepth + 1 : 0;
        return true;
    }

    // Whether an operator calls out on the straight path: the square calls
    // only on its slow path.
    bool calls_on_straight_path(Operator code) const {
        switch (translate::operator_info(code).lowering) {
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot: case Lowering::Sign:
            case Lowering::Ez: case Lowering::Nothing:
                return false;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder:
                return !floor_by_instruction_;
            case Lowering::Power: case Lowering::Helper: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call:
                return true;
        }
        return true;
    }

    // ---- the pool ----
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
    void pool_() {
        while (getSize() % whole_pages(1) != 0) db(0xCC);
        pool_offset_ = getSize();
        for (PoolEntry& entry : pool_entries_) {
            if (entry.wide) align(16);
            L(entry.label);
            dq(entry.low);
            if (entry.wide) dq(entry.high);
        }
        if (kMicrosoftX64 && framed_) unwind_data();
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
            db(static_cast<uint8_t>(kSaveXmm128 | (at(kVolatileDepth + i).getIdx() << 4)));
            dw(static_cast<uint16_t>((kSavedXmm + 16 * i) / 16));
        }
        db(static_cast<uint8_t>(frame_allocated_at_));
        db(kAllocLarge);  // the size in the next slot, in eights
        dw(kFrameBytes / 8);
        if (slots % 2) dw(0);
        unwind_table_offset_ = getSize();
        dd(0);
        dd(static_cast<uint32_t>(pool_offset_));
        dd(static_cast<uint32_t>(info));
    }

    // ---- frame, entry and exits ----
    Address host_mxcsr() { return framed_ ? ptr[rsp + kHostMxcsr] : ptr[rsp + kUnframedMxcsr]; }
    // Where an exit reads the MXCSR the formula leaves: free once the value is computed.
    Address exit_mxcsr() { return framed_ ? ptr[rsp + kScratch] : ptr[rsp + kUnframedExitMxcsr]; }

    // The floating-point switch of fp_environment.hpp: a host whose control
    // bits are the library's keeps its MXCSR, and the load for the others
    // is out of the straight path.
    void prologue() {
        if (framed_) open_frame();
        stmxcsr(host_mxcsr());
        mov(eax, host_mxcsr());
        and_(eax, ~core::kMxcsrFlags);
        cmp(eax, core::kLibraryMxcsr);
        jne(switch_to_library_, T_NEAR);
        L(in_library_environment_);
    }

    void open_frame() {
        sub(rsp, kFrameBytes);
        frame_allocated_at_ = getSize();
        for (int i = 0; i < saved_xmm_; ++i) {
            movaps(ptr[rsp + kSavedXmm + 16 * i], at(kVolatileDepth + i));
            xmm_saved_at_[i] = getSize();
        }
        prologue_end_ = getSize();
    }

    void close_frame() {
        for (int i = 0; i < saved_xmm_; ++i) movaps(at(kVolatileDepth + i), ptr[rsp + kSavedXmm + 16 * i]);
        add(rsp, kFrameBytes);
    }

    // Gives the host its MXCSR back.  calcpost has set the last error to 0;
    // a failure records its code.
    void leave() {
        if (restore_ == core::HostMxcsrRestore::kAlways) {
            ldmxcsr(host_mxcsr());
        } else {
            stmxcsr(exit_mxcsr());
            mov(eax, exit_mxcsr());
            cmp(eax, host_mxcsr());
            jne(restore_host_, T_NEAR);
        }
        if (framed_) close_frame();
        ret();
    }

    void epilogue() {
        leave();  // the value is in xmm0: the accumulator at depth 0

        L(fail_);  // eax: the code
        mov(rcx, pointer(&core::error_registers.last_error));
        mov(dword[rcx], eax);
        xorpd(xmm0, xmm0);
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
        add(rsp, kFrameBytes);
        jmp(fail_, T_NEAR);
        L(switch_to_library_);
        ldmxcsr(pooled(core::kLibraryMxcsr));
        jmp(in_library_environment_, T_NEAR);
        L(restore_host_);  // a flag was raised that the host did not have, or the host's controls differ
        ldmxcsr(host_mxcsr());
        if (framed_) close_frame();
        ret();
    }

    // Opens a slow path from here: the common path jumps to the returned
    // label for the rare arguments and resumes at rejoin().
    Label& slow_path(Operator code, double exponent = 2.0) {
        SlowPath& path = slow_paths_.emplace_back();
        path.depth = depth_;
        path.code = code;
        path.exponent = exponent;
        return path.entry;
    }

    // Where the slow path just opened comes back.  Its helper call may have
    // overwritten the registers holding variable cells.
    void rejoin() {
        L(slow_paths_.back().back);
        forget_cells();
    }

    void slow_path_code() {
        for (SlowPath& path : slow_paths_) {
            L(path.entry);
            depth_ = path.depth;
            in_slow_frame_ = !framed_;
            if (in_slow_frame_) sub(rsp, kFrameBytes);
            if (path.code == Operator::kPow) helper_binary(Operator::kPow, constant(path.exponent));
            else helper_unary(path.code);
            if (in_slow_frame_) add(rsp, kFrameBytes);
            jmp(path.back, T_NEAR);
        }
    }

    // ---- the stack ----
    static Xmm at(int depth) { return Xmm(depth < kVolatileDepth ? depth : depth + 2); }
    static Xmm scratch() { return Xmm(kMicrosoftX64 ? 4 : 14); }
    static Xmm second_scratch() { return Xmm(kMicrosoftX64 ? 5 : 15); }
    // Where a helper takes its pointer, and the right operand of a binary one.
    static Reg64 first_argument() { return Reg64(kMicrosoftX64 ? Operand::RCX : Operand::RDI); }
    static Xmm second_double_argument() { return Xmm(kMicrosoftX64 ? 1 : 0); }
    Xmm acc() const { return at(depth_); }
    Address home(int depth) { return ptr[rsp + kHomes + 8 * depth]; }

    // ---- operands ----
    // The address of a variable's cell, in a general register that keeps it
    // until the next helper call.
    Reg64 cell_register(const double* cell) {
        // Volatile under both conventions; rcx is free until a failure exit.
        static const Reg64 kRegisters[kCellRegisterCount] = {Xbyak::util::rdx, Xbyak::util::rcx, Xbyak::util::r8,
                                                            Xbyak::util::r9,  Xbyak::util::r10, Xbyak::util::r11};
        for (int i = 0; i < kCellRegisterCount; ++i)
            if (cached_cells_[i] == cell) return kRegisters[i];
        int taken = next_cell_register_;  // round robin: the oldest goes
        next_cell_register_ = (next_cell_register_ + 1) % kCellRegisterCount;
        cached_cells_[taken] = cell;
        mov(kRegisters[taken], pointer(cell));
        return kRegisters[taken];
    }
    void forget_cells() {
        for (const double*& cell : cached_cells_) cell = nullptr;
    }

    // A value within reach of every byte of the code is addressed from the
    // instruction itself; one out of reach through a pointer from the pool.
    Address variable(const double* cell) {
        if (jit_settings.cells_from_instructions && within_reach(cell)) return ptr[rip + static_cast<const void*>(cell)];
        return ptr[cell_register(cell)];
    }

    bool within_reach(const void* target) const {
        constexpr intptr_t kReach = INT32_MAX - 4096;  // a margin for the instruction's own length
        auto at = reinterpret_cast<intptr_t>(target);
        return at - area_begin_ < kReach && area_end_ - at < kReach && area_begin_ - at < kReach &&
               at - area_end_ < kReach;
    }

    // One operand of a fused or folded instruction: a constant or a variable.
    Address operand_of(const FastInsn& insn, bool is_variable) {
        return is_variable ? variable(insn.p) : constant(insn.k);
    }

    // ---- operators ----
    // left = left (code) right, for + - * /: the hardware's own operation,
    // left operand first, so a NaN travels as the interpreter's does.  A
    // divisor is checked as the interpreter checks it: zero or NaN refuses.
    template <typename Right>
    void arithmetic(Operator code, const Xmm& left, const Right& right, const FastInsn* constant_right = nullptr) {
        switch (translate::operator_info(code).lowering) {
            case Lowering::Add: addsd(left, right); return;
            case Lowering::Subtract: subsd(left, right); return;
            case Lowering::Multiply: mulsd(left, right); return;
            case Lowering::Divide: break;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call: case Lowering::Nothing:
                return;  // the fast form fuses + - * / alone
        }
        if (constant_right) {
            if (is_zero_divisor(constant_right->k)) jmp(refuse_division_, T_NEAR);
            else divsd(left, right);
            return;
        }
        if constexpr (std::is_same_v<Right, Xmm>) {
            ucomisd(right, constant(0.0));
            je(refuse_division_, T_NEAR);  // equal or unordered
            divsd(left, right);
        } else {
            movsd(second_scratch(), right);
            ucomisd(second_scratch(), constant(0.0));
            je(refuse_division_, T_NEAR);
            divsd(left, second_scratch());
        }
    }

    // acc = left (code) right through the operator's helper; left is the
    // accumulator, right is in the second argument's register when the call is made.
    template <typename Right>
    void helper_binary(Operator code, const Right& right) {
        movsd(ptr[rsp + kScratch], acc());
        spill_entries_below();  // before the argument register, an entry's, takes the right operand
        Xmm argument = second_double_argument();
        if constexpr (std::is_same_v<Right, Xmm>) {
            if (right.getIdx() != argument.getIdx()) movapd(argument, right);
        } else {
            movsd(argument, right);
        }
        call_helper(binary_helper(code));
    }

    void helper_unary(Operator code) {
        movsd(ptr[rsp + kScratch], acc());
        spill_entries_below();
        call_helper(unary_helper(code));
    }

    // The entries below the accumulator wait in their homes (under
    // Microsoft x64 the callee keeps xmm6 up, but one spill for all is simpler).
    void spill_entries_below() {
        for (int d = 0; d < depth_; ++d) movsd(home(d), at(d));
    }

    // Calls a step helper on the scratch value; a failure leaves through
    // fail_ with its code, a success puts the value back in the accumulator.
    void call_helper(const void* helper) {
        lea(first_argument(), ptr[rsp + kScratch]);
        call(pointer(helper));
        forget_cells();
        test(eax, eax);
        jnz(in_slow_frame_ ? fail_in_slow_frame_ : fail_, T_NEAR);
        for (int d = 0; d < depth_; ++d) movsd(at(d), home(d));
        movsd(acc(), ptr[rsp + kScratch]);
    }

    void unary(Operator code) {
        Lowering lowering = translate::operator_info(code).lowering;
        switch (lowering) {
            case Lowering::Negate: xorpd(acc(), mask(0x8000000000000000u)); return;
            case Lowering::Absolute: andpd(acc(), mask(0x7fffffffffffffffu)); return;
            case Lowering::SquareRoot:
                // The evaluator refuses x < 0 and NaN (kDomain); -0 and +0 are their own roots.
                ucomisd(acc(), constant(0.0));
                jb(refuse_domain_, T_NEAR);  // below or unordered
                sqrtsd(acc(), acc());
                return;
            case Lowering::Sign: sign(); return;
            case Lowering::Ez: ez(); return;
            case Lowering::PeriodicCall: case Lowering::LogarithmCall: case Lowering::ArcCall:
            case Lowering::ExpCall: case Lowering::Call:
                guarded_call(lowering, code);
                return;
            case Lowering::Nothing: return;
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper:
                break;
        }
        helper_unary(code);
    }

    // acc = (x > 1e-10) - !(x > -1e-10), each comparison a mask of 1.0:
    // 1, +0 or -1, and -1 for NaN, as the interpreter gives.
    void sign() {
        Xmm above = scratch(), below = second_scratch();
        movsd(above, constant(kZeroBandHalf));
        cmpltsd(above, acc());
        movsd(below, constant(-kZeroBandHalf));
        cmpnltsd(below, acc());
        andpd(above, mask(std::bit_cast<uint64_t>(1.0)));
        andpd(below, mask(std::bit_cast<uint64_t>(1.0)));
        subsd(above, below);
        movapd(acc(), above);
    }

    // acc = |x| <= 1e-10 as 1.0 or +0 (NaN compares false).
    void ez() {
        andpd(acc(), mask(0x7fffffffffffffffu));
        cmplesd(acc(), constant(kZeroBandHalf));
        andpd(acc(), mask(std::bit_cast<uint64_t>(1.0)));
    }

    // Jumps to `away` unless the accumulator's biased exponent lies in
    // [low, high): one unsigned compare of its bits, which sends zeros,
    // subnormals, infinities and NaNs away with the rest.  kEitherSign
    // shifts the sign out first; kPositiveOnly keeps it, so that any
    // negative value lands far above the range.
    static constexpr bool kEitherSign = true, kPositiveOnly = false;
    void leave_unless_exponent_in(uint32_t low, uint32_t high, bool either_sign, Label& away) {
        int shift = either_sign ? 53 : 52;
        movq(rax, acc());
        if (either_sign) add(rax, rax);
        if (low != 0) sub(rax, pooled(uint64_t{low} << shift));
        cmp(rax, pooled(uint64_t{high - low} << shift));
        jae(away, T_NEAR);
    }

    // The interpreter's refusals, then the arguments for which the guarded
    // entry's rules may fire (to the helper), before the standard function.
    void guard(Lowering lowering, Operator code) {
        switch (lowering) {
            case Lowering::PeriodicCall:
                // Total loss from |x| >= 2^53, infinities and NaNs.
                leave_unless_exponent_in(0, mathlayer::kTrigLossExponent, kEitherSign, slow_path(code));
                return;
            case Lowering::ExpCall:
                ucomisd(acc(), constant(kExpBound));
                ja(refuse_overflow_, T_NEAR);
                // Underflow from x <= -708.39599609375 on, and NaNs.
                ucomisd(acc(), constant(-std::bit_cast<double>(uint64_t{mathlayer::kExpUnderflowUpper} << 32)));
                jbe(slow_path(code), T_NEAR);
                return;
            case Lowering::LogarithmCall:
                ucomisd(acc(), constant(kLogBound));
                jbe(refuse_domain_, T_NEAR);  // not above, or unordered
                ucomisd(acc(), constant(mathlayer::kLargest));
                ja(slow_path(code), T_NEAR);  // +inf overflows
                return;
            case Lowering::ArcCall:
                ucomisd(acc(), constant(-1.0));
                jb(refuse_domain_, T_NEAR);  // below, or unordered
                ucomisd(acc(), constant(1.0));
                ja(refuse_domain_, T_NEAR);
                return;
            case Lowering::Call:  // no rule
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::Nothing:
                return;
        }
    }

    // acc = function(acc): the standard function where the guard lets the
    // argument through, the helper for the rest.
    void guarded_call(Lowering lowering, Operator code) {
        size_t slow_paths_before = slow_paths_.size();
        guard(lowering, code);
        call_standard(standard_function(code));
        if (slow_paths_.size() != slow_paths_before) rejoin();
    }

    // acc = function(acc) or function(acc, k), with the entries below saved
    // around the call.
    void call_standard(const void* function, const double* k = nullptr) {
        spill_entries_below();
        if (depth_ != 0) movapd(xmm0, acc());
        if (k) movsd(xmm1, constant(*k));
        call(pointer(function));
        if (depth_ != 0) movapd(acc(), xmm0);
        for (int d = 0; d < depth_; ++d) movsd(at(d), home(d));
        forget_cells();
    }

    // acc = acc ^ k for a constant k: the standard pow at once over the band
    // where no rule can fire, for a base of either sign when k is an
    // integer (which pow's parity rule needs) and a positive one otherwise;
    // the helper applies every rule elsewhere.
    void power_by_constant(const double& k) {
        int band = mathlayer::pow_band_without_rules(k);
        if (band == 0) {
            helper_binary(Operator::kPow, constant(k));
            return;
        }
        bool sign = mathlayer::is_integer(k) ? kEitherSign : kPositiveOnly;
        leave_unless_exponent_in(1023 - band, 1023 + band, sign, slow_path(Operator::kPow, k));
        call_standard(reinterpret_cast<const void*>(elementary::elementary_functions.pow), &k);
        rejoin();
    }

    // acc = acc ^ 2: the square at once where no rule can fire, for
    // 2^-510 <= |x| < 2^510.
    void square() {
        leave_unless_exponent_in(mathlayer::kSquareBandLow, mathlayer::kSquareBandHigh, kEitherSign, slow_path(Operator::kPow));
        mulsd(acc(), acc());
        rejoin();
    }

    // ---- one fast instruction ----
    void instruction(const FastInsn* ip) {
        const FastOpFacts& f = facts(ip->op);
        switch (f.shape) {
            case Shape::End: case Shape::Operand: return;
            case Shape::Load: depth_ = 0; movsd(acc(), operand_of(*ip, first_is_variable(f.operands))); return;
            case Shape::Push: ++depth_; movsd(acc(), operand_of(*ip, first_is_variable(f.operands))); return;
            case Shape::Square: square(); return;
            case Shape::Unary: unary(f.op); return;
            case Shape::Binary: binary_instruction(f, ip); return;
            case Shape::FusedLoad: depth_ = 0; fused_into_accumulator(f, ip); return;
            case Shape::FusedPush: ++depth_; fused_into_accumulator(f, ip); return;
            case Shape::Apply: applied(f, ip); return;
        }
    }

    void binary_instruction(const FastOpFacts& f, const FastInsn* ip) {
        switch (f.operands) {
            case Operands::Stack: {
                Xmm right = acc();
                --depth_;
                binary(f.op, right);
                return;
            }
            case Operands::K: binary(f.op, constant(ip->k), ip); return;
            case Operands::V: binary(f.op, variable(ip->p)); return;
            case Operands::None: case Operands::VV: case Operands::VK: case Operands::KV:
                return;  // the list has no such binary form
        }
    }

    // acc = acc (code) right
    template <typename Right>
    void binary(Operator code, const Right& right, const FastInsn* constant_right = nullptr) {
        switch (translate::operator_info(code).lowering) {
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
                arithmetic(code, acc(), right, constant_right);
                return;
            case Lowering::Power:
                if (constant_right) return power_by_constant(constant_right->k);
                break;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder:
                if (floor_by_instruction_) return floored(code, right, constant_right);
                break;
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call: case Lowering::Nothing:
                break;
        }
        helper_binary(code, right);
    }

    // acc = floor(a / b) (div) or a - floor(a / b) * b (mod), the
    // interpreter's operations in its order, with roundsd as floor; a
    // divisor is refused as the interpreter refuses it.
    template <typename Right>
    void floored(Operator code, const Right& right, const FastInsn* constant_right) {
        if (constant_right && is_zero_divisor(constant_right->k)) {
            jmp(refuse_division_, T_NEAR);
            return;
        }
        Xmm divisor = second_scratch(), quotient = scratch();
        if constexpr (std::is_same_v<Right, Xmm>) divisor = right;
        else movsd(divisor, right);
        if (!constant_right) {
            ucomisd(divisor, constant(0.0));
            je(refuse_division_, T_NEAR);  // equal or unordered
        }
        movapd(quotient, acc());
        divsd(quotient, divisor);
        roundsd(quotient, quotient, kRoundDownQuietly);
        if (translate::operator_info(code).lowering == Lowering::FlooredQuotient) {
            movapd(acc(), quotient);
            return;
        }
        mulsd(quotient, divisor);
        subsd(acc(), quotient);
    }

    // The operands of a paired instruction, X in its own slot and Y in the next.
    Address first_operand(const FastInsn* ip, Operands pair) { return operand_of(ip[0], first_is_variable(pair)); }
    Address second_operand(const FastInsn* ip, Operands pair) { return operand_of(ip[1], second_is_variable(pair)); }
    static const FastInsn* constant_second(const FastInsn* ip, Operands pair) {
        return second_is_variable(pair) ? nullptr : &ip[1];
    }

    // acc = X op Y
    void fused_into_accumulator(const FastOpFacts& f, const FastInsn* ip) {
        movsd(acc(), first_operand(ip, f.operands));
        arithmetic(f.op, acc(), second_operand(ip, f.operands), constant_second(ip, f.operands));
    }

    // acc = acc outer (X inner Y)
    void applied(const FastOpFacts& f, const FastInsn* ip) {
        Xmm inner = scratch();
        movsd(inner, first_operand(ip, f.operands));
        arithmetic(f.inner, inner, second_operand(ip, f.operands), constant_second(ip, f.operands));
        arithmetic(f.op, acc(), inner);
    }
};

// Code is generated in place, in an area straight from the system that is
// writable until the code is written, then sealed (executable_memory.hpp).
// It is asked for near the variable values, so that the code reaches them
// from its instructions (where the system places it elsewhere, the code
// reaches them through pointers).

int32_t fast_instruction_count(const FastInsn* code) {
    int32_t count = 0;
    for (const FastInsn* ip = code; ip->op != kEnd && count <= kJitMaxInstructions; ++ip) ++count;
    return count;
}

}  // namespace

MachineCode compile(const FastInsn* fast) {
    int32_t count = fast_instruction_count(fast);
    if (count > kJitMaxInstructions) return {};
    // One page more than the code and pool need: the pool starts on a page of its own.
    size_t mapped = whole_pages(1024 + static_cast<size_t>(count) * kBytesPerInstruction) + whole_pages(1);
    void* area = executable_memory::map_writable_near(vars::var_table.values, mapped);
    if (!area) return {};
    size_t code_bytes = 0, used = 0, unwind_table = 0;
    try {
        Generator generator(mapped, area);
        if (generator.program(fast) && generator.getSize() <= kJitMaxCodeBytes) {
            code_bytes = generator.pool_offset();
            used = whole_pages(generator.getSize());
            unwind_table = generator.unwind_table_offset();
        }
    } catch (...) {
        used = 0;  // too big, out of memory: the formula stays interpreted
    }
    if (used == 0) {
        executable_memory::unmap(area, mapped);
        return {};
    }
    if (!executable_memory::seal(area, mapped, code_bytes, used)) return {};
    void* unwind = nullptr;
    if (unwind_table != 0) {
        unwind = executable_memory::register_unwind_table(area, static_cast<char*>(area) + unwind_table);
        if (!unwind) {  // code the unwinder cannot walk is not run
            executable_memory::unmap(area, used);
            return {};
        }
    }
    return {reinterpret_cast<CompiledCode>(area), used, unwind};
}

void free_machine_code(MachineCode& machine_code) {
    executable_memory::unregister_unwind_table(machine_code.unwind);
    if (machine_code.code) executable_memory::unmap(reinterpret_cast<void*>(machine_code.code), machine_code.bytes);
    machine_code = {};
}

}  // namespace tallymat::eval

#endif
