// Translation read item by item through the program of the slot.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/program_dump.hpp"
#include "support/worked_formulas.hpp"
#include "tallymat.h"
#include "translate/translator.hpp"

namespace {

class Programs : public ::testing::Test {
protected:
    void SetUp() override {
        exprclr();
        vclr();
        for (const WorkedVariable& v : kWorkedVariables) vinsert(v.name, v.value);
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
    for (const WorkedFormula& row : kWorkedFormulas) expect_programs({{row.text, row.program}});
}

// Every function is known by its name in any case, and no other name is a
// function, however close.
TEST_F(Programs, FunctionNames) {
    using tallymat::translate::function_named;
    for (const tallymat::program::OperatorInfo& row : tallymat::program::kOperators) {
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
    EXPECT_EQ(slot.items[0].kind, tallymat::program::kVariableItem);
    // Items are packed: copy the pointers out before comparing them by reference.
    const double* first = slot.items[0].cell;
    const double* second = slot.items[1].cell;
    EXPECT_EQ(first, tallymat::vars::var_table.cells[vlookup("x")]);
    EXPECT_EQ(second, tallymat::vars::var_table.cells[vlookup("y")]);
    EXPECT_EQ(slot.items[2].kind, tallymat::program::kOperatorItem);
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

namespace {

std::string file_text(const char* relative) {
    std::ifstream in(std::string(TALLYMAT_SOURCE_DIR) + "/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

// The places that list the operators by hand follow the operator table: the
// fuzzer's dictionary, the README's list of functions and the manual page's.
TEST(OperatorTable, EverySpellingIsListedWhereTheFormulaLanguageIs) {
    const std::string dictionary = file_text("fuzz/formula.dict");
    const std::string readme = file_text("README.md");
    const std::string manual = file_text("include/tallymat.3");
    ASSERT_FALSE(dictionary.empty() || readme.empty() || manual.empty());
    // The lists, each from the character before its first name to its end.
    const std::string readme_list = readme.substr(readme.find("- Functions: `") + 12, 80);
    const std::string manual_list = manual.substr(manual.find("sin, cos") - 1, 80);
    auto lists = [](const std::string& list, const std::string& name) {
        auto letter = [](char c) { return c >= 'a' && c <= 'z'; };
        for (size_t at = list.find(name); at != std::string::npos; at = list.find(name, at + 1))
            if (!letter(list[at - 1]) && at + name.size() < list.size() && !letter(list[at + name.size()])) return true;
        return false;
    };
    for (const tallymat::program::OperatorInfo& row : tallymat::program::kOperators) {
        std::string name = row.name;
        std::string entry = "\"" + name + (row.is_function() ? "(" : "") + "\"";
        EXPECT_NE(dictionary.find(entry), std::string::npos) << entry << " is not in fuzz/formula.dict";
        if (!row.is_function()) continue;
        EXPECT_TRUE(lists(readme_list, name)) << name << " is not in the README's list of functions";
        EXPECT_TRUE(lists(manual_list, name)) << name << " is not in tallymat(3)'s list of functions";
    }
}
