// The table of the elementary functions and its choice at load (elementary.hpp).
#include "elementary/elementary.hpp"

#include "core/cpu_features.hpp"
#include "elementary/double_double.hpp"
#include "elementary/variants.hpp"

namespace tallymat::elementary {

using namespace variants;

namespace {

// The fused functions are used where they were built and the CPU has the
// instruction (on x86 chosen at load; 64-bit Arm and s390x always have it).
bool cpu_has_fused_multiply_add() { return TALLYMAT_FUSED_PRODUCTS_BUILT && core::cpu_features.fused_multiply_add; }

}  // namespace

constinit ElementaryFunctions elementary_functions{exp_plain,  log_plain,  log10_plain, pow_plain, sin_plain,
                                                   cos_plain,  tan_plain,  asin_plain,  acos_plain, atan_plain,
                                                   false};

void choose_elementary_products() { set_fused_products(cpu_has_fused_multiply_add()); }

bool set_fused_products(bool fused) {
    if (fused && !cpu_has_fused_multiply_add()) return false;
    elementary_functions = fused ? ElementaryFunctions{exp_fused, log_fused, log10_fused, pow_fused, sin_fused, cos_fused,
                                                       tan_fused, asin_fused, acos_fused, atan_fused, true}
                                 : ElementaryFunctions{exp_plain, log_plain, log10_plain, pow_plain, sin_plain, cos_plain,
                                                       tan_plain, asin_plain, acos_plain, atan_plain, false};
    return true;
}

}  // namespace tallymat::elementary
