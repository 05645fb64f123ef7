// A process whose seccomp filter refuses every executable mapping, as
// sandboxes and hardened hosts do: the compiler's mapping cannot be sealed,
// so every formula stays interpreted, with the bits and codes it had as
// machine code, through a direct compilation and through the threshold.
// Linux on x86-64 only; the filter cannot be lifted, hence a process of its own.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "eval/tiers/entries.hpp"
#include "tallymat.h"

namespace {

struct Formula {
    const char* text;
    double x;
};

const Formula kFormulas[] = {
    {"x*(x+1)-sqrt(x)", 2.5}, {"sin(x)^2+cos(x)^2", 0.7}, {"1/x", 0}, {"exp(x)", -1000}, {"x^3-2*x^1.5", 1.5},
    {"x mod 3 + x div 2", -7.5}, {"ln(x)", 0}, {"tg(x)", 1e17}, {"x^2", 1e300},
};

struct Outcome {
    uint64_t bits;
    int code;
};

// Translates, compiles where it can, and evaluates past the threshold.
Outcome evaluate(const Formula& f, bool expect_compiled, int& mismatches) {
    vsetvalue(vlookup("x"), f.x);
    int handle = exprpost(f.text);
    if (handle < 0) return {0, 100 + geterrnum()};
    bool compiled = tallymat::eval::compile_now(handle);
    if (compiled != expect_compiled) {
        std::fprintf(stderr, "%s: compiled %d, expected %d\n", f.text, compiled, expect_compiled);
        ++mismatches;
    }
    exprdelete(handle);
    handle = exprpost(f.text);
    Outcome first{std::bit_cast<uint64_t>(calcpost(handle)), geterrnum()};
    for (int i = 0; i < 1100; ++i) {  // across the default threshold, where compiling fails quietly
        Outcome again{std::bit_cast<uint64_t>(calcpost(handle)), geterrnum()};
        if (again.bits != first.bits || again.code != first.code) {
            std::fprintf(stderr, "%s: evaluation %d differs\n", f.text, i);
            ++mismatches;
            break;
        }
    }
    exprdelete(handle);
    return first;
}

bool refuse_executable_mappings() {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_mmap, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_mprotect, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[2])),  // prot
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, PROT_EXEC, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace

int main() {
    constexpr int kCount = sizeof kFormulas / sizeof kFormulas[0];
    Outcome expected[kCount];
    int mismatches = 0;
    vinsert("x", 0.0);
    for (int i = 0; i < kCount; ++i) expected[i] = evaluate(kFormulas[i], tallymat::eval::kJitBuilt, mismatches);
    if (!refuse_executable_mappings()) {
        std::perror("seccomp");
        return 77;  // no filter here: skipped
    }
    for (int i = 0; i < kCount; ++i) {
        Outcome got = evaluate(kFormulas[i], false, mismatches);
        if (got.bits != expected[i].bits || got.code != expected[i].code) {
            std::fprintf(stderr, "%s: %016llx code %d, as machine code %016llx code %d\n", kFormulas[i].text,
                         static_cast<unsigned long long>(got.bits), got.code,
                         static_cast<unsigned long long>(expected[i].bits), expected[i].code);
            ++mismatches;
        }
    }
    std::printf("%d formulas without executable mappings, %d mismatches\n", kCount, mismatches);
    return mismatches == 0 ? 0 : 1;
}
