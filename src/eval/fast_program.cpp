// The fast form: derived from a program when its translation succeeds,
// and run by the interpreter below.
#include "eval/fast_program.hpp"

#include <type_traits>

#include "core/fp_environment.hpp"

#include "eval/value_stack.hpp"
#include "eval/operations.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

using namespace program;  // the instruction set is what the evaluator runs

namespace {

using program::Item;
using program::Operator;

using program::operator_info;

bool loads_constant(const FastInsn& insn) { return insn.op == kLoadK || insn.op == kPushK; }

constexpr FastOp kNoForm = kFastOpCount;

// The fused opcode for "left, then right, then code", when there is one:
// the left producer loads or pushes X, the right one pushes Y.
FastOp fused(FastOp left, FastOp right, Operator code) {
    const FastOpFacts& x = facts(left);
    if (x.shape != Shape::Load && x.shape != Shape::Push) return kNoForm;
    bool x_variable = x.operands == Operands::V, y_variable = right == kPushV;
    Operands pair = x_variable ? (y_variable ? Operands::VV : Operands::VK) : Operands::KV;
    if (!x_variable && !y_variable) return kNoForm;  // two constants: folded, or left as they are
    return form_of(x.shape == Shape::Load ? Shape::FusedLoad : Shape::FusedPush, pair, code);
}

struct Builder {
    FastInsn* start;
    FastInsn* next;
    int32_t depth = 0;  // values on the postfix stack, the accumulator included

    FastInsn* last() { return next > start ? next - 1 : nullptr; }

    void emit(FastOp code) { (next++)->op = code; }
    void emit_constant(double k) {
        next->op = depth == 0 ? kLoadK : kPushK;
        next->k = k;
        ++next;
        ++depth;
    }
    void emit_variable(const double* p) {
        next->op = depth == 0 ? kLoadV : kPushV;
        next->p = p;
        ++next;
        ++depth;
    }

    // Peephole rules for a binary operator, tried in this order; each
    // rewrites the instructions that produced the operands.
    void binary(Operator code) {
        --depth;
        FastInsn* right = last();  // what produced the right operand
        if (apply_into_fused_push(code, right)) return;
        if (fold_constants(code, right)) return;
        if (fuse_operands(code, right)) return;
        if (square(code, right)) return;
        if (right->op == kPushK || right->op == kPushV) {
            // The right operand folds into the operator: "acc op k" or "acc op *p".
            right->op = form_of(Shape::Binary, right->op == kPushK ? Operands::K : Operands::V, code);
            return;
        }
        emit(form_of(Shape::Binary, Operands::Stack, code));
    }

    // The right operand came from a fused push: that instruction now applies
    // this operator to the accumulator instead of pushing.
    bool apply_into_fused_push(Operator code, FastInsn* right) {
        if (right->op != kOperand || facts(right[-1].op).shape != Shape::FusedPush) return false;
        const FastOpFacts& push = facts(right[-1].op);
        FastOp both = apply_form_of(code, push.operands, push.op);
        if (both == kNoForm) return false;
        right[-1].op = both;
        return true;
    }

    // Two constants and an operator that never fails: the result, now.
    bool fold_constants(Operator code, FastInsn* right) {
        if (right->op != kPushK || !operator_info(code).foldable) return false;
        FastInsn* left = right - 1;  // a push always follows the left operand's producer
        if (!loads_constant(*left)) return false;
        apply_binary(program::as_binary(code), left->k, right->k);
        --next;
        return true;
    }

    // "^ 2" has an instruction of its own: most squares need no rule.
    bool square(Operator code, FastInsn* right) {
        if (code != Operator::kPow || right->op != kPushK || right->k != 2.0) return false;
        right->op = kSquare;
        return true;
    }

    // The left operand's producer, when it loads a constant or a variable,
    // takes both operands: one dispatch instead of two.
    bool fuse_operands(Operator code, FastInsn* right) {
        if (right->op != kPushK && right->op != kPushV) return false;
        FastInsn* left = right - 1;
        FastOp both = fused(left->op, right->op, code);
        if (both == kNoForm) return false;
        left->op = both;
        right->op = kOperand;
        return true;
    }

    void unary_operator(Operator code) {
        const program::OperatorInfo& info = operator_info(code);
        if (!info.runs()) return;  // a leading "+"
        FastInsn* operand = last();
        if (info.foldable && loads_constant(*operand)) {
            apply_unary(program::as_unary(code), operand->k);
            return;
        }
        emit(form_of(Shape::Unary, Operands::None, code));
    }
};

}  // namespace

