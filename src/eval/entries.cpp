// The entries calcpost jumps through (see entries.hpp).
#include "eval/entries.hpp"

#include "core/errors.hpp"
#include "core/fp_environment.hpp"
#include "eval/fast_program.hpp"
#include "eval/jit.hpp"

namespace tallymat::eval {

namespace {

double refuse_expression(uint32_t) {
    core::report(core::kInvalidExpression);
    return 0.0;
}

// The evaluation that reaches the JIT's threshold: the formula is compiled
// (which points its entry at the code) and runs as machine code, or stays
// interpreted.  Out of line, so that the interpreter's entry needs no frame.
[[gnu::noinline]] double compile_and_evaluate(translate::Slot& slot) {
    // Compilation computes (the bands of direct calls): in the library's
    // environment, so that the host's flags stay its own.
    core::HostFpEnvironment host;
    core::enter_library_fp_environment(host);
    bool compiled = compile_when_due(slot);
    core::leave_library_fp_environment(host);
    if (compiled) {
        core::set_last_error(core::kOk);  // the code writes only a failure's code
        return slot.compiled(0);
    }
    refresh_entry(slot);  // never to be compiled: interpreted from now on, uncounted
    return run<true>(slot.fast);
}

double count_and_interpret(uint32_t index) {
    translate::Slot& slot = translate::expr_table.slots[index];
    if (!counts_towards_compilation(slot)) [[likely]] return run<true>(slot.fast);
    return compile_and_evaluate(slot);
}

double interpret(uint32_t index) { return run<true>(translate::expr_table.slots[index].fast); }

constexpr EntryTable every_slot_refused() {
    EntryTable table{};
    for (Entry& entry : table.for_slot) entry = refuse_expression;
    return table;
}

}  // namespace

constinit EntryTable entry_table = every_slot_refused();

void refresh_entry(const translate::Slot& slot) {
    Entry entry = refuse_expression;
    if (slot.compiled) entry = slot.compiled;
    else if (slot.items && slot.fast) entry = may_be_compiled(slot) ? count_and_interpret : interpret;
    entry_table.for_slot[&slot - translate::expr_table.slots] = entry;
}

}  // namespace tallymat::eval
