// Text harness: the input is a formula.  With a few variables in place it is
// translated and, on success, evaluated and deleted; invariants after each call.
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "support/invariants.hpp"
#include "reference_eval.hpp"
#include "translate/slots.hpp"

namespace {

void add_variables() {
    vinsert("a", 2.0);
    vinsert("b", -3.0);
    vinsert("x", 0.5);
    vinsert("y", 1e-310);
    vinsert("big", 1e308);
    vinsert("inf", INFINITY);
    vinsert("nan", NAN);
    vinsert("mod", 7.0);
    vinsert("z", -0.0);
    vinsert(std::string(79, 'v').c_str(), 1.0);
}

// Numbers, brackets, signs and + - * only: the reference evaluator's subset.
bool in_reference_subset(int handle) {
    using namespace tallymat::translate;
    using namespace tallymat::program;
    const Slot& slot = expr_table.slots[handle];
    for (int32_t i = 0; i < slot.count; ++i) {
        const Item& item = slot.items[i];
        if (item.kind == kVariableItem) return false;
        if (item.kind != kOperatorItem) continue;
        Operator code = item.op;
        if (code != Operator::kAdd && code != Operator::kSub && code != Operator::kMul && code != Operator::kNeg &&
            code != Operator::kPlus)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (add_variables(), true);
    (void)ready;

    std::string text(reinterpret_cast<const char*>(data), size);  // stops at an embedded NUL
    int handle = exprpost(text.c_str());
    fuzzcheck::check_translation(handle, text.c_str());
    if (handle < 0) return 0;

    double value = calcpost(handle);
    fuzzcheck::check_evaluation(value);
    if (geterrnum() == 0 && in_reference_subset(handle)) {
        std::optional<double> expected = fuzzref::Reference(text.c_str()).evaluate();
        if (!expected) fuzzcheck::violated("reference evaluator refused an accepted text", text.c_str());
        bool both_nan = std::isnan(*expected) && std::isnan(value);
        if (!both_nan && std::bit_cast<uint64_t>(*expected) != std::bit_cast<uint64_t>(value)) {
            std::fprintf(stderr, "calcpost %.17g, reference %.17g\n", value, *expected);
            fuzzcheck::violated("calcpost differs from the reference evaluation", text.c_str());
        }
    }

    if (exprdelete(handle) != 0) fuzzcheck::violated("exprdelete of a fresh handle", text.c_str());
    if (calcpost(handle) != 0.0 || geterrnum() != 20) fuzzcheck::violated("deleted handle still evaluates");
    return 0;
}
