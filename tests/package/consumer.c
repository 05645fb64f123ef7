/* A consumer of an installed tallymat. */
#include <stdio.h>
#include <tallymat.h>

int main(void) {
    vinsert("x", 4.0);
    int h = exprpost("sqrt(x) * 10");
    double value = calcpost(h);
    printf("%g\n", value);
    return value == 20.0 && geterrnum() == 0 ? 0 : 1;
}
