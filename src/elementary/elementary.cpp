// The table of the elementary functions and its choice at load (elementary.hpp).
#include "elementary/elementary.hpp"

#include "core/cpu_features.hpp"
#include "elementary/double_double.hpp"
#include "elementary/variants.hpp"

namespace tallymat::elementary {

using namespace variants;

namespace {

// A kind's table, in ElementaryFunctions' order.
#define TALLYMAT_ELEMENTARY_TABLE(kind, products)                                                                \
    ElementaryFunctions {                                                                                        \
        exp_##kind, log_##kind, log10_##kind, pow_##kind, sin_##kind, cos_##kind, tan_##kind, asin_##kind,       \
            acos_##kind, atan_##kind, products                                                                   \
    }
constexpr ElementaryFunctions kDekkersFunctions = TALLYMAT_ELEMENTARY_TABLE(plain, Products::kDekkers);
constexpr ElementaryFunctions kFusedFunctions = TALLYMAT_ELEMENTARY_TABLE(fused, Products::kFused);
#if TALLYMAT_OWN_ROUNDING_BUILT
constexpr ElementaryFunctions kOwnRoundingFunctions = TALLYMAT_ELEMENTARY_TABLE(own_rounding, Products::kOwnRounding);
#endif
#undef TALLYMAT_ELEMENTARY_TABLE

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
