// One side of one formula, COUNT evaluations, for valgrind --tool=callgrind:
//   tallymat_instructions tallymat|native|translate INDEX COUNT
// ("translate" translates and deletes the formula COUNT times).
// Two counts give the instructions per evaluation by their difference
// (bench/count_instructions.sh does this for every formula).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "host_loop.hpp"

using namespace benchset;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s tallymat|native INDEX COUNT\n", argv[0]);
        return 2;
    }
    const bool native = std::strcmp(argv[1], "native") == 0;
    const bool translate = std::strcmp(argv[1], "translate") == 0;
    const size_t index = std::strtoul(argv[2], nullptr, 10);
    const size_t count = std::strtoul(argv[3], nullptr, 10);
    if (index >= std::size(kFormulas)) return 2;

    raise_host_inexact_flag();
    static Inputs inputs = make_inputs();
    static Ring ring;
    if (translate) {
        define_variables();
        for (size_t i = 0; i < count; ++i) {
            int handle = exprpost(kFormulas[index].text);
            ring.results[i & (kInputCount - 1)] = handle;
            exprdelete(handle);
        }
    } else if (native) {
        run_native(kFormulas[index].native, inputs, ring, count);
    } else {
        Handles h = define_variables();
        int handle = exprpost(kFormulas[index].text);
        if (handle < 0) return 1;
        run_tallymat(handle, h.x, inputs, ring, count);
    }
    double checksum = 0;
    for (double r : ring.results) checksum += r;
    std::printf("%.17g\n", checksum);
    return 0;
}
