// The walk over the fast form, and the choice of each operator's lowering:
// what the compiler knows that no instruction set decides.  A target (the
// x86-64 writers) supplies the stack's registers, one emitter per lowering
// and the frame; the walk surveys the program, lays out its frame and
// hands each instruction to the emitters its row's lowering names.
#pragma once

#include "eval/jit/operand.hpp"
#include "eval/math_layer.hpp"
#include "program/instruction_set.hpp"
#include "program/program.hpp"

namespace tallymat::eval {

template <typename Target>
class Walk {
public:
    explicit Walk(Target& target) : target_(target) {}

    // False when the program is too deep for the registers, or, in code
    // that rounds per instruction, calls a helper on its straight path (the
    // helpers run under the library's MXCSR: such a program keeps the
    // switch around the whole of it).  The standard functions such code
    // calls are those that round in their own instructions.
    bool program(const FastInsn* code) {
        typename Target::Shape shape;
        bool helper_calls = false;
        if (!survey(code, shape, helper_calls)) return false;
        if (target_.rounds_per_instruction() && helper_calls) return false;
        target_.begin(shape);
        for (const FastInsn* ip = code; ip->op != program::kEnd; ip += program::width(ip->op)) instruction(ip);
        target_.finish();
        return true;
    }

private:
    using FastOpFacts = program::FastOpFacts;
    using Lowering = program::Lowering;
    using Operator = program::Operator;
    using Operands = program::Operands;
    using Shape = program::Shape;

    Target& target_;

    // What an operator calls on its straight path: the square calls only
    // on its slow path, div and mod only without a floor instruction, a
    // power by a constant its standard function where a band of bases is
    // free of the rules.
    enum class StraightCall { kNone, kStandardFunction, kHelper };
    StraightCall straight_path_call(Operator code, const Operand& right) const {
        switch (program::operator_info(code).lowering) {
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot: case Lowering::Sign:
            case Lowering::Ez: case Lowering::Nothing:
                return StraightCall::kNone;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder:
                return target_.floors_by_instruction() ? StraightCall::kNone : StraightCall::kHelper;
            case Lowering::Power:
                return right.is_constant() && mathlayer::pow_band_without_rules(right.insn->k) != 0
                           ? StraightCall::kStandardFunction
                           : StraightCall::kHelper;
            case Lowering::PeriodicCall: case Lowering::LogarithmCall: case Lowering::ArcCall: case Lowering::ExpCall:
            case Lowering::Call:
                return StraightCall::kStandardFunction;
            case Lowering::Helper:
                return StraightCall::kHelper;
        }
        return StraightCall::kHelper;
    }

    // Whether the program fits the registers, whether it calls out on its
    // straight path (and a helper there) and anywhere, and how deep it goes.
    bool survey(const FastInsn* code, typename Target::Shape& shape, bool& helper_calls) const {
        int depth = -1, deepest = 0;
        bool calls = false, calls_anywhere = false;
        for (const FastInsn* ip = code; ip->op != program::kEnd; ip += program::width(ip->op)) {
            const FastOpFacts& f = program::facts(ip->op);
            depth = program::depth_after(f, depth);
            if (depth >= Target::kStackDepth) return false;
            if (depth > deepest) deepest = depth;
            StraightCall call = StraightCall::kNone;
            if (f.shape == Shape::Unary) call = straight_path_call(f.op, Operand::stack());
            if (f.shape == Shape::Binary) call = straight_path_call(f.op, right_operand(ip, f.operands));
            if (call == StraightCall::kStandardFunction && !target_.standard_functions()) call = StraightCall::kHelper;
            calls = calls || call != StraightCall::kNone;
            helper_calls = helper_calls || call == StraightCall::kHelper;
            calls_anywhere = calls_anywhere || call != StraightCall::kNone || f.shape == Shape::Square;
        }
        shape = target_.shape_for(deepest, calls, calls_anywhere);
        return true;
    }

    void instruction(const FastInsn* ip) {
        const FastOpFacts& f = program::facts(ip->op);
        switch (f.shape) {
            case Shape::End: case Shape::Operand: return;
            case Shape::Load: target_.start_stack(); target_.load(first_operand(ip, f.operands)); return;
            case Shape::Push: target_.push_entry(); target_.load(first_operand(ip, f.operands)); return;
            case Shape::Square: target_.square(); return;
            case Shape::Unary: unary(f.op); return;
            case Shape::Binary: binary(f.op, right_operand(ip, f.operands)); return;
            case Shape::FusedLoad: target_.start_stack(); fused(f, ip); return;
            case Shape::FusedPush: target_.push_entry(); fused(f, ip); return;
            case Shape::Apply:
                target_.applied(lowering_of(f.op), lowering_of(f.inner), first_operand(ip, f.operands),
                                second_operand(ip, f.operands));
                return;
        }
    }

    static Lowering lowering_of(Operator code) { return program::operator_info(code).lowering; }

    // The operands: a single one in the instruction's slot, a pair's second
    // in the next slot, a binary operator's right one on the stack.
    static Operand first_operand(const FastInsn* ip, Operands operands) {
        return Operand::of(&ip[0], program::first_is_variable(operands));
    }
    static Operand second_operand(const FastInsn* ip, Operands pair) {
        return Operand::of(&ip[1], program::second_is_variable(pair));
    }
    static Operand right_operand(const FastInsn* ip, Operands operands) {
        return operands == Operands::Stack ? Operand::stack() : first_operand(ip, operands);
    }

    void fused(const FastOpFacts& f, const FastInsn* ip) {
        target_.fused(lowering_of(f.op), first_operand(ip, f.operands), second_operand(ip, f.operands));
    }

    // acc = acc (code) right: the operator's own instructions where its
    // lowering has them, else its helper.
    void binary(Operator code, const Operand& right) {
        Lowering lowering = lowering_of(code);
        switch (lowering) {
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
                return target_.arithmetic(lowering, right);
            case Lowering::Power:
                if (right.is_constant()) return target_.power_by_constant(right.insn->k);
                break;
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder:
                if (target_.floors_by_instruction()) return target_.floored(lowering, right);
                break;
            case Lowering::Helper: case Lowering::Negate: case Lowering::Absolute: case Lowering::SquareRoot:
            case Lowering::Sign: case Lowering::Ez: case Lowering::PeriodicCall: case Lowering::LogarithmCall:
            case Lowering::ArcCall: case Lowering::ExpCall: case Lowering::Call: case Lowering::Nothing:
                break;
        }
        target_.binary_helper_call(code, right);
    }

    // acc = code(acc)
    void unary(Operator code) {
        Lowering lowering = lowering_of(code);
        switch (lowering) {
            case Lowering::Negate: return target_.negate();
            case Lowering::Absolute: return target_.absolute();
            case Lowering::SquareRoot: return target_.square_root();
            case Lowering::Sign: return target_.sign();
            case Lowering::Ez: return target_.ez();
            case Lowering::PeriodicCall: case Lowering::LogarithmCall: case Lowering::ArcCall:
            case Lowering::ExpCall: case Lowering::Call:
                return target_.guarded_call(lowering, code);
            case Lowering::Nothing: return;
            case Lowering::Add: case Lowering::Subtract: case Lowering::Multiply: case Lowering::Divide:
            case Lowering::FlooredQuotient: case Lowering::FlooredRemainder: case Lowering::Power:
            case Lowering::Helper:
                break;
        }
        target_.unary_helper_call(code);
    }
};

}  // namespace tallymat::eval
