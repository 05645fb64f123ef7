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

TEST_F(Api, InsertBeforeShiftsLaterHandles) {
    vinsert("b", 2.0);
    EXPECT_EQ(vlookup("b"), 0);
    vinsert("a", 1.0);
    EXPECT_EQ(vlookup("A"), 0);
    EXPECT_EQ(vlookup("b"), 1);
    EXPECT_EQ(vgetvalue(1), 2.0);
}

TEST_F(Api, NamesAreCaseInsensitiveAndStoredUpperCase) {
    EXPECT_EQ(vinsert("x", 1.0), 0);
    EXPECT_EQ(vinsert("X", 5.0), 9);
    EXPECT_EQ(geterrnum(), 9);
    EXPECT_EQ(vgetvalue(vlookup("x")), 1.0);
    EXPECT_EQ(vinsert("abc_1", 0.0), 0);
    EXPECT_STREQ(vgetname(vlookup("ABC_1")), "ABC_1");
    // Only a-z are upper-cased; other bytes stay as they are.
    EXPECT_EQ(vinsert("\xe9t\xe9", 0.0), 0);
    EXPECT_STREQ(vgetname(vlookup("\xe9T\xe9")), "\xe9T\xe9");
    EXPECT_EQ(vlookup("\xc9T\xc9"), -1);
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

TEST_F(Api, LastErrorAfterEachVariableOperation) {
    struct Step {
        const char* what;
        int (*call)();
        int expected_result;
        int expected_code;
    };
    const Step steps[] = {
        {"insert a", [] { return vinsert("a", 1.0); }, 0, 0},
        {"insert A again", [] { return vinsert("A", 1.0); }, 9, 9},
        {"lookup a", [] { return vlookup("a"); }, 0, 0},
        {"get invalid", [] { return static_cast<int>(vgetvalue(5)); }, 0, 19},
        {"get valid", [] { return static_cast<int>(vgetvalue(0)); }, 1, 0},
        {"set invalid", [] { return vsetvalue(-1, 3.0); }, 19, 19},
        {"set valid", [] { return vsetvalue(0, 3.0); }, 0, 0},
        {"name invalid", [] { return vgetname(1) == nullptr ? -1 : 1; }, -1, 19},
        {"name valid", [] { return vgetname(0) == nullptr ? -1 : 1; }, 1, 0},
        {"lookup missing", [] { return vlookup("zz"); }, -1, 0},
        {"insert after failure", [] { vgetvalue(-1); return vinsert("b", 0.0); }, 0, 0},
        {"clear", [] { vgetvalue(-1); return vclr(); }, 0, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.call(), step.expected_result);
        EXPECT_EQ(geterrnum(), step.expected_code);
    }
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

TEST_F(Api, ClearEmptiesTheTable) {
    vinsert("b", 1.0);
    vinsert("c", 2.0);
    EXPECT_EQ(vclr(), 0);
    EXPECT_EQ(vlookup("b"), -1);
    EXPECT_EQ(vlookup("c"), -1);
    EXPECT_EQ(vgetvalue(0), 0.0);
    EXPECT_EQ(geterrnum(), 19);
    EXPECT_EQ(vinsert("z", 3.0), 0);
    EXPECT_EQ(vlookup("z"), 0);
}

TEST_F(Api, NameStaysValidWhileOtherVariablesArrive) {
    vinsert("m", 0.0);
    const char* name = vgetname(0);
    for (const char* other : {"a", "b", "z", "c"}) vinsert(other, 0.0);
    EXPECT_STREQ(name, "M");
    EXPECT_EQ(vgetname(vlookup("m")), name);
}

TEST_F(Api, NullNamesAreTheEmptyName) {
    EXPECT_EQ(vlookup(nullptr), -1);
    EXPECT_EQ(geterrnum(), 0);
    EXPECT_EQ(vinsert(nullptr, 4.0), 0);
    EXPECT_EQ(vlookup(""), 0);
    EXPECT_EQ(vlookup(nullptr), 0);
    EXPECT_EQ(vinsert("", 1.0), 9);
    EXPECT_EQ(vgetvalue(0), 4.0);
}
