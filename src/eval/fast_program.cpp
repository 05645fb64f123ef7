// Deriving the fast form of a program when its translation succeeds.
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

// The fused opcode for "left, then right, then code", or kEnd when there is none.
FastOp fused(FastOp left, FastOp right_form, char code) {
    int op_index;
    switch (code) {
        case op::kAdd: op_index = 0; break;
        case op::kSub: op_index = 1; break;
        case op::kMul: op_index = 2; break;
        case op::kDiv: op_index = 3; break;
        default: return kEnd;
    }
    bool right_is_variable = right_form == kPushV;
    int block;
    switch (left) {
        case kLoadV: block = right_is_variable ? 0 : 1; break;
        case kLoadK: if (!right_is_variable) return kEnd; block = 2; break;
        case kPushV: block = right_is_variable ? 3 : 4; break;
        case kPushK: if (!right_is_variable) return kEnd; block = 5; break;
        default: return kEnd;
    }
    return static_cast<FastOp>(kLoadVVAdd + 4 * block + op_index);
}
static_assert(kPushKVDiv - kLoadVVAdd == 23 && kApplyAddFirst == kPushKVDiv + 1);

bool is_fused_push(FastOp op) { return op >= kPushVVAdd && op <= kPushKVDiv; }

// The Apply form for "code" over the value a fused Push form computes, or kEnd.
FastOp applied(char code, FastOp push) {
    int first;
    switch (code) {
        case op::kAdd: first = kApplyAddFirst; break;
        case op::kSub: first = kApplySubFirst; break;
        case op::kMul: first = kApplyMulFirst; break;
        case op::kDiv: first = kApplyDivFirst; break;
        default: return kEnd;
    }
    return static_cast<FastOp>(first + (push - kPushVVAdd));
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

    void binary(char code) {
        --depth;
        FastInsn* right = last();  // what produced the right operand
        if (right->op == kOperand && is_fused_push(right[-1].op)) {
            // The right operand came from a fused push: that instruction
            // now applies this operator to the accumulator instead of pushing.
            FastOp both = applied(code, right[-1].op);
            if (both != kEnd) {
                right[-1].op = both;
                return;
            }
        }
        if (right->op == kPushK) {
            FastInsn* left = right - 1;  // a push follows the producer of the left operand
            if (is_foldable_binary(code) && loads_constant(*left)) {
                apply_binary(code, left->k, right->k);
                --next;
                return;
            }
        }
        if (right->op == kPushK || right->op == kPushV) {
            // The left operand's producer, when it loads a constant or a
            // variable, takes both operands: one dispatch instead of two.
            FastInsn* left = right - 1;  // a push always follows the left operand's producer
            FastOp both = fused(left->op, right->op, code);
            if (both != kEnd) {
                left->op = both;
                right->op = kOperand;
                return;
            }
            right->op = static_cast<FastOp>(plain_binary(code) + (right->op == kPushK ? kKForm : kVForm));
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
    // Each item yields at most one instruction; kEnd adds one.
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

}  // namespace tallymat::eval
