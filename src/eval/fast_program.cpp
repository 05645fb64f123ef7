// Deriving the fast form of a program when its translation succeeds.
#include "eval/fast_program.hpp"

#include <optional>
#include <type_traits>

#include "core/fp_environment.hpp"

#include "eval/evaluator.hpp"
#include "eval/operations.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

namespace {

using translate::Item;
namespace op = translate::op;

using translate::operator_info;

// The K and V forms of a binary operator follow its popping form at fixed distances.
constexpr int kKForm = kAddK - kAdd;
constexpr int kVForm = kAddV - kAdd;
static_assert(kMul - kAdd == 2 && kMulK - kAddK == 2 && kMulV - kAddV == 2 && kIntPowV - kAddV == 7);

FastOp plain_binary(char code) { return *operator_info(code).fast; }

bool loads_constant(const FastInsn& insn) { return insn.op == kLoadK || insn.op == kPushK; }

// The fused opcode for "left, then right, then code", when there is one.
std::optional<FastOp> fused(FastOp left, FastOp right_form, char code) {
    int op_index = operator_info(code).fused_index;
    if (op_index < 0) return std::nullopt;
    bool right_is_variable = right_form == kPushV;
    int block;
    switch (left) {
        case kLoadV: block = right_is_variable ? 0 : 1; break;
        case kLoadK: if (!right_is_variable) return std::nullopt; block = 2; break;
        case kPushV: block = right_is_variable ? 3 : 4; break;
        case kPushK: if (!right_is_variable) return std::nullopt; block = 5; break;
        default: return std::nullopt;
    }
    return static_cast<FastOp>(kLoadVVAdd + 4 * block + op_index);
}
static_assert(kPushKVDiv - kLoadVVAdd == 23 && kApplyAddFirst == kPushKVDiv + 1);

bool is_fused_push(FastOp op) { return op >= kPushVVAdd && op <= kPushKVDiv; }

// The Apply form for "code" over the value a fused Push form computes, when there is one.
std::optional<FastOp> applied(char code, FastOp push) {
    static constexpr int kFirst[] = {kApplyAddFirst, kApplySubFirst, kApplyMulFirst, kApplyDivFirst};
    int op_index = operator_info(code).fused_index;
    if (op_index < 0) return std::nullopt;
    return static_cast<FastOp>(kFirst[op_index] + (push - kPushVVAdd));
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
    void binary(char code) {
        --depth;
        FastInsn* right = last();  // what produced the right operand
        if (apply_into_fused_push(code, right)) return;
        if (fold_constants(code, right)) return;
        if (fuse_operands(code, right)) return;
        if (square(code, right)) return;
        if (right->op == kPushK || right->op == kPushV) {
            // The right operand folds into the operator: "acc op k" or "acc op *p".
            right->op = static_cast<FastOp>(plain_binary(code) + (right->op == kPushK ? kKForm : kVForm));
            return;
        }
        emit(plain_binary(code));
    }

    // The right operand came from a fused push: that instruction now applies
    // this operator to the accumulator instead of pushing.
    bool apply_into_fused_push(char code, FastInsn* right) {
        if (right->op != kOperand || !is_fused_push(right[-1].op)) return false;
        std::optional<FastOp> both = applied(code, right[-1].op);
        if (!both) return false;
        right[-1].op = *both;
        return true;
    }

    // Two constants and an operator that never fails: the result, now.
    bool fold_constants(char code, FastInsn* right) {
        if (right->op != kPushK || !operator_info(code).foldable) return false;
        FastInsn* left = right - 1;  // a push always follows the left operand's producer
        if (!loads_constant(*left)) return false;
        apply_binary(code, left->k, right->k);
        --next;
        return true;
    }

    // "^ 2" has an instruction of its own: most squares need no rule.
    bool square(char code, FastInsn* right) {
        if (code != op::kPow || right->op != kPushK || right->k != 2.0) return false;
        right->op = kSquare;
        return true;
    }

    // The left operand's producer, when it loads a constant or a variable,
    // takes both operands: one dispatch instead of two.
    bool fuse_operands(char code, FastInsn* right) {
        if (right->op != kPushK && right->op != kPushV) return false;
        FastInsn* left = right - 1;
        std::optional<FastOp> both = fused(left->op, right->op, code);
        if (!both) return false;
        left->op = *both;
        right->op = kOperand;
        return true;
    }

    void unary_operator(char code) {
        const translate::OperatorInfo& info = operator_info(code);
        if (!info.fast) return;  // a leading "+" runs nothing
        FastInsn* operand = last();
        if (info.foldable && loads_constant(*operand)) {
            apply_unary(code, operand->k);
            return;
        }
        emit(*info.fast);
    }
};

}  // namespace

