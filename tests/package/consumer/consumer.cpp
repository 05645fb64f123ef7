// A C++ consumer of an installed tallymat, through the wrapper.
#include <cstdio>
#include <tallymat.hpp>

int main() {
    tallymat::Formula f("2 ** 10");
    tallymat::Result r = f.evaluate();
    std::printf("%g\n", r.value);
    return r.ok() && r.value == 1024.0 ? 0 : 1;
}