void derive_fast_program(translate::Slot& slot) {
    // Each item yields at most one instruction; kEnd adds one.
    Builder b{slot.fast, slot.fast};
    for (int32_t i = 0; i < slot.count; ++i) {
        const Item& item = slot.items[i];
        switch (item.kind) {
            case program::kNumberItem: b.emit_constant(item.number); break;
            case program::kVariableItem: b.emit_variable(item.cell); break;
            default:
                if (program::is_binary(item.op)) b.binary(item.op);
                else b.unary_operator(item.op);
        }
    }
    b.emit(kEnd);
}

// ---- running the fast form ----

namespace {

// A run for the host (calcpost) computes in the library's floating-point
// environment and records its outcome in the last error; a run for the
// tests hands the outcome back.  Both are one instantiation of
// run_fast_form below.
template <RunFor kFor>
using RunResult = std::conditional_t<kFor == RunFor::kHost, double, Outcome>;

template <RunFor kFor>
[[gnu::always_inline]] inline RunResult<kFor> finish(double value, int32_t code, const core::HostFpEnvironment& host) {
    if constexpr (kFor == RunFor::kHost) {
        value = core::pinned(core::returnable_to_host(value));
        core::leave_library_fp_environment(host);
        if (code != core::kOk) core::set_last_error(code);  // calcpost has set it to 0
        return value;
    } else {
        (void)host;
        return Outcome{value, code};
    }
}

// result = left (code) right, and the code of its failure or 0.  With a
// constant code the compiler drops the tests that cannot fire.
[[gnu::always_inline]] inline int32_t binary_result(Operator code, double left, double right, double& result) {
    result = left;
    return failure_of(code, apply_binary(program::as_binary(code), result, right));
}

// x = (code)(x), and the code of its failure or 0.
[[gnu::always_inline]] inline int32_t unary_result(Operator code, double& x) {
    return failure_of(code, apply_unary(program::as_unary(code), x));
}

// x = x ^ 2: the square at once where no rule of pow can fire.
[[gnu::always_inline]] inline int32_t square_result(double& x) {
    if (mathlayer::squares_without_rules(x)) [[likely]] {
        x = x * x;
        return core::kOk;
    }
    return binary_result(Operator::kPow, x, 2.0, x);
}

}  // namespace

// The dispatch, written once for two builds (as Lua's lvm.c does it): with
// TALLYMAT_THREADED_DISPATCH each handler ends in its own indirect jump
// through a label table (a GNU extension); otherwise a plain switch in a loop.
#if TALLYMAT_THREADED_DISPATCH
#define vmdispatch(o) goto* kHandlers[o];
#define vmcase(name) L_##name:
#define vmbreak vmdispatch(ip->op)
#else
#define vmdispatch(o) switch (o)
#define vmcase(name) case k##name:
#define vmbreak break
#endif

