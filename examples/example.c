#include <stdio.h>
#include "tallymat.h"

int main(void) {
    vinsert("x", 2.0);
    int h = exprpost("x*(x+1)");          /* translate once */
    printf("%g\n", calcpost(h));          /* 6 */
    vsetvalue(vlookup("x"), 3.0);
    printf("%g\n", calcpost(h));          /* 12, without a new translation */
    if (exprpost("x*(x+1") < 0)           /* a missing bracket */
        printf("error %d at offset %d\n", geterrnum(), geterroffs());
    exprdelete(h);
    return 0;
}
