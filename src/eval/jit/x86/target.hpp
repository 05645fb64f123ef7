// The x86-64 target as the walk (walk.hpp) sees it: the stack's depth, the
// frame a program's survey asks for, and the code's beginning and end
// around the operators' emitters.
#pragma once

#include "eval/jit/x86/operator_writer.hpp"

namespace tallymat::eval::x86 {

class Target : public OperatorWriter {
public:
    using OperatorWriter::OperatorWriter;
    using Shape = FrameShape;
    static constexpr int kStackDepth = kStack.depth;

    // Without a red zone, a frame also holds the MXCSR of every program
    // that calls out anywhere, and the registers the deep entries take;
    // without shadow space either, of every program.
    static FrameShape shape_for(int deepest, bool calls_on_straight_path, bool calls_anywhere) {
        FrameShape shape;
        shape.saved_xmm = deepest >= kStack.volatile_depth ? deepest - kStack.volatile_depth + 1 : 0;
        shape.calls_on_straight_path = calls_on_straight_path;
        shape.framed = kConvention.red_zone_bytes ? calls_on_straight_path : calls_anywhere || shape.saved_xmm > 0;
        if (kFramesEveryProgram) shape.framed = true;
        return shape;
    }

    void begin(const FrameShape& shape) { prologue(shape); }

    void finish() {
        epilogue();
        slow_path_code();
        failure_stubs();
        write_pool();
        if (kConvention.unwind_tables && shape().framed) unwind_data();
    }
};

}  // namespace tallymat::eval::x86
