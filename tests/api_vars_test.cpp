// The variable table through the C interface.
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "support/api_fixture.hpp"

namespace {

std::string numbered(const char* prefix, int n) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%d", prefix, n);
    return buffer;
}

// What a call returned, as text: a handle or code, a value, or a name.
std::string text(int result) { return std::to_string(result); }
std::string text(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}
std::string text(const char* name) { return name ? "\"" + std::string(name) + "\"" : "null"; }

// One call of a sequence, what it returns and the last error it leaves.
struct Step {
    std::string (*call)();
    const char* result;
    int code;
};

struct Sequence {
    const char* what;
    std::vector<Step> steps;
};

}  // namespace

TEST_F(Api, HandlesArePositionsInNameOrder) {
    struct Row {
        std::vector<const char*> inserted;
        std::vector<const char*> expected_order;  // by handle
    };
    const Row rows[] = {
        {{"b", "a"}, {"A", "B"}},
        {{"A_", "AB", "A1"}, {"A1", "AB", "A_"}},  // digits < letters < underscore
        {{"a1", "A_", "ab"}, {"A1", "AB", "A_"}},
        {{"zz", "z", "Z0"}, {"Z", "Z0", "ZZ"}},   // a prefix sorts first
        {{"m", "c", "x", "a", "q"}, {"A", "C", "M", "Q", "X"}},
        {{"", "0"}, {"", "0"}},                    // names are not validated
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.inserted.front());
        vclr();
        for (const char* name : row.inserted) ASSERT_EQ(vinsert(name, 0.0), 0);
        for (size_t i = 0; i < row.expected_order.size(); ++i) {
            EXPECT_EQ(vlookup(row.expected_order[i]), static_cast<int>(i));
            ASSERT_NE(vgetname(static_cast<int>(i)), nullptr);
            EXPECT_STREQ(vgetname(static_cast<int>(i)), row.expected_order[i]);
        }
    }
}

TEST_F(Api, HundredAndFirstInsertIsRefusedEvenForADuplicate) {
    for (int i = 0; i < 100; ++i) ASSERT_EQ(vinsert(numbered("v", 1000 + i).c_str(), i), 0);
    EXPECT_EQ(vinsert("another", 0.0), 8);
    EXPECT_EQ(geterrnum(), 8);
    EXPECT_EQ(vinsert("v1000", 0.0), 8);  // the full table is reported before the duplicate
    EXPECT_EQ(vlookup("another"), -1);
    EXPECT_EQ(vgetvalue(99), 99.0);
}

TEST_F(Api, LookupSearchesEveryPositionOfAFullTable) {
    // Inserted out of order so that the binary search, not only the
    // last-entry shortcut, finds them.
    for (int i = 0; i < 100; ++i) {
        int key = (i * 37) % 100;
        ASSERT_EQ(vinsert(numbered("n", 100 + key).c_str(), key), 0);
    }
    for (int key = 0; key < 100; ++key) {
        std::string name = numbered("N", 100 + key);
        EXPECT_EQ(vlookup(name.c_str()), key) << name;
    }
    const char* absent[] = {"N0", "N1005", "N99", "N2000", "M", "O", ""};
    for (const char* name : absent) EXPECT_EQ(vlookup(name), -1) << name;
}

TEST_F(Api, InvalidHandlesLeaveCode19) {
    vinsert("a", 1.0);
    vinsert("b", 2.0);
    const int handles[] = {-1, 2, 100, INT32_MIN, INT32_MAX};
    for (int handle : handles) {
        SCOPED_TRACE(handle);
        EXPECT_SAME_BITS(0.0, vgetvalue(handle));
        EXPECT_EQ(geterrnum(), 19);
        vlookup("a");
        EXPECT_EQ(vsetvalue(handle, 7.0), 19);
        EXPECT_EQ(geterrnum(), 19);
        vlookup("a");
        EXPECT_EQ(vgetname(handle), nullptr);
        EXPECT_EQ(geterrnum(), 19);
    }
    EXPECT_EQ(vgetvalue(0), 1.0);
    EXPECT_EQ(vgetvalue(1), 2.0);
}

TEST_F(Api, SetValueStoresEveryDoubleExactly) {
    vinsert("v", 0.0);
    const double values[] = {-0.0, 1e-310, -1e308, 0.1, std::numeric_limits<double>::infinity(),
                             std::bit_cast<double>(uint64_t{0x7ff8000000000123})};
    for (double value : values) {
        EXPECT_EQ(vsetvalue(0, value), 0);
        EXPECT_SAME_BITS(value, vgetvalue(0));
    }
}

