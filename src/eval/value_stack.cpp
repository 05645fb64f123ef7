// The value stack the fast form keeps below its accumulator.
#include "eval/evaluator.hpp"

namespace tallymat::eval {

ValueStack value_stack{};

}  // namespace tallymat::eval
