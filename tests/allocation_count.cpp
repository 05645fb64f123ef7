// Counts heap allocations around the library's calls: none while a formula
// is evaluated (once it is compiled, if the JIT compiles it), one per
// successful translation.  malloc is interposed here,
// in the executable, so the shared library's calls come through it too.
#include <cstdio>
#include <cstdlib>

#include "tallymat.h"

extern "C" void* __libc_malloc(size_t size);

namespace {
unsigned long allocations = 0;
}

extern "C" void* malloc(size_t size) {
    ++allocations;
    return __libc_malloc(size);
}

int main() {
    int failures = 0;
    auto expect = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "allocation_count: %s\n", what);
            ++failures;
        }
    };
    vinsert("x", 2.0);
    vinsert("y", 3.0);
    unsigned long before = allocations;
    int handle = exprpost("x*(x+1)-sqrt(y)+sin(x)^2*exp(-y)");
    expect(handle >= 0, "translation failed");
    expect(allocations - before == 1, "a translation allocates exactly once");

    // The first evaluations may compile the formula (the one time calcpost
    // allocates); from then on nothing.
    double sum = 0;
    for (int round = 0; round < 2; ++round) {
        before = allocations;
        for (int i = 0; i < 100000; ++i) {
            vsetvalue(0, i * 0.001);
            sum += calcpost(handle);
        }
    }
    expect(allocations == before, "evaluation allocates nothing");

    before = allocations;
    exprdelete(handle);
    expect(exprpost("x+") == -1, "a bad formula is refused");
    expect(allocations - before <= 1, "a failed translation allocates at most its one block");
    std::printf("allocation_count: %s (%g)\n", failures ? "failed" : "fine", sum);
    return failures ? 1 : 0;
}
