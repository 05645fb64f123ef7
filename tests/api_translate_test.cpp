// exprpost, exprdelete and exprclr through the C interface.
#include <string>

#include "support/api_fixture.hpp"

namespace {

struct Rejected {
    std::string text;
    int code;
    int offset;
};

void expect_rejected(const Rejected& row) {
    SCOPED_TRACE("text: \"" + row.text + "\"");
    EXPECT_EQ(exprpost(row.text.c_str()), -1);
    EXPECT_EQ(geterrnum(), row.code);
    EXPECT_EQ(geterroffs(), row.offset);
}

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

class Translate : public Api {
protected:
    void SetUp() override {
        Api::SetUp();
        for (const char* name : {"a", "b", "c", "x"}) vinsert(name, 1.0);
    }
};

}  // namespace

TEST_F(Translate, RejectedTextsGiveTheirCodeAndOffset) {
    const Rejected rows[] = {
        {"", 21, 0},
        {"   ", 21, 0},
        {" \t ", 21, 0},
        {"\n", 10, 1},
        {"1+", 10, 2},
        {"(1+2", 1, 4},
        {"sqrt(x", 1, 6},
        {"1+2)", 3, 3},
        {"sin x", 2, 4},
        {"sin", 2, 3},
        {"1+foo", 4, 2},
        {"a+-b", 4, 2},
        {"--a", 4, 1},
        {"()", 4, 1},
        {"sin()", 4, 4},
        {"1 2", 6, 2},
        {"2(3)", 6, 1},
        {"x y", 6, 2},
        {"2 modulo 3", 6, 2},
        {"12345678901", 6, 10},
        {"1.5.3", 6, 3},
        // more of the same rules
        {"1 mod", 10, 5},
        {"a div ", 10, 6},
        {"2 * * 3", 4, 4},
        {"2 max 3", 6, 2},
        {"2 div3 4", 6, 2},
        {"x,y", 6, 1},
        {"1e12345", 6, 6},
        {"x\xe9", 6, 1},
        {"\xe9", 4, 0},
        {"*2", 4, 0},
        {"sin(cos(x)", 1, 10},
        {"(1))", 3, 3},
        {"ln\r\n", 2, 4},
        {"+-1", 4, 1},
        {"2^*3", 4, 2},
        {"exp(", 10, 4},
        {"foo", 4, 0},
        {"1 + bar * 2", 4, 4},
    };
    for (const Rejected& row : rows) expect_rejected(row);
}

TEST_F(Translate, SuccessLeavesCodeZeroAndOffsetAtTheEnd) {
    struct Row {
        const char* text;
        int offset;
    };
    const Row rows[] = {{"1+2   ", 6}, {"x", 1}, {"  (x) \n\r", 8}, {"sin (\n x\t)", 10}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        vgetvalue(-1);
        int handle = exprpost(row.text);
        EXPECT_GE(handle, 0);
        EXPECT_EQ(geterrnum(), 0);
        EXPECT_EQ(geterroffs(), row.offset);
        exprdelete(handle);
    }
}

TEST_F(Translate, NamesAndWordsInAnyCase) {
    for (const char* text : {"SIN(x)", "Sqrt(x)", "7 DIV 2", "7 Mod 2", "ArcTg(X)", "x MoD A", "eZ(b)"}) {
        SCOPED_TRACE(text);
        int handle = exprpost(text);
        EXPECT_GE(handle, 0);
        exprdelete(handle);
    }
}

TEST_F(Translate, AFunctionNameIsNeverAVariable) {
    vinsert("sin", 5.0);
    expect_rejected({"sin", 2, 3});
    expect_rejected({"sin + 1", 2, 4});
}

TEST_F(Translate, VariablesNotFoundLeaveTheTableAlone) {
    expect_rejected({"y + 1", 4, 0});
    EXPECT_EQ(vlookup("y"), -1);
    EXPECT_EQ(vgetvalue(3), 1.0);
    EXPECT_EQ(vgetvalue(4), 0.0);  // still four variables
}

TEST_F(Translate, LongIdentifiersAreCutAt79Characters) {
    std::string name79(79, 'v');
    vinsert(name79.c_str(), 2.0);
    // The 80th character stands in operator position.
    expect_rejected({name79 + "q", 6, 79});
    expect_rejected({name79 + "vv", 6, 79});
    expect_rejected({std::string(79, 'w') + "q", 4, 0});
    // A variable with a longer name can never be reached.
    std::string name80(80, 'k');
    vinsert(name80.c_str(), 1.0);
    expect_rejected({name80, 4, 0});
    // ...but the first 79 characters followed by "mod" read as an operator.
    Evaluation e = translate_and_evaluate((name79 + "mod 3").c_str());
    EXPECT_EQ(e.code, 5);  // the identifier run is one token but yields two items
}

