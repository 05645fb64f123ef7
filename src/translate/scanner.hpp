// Lexical scanning: character classes and the readers the translator uses.
// None of them allocates, fails or touches library state.
#pragma once

#include <array>
#include <cstdint>

#include "core/visibility.hpp"

namespace tallymat::translate {

enum CharClass : uint8_t {
    kIdentStart = 1 << 0,  // A-Z a-z _
    kIdentChar = 1 << 1,   // identifier start or digit
    kDigit = 1 << 2,       // 0-9
    kWhitespace = 1 << 3,  // space, tab, line feed, carriage return: skipped by the translator
    kBlank = 1 << 4,       // space and tab only: skipped by count tokens
};

// Bytes 0x80-0xFF and all other ASCII belong to no class.
inline constexpr std::array<uint8_t, 256> kCharClasses = [] {
    std::array<uint8_t, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = kIdentStart | kIdentChar;
    for (int c = 'a'; c <= 'z'; ++c) table[c] = kIdentStart | kIdentChar;
    table['_'] = kIdentStart | kIdentChar;
    for (int c = '0'; c <= '9'; ++c) table[c] = kDigit | kIdentChar;
    table[' '] = kWhitespace | kBlank;
    table['\t'] = kWhitespace | kBlank;
    table['\n'] = kWhitespace;
    table['\r'] = kWhitespace;
    return table;
}();

inline bool has_class(char c, uint8_t cls) { return (kCharClasses[static_cast<unsigned char>(c)] & cls) != 0; }

inline constexpr int32_t kIdentifierMax = 79;  // characters kept; the buffer adds the NUL
inline constexpr int32_t kIdentifierBufferSize = kIdentifierMax + 1;

// Texts longer than this cannot be addressed by a 32-bit position.
inline constexpr int64_t kMaxTextLength = INT32_MAX;
inline constexpr int32_t kTextTooLong = -1;

inline void skip_whitespace(const char* text, int32_t& pos) {
    while (has_class(text[pos], kWhitespace)) ++pos;
}

// Copies at most 79 identifier characters into buffer (NUL-terminated) and
// returns how many; 0, with nothing moved, when no identifier starts at pos.
inline int32_t read_identifier(const char* text, int32_t& pos, char* buffer) {
    if (!has_class(text[pos], kIdentStart)) return 0;
    int32_t length = 0;
    buffer[length++] = text[pos++];
    while (length < kIdentifierMax && has_class(text[pos], kIdentChar)) buffer[length++] = text[pos++];
    buffer[length] = '\0';
    return length;
}

// The library's own digit-by-digit conversion; called on a digit or ".".
TALLYMAT_SSE_CALL double read_number(const char* text, int32_t& pos);

// Identifier runs + digit runs + every other non-blank character; the
// capacity of the program buffer.  kTextTooLong for a text beyond kMaxTextLength.
int32_t count_tokens(const char* text);

}  // namespace tallymat::translate
