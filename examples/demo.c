/* A small host: keeps two variables, translates formulas once, evaluates them. */
#include <stdio.h>

#include "tallymat.h"

static void show(const char* formula) {
    int handle = exprpost(formula);
    if (handle < 0) {
        printf("%-24s translation error %d at offset %d\n", formula, geterrnum(), geterroffs());
        return;
    }
    double value = calcpost(handle);
    if (geterrnum() != 0) printf("%-24s evaluation error %d\n", formula, geterrnum());
    else printf("%-24s = %.17g\n", formula, value);
    exprdelete(handle);
}

int main(void) {
    vinsert("x", 2.0);
    vinsert("y", 9.0);
    static const char* const formulas[] = {
        "x*(x+1)-sqrt(y)", "2^3^2", "-2^2", "7 mod 3", "(-7) div 2", "2**10",
        "sin(x)^2+cos(x)^2", "ln(y)/ln(3)", "abs(-3)+sign(-x)+ez(0)",
        "1/0", "x*(x+1",
    };
    for (size_t i = 0; i < sizeof formulas / sizeof formulas[0]; ++i) show(formulas[i]);

    /* Evaluate again after a change of x, without translating anew. */
    int handle = exprpost("x*(x+1)");
    vsetvalue(vlookup("x"), 3.0);
    printf("%-24s = %.17g (x = 3)\n", "x*(x+1)", calcpost(handle));
    return 0;
}
