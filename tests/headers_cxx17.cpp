// tallymat.hpp in C++17: the wrapper needs nothing newer.
#include "tallymat.hpp"

int main() {
    tallymat::variables::set("r", 3.0);
    tallymat::Formula square("r*r");
    tallymat::Result result = square.evaluate();
    return result.ok() && result.value == 9.0 ? 0 : 1;
}
