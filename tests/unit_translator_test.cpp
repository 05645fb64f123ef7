// Translation read item by item through the program of the slot.
#include <gtest/gtest.h>

#include <string>

#include "support/program_dump.hpp"
#include "tallymat.h"
#include "translate/translator.hpp"

namespace {

class Programs : public ::testing::Test {
protected:
    void SetUp() override {
        exprclr();
        vclr();
        for (const char* name : {"a", "b", "c", "x", "y"}) vinsert(name, 1.0);
    }
    void TearDown() override {
        exprclr();
        vclr();
    }
};

struct Row {
    std::string text;
    std::string program;
};

void expect_programs(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE("text: \"" + row.text + "\"");
        int handle = exprpost(row.text.c_str());
        ASSERT_GE(handle, 0) << "code " << geterrnum() << " at " << geterroffs();
        EXPECT_EQ(dump_program(handle), row.program);
        exprdelete(handle);
    }
}

}  // namespace

TEST_F(Programs, WorkedExamples) {
    expect_programs({
        {"-2^2", "2 2 ^ u"},
        {"2^3^2", "2 3 ^ 2 ^"},
        {"2 ** 3 ** 2", "2 3 P 2 P"},
        {"-2 ** 2", "2 2 P u"},
        {"a-b-c", "A B - C -"},
        {"8/4/2", "8 4 / 2 /"},
        {"-a+b", "A u B +"},
        {"-a * b", "A B * u"},
        {"2 * -3 + 4", "2 3 u * 4 +"},
        {"2^-1 * 3", "2 1 3 * u ^"},
        {"x mod b ^ 2", "X B 2 ^ m"},
        {"a mod b mod c", "A B m C m"},
        {"2 * (3+4)", "2 3 4 + *"},
        {"sin(x)^2", "X s 2 ^"},
        {"-sin(x)^2", "X s 2 ^ u"},
        {"SIN (x)", "X s"},
        {"sin(cos(x))", "X c s"},
        {"abs(-3)", "3 u a"},
        {"(((x)))", "X"},
        {".5+.5", "0.5 0.5 +"},
        {"2e + 3", "2 3 +"},
    });
}

TEST_F(Programs, SignsWordsAndFunctions) {
    expect_programs({
        {"x * + y", "X Y U *"},
        {"a mod -b", "A B u m"},
        {"7 DIV 2", "7 2 d"},
        {"7 Mod 2", "7 2 m"},
        {"sin\n\r (x)", "X s"},
        {"+x", "X U"},
        {"-(x+y)", "X Y + u"},
    });
}

// Every function is known by its name in any case, and no other name is a
// function, however close.
TEST_F(Programs, FunctionNames) {
    using tallymat::translate::function_named;
    for (const tallymat::translate::OperatorInfo& row : tallymat::translate::kOperators) {
        if (!row.is_function()) continue;
        std::string upper = row.name;
        for (char& ch : upper) ch = static_cast<char>(ch - 'a' + 'A');
        EXPECT_EQ(function_named(upper.c_str()), &row) << upper;
    }
    for (const char* other : {"si", "sins", "tan", "log", "asin", "atan", "exp2", "", "abs_", "mod", "div"})
        EXPECT_EQ(function_named(other), nullptr) << other;
}

TEST_F(Programs, VariablesCalledModAndDiv) {
    vinsert("mod", 7.0);
    vinsert("div", 2.0);
    expect_programs({
        {"mod mod mod", "MOD MOD m"},
        {"div div div", "DIV DIV d"},
        {"mod div div", "MOD DIV d"},
    });
}

TEST_F(Programs, ItemsReferToTheVariableEntry) {
    int handle = exprpost("x+y");
    const auto& slot = tallymat::translate::expr_table.slots[handle];
    ASSERT_EQ(slot.count, 3);
    EXPECT_EQ(slot.items[0].kind, tallymat::translate::kVariableItem);
    // Items are packed: copy the pointers out before comparing them by reference.
    const double* first = slot.items[0].cell;
    const double* second = slot.items[1].cell;
    EXPECT_EQ(first, tallymat::vars::var_table.cells[vlookup("x")]);
    EXPECT_EQ(second, tallymat::vars::var_table.cells[vlookup("y")]);
    EXPECT_EQ(slot.items[2].kind, tallymat::translate::kOperatorItem);
    EXPECT_EQ(slot.capacity, 3);  // the token count
    EXPECT_TRUE(slot.refers_to_variables);
}

TEST_F(Programs, CapacityIsTheTokenCount) {
    struct Capacity {
        const char* text;
        int32_t capacity;
        int32_t count;
    };
    const Capacity rows[] = {{"sin(x)+12.5", 8, 4}, {"(((x)))", 7, 1}, {"2e + 3", 4, 3}, {"x\n", 2, 1}};
    for (const Capacity& row : rows) {
        int handle = exprpost(row.text);
        ASSERT_GE(handle, 0) << row.text;
        const auto& slot = tallymat::translate::expr_table.slots[handle];
        EXPECT_EQ(slot.capacity, row.capacity) << row.text;
        EXPECT_EQ(slot.count, row.count) << row.text;
        exprdelete(handle);
    }
}

TEST_F(Programs, FailedTranslationFreesItsSlot) {
    EXPECT_EQ(exprpost("x+(1"), -1);
    for (int i = 0; i < tallymat::translate::kSlotCount; ++i)
        EXPECT_EQ(tallymat::translate::expr_table.slots[i].items, nullptr) << i;
}