#if TALLYMAT_THREADED_DISPATCH
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
template <RunFor kFor>
TALLYMAT_SSE_CALL RunResult<kFor> run_fast_form(const FastInsn* ip) {
    core::HostFpEnvironment host{};
    if constexpr (kFor == RunFor::kHost) core::enter_library_fp_environment(host);
#if TALLYMAT_THREADED_DISPATCH
    static const void* const kHandlers[] = {
#define TALLYMAT_LABEL_ENTRY(name, ...) &&L_##name,
        TALLYMAT_FAST_OPS(TALLYMAT_LABEL_ENTRY)
#undef TALLYMAT_LABEL_ENTRY
    };
    static_assert(sizeof kHandlers / sizeof kHandlers[0] == kFastOpCount);
#endif

    double acc = 0.0;
    double* sp = value_stack.values;  // one past the value below the accumulator
    int32_t failure;

// The handlers are expanded in place, one per row of TALLYMAT_FAST_OPS,
// so that each ends in its own dispatch; what they compute is in the inline
// functions above.  Names say what each generates.
#define STEP_AND_DISPATCH(width) \
    ip += (width);               \
    vmbreak
#define FINISH_ON_FAILURE(result) \
    if ((failure = (result))) return finish<kFor>(0.0, failure, host)
#define ACC_IS_BINARY_RESULT(code, left, right, width)                  \
    {                                                                   \
        FINISH_ON_FAILURE(binary_result(code, (left), (right), acc));   \
        STEP_AND_DISPATCH(width);                                       \
    }
#define PUSH_ACC *sp++ = acc
// The operands of an instruction by its row's operands: the first in the
// instruction's own slot, the second (of a pair) in the next.
#define FIRST_OPERAND_K ip->k
#define FIRST_OPERAND_V (*ip->p)
#define FIRST_OPERAND_VV (*ip->p)
#define FIRST_OPERAND_VK (*ip->p)
#define FIRST_OPERAND_KV ip->k
#define SECOND_OPERAND_VV (*ip[1].p)
#define SECOND_OPERAND_VK ip[1].k
#define SECOND_OPERAND_KV (*ip[1].p)
// One handler per shape; the list's rows pick theirs.
#define HANDLE_End(operands, code, inner) return finish<kFor>(acc, core::kOk, host);
// An Operand slot is never dispatched.
#define HANDLE_Operand(operands, code, inner) return finish<kFor>(0.0, core::kInvalidExpression, host);
#define HANDLE_Load(operands, code, inner) { acc = FIRST_OPERAND_##operands; STEP_AND_DISPATCH(1); }
#define HANDLE_Push(operands, code, inner) { PUSH_ACC; acc = FIRST_OPERAND_##operands; STEP_AND_DISPATCH(1); }
#define BINARY_WITH_Stack(code) { double right = acc; ACC_IS_BINARY_RESULT(code, *--sp, right, 1) }
#define BINARY_WITH_K(code) ACC_IS_BINARY_RESULT(code, acc, ip->k, 1)
#define BINARY_WITH_V(code) ACC_IS_BINARY_RESULT(code, acc, *ip->p, 1)
#define HANDLE_Binary(operands, code, inner) BINARY_WITH_##operands(code)
#define HANDLE_Unary(operands, code, inner) { FINISH_ON_FAILURE(unary_result(code, acc)); STEP_AND_DISPATCH(1); }
#define HANDLE_Square(operands, code, inner) { FINISH_ON_FAILURE(square_result(acc)); STEP_AND_DISPATCH(1); }
#define HANDLE_FusedLoad(operands, code, inner) \
    ACC_IS_BINARY_RESULT(code, FIRST_OPERAND_##operands, SECOND_OPERAND_##operands, 2)
#define HANDLE_FusedPush(operands, code, inner) \
    { PUSH_ACC; ACC_IS_BINARY_RESULT(code, FIRST_OPERAND_##operands, SECOND_OPERAND_##operands, 2) }
// acc = acc outer (left inner right): the inner operator first, as the
// push and pop it replaces would have run it.
#define HANDLE_Apply(operands, outer, inner)                                                      \
    {                                                                                             \
        double inner_result;                                                                      \
        FINISH_ON_FAILURE(binary_result(inner, FIRST_OPERAND_##operands, SECOND_OPERAND_##operands, inner_result)); \
        ACC_IS_BINARY_RESULT(outer, acc, inner_result, 2);                                        \
    }
#define HANDLER(name, shape, operands, code, inner) vmcase(name) HANDLE_##shape(operands, code, inner)

    for (;;) {
        vmdispatch(ip->op) {
            TALLYMAT_FAST_OPS(HANDLER)
#if !TALLYMAT_THREADED_DISPATCH
            case kFastOpCount: return finish<kFor>(0.0, core::kInvalidExpression, host);  // never written
#endif
        }
    }

#undef STEP_AND_DISPATCH
#undef FINISH_ON_FAILURE
#undef ACC_IS_BINARY_RESULT
#undef PUSH_ACC
#undef FIRST_OPERAND_K
#undef FIRST_OPERAND_V
#undef FIRST_OPERAND_VV
#undef FIRST_OPERAND_VK
#undef FIRST_OPERAND_KV
#undef SECOND_OPERAND_VV
#undef SECOND_OPERAND_VK
#undef SECOND_OPERAND_KV
#undef HANDLE_End
#undef HANDLE_Operand
#undef HANDLE_Load
#undef HANDLE_Push
#undef BINARY_WITH_Stack
#undef BINARY_WITH_K
#undef BINARY_WITH_V
#undef HANDLE_Binary
#undef HANDLE_Unary
#undef HANDLE_Square
#undef HANDLE_FusedLoad
#undef HANDLE_FusedPush
#undef HANDLE_Apply
#undef HANDLER
}

template TALLYMAT_SSE_CALL double run_fast_form<RunFor::kHost>(const FastInsn* code);
template Outcome run_fast_form<RunFor::kTests>(const FastInsn* code);
#if TALLYMAT_THREADED_DISPATCH
#pragma GCC diagnostic pop
#endif

#undef vmdispatch
#undef vmcase
#undef vmbreak

}  // namespace tallymat::eval
