// The thirteen exported functions and the load and unload hooks.  Each export
// checks its arguments, asks the subsystem that owns the state, and records
// the outcome in the last error.
#include <cstdlib>

#include "core/cpu_features.hpp"
#include "core/errors.hpp"
#include "core/fp_environment.hpp"
#include "elementary/elementary.hpp"
#include "eval/tiers/entries.hpp"
#include "eval/jit/jit.hpp"
#include "tallymat.h"
#include "translate/slots.hpp"
#include "translate/translator.hpp"
#include "vars/var_table.hpp"

using namespace tallymat;
using vars::var_table;

namespace {

// A null pointer where a text is expected is the empty text.
const char* text_or_empty(const char* text) { return text ? text : ""; }

void release_formula(int32_t index) {
    translate::release_slot(index);
    eval::formula_released(index);
}

void release_all_formulas() {
    for (int32_t i = 0; i < translate::kSlotCount; ++i)
        if (translate::is_occupied(i)) release_formula(i);
}

// The loader runs this once per process, before the host's first call
// (ELF .init_array; on Windows the C runtime's DLL start-up runs it the same way).
__attribute__((constructor)) void on_library_load() {
    release_all_formulas();
    core::error_registers = {};
    core::read_cpu_features();
    core::choose_fp_switch();
    elementary::choose_elementary_products();
    eval::configure_tier_policy(std::getenv("TALLYMAT_JIT"), std::getenv("TALLYMAT_JIT_THRESHOLD"));
    eval::configure_rounding_per_instruction(std::getenv("TALLYMAT_JIT_AVX512"));
}

// Unloading (dlclose, FreeLibrary, process exit) gives every variable name
// and program block back, so a host that loads and unloads the library
// repeatedly does not grow.  Calls after this find empty tables.
__attribute__((destructor)) void on_library_unload() {
    release_all_formulas();
    vars::clear();
}

}  // namespace

extern "C" {

// ---- variables ----

TALLYMAT_API int TALLYMAT_CALL vinsert(const char* name, double value) {
    return core::report(vars::insert(text_or_empty(name), value));
}

TALLYMAT_API int TALLYMAT_CALL vlookup(const char* name) {
    core::set_last_error(core::kOk);
    vars::SearchResult where = vars::search(text_or_empty(name));
    return where.found ? where.position : -1;
}

TALLYMAT_API double TALLYMAT_CALL vgetvalue(int handle) {
    if (!vars::is_valid_handle(handle)) {
        core::report(core::kInvalidVariable);
        return 0.0;
    }
    core::set_last_error(core::kOk);
    return core::returnable_to_host(*var_table.cells[handle]);
}

TALLYMAT_API int TALLYMAT_CALL vsetvalue(int handle, double value) {
    const core::HostDouble from_host = core::read_from_host(value);
    if (!vars::is_valid_handle(handle)) return core::report(core::kInvalidVariable);
    core::set_last_error(core::kOk);
    core::store_to_cell(var_table.cells[static_cast<uint32_t>(handle)], from_host);
    return core::kOk;
}

TALLYMAT_API const char* TALLYMAT_CALL vgetname(int handle) {
    if (!vars::is_valid_handle(handle)) {
        core::report(core::kInvalidVariable);
        return nullptr;
    }
    core::set_last_error(core::kOk);
    return var_table.names[handle];
}

TALLYMAT_API int TALLYMAT_CALL vclr(void) {
    vars::clear();
    translate::retire_programs_naming_variables();  // they point into freed entries
    eval::variables_cleared();
    return core::report(core::kOk);
}

// ---- translation and expression slots ----

TALLYMAT_API int TALLYMAT_CALL exprpost(const char* text) {
    // Number conversion and constant folding compute: in the library's environment.
    core::HostFpEnvironment host;
    core::enter_library_fp_environment(host);
    int32_t index = -1;
    int32_t failure = translate::translate_formula(text_or_empty(text), &index);
    if (failure == core::kOk) eval::formula_translated(index);
    core::leave_library_fp_environment(host);
    core::report(failure);
    return failure == core::kOk ? index : -1;
}

TALLYMAT_API int TALLYMAT_CALL exprdelete(int handle) {
    if (!translate::is_occupied(handle)) return core::report(core::kInvalidExpression);
    release_formula(handle);
    return core::report(core::kOk);
}

TALLYMAT_API int TALLYMAT_CALL exprclr(void) {
    release_all_formulas();
    return core::report(core::kOk);
}

// ---- evaluation ----

TALLYMAT_API double TALLYMAT_CALL calcpost(int handle) {
    auto index = static_cast<uint32_t>(handle);  // negative handles wrap above the table
    if (index >= static_cast<uint32_t>(translate::kSlotCount)) {
        core::report(core::kInvalidExpression);
        return 0.0;
    }
    core::set_last_error(core::kOk);  // machine code writes only a failure's code
    return eval::entry_table.for_slot[index](index);
}

// ---- errors ----

TALLYMAT_API int TALLYMAT_CALL geterrnum(void) { return core::error_registers.last_error; }

TALLYMAT_API int TALLYMAT_CALL geterroffs(void) { return core::error_registers.error_offset; }

TALLYMAT_API const char* TALLYMAT_CALL getstrerror(int code) {
    if (code == 0) code = core::error_registers.last_error;
    return core::message_for(code);
}

}  // extern "C"
