// Math layer: the state, the hook and the failure path.  The guarded
// entries themselves are inline in the header.
#include "eval/math_layer.hpp"

#include "core/errors.hpp"

namespace tallymat::mathlayer {

MathErrorState math_error_state{};

double fail(Kind kind, const char* name, double x, double y, double proposed) {
    MathErrorRecord record{kind, name, x, y, proposed};
    _matherr(&record);
    return record.retval;
}

int _matherr(MathErrorRecord* record) {
    math_error_state.flag = 1;
    math_error_state.captured = *record;
    return 1;
}

int32_t take_reported_code() {
    math_error_state.flag = 0;
    return code_for_kind(math_error_state.captured.kind);
}

int32_t code_for_kind(int32_t kind) {
    switch (kind) {
        case kMathDomain: return core::kDomain;
        case kMathSingular: return core::kSingularity;
        case kMathOverflow: return core::kOverflow;
        case kMathUnderflow: return core::kUnderflow;
        case kMathTotalLoss: return core::kPrecisionLoss;
        default: return core::kDomain;  // no other kind is ever captured
    }
}

}  // namespace tallymat::mathlayer
