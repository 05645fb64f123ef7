// Invariants the fuzz harnesses check after every call; a violation aborts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "tallymat.h"

namespace fuzzcheck {

[[noreturn]] inline void violated(const char* what, const char* text = nullptr) {
    std::fprintf(stderr, "invariant violated: %s (last error %d, offset %d)\n", what, geterrnum(), geterroffs());
    if (text) std::fprintf(stderr, "text: \"%s\"\n", text);
    std::abort();
}

inline bool one_of(int code, std::initializer_list<int> allowed) {
    for (int c : allowed)
        if (c == code) return true;
    return false;
}

// Codes each call may leave behind.
inline void expect_codes(const char* call, std::initializer_list<int> allowed) {
    if (!one_of(geterrnum(), allowed)) violated(call);
    if (getstrerror(0) == nullptr) violated("getstrerror(0) returned null");
}

inline constexpr std::initializer_list<int> kTranslationCodes = {0, 1, 2, 3, 4, 5, 6, 7, 10, 18, 21};
inline constexpr std::initializer_list<int> kEvaluationCodes = {0, 11, 13, 14, 15, 16, 20};

// exprpost: -1 exactly on failure, offset within the text.
inline void check_translation(int handle, const char* text) {
    expect_codes("exprpost", kTranslationCodes);
    bool failed = geterrnum() != 0;
    if (failed != (handle == -1)) violated("exprpost's handle disagrees with its code", text);
    if (!failed && (handle < 0 || handle > 99)) violated("handle out of range", text);
    size_t length = text ? std::strlen(text) : 0;
    int offset = geterroffs();
    if (offset < 0 || static_cast<size_t>(offset) > length) violated("error offset outside the text", text);
}

inline void check_evaluation(double value) {
    expect_codes("calcpost", kEvaluationCodes);
    if (geterrnum() != 0 && !(value == 0.0 && !std::signbit(value))) violated("failed calcpost returned a value");
}

}  // namespace fuzzcheck
