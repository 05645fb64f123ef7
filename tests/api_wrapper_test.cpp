// The C++ wrapper: ownership of slots, moves, variables, UTF-8 messages.
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/api_fixture.hpp"
#include "tallymat.hpp"

// Success is asked by name: a conversion to bool would read as success on
// one type and as failure on another.
static_assert(!std::is_constructible_v<bool, tallymat::Error> && !std::is_constructible_v<bool, tallymat::Result> &&
              !std::is_constructible_v<bool, tallymat::Formula>);

TEST_F(Api, FormulaReleasesItsSlot) {
    {
        tallymat::Formula first("1+1");
        tallymat::Formula second("2+2");
        EXPECT_EQ(first.handle(), 0);
        EXPECT_EQ(second.handle(), 1);
    }
    tallymat::Formula again("3+3");
    EXPECT_EQ(again.handle(), 0);  // both slots came back
    EXPECT_EQ(again.evaluate().value, 6.0);
}

TEST_F(Api, FormulaMovesKeepOneOwner) {
    tallymat::Formula a("7");
    int handle = a.handle();
    tallymat::Formula b(std::move(a));
    EXPECT_FALSE(a.ok());
    EXPECT_EQ(b.handle(), handle);
    EXPECT_EQ(b.evaluate().value, 7.0);

    tallymat::Formula c("8");
    c = std::move(b);  // c's own slot is released, b's handed over
    EXPECT_EQ(c.handle(), handle);
    EXPECT_EQ(c.evaluate().value, 7.0);
    std::vector<tallymat::Formula> many;
    for (int i = 0; i < 10; ++i) many.emplace_back(std::to_string(i));
    EXPECT_EQ(many[9].evaluate().value, 9.0);
    many.clear();
    tallymat::Formula next("1");
    EXPECT_EQ(next.handle(), 1);  // c still holds slot 0; the vector gave back 1 to 10
}

TEST_F(Api, FormulaReportsTranslationAndEvaluationErrors) {
    tallymat::Formula broken("x*(x+1");
    EXPECT_EQ(broken.error().message(), "Неопределенный символ");

    tallymat::Formula division("1/0");
    tallymat::Result r = division.evaluate();
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.error.code, TALLYMAT_E_DIVISION_BY_ZERO);
    EXPECT_EQ(r.error.message(), "Деление на 0");
    EXPECT_EQ(tallymat::Error{}.message(), "");
}

TEST_F(Api, EveryMessageConvertsToUtf8) {
    const char* const expected[] = {
        "", "Нет скобки )", "Нет скобки ( после имени функции", "Лишняя скобка )", "Неопределенный символ",
        "Переполнен буфер выражения", "Неопределенная операция", "Нет памяти", "Переполнение таблицы переменных",
        "Дубликат", "Недопустимое место конца строки", "Деление на 0", "Недопустимое определенное значение аргумента",
        "Аргумент вне области определения", "Переполнение при вычислениях", "Потеря значимости", "Потеря точности",
        "Не создана таблица", "Слишком много выражений", "Недопустимый дескриптор переменной",
        "Недопустимый дескриптор выражения", "Пустая строка"};
    for (int code = 0; code < 22; ++code) EXPECT_EQ((tallymat::Error{code, 0}.message()), expected[code]) << code;
    EXPECT_EQ(tallymat::Error::to_utf8("\xA8\xB8\x80"), "Ёё\xEF\xBF\xBD");
}

