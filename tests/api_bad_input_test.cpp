// Bad input: huge texts, every byte value in every position, full tables,
// clears in between.  Nothing may crash or report a failure as success.
#include <string>
#include <vector>

#include "support/api_fixture.hpp"

namespace {

struct Outcome {
    int code;
    int offset;
};

Outcome translate_once(const std::string& text) {
    int handle = exprpost(text.c_str());
    Outcome outcome{geterrnum(), geterroffs()};
    EXPECT_EQ(handle == -1, outcome.code != 0) << text;
    if (handle >= 0) exprdelete(handle);
    return outcome;
}

std::string repeat(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// What a one-character text gives: the byte stands where an operand is due.
Outcome expected_in_operand_position(int c) {
    if (c == ' ' || c == '\t') return {21, 0};
    if (c == '\n' || c == '\r') return {10, 1};
    if (is_digit(c) || c == '.') return {0, 1};
    if (c == '(' || c == '+' || c == '-') return {10, 1};
    return {4, 0};  // letters name no variable here; everything else is no operand
}

// What "1" followed by the byte gives: the byte stands where an operator is due.
Outcome expected_in_operator_position(int c) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') return {0, 2};
    if (is_digit(c)) return {0, 2};                                   // part of the number
    if (c == '.' || c == 'e' || c == 'E') return {0, 2};              // part of the number
    if (c == '+' || c == '-' || c == '*' || c == '/' || c == '^') return {10, 2};
    if (c == ')') return {3, 1};
    return {6, 1};  // m, d and every other word or byte: no operator
}

}  // namespace

TEST_F(Api, EveryByteWhereAnOperandIsDue) {
    for (int c = 1; c < 256; ++c) {
        SCOPED_TRACE(c);
        Outcome want = expected_in_operand_position(c);
        Outcome got = translate_once(std::string(1, static_cast<char>(c)));
        EXPECT_EQ(got.code, want.code);
        EXPECT_EQ(got.offset, want.offset);
    }
}

TEST_F(Api, EveryByteWhereAnOperatorIsDue) {
    for (int c = 1; c < 256; ++c) {
        SCOPED_TRACE(c);
        Outcome want = expected_in_operator_position(c);
        Outcome got = translate_once(std::string("1") + static_cast<char>(c));
        EXPECT_EQ(got.code, want.code);
        EXPECT_EQ(got.offset, want.offset);
    }
}

TEST_F(Api, EveryByteInsideNamesNumbersAndAfterFunctions) {
    vinsert("ab", 1.0);
    vinsert("a", 2.0);
    for (int c = 1; c < 256; ++c) {
        SCOPED_TRACE(c);
        const std::string byte(1, static_cast<char>(c));
        const std::string texts[] = {"a" + byte + "b", "1" + byte + "5", "1e" + byte + "2", "sin" + byte,
                                     "-" + byte,    "(" + byte + ")", "a mod" + byte + "2", byte + byte};
        for (const std::string& text : texts) {
            Outcome got = translate_once(text);
            EXPECT_GE(got.offset, 0);
            EXPECT_LE(got.offset, static_cast<int>(text.size()));
            if (c >= 0x80) {
                EXPECT_NE(got.code, 0) << "a byte above 0x7F has no role: " << text;
            }
        }
    }
}

TEST_F(Api, MebibyteTexts) {
    const size_t mib = size_t{1} << 20;
    vinsert(std::string(79, 'q').c_str(), 1.0);
    struct Row {
        std::string text;
        int code;
        int offset;
        double value;
    };
    const Row rows[] = {
        {"1" + repeat("+1", mib / 2 - 1), 0, static_cast<int>(mib - 1), static_cast<double>(mib / 2)},
        {"2" + repeat("*1", mib / 2 - 1), 0, static_cast<int>(mib - 1), 2.0},
        {"1" + repeat("-1", mib / 2 - 1), 0, static_cast<int>(mib - 1), 2.0 - static_cast<double>(mib / 2)},
        {std::string(mib, 'a'), 4, 0, 0},
        {std::string(mib, 'q'), 6, 79, 0},
        {std::string(10000, '(') + "1" + std::string(10000, ')'), 5, 99, 0},
        {std::string(10000, '-') + "1", 4, 1, 0},
        {repeat("-(", 10000) + "1" + std::string(10000, ')'), 5, 99, 0},
        {std::string(mib, ' ') + "1", 0, static_cast<int>(mib + 1), 1.0},
        {std::string(mib, '\n'), 10, static_cast<int>(mib), 0},
        {std::string(mib, '\xff'), 4, 0, 0},
        {std::string(mib, '9'), 6, 10, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 16));
        int handle = exprpost(row.text.c_str());
        EXPECT_EQ(geterrnum(), row.code);
        EXPECT_EQ(geterroffs(), row.offset);
        if (row.code == 0) {
            ASSERT_GE(handle, 0);
            EXPECT_SAME_BITS(row.value, calcpost(handle));
            EXPECT_EQ(geterrnum(), 0);
            exprdelete(handle);
        }
    }
}

TEST_F(Api, FullTablesClearedInBetween) {
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        names.push_back("v" + std::to_string(i));
        ASSERT_EQ(vinsert(names.back().c_str(), i), 0);
    }
    for (int i = 0; i < 100; ++i) ASSERT_EQ(exprpost((names[i] + "*2").c_str()), i);
    EXPECT_EQ(vinsert("w", 0.0), 8);
    EXPECT_EQ(exprpost("1"), -1);
    EXPECT_EQ(geterrnum(), 18);
    for (int i = 0; i < 100; ++i) EXPECT_SAME_BITS(2.0 * i, calcpost(i));

    vclr();
    for (int i = 0; i < 100; i += 9) {
        EXPECT_SAME_BITS(0.0, calcpost(i));
        EXPECT_EQ(geterrnum(), 20);
    }
    EXPECT_EQ(exprpost("v1"), -1);  // the slots are still full
    EXPECT_EQ(geterrnum(), 18);
    exprclr();
    ASSERT_EQ(vinsert("v1", 5.0), 0);
    int handle = exprpost("v1*2");
    EXPECT_EQ(handle, 0);
    EXPECT_SAME_BITS(10.0, calcpost(handle));
    for (int i = 1; i < 100; ++i) {
        EXPECT_SAME_BITS(0.0, calcpost(i));
        EXPECT_EQ(geterrnum(), 20);
    }
}

TEST_F(Api, NullPointersEverywhereATextGoes) {
    EXPECT_EQ(exprpost(nullptr), -1);
    EXPECT_EQ(geterrnum(), 21);
    EXPECT_EQ(vlookup(nullptr), -1);
    EXPECT_EQ(vinsert(nullptr, 1.0), 0);
    EXPECT_EQ(vinsert(nullptr, 1.0), 9);
    EXPECT_STREQ(vgetname(0), "");
}