TEST_F(Api, NameStaysValidWhileOtherVariablesArrive) {
    vinsert("m", 0.0);
    const char* name = vgetname(0);
    for (const char* other : {"a", "b", "z", "c"}) vinsert(other, 0.0);
    EXPECT_STREQ(name, "M");
    EXPECT_EQ(vgetname(vlookup("m")), name);
}

// Sequences of calls from an empty table, each step checked with the last
// error it leaves.
TEST_F(Api, VariableSequences) {
    const Sequence sequences[] = {
        {"an insert before shifts later handles",
         {{[] { return text(vinsert("b", 2.0)); }, "0", 0},
          {[] { return text(vlookup("b")); }, "0", 0},
          {[] { return text(vinsert("a", 1.0)); }, "0", 0},
          {[] { return text(vlookup("A")); }, "0", 0},
          {[] { return text(vlookup("b")); }, "1", 0},
          {[] { return text(vgetvalue(1)); }, "2", 0}}},
        {"names are case-insensitive, stored upper case (a-z only)",
         {{[] { return text(vinsert("x", 1.0)); }, "0", 0},
          {[] { return text(vinsert("X", 5.0)); }, "9", 9},
          {[] { return text(vgetvalue(vlookup("x"))); }, "1", 0},
          {[] { return text(vinsert("abc_1", 0.0)); }, "0", 0},
          {[] { return text(vgetname(vlookup("ABC_1"))); }, "\"ABC_1\"", 0},
          {[] { return text(vinsert("\xe9t\xe9", 0.0)); }, "0", 0},
          {[] { return text(vgetname(vlookup("\xe9T\xe9"))); }, "\"\xe9T\xe9\"", 0},
          {[] { return text(vlookup("\xc9T\xc9")); }, "-1", 0}}},
        {"every operation sets the last error",
         {{[] { return text(vinsert("a", 1.0)); }, "0", 0},
          {[] { return text(vinsert("A", 1.0)); }, "9", 9},
          {[] { return text(vlookup("a")); }, "0", 0},
          {[] { return text(vgetvalue(5)); }, "0", 19},
          {[] { return text(vgetvalue(0)); }, "1", 0},
          {[] { return text(vsetvalue(-1, 3.0)); }, "19", 19},
          {[] { return text(vsetvalue(0, 3.0)); }, "0", 0},
          {[] { return text(vgetname(1)); }, "null", 19},
          {[] { return text(vgetname(0)); }, "\"A\"", 0},
          {[] { return text(vlookup("zz")); }, "-1", 0},
          {[] { return text(vgetvalue(-1)); }, "0", 19},
          {[] { return text(vinsert("b", 0.0)); }, "0", 0},
          {[] { return text(vgetvalue(-1)); }, "0", 19},
          {[] { return text(vclr()); }, "0", 0}}},
        {"clear empties the table",
         {{[] { return text(vinsert("b", 1.0)); }, "0", 0},
          {[] { return text(vinsert("c", 2.0)); }, "0", 0},
          {[] { return text(vclr()); }, "0", 0},
          {[] { return text(vlookup("b")); }, "-1", 0},
          {[] { return text(vlookup("c")); }, "-1", 0},
          {[] { return text(vgetvalue(0)); }, "0", 19},
          {[] { return text(vinsert("z", 3.0)); }, "0", 0},
          {[] { return text(vlookup("z")); }, "0", 0}}},
        {"a null name is the empty name",
         {{[] { return text(vlookup(nullptr)); }, "-1", 0},
          {[] { return text(vinsert(nullptr, 4.0)); }, "0", 0},
          {[] { return text(vlookup("")); }, "0", 0},
          {[] { return text(vlookup(nullptr)); }, "0", 0},
          {[] { return text(vinsert("", 1.0)); }, "9", 9},
          {[] { return text(vgetvalue(0)); }, "4", 0}}},
    };
    for (const Sequence& sequence : sequences) {
        vclr();
        for (size_t i = 0; i < sequence.steps.size(); ++i) {
            SCOPED_TRACE(std::string(sequence.what) + ", step " + std::to_string(i + 1));
            EXPECT_EQ(sequence.steps[i].call(), sequence.steps[i].result);
            EXPECT_EQ(geterrnum(), sequence.steps[i].code);
        }
    }
}
