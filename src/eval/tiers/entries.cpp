// The tiers and entries of the slots (see entries.hpp).
#include "eval/tiers/entries.hpp"

#include "core/ascii.hpp"
#include "core/errors.hpp"
#include "core/fp_environment.hpp"
#include "eval/fast_program.hpp"

namespace tallymat::eval {

using namespace program;  // the instruction set is what the evaluator runs

constinit TierTable tier_table{};
constinit TierPolicy tier_policy{kJitBuilt, kJitBuilt ? 1000 : kNeverCompiled};

namespace {

// A count from the environment: digits only, clamped; anything else keeps the default.
bool parse_count(const char* text, uint32_t& out) {
    if (!text || !*text) return false;
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > kNeverCompiled - 1) value = kNeverCompiled - 1;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

// "0", "off", "false" or "no", in any case, turns the compiler off; any
// other value keeps the default.
bool says_off(const char* text) {
    if (!text) return false;
    for (const char* word : {"0", "off", "false", "no"}) {
        size_t i = 0;
        while (word[i] && core::lower_ascii(text[i]) == word[i]) ++i;
        if (!word[i] && !text[i]) return true;
    }
    return false;
}

translate::Slot& slot_at(uint32_t index) { return translate::expr_table.slots[index]; }

// Counts an interpreted evaluation; true when the slot has reached the
// threshold.  With the JIT off the threshold is kNeverCompiled, which a
// count never passes.
bool counts_towards_compilation(SlotTier& tier) {
    if (!kJitBuilt) return false;
    if (tier.evaluations < tier_policy.threshold) [[likely]] {
        ++tier.evaluations;
        return false;
    }
    return true;
}

// A slot whose compilation failed is not tried again.
bool may_be_compiled(const SlotTier& tier) { return tier_policy.compiles && tier.evaluations != kNeverCompiled; }

void refresh_entry(uint32_t index);

TALLYMAT_SSE_CALL double refuse_expression(uint32_t) {
    core::report(core::kInvalidExpression);
    return 0.0;
}

// Compilation computes (the bands of direct calls): in the library's
// environment, so that the host's flags stay its own.
template <typename Compile>
auto compiled_in_library_environment(Compile compile) {
    core::HostFpEnvironment host;
    core::enter_library_fp_environment(host);
    auto result = compile();
    core::leave_library_fp_environment(host);
    return result;
}

// Machine code is the slot's entry itself, except where the library's own
// functions return doubles in st(0) (the 32-bit DLL): there code that calls
// a standard function runs inside the switch of the x87 unit, since the
// call loads the x87 register (the helpers keep the host's x87 state
// themselves).  Other code loads it once, with its result, as the exported
// function's return would.
TALLYMAT_SSE_CALL double run_machine_code(CompiledCode code, uint32_t index) {
#if TALLYMAT_FP_ENV_X87
    core::X87Kept x87_kept;
#endif
    return code(index);
}

#if TALLYMAT_FP_ENV_X87
TALLYMAT_SSE_CALL double run_compiled_in_x87_switch(uint32_t index) {
    return run_machine_code(tier_table.slots[index].machine_code.code, index);
}

Entry entry_of_machine_code(const MachineCode& machine_code) {
    return machine_code.calls_standard_function ? run_compiled_in_x87_switch : machine_code.code;
}
#else
Entry entry_of_machine_code(const MachineCode& machine_code) { return machine_code.code; }
#endif

// The evaluation that reaches the JIT's threshold: the formula is compiled
// (which points its entry at the code) and runs as machine code, or stays
// interpreted.  Out of line, so that the interpreter's entry needs no frame.
[[gnu::noinline]] TALLYMAT_SSE_CALL double compile_and_evaluate(uint32_t index) {
    bool compiled = compiled_in_library_environment(
        [index] { return may_be_compiled(tier_table.slots[index]) && compile_now(static_cast<int32_t>(index)); });
    if (compiled) {
        core::set_last_error(core::kOk);  // the code writes only a failure's code
        return run_machine_code(tier_table.slots[index].machine_code.code, index);
    }
    tier_table.slots[index].evaluations = kNeverCompiled;
    refresh_entry(index);  // interpreted from now on, uncounted
    return run_for_host(slot_at(index).fast);
}

// Code that rounds per instruction sends a host with DAZ or FTZ set here,
// with its argument: such a host is served by the switching code, compiled
// when the first one calls (as at the threshold).  Where it cannot be, the interpreter serves it.
TALLYMAT_SSE_CALL double run_for_flushing_host(uint32_t index) {
    MachineCode& machine_code = tier_table.slots[index].machine_code;
    if (!machine_code.switching.start) {
        machine_code.switching =
            compiled_in_library_environment([index] { return compile_switching(slot_at(index).fast); });
        if (!machine_code.switching.start) return run_for_host(slot_at(index).fast);
    }
    return run_machine_code(reinterpret_cast<CompiledCode>(machine_code.switching.start), index);
}

TALLYMAT_SSE_CALL double count_and_interpret(uint32_t index) {
    if (!counts_towards_compilation(tier_table.slots[index])) [[likely]] return run_for_host(slot_at(index).fast);
    return compile_and_evaluate(index);
}

TALLYMAT_SSE_CALL double interpret(uint32_t index) { return run_for_host(slot_at(index).fast); }

constexpr EntryTable every_slot_refused() {
    EntryTable table{};
    for (Entry& entry : table.for_slot) entry = refuse_expression;
    return table;
}

// Points the slot's entry at what the slot now holds: machine code, a
// runnable fast form, or nothing calcpost may run.
void refresh_entry(uint32_t index) {
    const translate::Slot& slot = slot_at(index);
    const SlotTier& tier = tier_table.slots[index];
    Entry entry = refuse_expression;
    if (tier.machine_code.code) entry = entry_of_machine_code(tier.machine_code);
    else if (slot.items && slot.fast) entry = may_be_compiled(tier) ? count_and_interpret : interpret;
    entry_table.for_slot[index] = entry;
}

void discard_machine_code(uint32_t index) {
    free_machine_code(tier_table.slots[index].machine_code);
    tier_table.slots[index].evaluations = 0;
}

}  // namespace

void configure_tier_policy(const char* enabled, const char* threshold) {
    tier_policy.compiles = kJitBuilt && !says_off(enabled);
    parse_count(threshold, tier_policy.threshold);
    if (!tier_policy.compiles) tier_policy.threshold = kNeverCompiled;
}

void configure_rounding_per_instruction(const char* enabled) {
    jit_settings.rounding_per_instruction = !says_off(enabled);
}

constinit EntryTable entry_table = every_slot_refused();

void formula_translated(int32_t index) {
    derive_fast_program(slot_at(static_cast<uint32_t>(index)));
    refresh_entry(static_cast<uint32_t>(index));  // its tier is clean: the slot's release left it so
}

void formula_released(int32_t index) {
    discard_machine_code(static_cast<uint32_t>(index));
    refresh_entry(static_cast<uint32_t>(index));
}

void variables_cleared() {
    for (uint32_t index = 0; index < static_cast<uint32_t>(translate::kSlotCount); ++index) {
        if (!slot_at(index).fast) discard_machine_code(index);  // retired, or free
        refresh_entry(index);
    }
}

bool compile_now(int32_t index) {
    auto at = static_cast<uint32_t>(index);
    SlotTier& tier = tier_table.slots[at];
    if (tier.machine_code.code) return true;
    if (!slot_at(at).fast) return false;
    tier.machine_code = compile(slot_at(at).fast, run_for_flushing_host);
    if (!tier.machine_code.code) return false;
    refresh_entry(at);
    return true;
}

}  // namespace tallymat::eval
