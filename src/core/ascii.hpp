// Case folding of formula names and setting words: ASCII letters only, so
// that no locale and no byte above 0x7F changes a name's meaning.
#pragma once

namespace tallymat::core {

constexpr char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace tallymat::core
