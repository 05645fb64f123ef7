#include <cstdio>
#include "tallymat.hpp"

int main() {
    tallymat::variables::set("r", 2.0);
    tallymat::Formula area("3.1415926536 * r^2");
    if (area.failed()) return 1;
    for (double r : {1.0, 2.0, 3.0}) {
        tallymat::variables::set("r", r);
        tallymat::Result result = area.evaluate();
        if (result.ok()) std::printf("r = %g: %g\n", r, result.value);
    }
    tallymat::Formula broken("ln(r");
    std::printf("error %d at %d: %s\n", broken.error().code, broken.error().offset,
                broken.error().message().c_str());  // the message in UTF-8
    return 0;
}   // the formulas' slots are released here
