/* What a VBA, VB6 or Delphi host does, in C: no header and no import
 * library.  The DLL is loaded by its full path (as a workbook loads it from
 * its own folder), each function is found by its plain name and called
 * through the types the README's declarations give it (Long: a 32-bit
 * integer, Double, String: a pointer to ANSI text, LongPtr: a pointer-sized
 * integer), stdcall on 32-bit Windows; a returned message is read as
 * Windows-1251 into UTF-16, as VBA's MultiByteToWideChar(1251, ...) reads it.
 *   declared_host.exe PATH\tallymat.dll */
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <wchar.h>

typedef int32_t(WINAPI* TextToLong)(const char*);
typedef int32_t(WINAPI* TextDoubleToLong)(const char*, double);
typedef int32_t(WINAPI* LongDoubleToLong)(int32_t, double);
typedef int32_t(WINAPI* LongToLong)(int32_t);
typedef double(WINAPI* LongToDouble)(int32_t);
typedef intptr_t(WINAPI* LongToLongPtr)(int32_t);
typedef int32_t(WINAPI* NoneToLong)(void);

static int failures = 0;
static void expect(int ok, const char* what) {
    if (!ok) {
        printf("declared host: %s\n", what);
        ++failures;
    }
}

static FARPROC find(HMODULE dll, const char* name) {
    FARPROC function = GetProcAddress(dll, name);
    if (!function) {
        printf("declared host: no export named %s\n", name);
        ExitProcess(1);
    }
    return function;
}

/* A C string the DLL returned, read through code page 1251. */
static int read_cp1251(intptr_t pointer, wchar_t* out, int size) {
    const char* text = (const char*)pointer;
    int length = lstrlenA(text);
    int chars = MultiByteToWideChar(1251, 0, text, length, out, size - 1);
    out[chars] = L'\0';
    return chars;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        printf("declared host: LoadLibrary(%s) failed: %lu\n", argv[1], GetLastError());
        return 1;
    }
    TextDoubleToLong vinsert = (TextDoubleToLong)(void*)find(dll, "vinsert");
    TextToLong vlookup = (TextToLong)(void*)find(dll, "vlookup");
    LongToDouble vgetvalue = (LongToDouble)(void*)find(dll, "vgetvalue");
    LongDoubleToLong vsetvalue = (LongDoubleToLong)(void*)find(dll, "vsetvalue");
    LongToLongPtr vgetname = (LongToLongPtr)(void*)find(dll, "vgetname");
    NoneToLong vclr = (NoneToLong)(void*)find(dll, "vclr");
    TextToLong exprpost = (TextToLong)(void*)find(dll, "exprpost");
    LongToDouble calcpost = (LongToDouble)(void*)find(dll, "calcpost");
    LongToLong exprdelete = (LongToLong)(void*)find(dll, "exprdelete");
    NoneToLong exprclr = (NoneToLong)(void*)find(dll, "exprclr");
    NoneToLong geterrnum = (NoneToLong)(void*)find(dll, "geterrnum");
    NoneToLong geterroffs = (NoneToLong)(void*)find(dll, "geterroffs");
    LongToLongPtr getstrerror = (LongToLongPtr)(void*)find(dll, "getstrerror");

    expect(vinsert("x", 2.0) == 0, "vinsert(\"x\", 2) is not 0");
    int32_t x = vlookup("x");
    expect(x == 0 && vgetvalue(x) == 2.0, "vlookup/vgetvalue do not give x = 2");
    int32_t square = exprpost("x*(x+1)");
    expect(square >= 0 && calcpost(square) == 6.0, "x*(x+1) is not 6");
    expect(vsetvalue(x, 3.0) == 0 && calcpost(square) == 12.0, "after vsetvalue x*(x+1) is not 12");
    wchar_t text[128];
    read_cp1251(vgetname(x), text, 128);
    expect(wcscmp(text, L"X") == 0, "vgetname does not read back X");

    int32_t quotient = exprpost("1/(x-3)");
    expect(calcpost(quotient) == 0.0 && geterrnum() == 11, "1/(x-3) does not fail with 11");
    read_cp1251(getstrerror(11), text, 128);
    expect(wcscmp(text, L"\u0414\u0435\u043b\u0435\u043d\u0438\u0435 \u043d\u0430 0") == 0,
           "message 11 through code page 1251 is not \"Деление на 0\"");
    expect(exprpost("x*(x+1") == -1 && geterrnum() == 1 && geterroffs() == 6, "x*(x+1 is not error 1 at 6");
    read_cp1251(getstrerror(1), text, 128);
    expect(wcscmp(text, L"\u041d\u0435\u0442 \u0441\u043a\u043e\u0431\u043a\u0438 )") == 0,
           "message 1 through code page 1251 is not \"Нет скобки )\"");

    expect(exprdelete(square) == 0 && exprclr() == 0 && vclr() == 0, "the clearing calls do not return 0");
    if (failures == 0) printf("declared host: every declaration works\n");
    return failures == 0 ? 0 : 1;
}
