// Scanner: identifiers, numbers bit for bit, token counts.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "support/bits.hpp"
#include "translate/scanner.hpp"

using namespace tallymat::translate;

TEST(ReadIdentifier, CopiesIdentifierCharactersUpTo79) {
    struct Row {
        std::string text;
        int32_t start;
        int32_t expected_length;
        std::string expected_copy;
        int32_t expected_pos;
    };
    const Row rows[] = {
        {"abc+1", 0, 3, "abc", 3},
        {"9x", 0, 0, "", 0},
        {"_x9", 0, 3, "_x9", 3},
        {std::string(100, 'q'), 0, 79, std::string(79, 'q'), 79},
        {"a\xe9", 0, 1, "a", 1},
        {"x 1", 1, 0, "", 1},
        {"1 Zeta_2*", 2, 6, "Zeta_2", 8},
        {"MiXeD", 0, 5, "MiXeD", 5},  // case is kept
        {"", 0, 0, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        char buffer[kIdentifierBufferSize] = "unchanged";
        int32_t pos = row.start;
        EXPECT_EQ(read_identifier(row.text.c_str(), pos, buffer), row.expected_length);
        EXPECT_EQ(pos, row.expected_pos);
        if (row.expected_length) EXPECT_EQ(std::string(buffer), row.expected_copy);
        else EXPECT_STREQ(buffer, "unchanged");
    }
}

TEST(SkipWhitespace, SkipsSpaceTabLineFeedAndCarriageReturnOnly) {
    struct Row {
        const char* text;
        int32_t expected_pos;
    };
    const Row rows[] = {{" \t\r\nx", 4}, {"x", 0}, {"   ", 3}, {"\v1", 0}, {"\f", 0}, {" \xa0", 1}};
    for (const Row& row : rows) {
        int32_t pos = 0;
        skip_whitespace(row.text, pos);
        EXPECT_EQ(pos, row.expected_pos) << row.text;
    }
}

TEST(ReadNumber, ValuesBitForBitAndWhereItStops) {
    struct Row {
        const char* text;
        double expected;
        int32_t expected_pos;
    };
    const double kInf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        {"12.5e-3", 0.0125, 7},
        {"0.3", 0.30000000000000004, 3},
        {"0.01", 0.010000000000000002, 4},
        {"0.1", 0.1, 3},
        {"0.5", 0.5, 3},
        {"1.1", 1.1, 3},
        {"2.675", 2.675, 5},
        {".", 0.0, 1},
        {".5", 0.5, 2},
        {"1.", 1.0, 2},
        {"1e300", 1e300, 5},
        {"1e12345", kInf, 6},  // four exponent digits: 1e1234, beyond the doubles
        {"12345678901", 1234567890.0, 10},
        {"1234567890", 1234567890.0, 10},
        {"2e", 2.0, 2},
        {"2e+", 2.0, 3},
        {"2e-x", 2.0, 3},
        {"2E2", 200.0, 3},
        {"7e-0", 7.0, 4},
        {"3x", 3.0, 1},
        // exponents beyond 300 are honoured, as (d 10^(e -+ 300)) 10^(+-300);
        // these and the fractions below were worked out apart from this code
        {"1e301", 0x1.ddd4baa009303p+999, 5},
        {"1.8e308", kInf, 7},  // beyond the largest double
        {"5e-301", 0x1.56e1fc2f8f359p-998, 6},
        {"1e-320", 0x0.00000000007e8p-1022, 6},
        {"2e308", kInf, 5},
        {"200000000e300", kInf, 13},
        {"1e-400", 0.0, 6},
        {"1e-9999", 0.0, 7},
        {"0e9999", 0.0, 6},
        {"0e-9999", 0.0, 7},
        // d = d + digit * s with s itself a rounded power of 0.1, then scaled;
        // the correctly rounded values differ in the last bits
        {"0.12345678901", 0x1.f9add37396360p-4, 12},  // ten fraction digits; nearest ...3744621fp-4
        {"3.14159", 0x1.921f9f01b866fp+1, 7},          // nearest ...b866ep+1
        {"1.7976931348e308", 0x1.ffffffffb3c5dp+1023, 16},
        {"9999999999.9999999999", 0x1.2a05f2p+33, 21},
        {"123.456e-7", 0x1.9e3fe580f5494p-17, 10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        int32_t pos = 0;
        double value = read_number(row.text, pos);
        EXPECT_EQ(pos, row.expected_pos);
        EXPECT_EQ(bits(value), bits(row.expected)) << value;
    }
}

// 1eK reads as the correctly rounded 10^K (glibc's strtod rounds exactly),
// not as a C runtime's pow, which glibc misrounds at 10^23 and 10^210.
TEST(ReadNumber, PowersOfTenAreCorrectlyRounded) {
    for (int k = -300; k <= 300; ++k) {
        std::string text = "1e" + std::to_string(k);
        int32_t pos = 0;
        EXPECT_EQ(bits(read_number(text.c_str(), pos)), bits(std::strtod(text.c_str(), nullptr))) << text;
    }
    int32_t pos = 0;
    EXPECT_EQ(bits(read_number("1e23", pos)), bits(0x1.52d02c7e14af6p+76));  // glibc pow: ...af7p+76
    pos = 0;
    EXPECT_EQ(bits(read_number("1e210", pos)), bits(0x1.8557f31326bbbp+697));  // glibc pow: ...bbcp+697
}

TEST(ReadNumber, ExponentsBeyond300KeepTheirMeaning) {
    struct Row {
        const char* text;
        double nearest;  // the correctly rounded value
    };
    const Row rows[] = {{"1e301", 1e301}, {"1.7e308", 1.7e308}, {"5e-301", 5e-301}, {"1e-320", 1e-320},
                        {"4.9e-324", 4.9e-324}, {"1.5e305", 1.5e305}};
    for (const Row& row : rows) {
        int32_t pos = 0;
        double value = read_number(row.text, pos);
        EXPECT_NEAR(value / row.nearest, 1.0, row.nearest < 1e-307 ? 1e-2 : 1e-15) << row.text;
    }
}

TEST(CountTokens, RunsAndSingleCharacters) {
    struct Row {
        const char* text;
        int32_t expected;
    };
    const Row rows[] = {
        {"", 0},
        {"   \t ", 0},
        {"\n", 1},
        {"\r\n", 2},
        {"sin(x)+12.5", 8},
        {"2x", 2},
        {"1e5", 2},
        {"x12", 1},
        {"\x80\xff", 2},
        {"a b", 2},
        {"abc_def9 + 007", 3},
        {"((((", 4},
        {"**", 2},
    };
    for (const Row& row : rows) EXPECT_EQ(count_tokens(row.text), row.expected) << row.text;
}

// Only ASCII has a role: the whitespace the translator skips, and the name
// that starts after it, on worked texts.
TEST(CharacterClasses, OnlyAsciiHasARole) {
    struct Row {
        const char* text;
        int32_t after_whitespace;  // where skip_whitespace stops
        const char* name;          // what read_identifier then reads
    };
    const Row rows[] = {
        {" \t\r\nx1_", 4, "x1_"}, {"_9z ", 0, "_9z"},    {"Za\x80" "b", 0, "Za"},  {"\xa0x", 0, ""},
        {"\vx", 0, ""},            {"\fx", 0, ""},         {"9a", 0, ""},         {"caf\xe9", 0, "caf"},
        {"a.b", 0, "a"},           {"A@[`{", 0, "A"},      {" \xff", 1, ""},      {"", 0, ""},
    };
    for (const Row& row : rows) {
        int32_t pos = 0;
        skip_whitespace(row.text, pos);
        EXPECT_EQ(pos, row.after_whitespace) << row.text;
        char buffer[kIdentifierBufferSize];
        int32_t length = read_identifier(row.text, pos, buffer);
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(length)), row.name) << row.text;
        EXPECT_EQ(pos, row.after_whitespace + length) << row.text;
    }
}
