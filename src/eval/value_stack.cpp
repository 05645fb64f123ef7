// The value stack the fast form keeps below its accumulator.
#include "eval/value_stack.hpp"

namespace tallymat::eval {

ValueStack value_stack{};

}  // namespace tallymat::eval