TEST_F(Api, VariablesByNameAndHandle) {
    EXPECT_TRUE(tallymat::variables::set("b", 2.0).ok());
    EXPECT_TRUE(tallymat::variables::set("a", 1.0).ok());
    EXPECT_TRUE(tallymat::variables::set("B", 5.0).ok());  // updates b
    EXPECT_EQ(tallymat::variables::handle("b"), 1);
    EXPECT_EQ(tallymat::variables::get("b").value, 5.0);
    EXPECT_EQ(tallymat::variables::get(0).value, 1.0);
    EXPECT_EQ(tallymat::variables::name(1), "B");
    EXPECT_EQ(tallymat::variables::name(7), "");
    EXPECT_EQ(tallymat::variables::get("zz").error.code, TALLYMAT_E_INVALID_VARIABLE);
    EXPECT_EQ(tallymat::variables::insert("a", 0.0).code, TALLYMAT_E_DUPLICATE);
    EXPECT_EQ(tallymat::variables::set(9, 0.0).code, TALLYMAT_E_INVALID_VARIABLE);
    // A string_view that is not NUL-terminated names only its own characters.
    const std::string_view ab = std::string_view("abz").substr(0, 2);
    EXPECT_TRUE(tallymat::variables::insert(ab, 3.0).ok());
    EXPECT_EQ(tallymat::variables::handle(std::string("AB")), 1);
    EXPECT_EQ(tallymat::variables::get(ab).value, 3.0);
    EXPECT_TRUE(tallymat::variables::set(ab, 4.0).ok());
    EXPECT_EQ(tallymat::variables::name(2), "B");

    tallymat::Formula sum("a+b");
    EXPECT_EQ(sum.evaluate().value, 6.0);
    tallymat::variables::clear();
    EXPECT_EQ(sum.evaluate().error.code, TALLYMAT_E_INVALID_EXPRESSION);
}

// After a raw exprclr a newer Formula may get the older one's slot: the
// older object must neither evaluate nor release it.
TEST_F(Api, FormulaNeverReleasesASlotItNoLongerOwns) {
    auto older = std::make_unique<tallymat::Formula>("1+1");
    exprclr();
    tallymat::Formula newer("2+2");
    ASSERT_EQ(newer.handle(), older->handle());
    EXPECT_EQ(older->evaluate().error.code, TALLYMAT_E_INVALID_EXPRESSION);
    older.reset();
    EXPECT_EQ(newer.evaluate().value, 4.0);
    EXPECT_EQ(newer.evaluate().error.code, TALLYMAT_OK);
}

// Every way a Formula can hold no translated formula, and what it says.
TEST_F(Api, FormulaStatesSayWhatTheyAre) {
    using tallymat::Formula;
    struct Row {
        const char* what;
        Formula (*make)();
        bool ok, empty;
        int code, offset;  // error(), and the code evaluating it gives
    };
    const Row rows[] = {
        {"translated", [] { return Formula("1+1"); }, true, false, TALLYMAT_OK, 0},
        {"default", [] { return Formula(); }, false, true, TALLYMAT_E_INVALID_EXPRESSION, 0},
        {"moved from",
         [] {
             Formula from("2");
             Formula to(std::move(from));
             return from;
         },
         false, true, TALLYMAT_E_INVALID_EXPRESSION, 0},
        {"assigned from",
         [] {
             Formula from("2"), to("3");
             to = std::move(from);
             return from;
         },
         false, true, TALLYMAT_E_INVALID_EXPRESSION, 0},
        {"failed", [] { return Formula("(1+2"); }, false, false, TALLYMAT_E_NO_CLOSING_BRACKET, 4},
        {"string_view with a NUL", [] { return Formula(std::string_view("1+1\0+x", 6)); }, false, false,
         TALLYMAT_E_UNDEFINED_SYMBOL, 3},
        {"string_view, not terminated", [] { return Formula(std::string_view("2*3+", 3)); }, true, false, 0, 0},
    };
    for (const Row& row : rows) {
        Formula f = row.make();
        EXPECT_EQ(f.ok(), row.ok) << row.what;
        EXPECT_EQ(f.failed(), !row.ok) << row.what;
        EXPECT_EQ(f.empty(), row.empty) << row.what;
        EXPECT_EQ(f.error().code, row.code) << row.what;
        EXPECT_EQ(f.error().offset, row.offset) << row.what;
        tallymat::Result r = f.evaluate();
        EXPECT_EQ(r.error.code, row.code) << row.what;
        EXPECT_EQ(r.error.offset, row.offset) << row.what;
    }
}