void derive_fast_program(translate::Slot& slot) {
    // Each item yields at most one instruction; kEnd adds one.
    Builder b{slot.fast, slot.fast};
    for (int32_t i = 0; i < slot.count; ++i) {
        const Item& item = slot.items[i];
        switch (item.kind) {
            case translate::kNumberItem: b.emit_constant(item.number); break;
            case translate::kVariableItem: b.emit_variable(item.cell); break;
            default:
                if (translate::is_binary(item.op)) b.binary(item.op);
                else b.unary_operator(item.op);
        }
    }
    b.emit(kEnd);
}

// ---- running the fast form ----

namespace {

// A run for the host (calcpost) computes in the library's floating-point
// environment and records its outcome in the last error; a run for the
// tests hands the outcome back.  Both are one instantiation of run below.
template <bool kForHost>
using RunResult = std::conditional_t<kForHost, double, Outcome>;

template <bool kForHost>
[[gnu::always_inline]] inline RunResult<kForHost> finish(double value, int32_t code,
                                                         const core::HostFpEnvironment& host) {
    if constexpr (kForHost) {
        value = core::pinned(value);
        core::leave_library_fp_environment(host);
        if (code != core::kOk) core::set_last_error(code);  // calcpost has set it to 0
        return value;
    } else {
        (void)host;
        return Outcome{value, code};
    }
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
template <bool kForHost>
RunResult<kForHost> run(const FastInsn* ip) {
    core::HostFpEnvironment host{};
    if constexpr (kForHost) core::enter_library_fp_environment(host);
#if TALLYMAT_THREADED_DISPATCH
    static const void* const kHandlers[] = {
#define TALLYMAT_LABEL_ENTRY(name) &&L_##name,
        TALLYMAT_FAST_OPS(TALLYMAT_LABEL_ENTRY)
#undef TALLYMAT_LABEL_ENTRY
    };
    static_assert(sizeof kHandlers / sizeof kHandlers[0] == kFastOpCount);
#endif

    double acc = 0.0;
    double* sp = value_stack.values;  // one past the value below the accumulator
    int32_t failure;

#define NEXT(width) \
    ip += (width);  \
    vmbreak
// The operator's outcome decides whether the run goes on; with a constant
// code the compiler drops the tests that cannot fire.
#define APPLY_BINARY(code, left, right, width)                                                  \
    {                                                                                           \
        double result_ = (left);                                                                \
        if ((failure = failure_of(code, apply_binary(code, result_, (right))))) return finish<kForHost>(0.0, failure, host); \
        acc = result_;                                                                          \
        NEXT(width);                                                                            \
    }
#define POPPED(code)                          \
    {                                         \
        double right_ = acc;                  \
        APPLY_BINARY(code, *--sp, right_, 1); \
    }
#define UNARY(code)                                                             \
    {                                                                           \
        if ((failure = failure_of(code, apply_unary(code, acc)))) return finish<kForHost>(0.0, failure, host); \
        NEXT(1);                                                                \
    }
#define PUSH *sp++ = acc
#define FUSED_BLOCK(prefix, load, left, right)                          \
    vmcase(prefix##Add) { load; APPLY_BINARY(op::kAdd, left, right, 2); } \
    vmcase(prefix##Sub) { load; APPLY_BINARY(op::kSub, left, right, 2); } \
    vmcase(prefix##Mul) { load; APPLY_BINARY(op::kMul, left, right, 2); } \
    vmcase(prefix##Div) { load; APPLY_BINARY(op::kDiv, left, right, 2); }
// acc = acc outer (left inner right): the inner operator first, as the
// push and pop it replaces would have run it.
#define APPLY(outer, inner, left, right)                                                          \
    {                                                                                             \
        double inner_ = (left);                                                                   \
        if ((failure = failure_of(inner, apply_binary(inner, inner_, (right))))) return finish<kForHost>(0.0, failure, host); \
        APPLY_BINARY(outer, acc, inner_, 2);                                                      \
    }
#define APPLY_FORMS(prefix, outer, left, right)                   \
    vmcase(prefix##Add) APPLY(outer, op::kAdd, left, right)       \
    vmcase(prefix##Sub) APPLY(outer, op::kSub, left, right)       \
    vmcase(prefix##Mul) APPLY(outer, op::kMul, left, right)       \
    vmcase(prefix##Div) APPLY(outer, op::kDiv, left, right)
#define APPLY_BLOCK(name, outer)                             \
    APPLY_FORMS(Apply##name##VV, outer, *ip->p, *ip[1].p)   \
    APPLY_FORMS(Apply##name##VK, outer, *ip->p, ip[1].k)    \
    APPLY_FORMS(Apply##name##KV, outer, ip->k, *ip[1].p)

    for (;;) {
        vmdispatch(ip->op) {
            vmcase(End) return finish<kForHost>(acc, core::kOk, host);
            vmcase(Operand) return finish<kForHost>(0.0, core::kInvalidExpression, host);  // never dispatched
            vmcase(LoadK) { acc = ip->k; NEXT(1); }
            vmcase(LoadV) { acc = *ip->p; NEXT(1); }
            vmcase(PushK) { PUSH; acc = ip->k; NEXT(1); }
            vmcase(PushV) { PUSH; acc = *ip->p; NEXT(1); }

            vmcase(Add) POPPED(op::kAdd)
            vmcase(Sub) POPPED(op::kSub)
            vmcase(Mul) POPPED(op::kMul)
            vmcase(Div) POPPED(op::kDiv)
            vmcase(IntDiv) POPPED(op::kIntDiv)
            vmcase(Mod) POPPED(op::kMod)
            vmcase(Pow) POPPED(op::kPow)
            vmcase(IntPow) POPPED(op::kIntPow)

            vmcase(AddK) APPLY_BINARY(op::kAdd, acc, ip->k, 1)
            vmcase(SubK) APPLY_BINARY(op::kSub, acc, ip->k, 1)
            vmcase(MulK) APPLY_BINARY(op::kMul, acc, ip->k, 1)
            vmcase(DivK) APPLY_BINARY(op::kDiv, acc, ip->k, 1)
            vmcase(IntDivK) APPLY_BINARY(op::kIntDiv, acc, ip->k, 1)
            vmcase(ModK) APPLY_BINARY(op::kMod, acc, ip->k, 1)
            vmcase(PowK) APPLY_BINARY(op::kPow, acc, ip->k, 1)
            vmcase(IntPowK) APPLY_BINARY(op::kIntPow, acc, ip->k, 1)

            vmcase(AddV) APPLY_BINARY(op::kAdd, acc, *ip->p, 1)
            vmcase(SubV) APPLY_BINARY(op::kSub, acc, *ip->p, 1)
            vmcase(MulV) APPLY_BINARY(op::kMul, acc, *ip->p, 1)
            vmcase(DivV) APPLY_BINARY(op::kDiv, acc, *ip->p, 1)
            vmcase(IntDivV) APPLY_BINARY(op::kIntDiv, acc, *ip->p, 1)
            vmcase(ModV) APPLY_BINARY(op::kMod, acc, *ip->p, 1)
            vmcase(PowV) APPLY_BINARY(op::kPow, acc, *ip->p, 1)
            vmcase(IntPowV) APPLY_BINARY(op::kIntPow, acc, *ip->p, 1)

            vmcase(Neg) UNARY(op::kNeg)
            vmcase(Abs) UNARY(op::kAbs)
            vmcase(Arctg) UNARY(op::kArctg)
            vmcase(Sign) UNARY(op::kSign)
            vmcase(Ez) UNARY(op::kEz)
            vmcase(Sin) UNARY(op::kSin)
            vmcase(Cos) UNARY(op::kCos)
            vmcase(Tan) UNARY(op::kTan)
            vmcase(Ln) UNARY(op::kLn)
            vmcase(Lg) UNARY(op::kLg)
            vmcase(Arcsin) UNARY(op::kArcsin)
            vmcase(Arccos) UNARY(op::kArccos)
            vmcase(Exp) UNARY(op::kExp)
            vmcase(Sqrt) UNARY(op::kSqrt)
            vmcase(Square) {
                if (mathlayer::squares_without_rules(acc)) [[likely]] {
                    acc = acc * acc;
                    NEXT(1);
                }
                APPLY_BINARY(op::kPow, acc, 2.0, 1)
            }

            FUSED_BLOCK(LoadVV, (void)0, *ip->p, *ip[1].p)
            FUSED_BLOCK(LoadVK, (void)0, *ip->p, ip[1].k)
            FUSED_BLOCK(LoadKV, (void)0, ip->k, *ip[1].p)
            FUSED_BLOCK(PushVV, PUSH, *ip->p, *ip[1].p)
            FUSED_BLOCK(PushVK, PUSH, *ip->p, ip[1].k)
            FUSED_BLOCK(PushKV, PUSH, ip->k, *ip[1].p)

            APPLY_BLOCK(Add, op::kAdd)
            APPLY_BLOCK(Sub, op::kSub)
            APPLY_BLOCK(Mul, op::kMul)
            APPLY_BLOCK(Div, op::kDiv)
#if !TALLYMAT_THREADED_DISPATCH
            case kFastOpCount: return finish<kForHost>(0.0, core::kInvalidExpression, host);  // never written
#endif
        }
    }

#undef NEXT
#undef APPLY_BINARY
#undef POPPED
#undef UNARY
#undef PUSH
#undef FUSED_BLOCK
#undef APPLY
#undef APPLY_FORMS
#undef APPLY_BLOCK
}

template double run<true>(const FastInsn* code);
template Outcome run<false>(const FastInsn* code);
#if TALLYMAT_THREADED_DISPATCH
#pragma GCC diagnostic pop
#endif

#undef vmdispatch
#undef vmcase
#undef vmbreak

}  // namespace tallymat::eval
