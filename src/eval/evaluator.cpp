// The value stack, the plain loop over the postfix items and the integer power.
#include "eval/evaluator.hpp"

#include <bit>
#include <cmath>

#include "eval/fast_program.hpp"
#include "eval/operations.hpp"

namespace tallymat::eval {

ValueStack value_stack{};

double integer_power(double base, double exponent) {
    if (std::isnan(exponent)) return exponent;
    double truncated = std::trunc(exponent);
    double magnitude = std::fabs(truncated);
    uint64_t bits = magnitude >= 0x1p63 ? uint64_t{1} << 63 : static_cast<uint64_t>(magnitude);
    bool negative = truncated < 0.0;

    // A NaN base takes the zero-base path as well.
    if (base == 0.0 || std::isnan(base)) return (!negative && bits >= 1) ? 0.0 : kLargest;

    double c = 1.0;
    for (int bit = 63 - std::countl_zero(bits); bit >= 0; --bit) {
        c = c * c;
        if ((bits >> bit) & 1) c = base * c;
    }
    return negative ? 1.0 / c : c;
}

Outcome run_program(const translate::Slot& slot) {
    using namespace translate;
    mathlayer::math_error_state.flag = 0;

    double* top = value_stack.values;  // one past the top value
    for (int32_t i = 0; i < slot.count; ++i) {
        const Item& item = slot.program[i];
        if (item.kind == kNumberItem) {
            *top++ = item.number;
            continue;
        }
        if (item.kind == kVariableItem) {
            *top++ = *item.cell;
            continue;
        }
        int32_t applied;
        if (is_binary(item.op)) {
            applied = apply_binary(item.op, top[-2], top[-1]);
            --top;
        } else {
            applied = apply_unary(item.op, top[-1]);
        }
        if (int32_t failure = failure_of(applied)) return {0.0, failure};
    }
    return {top[-1], core::kOk};
}

namespace {

namespace op = translate::op;

inline Outcome refuse(int32_t code) { return {0.0, code}; }

}  // namespace

// One indirect jump per instruction, from the end of each handler (threaded
// dispatch through a label table, a GNU extension); the accumulator holds
// the top of the stack in a register.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
Outcome run_fast_program(const FastInsn* ip) {
// The twelve Apply handlers of one outer operator, in the order of the Push forms.
#define APPLY_LABELS(outer)                                                    \
    &&outer##_vv_add, &&outer##_vv_sub, &&outer##_vv_mul, &&outer##_vv_div, \
        &&outer##_vk_add, &&outer##_vk_sub, &&outer##_vk_mul, &&outer##_vk_div, \
        &&outer##_kv_add, &&outer##_kv_sub, &&outer##_kv_mul, &&outer##_kv_div
    static const void* const kHandlers[] = {  // ORDER FastOp
        &&end, &&operand, &&load_k, &&load_v, &&push_k, &&push_v,
        &&add, &&sub, &&mul, &&div, &&int_div, &&mod, &&pow, &&int_pow,
        &&add_k, &&sub_k, &&mul_k, &&div_k, &&int_div_k, &&mod_k, &&pow_k, &&int_pow_k,
        &&add_v, &&sub_v, &&mul_v, &&div_v, &&int_div_v, &&mod_v, &&pow_v, &&int_pow_v,
        &&neg, &&abs, &&arctg, &&sign, &&ez,
        &&sin, &&cos, &&tan, &&ln, &&lg, &&arcsin, &&arccos, &&exp, &&sqrt,
        &&load_vv_add, &&load_vv_sub, &&load_vv_mul, &&load_vv_div,
        &&load_vk_add, &&load_vk_sub, &&load_vk_mul, &&load_vk_div,
        &&load_kv_add, &&load_kv_sub, &&load_kv_mul, &&load_kv_div,
        &&push_vv_add, &&push_vv_sub, &&push_vv_mul, &&push_vv_div,
        &&push_vk_add, &&push_vk_sub, &&push_vk_mul, &&push_vk_div,
        &&push_kv_add, &&push_kv_sub, &&push_kv_mul, &&push_kv_div,
        APPLY_LABELS(apply_add), APPLY_LABELS(apply_sub), APPLY_LABELS(apply_mul), APPLY_LABELS(apply_div),
    };
    static_assert(sizeof kHandlers / sizeof kHandlers[0] == kFastOpCount);

    mathlayer::math_error_state.flag = 0;
    double acc = 0.0;
    double* sp = value_stack.values;  // one past the value below the accumulator
    int32_t failure;

#define DISPATCH() goto* kHandlers[ip->op]
#define NEXT(width) \
    ip += (width);  \
    DISPATCH()
// The operator's outcome decides whether the run goes on; with a constant
// code the compiler drops the tests that cannot fire.
#define APPLY_BINARY(code, left, right, width)                              \
    {                                                                       \
        double result_ = (left);                                            \
        if ((failure = failure_of(apply_binary(code, result_, (right))))) \
            return refuse(failure);                                         \
        acc = result_;                                                      \
        NEXT(width);                                                        \
    }
#define POPPED(code)                          \
    {                                         \
        double right_ = acc;                  \
        APPLY_BINARY(code, *--sp, right_, 1); \
    }
#define UNARY(code)                                                                    \
    if ((failure = failure_of(apply_unary(code, acc)))) return refuse(failure); \
    NEXT(1)
#define FUSED(load, code, left, right) \
    load;                              \
    APPLY_BINARY(code, left, right, 2)
#define PUSH *sp++ = acc
// acc = acc outer (left inner right): the inner operator first, as the
// push and pop it replaces would have run it.
#define APPLY(outer, inner, left, right)                                                 \
    {                                                                                    \
        double inner_ = (left);                                                          \
        if ((failure = failure_of(apply_binary(inner, inner_, (right))))) return refuse(failure); \
        APPLY_BINARY(outer, acc, inner_, 2);                                             \
    }
#define APPLY_HANDLERS(outer, code)                                  \
    outer##_vv_add : APPLY(code, op::kAdd, *ip->p, *ip[1].p);       \
    outer##_vv_sub : APPLY(code, op::kSub, *ip->p, *ip[1].p);       \
    outer##_vv_mul : APPLY(code, op::kMul, *ip->p, *ip[1].p);       \
    outer##_vv_div : APPLY(code, op::kDiv, *ip->p, *ip[1].p);       \
    outer##_vk_add : APPLY(code, op::kAdd, *ip->p, ip[1].k);        \
    outer##_vk_sub : APPLY(code, op::kSub, *ip->p, ip[1].k);        \
    outer##_vk_mul : APPLY(code, op::kMul, *ip->p, ip[1].k);        \
    outer##_vk_div : APPLY(code, op::kDiv, *ip->p, ip[1].k);        \
    outer##_kv_add : APPLY(code, op::kAdd, ip->k, *ip[1].p);        \
    outer##_kv_sub : APPLY(code, op::kSub, ip->k, *ip[1].p);        \
    outer##_kv_mul : APPLY(code, op::kMul, ip->k, *ip[1].p);        \
    outer##_kv_div : APPLY(code, op::kDiv, ip->k, *ip[1].p);

    DISPATCH();
end:
    return {acc, core::kOk};
operand:
    return refuse(core::kInvalidExpression);  // never dispatched
load_k: acc = ip->k; NEXT(1);
load_v: acc = *ip->p; NEXT(1);
push_k: PUSH; acc = ip->k; NEXT(1);
push_v: PUSH; acc = *ip->p; NEXT(1);

add: POPPED(op::kAdd);
sub: POPPED(op::kSub);
mul: POPPED(op::kMul);
div: POPPED(op::kDiv);
int_div: POPPED(op::kIntDiv);
mod: POPPED(op::kMod);
pow: POPPED(op::kPow);
int_pow: POPPED(op::kIntPow);

add_k: APPLY_BINARY(op::kAdd, acc, ip->k, 1);
sub_k: APPLY_BINARY(op::kSub, acc, ip->k, 1);
mul_k: APPLY_BINARY(op::kMul, acc, ip->k, 1);
div_k: APPLY_BINARY(op::kDiv, acc, ip->k, 1);
int_div_k: APPLY_BINARY(op::kIntDiv, acc, ip->k, 1);
mod_k: APPLY_BINARY(op::kMod, acc, ip->k, 1);
pow_k: APPLY_BINARY(op::kPow, acc, ip->k, 1);
int_pow_k: APPLY_BINARY(op::kIntPow, acc, ip->k, 1);

add_v: APPLY_BINARY(op::kAdd, acc, *ip->p, 1);
sub_v: APPLY_BINARY(op::kSub, acc, *ip->p, 1);
mul_v: APPLY_BINARY(op::kMul, acc, *ip->p, 1);
div_v: APPLY_BINARY(op::kDiv, acc, *ip->p, 1);
int_div_v: APPLY_BINARY(op::kIntDiv, acc, *ip->p, 1);
mod_v: APPLY_BINARY(op::kMod, acc, *ip->p, 1);
pow_v: APPLY_BINARY(op::kPow, acc, *ip->p, 1);
int_pow_v: APPLY_BINARY(op::kIntPow, acc, *ip->p, 1);

neg: UNARY(op::kNeg);
abs: UNARY(op::kAbs);
arctg: UNARY(op::kArctg);
sign: UNARY(op::kSign);
ez: UNARY(op::kEz);
sin: UNARY(op::kSin);
cos: UNARY(op::kCos);
tan: UNARY(op::kTan);
ln: UNARY(op::kLn);
lg: UNARY(op::kLg);
arcsin: UNARY(op::kArcsin);
arccos: UNARY(op::kArccos);
exp: UNARY(op::kExp);
sqrt: UNARY(op::kSqrt);

load_vv_add: FUSED((void)0, op::kAdd, *ip->p, *ip[1].p);
load_vv_sub: FUSED((void)0, op::kSub, *ip->p, *ip[1].p);
load_vv_mul: FUSED((void)0, op::kMul, *ip->p, *ip[1].p);
load_vv_div: FUSED((void)0, op::kDiv, *ip->p, *ip[1].p);
load_vk_add: FUSED((void)0, op::kAdd, *ip->p, ip[1].k);
load_vk_sub: FUSED((void)0, op::kSub, *ip->p, ip[1].k);
load_vk_mul: FUSED((void)0, op::kMul, *ip->p, ip[1].k);
load_vk_div: FUSED((void)0, op::kDiv, *ip->p, ip[1].k);
load_kv_add: FUSED((void)0, op::kAdd, ip->k, *ip[1].p);
load_kv_sub: FUSED((void)0, op::kSub, ip->k, *ip[1].p);
load_kv_mul: FUSED((void)0, op::kMul, ip->k, *ip[1].p);
load_kv_div: FUSED((void)0, op::kDiv, ip->k, *ip[1].p);
push_vv_add: FUSED(PUSH, op::kAdd, *ip->p, *ip[1].p);
push_vv_sub: FUSED(PUSH, op::kSub, *ip->p, *ip[1].p);
push_vv_mul: FUSED(PUSH, op::kMul, *ip->p, *ip[1].p);
push_vv_div: FUSED(PUSH, op::kDiv, *ip->p, *ip[1].p);
push_vk_add: FUSED(PUSH, op::kAdd, *ip->p, ip[1].k);
push_vk_sub: FUSED(PUSH, op::kSub, *ip->p, ip[1].k);
push_vk_mul: FUSED(PUSH, op::kMul, *ip->p, ip[1].k);
push_vk_div: FUSED(PUSH, op::kDiv, *ip->p, ip[1].k);
push_kv_add: FUSED(PUSH, op::kAdd, ip->k, *ip[1].p);
push_kv_sub: FUSED(PUSH, op::kSub, ip->k, *ip[1].p);
push_kv_mul: FUSED(PUSH, op::kMul, ip->k, *ip[1].p);
push_kv_div: FUSED(PUSH, op::kDiv, ip->k, *ip[1].p);

    APPLY_HANDLERS(apply_add, op::kAdd)
    APPLY_HANDLERS(apply_sub, op::kSub)
    APPLY_HANDLERS(apply_mul, op::kMul)
    APPLY_HANDLERS(apply_div, op::kDiv)

#undef DISPATCH
#undef NEXT
#undef APPLY_BINARY
#undef POPPED
#undef UNARY
#undef FUSED
#undef PUSH
#undef APPLY
#undef APPLY_HANDLERS
#undef APPLY_LABELS
}
#pragma GCC diagnostic pop

}  // namespace tallymat::eval
