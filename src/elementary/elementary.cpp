// The table of the elementary functions and its choice at load (elementary.hpp).
#include "elementary/elementary.hpp"

#include "core/cpu_features.hpp"
#include "elementary/double_double.hpp"
#include "elementary/variants.hpp"

namespace tallymat::elementary {

using namespace variants;

namespace {

constexpr ElementaryFunctions kDekkersFunctions{exp_plain, log_plain, log10_plain, pow_plain, sin_plain,
                                                cos_plain, tan_plain, asin_plain,  acos_plain, atan_plain,
                                                Products::kDekkers};
constexpr ElementaryFunctions kFusedFunctions{exp_fused, log_fused, log10_fused, pow_fused, sin_fused,
                                              cos_fused, tan_fused, asin_fused,  acos_fused, atan_fused,
                                              Products::kFused};
#if TALLYMAT_OWN_ROUNDING_BUILT
constexpr ElementaryFunctions kOwnRoundingFunctions{
    exp_own_rounding, log_own_rounding,  log10_own_rounding, pow_own_rounding, sin_own_rounding,
    cos_own_rounding, tan_own_rounding, asin_own_rounding,  acos_own_rounding, atan_own_rounding,
    Products::kOwnRounding};
#endif

// The fused functions are used where they were built and the CPU has the
// instruction (on x86 chosen at load; 64-bit Arm and s390x always have it).
bool cpu_has_fused_multiply_add() { return TALLYMAT_FUSED_PRODUCTS_BUILT && core::cpu_features.fused_multiply_add; }

}  // namespace

constinit ElementaryFunctions elementary_functions = kDekkersFunctions;

void choose_elementary_products() {
    set_products(cpu_has_fused_multiply_add() ? Products::kFused : Products::kDekkers);
}

const ElementaryFunctions* own_rounding_functions() {
#if TALLYMAT_OWN_ROUNDING_BUILT
    if (core::cpu_features.avx512f) return &kOwnRoundingFunctions;
#endif
    return nullptr;
}

bool set_products(Products products) {
    switch (products) {
        case Products::kDekkers: elementary_functions = kDekkersFunctions; return true;
        case Products::kFused:
            if (!cpu_has_fused_multiply_add()) return false;
            elementary_functions = kFusedFunctions;
            return true;
        case Products::kOwnRounding:
            if (!own_rounding_functions()) return false;
            elementary_functions = *own_rounding_functions();
            return true;
    }
    return false;
}

}  // namespace tallymat::elementary
