// Deriving and running the fast form of a program.
#include "eval/fast_program.hpp"

#include "eval/evaluator.hpp"
#include "eval/operations.hpp"
#include "translate/slots.hpp"

namespace tallymat::eval {

namespace {

using translate::Item;
namespace op = translate::op;

// Fast opcode of a binary operator code, in its plain form; the _K and _V
// forms follow at fixed distances (ORDER FastOp).
constexpr int kKForm = kAddK - kAdd;
constexpr int kVForm = kAddV - kAdd;
static_assert(kMul - kAdd == 2 && kMulK - kAddK == 2 && kMulV - kAddV == 2 && kIntPowV - kAddV == 7);

FastOp plain_binary(char code) {
    switch (code) {
        case op::kAdd: return kAdd;
        case op::kSub: return kSub;
        case op::kMul: return kMul;
        case op::kDiv: return kDiv;
        case op::kIntDiv: return kIntDiv;
        case op::kMod: return kMod;
        case op::kPow: return kPow;
        default: return kIntPow;
    }
}

FastOp unary(char code) {
    switch (code) {
        case op::kNeg: return kNeg;
        case op::kAbs: return kAbs;
        case op::kArctg: return kArctg;
        case op::kSign: return kSign;
        case op::kEz: return kEz;
        case op::kSin: return kSin;
        case op::kCos: return kCos;
        case op::kTan: return kTan;
        case op::kLn: return kLn;
        case op::kLg: return kLg;
        case op::kArcsin: return kArcsin;
        case op::kArccos: return kArccos;
        case op::kExp: return kExp;
        default: return kSqrt;
    }
}

// Operators that never fail, never report and depend on nothing but their
// operands: applied to constants now, they give the bits they would give later.
bool is_foldable_binary(char code) { return code == op::kAdd || code == op::kSub || code == op::kMul; }
bool is_foldable_unary(char code) {
    return code == op::kNeg || code == op::kAbs || code == op::kArctg || code == op::kSign || code == op::kEz;
}

bool loads_constant(const FastInsn& insn) { return insn.op == kLoadK || insn.op == kPushK; }

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

    void binary(char code) {
        --depth;
        FastInsn* right = last();  // what produced the right operand
        if (right->op == kPushK) {
            FastInsn* left = right - 1;  // a push follows the producer of the left operand
            if (is_foldable_binary(code) && right > start && loads_constant(*left)) {
                apply_binary(code, left->k, right->k);
                --next;
                return;
            }
            right->op = static_cast<FastOp>(plain_binary(code) + kKForm);
            return;
        }
        if (right->op == kPushV) {
            right->op = static_cast<FastOp>(plain_binary(code) + kVForm);
            return;
        }
        emit(plain_binary(code));
    }

    void unary_operator(char code) {
        if (code == op::kPlus) return;
        FastInsn* operand = last();
        if (is_foldable_unary(code) && loads_constant(*operand)) {
            apply_unary(code, operand->k);
            return;
        }
        emit(unary(code));
    }
};

}  // namespace

void derive_fast_program(translate::Slot& slot) {
    Builder b{slot.fast, slot.fast};
    for (int32_t i = 0; i < slot.count; ++i) {
        const Item& item = slot.program[i];
        switch (item.kind) {
            case translate::kNumberItem: b.emit_constant(item.number); break;
            case translate::kVariableItem: b.emit_variable(item.cell); break;
            default:
                if (is_binary(item.op)) b.binary(item.op);
                else b.unary_operator(item.op);
        }
    }
    b.emit(kEnd);
}

// One dispatch per instruction; the accumulator holds the top of the stack.
Outcome run_fast_program(const FastInsn* ip) {
    mathlayer::math_error_state.flag = 0;
    double acc = 0.0;
    double* sp = value_stack.values;  // one past the value below the accumulator
    int32_t failure;

// The operator's outcome decides whether the loop goes on; with a constant
// code the compiler drops the tests that cannot fire.
#define BINARY(code, right)                                               \
    if ((failure = failure_of(apply_binary(code, acc, right)))) goto fail; \
    continue
#define POPPED(code)          \
    {                         \
        double right = acc;   \
        acc = *--sp;          \
        BINARY(code, right);  \
    }
#define UNARY(code)                                                 \
    if ((failure = failure_of(apply_unary(code, acc)))) goto fail; \
    continue

    for (;; ++ip) {
        switch (ip->op) {
            case kEnd: return {acc, core::kOk};
            case kLoadK: acc = ip->k; continue;
            case kLoadV: acc = *ip->p; continue;
            case kPushK: *sp++ = acc; acc = ip->k; continue;
            case kPushV: *sp++ = acc; acc = *ip->p; continue;

            case kAdd: POPPED(op::kAdd);
            case kSub: POPPED(op::kSub);
            case kMul: POPPED(op::kMul);
            case kDiv: POPPED(op::kDiv);
            case kIntDiv: POPPED(op::kIntDiv);
            case kMod: POPPED(op::kMod);
            case kPow: POPPED(op::kPow);
            case kIntPow: POPPED(op::kIntPow);

            case kAddK: BINARY(op::kAdd, ip->k);
            case kSubK: BINARY(op::kSub, ip->k);
            case kMulK: BINARY(op::kMul, ip->k);
            case kDivK: BINARY(op::kDiv, ip->k);
            case kIntDivK: BINARY(op::kIntDiv, ip->k);
            case kModK: BINARY(op::kMod, ip->k);
            case kPowK: BINARY(op::kPow, ip->k);
            case kIntPowK: BINARY(op::kIntPow, ip->k);

            case kAddV: BINARY(op::kAdd, *ip->p);
            case kSubV: BINARY(op::kSub, *ip->p);
            case kMulV: BINARY(op::kMul, *ip->p);
            case kDivV: BINARY(op::kDiv, *ip->p);
            case kIntDivV: BINARY(op::kIntDiv, *ip->p);
            case kModV: BINARY(op::kMod, *ip->p);
            case kPowV: BINARY(op::kPow, *ip->p);
            case kIntPowV: BINARY(op::kIntPow, *ip->p);

            case kNeg: UNARY(op::kNeg);
            case kAbs: UNARY(op::kAbs);
            case kArctg: UNARY(op::kArctg);
            case kSign: UNARY(op::kSign);
            case kEz: UNARY(op::kEz);
            case kSin: UNARY(op::kSin);
            case kCos: UNARY(op::kCos);
            case kTan: UNARY(op::kTan);
            case kLn: UNARY(op::kLn);
            case kLg: UNARY(op::kLg);
            case kArcsin: UNARY(op::kArcsin);
            case kArccos: UNARY(op::kArccos);
            case kExp: UNARY(op::kExp);
            case kSqrt: UNARY(op::kSqrt);
            case kFastOpCount: break;
        }
        break;  // no other opcode is ever written
    }
#undef BINARY
#undef POPPED
#undef UNARY
    failure = core::kOk;
fail:
    return {0.0, failure};
}

}  // namespace tallymat::eval
