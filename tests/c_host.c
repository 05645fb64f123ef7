/* A host compiled as C: the header and the library work without C++. */
#include <stdio.h>
#include <string.h>

#include "tallymat.h"

static int failures = 0;

static void check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "c_host: failed: %s\n", what);
        ++failures;
    }
}

int main(void) {
    check(geterrnum() == TALLYMAT_OK, "last error 0 after load");
    check(vinsert("x", 2.0) == TALLYMAT_OK, "vinsert x");
    check(vinsert("X", 1.0) == TALLYMAT_E_DUPLICATE, "duplicate X");
    int handle = exprpost("x*(x+1)");
    check(handle == 0, "first handle is 0");
    check(calcpost(handle) == 6.0, "x*(x+1) at x=2");
    check(vsetvalue(vlookup("x"), 3.0) == TALLYMAT_OK, "vsetvalue");
    check(calcpost(handle) == 12.0, "x*(x+1) at x=3");
    check(strcmp(vgetname(0), "X") == 0, "stored name");
    check(exprpost("x*(x+1") == -1, "missing bracket refused");
    check(geterrnum() == TALLYMAT_E_NO_CLOSING_BRACKET && geterroffs() == 6, "code 1 at offset 6");
    check(getstrerror(0) != NULL && strlen(getstrerror(0)) == 12, "message of code 1");
    check(calcpost(99) == 0.0 && geterrnum() == TALLYMAT_E_INVALID_EXPRESSION, "free slot");
    check(exprdelete(handle) == TALLYMAT_OK && exprclr() == TALLYMAT_OK && vclr() == TALLYMAT_OK, "release");
    if (failures == 0) puts("c_host: all checks passed");
    return failures == 0 ? 0 : 1;
}