TEST_F(Translate, AllHundredSlotsThenClear) {
    for (int i = 0; i < 100; ++i) ASSERT_EQ(exprpost("x+1"), i);
    expect_rejected({"x+2", 18, 0});
    EXPECT_EQ(exprclr(), 0);
    EXPECT_EQ(geterrnum(), 0);
    EXPECT_EQ(exprpost("x+2"), 0);
}

TEST_F(Translate, DeletedSlotIsReusedFirst) {
    EXPECT_EQ(exprpost("1"), 0);
    EXPECT_EQ(exprpost("2"), 1);
    EXPECT_EQ(exprpost("3"), 2);
    EXPECT_EQ(exprdelete(1), 0);
    EXPECT_EQ(geterrnum(), 0);
    EXPECT_EQ(exprdelete(0), 0);
    EXPECT_EQ(exprpost("4"), 0);
    EXPECT_EQ(exprpost("5"), 1);
    EXPECT_EQ(exprpost("6"), 3);
    EXPECT_EQ(calcpost(2), 3.0);  // other handles keep their programs
    EXPECT_EQ(calcpost(1), 5.0);
}

TEST_F(Translate, DeleteOfAnInvalidHandleLeaves20) {
    exprpost("1");
    const int handles[] = {-1, 100, 1, 99, INT32_MIN, INT32_MAX};
    for (int handle : handles) {
        SCOPED_TRACE(handle);
        vlookup("a");
        EXPECT_EQ(exprdelete(handle), 20);
        EXPECT_EQ(geterrnum(), 20);
    }
    EXPECT_EQ(exprdelete(0), 0);
    EXPECT_EQ(exprdelete(0), 20);
}

TEST_F(Translate, ClearOnAnEmptyTable) {
    vgetvalue(-1);
    EXPECT_EQ(exprclr(), 0);
    EXPECT_EQ(geterrnum(), 0);
}

TEST_F(Translate, FailedTranslationsNeverUseUpSlots) {
    for (int i = 0; i < 300; ++i) ASSERT_EQ(exprpost("(1+"), -1);
    EXPECT_EQ(exprpost("1+1"), 0);  // handles stay dense
    for (int i = 1; i < 100; ++i) ASSERT_EQ(exprpost("1"), i);
    for (int i = 0; i < 10; ++i) expect_rejected({"1+", 18, 0});  // full: refused before the text is read
}

TEST_F(Translate, OperatorStackHolds99PendingEntries) {
    struct Row {
        std::string text;
        int code;
        int offset;
    };
    const Row rows[] = {
        {std::string(99, '(') + "1" + std::string(99, ')'), 0, 199},
        {std::string(100, '(') + "1" + std::string(100, ')'), 5, 99},
        {std::string(99, '(') + "-1" + std::string(99, ')'), 5, 99},
        {"-" + std::string(98, '(') + "1" + std::string(98, ')'), 0, 198},
        {repeat("1+(", 49) + "1" + std::string(49, ')'), 0, 3 * 49 + 1 + 49},
        {repeat("1+(", 50) + "1" + std::string(50, ')'), 5, 3 * 49 + 2},
        {std::string(10000, '('), 5, 99},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        int handle = exprpost(row.text.c_str());
        EXPECT_EQ(geterrnum(), row.code);
        if (row.code == 0) {
            EXPECT_GE(handle, 0);
            EXPECT_EQ(geterroffs(), row.offset);
            exprdelete(handle);
        } else {
            EXPECT_EQ(handle, -1);
            EXPECT_EQ(geterroffs(), row.offset);
        }
    }
}

TEST_F(Translate, NullTextIsTheEmptyText) {
    expect_rejected({"", 21, 0});
    EXPECT_EQ(exprpost(nullptr), -1);
    EXPECT_EQ(geterrnum(), 21);
    EXPECT_EQ(geterroffs(), 0);
}

// A text whose offsets would not fit a signed 32-bit position is refused
// with code 5 before anything is allocated, instead of wrapping.
TEST(HugeText, BeyondA32BitPositionIsRefused) {
    if (sizeof(void*) < 8) GTEST_SKIP() << "a 32-bit process cannot hold a text of 2 GiB";
    const size_t length = size_t{1} << 31;  // one more than INT32_MAX
    std::string text(length, ' ');
    text[length - 1] = '1';
    EXPECT_EQ(exprpost(text.c_str()), -1);
    EXPECT_EQ(geterrnum(), 5);
    EXPECT_EQ(geterroffs(), 0);
    EXPECT_EQ(exprpost("1"), 0);  // nothing was taken
}
