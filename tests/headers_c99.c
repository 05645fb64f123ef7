/* tallymat.h in strict C99 with -pedantic; the version macros agree. */
#include <stdio.h>
#include <string.h>

#include "tallymat.h"

#define STR_(x) #x
#define STR(x) STR_(x)

int main(void) {
    const char* composed = STR(TALLYMAT_VERSION_MAJOR) "." STR(TALLYMAT_VERSION_MINOR) "." STR(TALLYMAT_VERSION_PATCH);
    int h;
    if (strcmp(composed, TALLYMAT_VERSION_STRING) != 0) {
        fprintf(stderr, "version %s against %s\n", composed, TALLYMAT_VERSION_STRING);
        return 1;
    }
    h = exprpost("6*7");
    return h >= 0 && calcpost(h) == 42.0 ? 0 : 1;
}
