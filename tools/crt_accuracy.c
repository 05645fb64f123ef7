/* Prints the bits of every C-runtime function the library still calls (the
 * trigonometric ones: exp, ln, lg and powers are its own), over
 * special values and 10^5 random arguments per range, one line each:
 * "name argument-bits [second-argument-bits] result-bits".  Built for Linux
 * and for Windows, the two outputs are compared by tools/crt_accuracy.sh.
 * The lines named lib_sin and lib_cos are the library's own sin(x) and
 * cos(x), through its interface: on Windows it reduces the argument itself. */
#include <math.h>
#include "tallymat.h"
#include <stdio.h>
#include <string.h>
#include <stdint.h>
static uint64_t state = 20261209;
static double uniform(double lo, double hi) { state = state * 6364136223846793005ull + 1442695040888963407ull; return lo + (hi - lo) * ((state >> 11) * 0x1p-53); }
static uint64_t b(double x) { uint64_t u; memcpy(&u, &x, 8); return u; }
typedef double (*f1)(double);
static void run1(const char* name, f1 f, double lo, double hi) {
  static const double special[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1e-300, 1e300, 3.14159, 1e10, 1e15, 9e15, 100.0, 700.0, -700.0, 1e-10, 0.999999, 1.000001, 709.0, -708.0};
  for (unsigned i = 0; i < sizeof special / sizeof *special; i++) printf("%s %016llx %016llx\n", name, (unsigned long long)b(special[i]), (unsigned long long)b(f(special[i])));
  for (int i = 0; i < 100000; i++) { double x = uniform(lo, hi); printf("%s %016llx %016llx\n", name, (unsigned long long)b(x), (unsigned long long)b(f(x))); }
}
static int x_handle, sin_handle, cos_handle;
static double library_sin(double x) { vsetvalue(x_handle, x); return calcpost(sin_handle); }
static double library_cos(double x) { vsetvalue(x_handle, x); return calcpost(cos_handle); }
int main(void) {
  vinsert("x", 0.0);
  x_handle = vlookup("x"); sin_handle = exprpost("sin(x)"); cos_handle = exprpost("cos(x)");
  run1("lib_sin", library_sin, -1e6, 1e6); run1("lib_cos", library_cos, -1e6, 1e6);
  run1("lib_sin_small", library_sin, -10, 10); run1("lib_cos_small", library_cos, -10, 10);
  run1("lib_sin_huge", library_sin, 1e9, 9e15); run1("lib_cos_huge", library_cos, 1e9, 9e15);
  run1("sin", sin, -1e6, 1e6); run1("cos", cos, -1e6, 1e6); run1("tan", tan, -1e6, 1e6);
  run1("sin_small", sin, -10, 10); run1("cos_small", cos, -10, 10); run1("tan_small", tan, -1.5, 1.5);
  run1("sin_huge", sin, 1e9, 9e15); run1("cos_huge", cos, 1e9, 9e15);
  run1("asin", asin, -1, 1); run1("acos", acos, -1, 1); run1("atan", atan, -1e3, 1e3);
  return 0;
}
