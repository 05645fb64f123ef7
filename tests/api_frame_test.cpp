// Error registers, message table and the three queries.
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <cstring>
#include <string>
#include <vector>

#include "support/api_fixture.hpp"

namespace {

// Converted by the system (iconv; Windows' own code page 1251),
// independently of the library's own bytes.
#ifdef _WIN32
std::string to_cp1251(const std::string& utf8) {
    if (utf8.empty()) return "";
    std::wstring wide(utf8.size(), L'\0');
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                    wide.data(), static_cast<int>(wide.size()));
    if (units <= 0) return "<conversion failed>";
    std::string out(static_cast<size_t>(units), '\0');
    int bytes = WideCharToMultiByte(1251, 0, wide.data(), units, out.data(), units, nullptr, nullptr);
    if (bytes != units) return "<conversion failed>";
    return out;
}
#else
std::string to_cp1251(const std::string& utf8) {
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
    std::string in = utf8;
    std::string out(in.size() * 2 + 1, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t src_left = in.size(), dst_left = out.size();
    size_t status = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (status == static_cast<size_t>(-1)) return "<conversion failed>";
    out.resize(out.size() - dst_left);
    return out;
}
#endif

const std::vector<std::string> kUtf8Messages = {
    "",
    "Нет скобки )",
    "Нет скобки ( после имени функции",
    "Лишняя скобка )",
    "Неопределенный символ",
    "Переполнен буфер выражения",
    "Неопределенная операция",
    "Нет памяти",
    "Переполнение таблицы переменных",
    "Дубликат",
    "Недопустимое место конца строки",
    "Деление на 0",
    "Недопустимое определенное значение аргумента",
    "Аргумент вне области определения",
    "Переполнение при вычислениях",
    "Потеря значимости",
    "Потеря точности",
    "Не создана таблица",
    "Слишком много выражений",
    "Недопустимый дескриптор переменной",
    "Недопустимый дескриптор выражения",
    "Пустая строка",
};

}  // namespace

// Runs in a fresh process (one process per test), before any call.
TEST(AfterLoad, RegistersAreZeroAndTheMessageEmpty) {
    EXPECT_EQ(geterrnum(), 0);
    EXPECT_EQ(geterroffs(), 0);
    ASSERT_NE(getstrerror(0), nullptr);
    EXPECT_STREQ(getstrerror(0), "");
}

TEST(AfterLoad, FirstTranslationGetsHandleZero) {
    EXPECT_EQ(exprpost("1+2"), 0);
    EXPECT_EQ(exprpost("1+3"), 1);
}

TEST_F(Api, EveryMessageMatchesItsWindows1251Bytes) {
    ASSERT_EQ(kUtf8Messages.size(), 22u);
    if (to_cp1251("") == "<no iconv>")
        GTEST_SKIP() << "this C library has no CP1251 converter (a cross build without the target's gconv modules)";
    vlookup("reset");  // last error 0, so getstrerror(0) is the message of code 0
    for (int code = 0; code < 22; ++code) {
        SCOPED_TRACE(code);
        const char* message = getstrerror(code);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(std::string(message), to_cp1251(kUtf8Messages[code]));
    }
}

TEST_F(Api, CodesOutsideTheTableGiveTheEmptyText) {
    const int codes[] = {22, -1, 100, INT32_MIN, INT32_MAX};
    for (int code : codes) {
        SCOPED_TRACE(code);
        ASSERT_NE(getstrerror(code), nullptr);
        EXPECT_STREQ(getstrerror(code), "");
    }
}

TEST_F(Api, CodeZeroMeansTheLastErrorAndQueriesLeaveItAlone) {
    vinsert("x", 1.0);
    EXPECT_EQ(vinsert("X", 2.0), 9);
    EXPECT_EQ(std::string(getstrerror(0)), std::string(getstrerror(9)));
    EXPECT_EQ(geterrnum(), 9);
    geterroffs();
    getstrerror(3);
    EXPECT_EQ(geterrnum(), 9);
}

TEST_F(Api, SuccessfulLookupAfterAFailureResetsTheLastError) {
    vgetvalue(-1);
    ASSERT_EQ(geterrnum(), 19);
    EXPECT_EQ(vlookup("nothing"), -1);
    EXPECT_EQ(geterrnum(), 0);
}

TEST_F(Api, TranslationOffsetSurvivesOtherCalls) {
    EXPECT_EQ(exprpost("1+2)"), -1);
    EXPECT_EQ(geterroffs(), 3);
    vinsert("a", 1.0);
    calcpost(-1);
    EXPECT_EQ(geterroffs(), 3);
}
