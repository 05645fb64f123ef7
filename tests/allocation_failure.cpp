// Refuses the N-th heap allocation, for every N over a scenario of inserts,
// good and failing translations, evaluations, deletes and clears.  The
// refused call answers 7 and changes nothing, its retry succeeds, and once
// both tables are cleared no block is left.  malloc and free are interposed
// here, in the executable, so the shared library's calls come through them.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tallymat.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void __libc_free(void* block);

namespace {
long refuse_at = 0;  // 0: never; otherwise the ordinal of the allocation to refuse
long allocations = 0;
long live_blocks = 0;
}  // namespace

extern "C" void* malloc(size_t size) {
    if (refuse_at != 0 && ++allocations == refuse_at) return nullptr;
    void* block = __libc_malloc(size);
    if (block) ++live_blocks;
    return block;
}

extern "C" void free(void* block) {
    if (block) --live_blocks;
    __libc_free(block);
}

namespace {

struct Step {
    enum Kind { kInsert, kTranslate, kEvaluate, kDelete, kClearFormulas } kind;
    const char* text;  // name or formula
    int expected;      // code of the call when no allocation is refused
    double value;      // of an evaluation; of an insert
};

// Formulas are evaluated through the handle their translation returned.
const Step kScenario[] = {
    {Step::kInsert, "a", 0, 2.0},
    {Step::kInsert, "b", 0, 3.0},
    {Step::kTranslate, "a*(b+1)", 0, 0},
    {Step::kTranslate, "a*(b", 1, 0},
    {Step::kEvaluate, "a*(b+1)", 0, 8.0},
    {Step::kInsert, "a", 9, 0},
    {Step::kTranslate, "sqrt(a+b+c)", 4, 0},
    {Step::kInsert, "c", 0, 4.0},
    {Step::kTranslate, "sqrt(a+b+c)", 0, 0},
    {Step::kDelete, "a*(b+1)", 0, 0},
    {Step::kTranslate, "c^2", 0, 0},
    {Step::kEvaluate, "c^2", 0, 16.0},
    {Step::kClearFormulas, "", 0, 0},
    {Step::kTranslate, "1/c", 0, 0},
    {Step::kEvaluate, "1/c", 0, 0.25},
};

int failures = 0;
void expect(bool ok, long n, const Step& step, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "refusing allocation %ld, at \"%s\": %s\n", n, step.text, what);
    ++failures;
}

// Runs the scenario once; returns how many calls were refused.
int run_scenario(long n) {
    int handles[sizeof kScenario / sizeof kScenario[0]] = {};
    int refused = 0;
    for (const Step& step : kScenario) {
        const int index = static_cast<int>(&step - kScenario);
        auto handle_of = [&](const char* text) {
            for (int i = index - 1; i >= 0; --i)
                if (kScenario[i].kind == Step::kTranslate && std::strcmp(kScenario[i].text, text) == 0)
                    return handles[i];
            return -1;
        };
        int code = 0;
        switch (step.kind) {
            case Step::kInsert:
                code = vinsert(step.text, step.value);
                if (code == TALLYMAT_E_NO_MEMORY) {
                    expect(vlookup(step.text) == -1, n, step, "a refused insert left a variable");
                    ++refused;
                    code = vinsert(step.text, step.value);
                }
                break;
            case Step::kTranslate:
                handles[index] = exprpost(step.text);
                code = geterrnum();
                if (code == TALLYMAT_E_NO_MEMORY) {
                    expect(handles[index] == -1, n, step, "a refused translation returned a handle");
                    ++refused;
                    handles[index] = exprpost(step.text);
                    code = geterrnum();
                }
                break;
            case Step::kEvaluate: {
                double value = calcpost(handle_of(step.text));
                code = geterrnum();
                expect(value == step.value, n, step, "wrong value");
                break;
            }
            case Step::kDelete: code = exprdelete(handle_of(step.text)); break;
            case Step::kClearFormulas: code = exprclr(); break;
        }
        expect(code == step.expected, n, step, "unexpected code");
    }
    return refused;
}

}  // namespace

int main() {
    const long live_at_start = live_blocks;
    long n = 1;
    for (;; ++n) {
        allocations = 0;
        refuse_at = n;
        int refused = run_scenario(n);
        refuse_at = 0;
        exprclr();
        vclr();
        if (live_blocks != live_at_start) {
            std::fprintf(stderr, "refusing allocation %ld: %ld blocks left\n", n, live_blocks - live_at_start);
            ++failures;
        }
        if (refused == 0) break;  // n is past the scenario's last allocation
        if (refused != 1) {
            std::fprintf(stderr, "refusing allocation %ld: %d calls refused\n", n, refused);
            ++failures;
        }
    }
    std::printf("allocation_failure: %ld allocations refused in turn, %s\n", n - 1, failures ? "failed" : "fine");
    return failures ? 1 : 0;
}
