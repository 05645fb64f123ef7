// The benchmark's formulas, each beside the same computation compiled as C++.
#pragma once

#include <cmath>

namespace benchset {

struct Vars {
    double a, b, x, y;
};

using Native = double (*)(const Vars&);

struct Formula {
    const char* name;
    const char* text;
    Native native;
};

#define NATIVE [[gnu::noinline]] static double

NATIVE f_a_plus_1(const Vars& v) { return v.a + 1; }
NATIVE f_poly(const Vars& v) { return v.x * (v.x + 1) - std::sqrt(v.y); }
NATIVE f_ratio(const Vars& v) { return (v.y + v.x / v.y) * (v.x - v.y / v.x); }
NATIVE f_trig(const Vars& v) { return std::pow(std::sin(v.x), 2) + std::pow(std::cos(v.x), 2); }
NATIVE f_frac(const Vars& v) { return ((v.a + v.b) * (v.a - v.b)) / (v.a * v.a + v.b * v.b); }
NATIVE f_gauss(const Vars& v) { return std::exp(-(v.x * v.x / 2)); }
NATIVE f_pixel(const Vars& v) { return std::fabs(std::sin(std::sqrt(std::pow(v.a, 2) + std::pow(v.b, 2))) * 255); }
NATIVE f_quad(const Vars& v) {
    return std::pow(v.x, 2) + 2 * v.x * v.y + std::pow(v.y, 2) - 3 * v.x + 4 * v.y - 10;
}
NATIVE f_cube(const Vars& v) { return (v.a + v.b) * (v.a + v.b) * (v.a + v.b) - (v.a - v.b) * (v.a - v.b); }
NATIVE f_norm(const Vars& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.a * v.a + v.b * v.b); }
// The literal 4.0625 as the library's digit-by-digit conversion reads it
// (one unit in the last place below); the other literals here read exactly.
constexpr double k4_0625_as_read = 0x1.03fffffffffffp+2;
NATIVE f_linear(const Vars& v) { return 1.5 * v.a - 2.25 * v.b + 3.125 * v.x - k4_0625_as_read * v.y + 0.5; }
NATIVE f_logs(const Vars& v) { return std::log(v.x + 2) + std::log10(v.y + 3); }
NATIVE f_long(const Vars& v) {
    double a = v.a, b = v.b, x = v.x, y = v.y;
    return a * x + b * y - (x - y) * (a + b) / (1 + x * x) + std::sin(a) * std::cos(b) -
           std::sqrt(x * x + y * y) * 0.5 + (a - b) * (a + b) * (x - y) + std::exp(-(a * a)) / (b * b + 1) +
           std::log(x * x + 1) * 2 - a / (y * y + 2) + b * x * y - a * b * 0.25 + (x + 1) * (y + 2) * (a + 3) -
           x / (a * a + 1) + y * 3 - b;
}

#undef NATIVE

// 41 binary operators and 5 functions in the last one.
inline const Formula kFormulas[] = {
    {"a+1", "a+1", f_a_plus_1},
    {"x*(x+1)-sqrt(y)", "x*(x+1)-sqrt(y)", f_poly},
    {"(y+x/y)*(x-y/x)", "(y+x/y)*(x-y/x)", f_ratio},
    {"sin(x)^2+cos(x)^2", "sin(x)^2+cos(x)^2", f_trig},
    {"((a+b)*(a-b))/(a*a+b*b)", "((a+b)*(a-b))/(a*a+b*b)", f_frac},
    {"exp(-x*x/2)", "exp(-x*x/2)", f_gauss},
    {"abs(sin(sqrt(a^2+b^2))*255)", "abs(sin(sqrt(a^2+b^2))*255)", f_pixel},
    {"x^2+2*x*y+y^2-3*x+4*y-10", "x^2+2*x*y+y^2-3*x+4*y-10", f_quad},
    {"(a+b)*(a+b)*(a+b)-(a-b)*(a-b)", "(a+b)*(a+b)*(a+b)-(a-b)*(a-b)", f_cube},
    {"sqrt(x*x+y*y+a*a+b*b)", "sqrt(x*x+y*y+a*a+b*b)", f_norm},
    {"1.5*a-2.25*b+3.125*x-4.0625*y+0.5", "1.5*a-2.25*b+3.125*x-4.0625*y+0.5", f_linear},
    {"ln(x+2)+lg(y+3)", "ln(x+2)+lg(y+3)", f_logs},
    {"long (41 operators, 5 functions)",
     "a*x+b*y-(x-y)*(a+b)/(1+x*x)+sin(a)*cos(b)-sqrt(x*x+y*y)*0.5+(a-b)*(a+b)*(x-y)+exp(-a*a)/(b*b+1)"
     "+ln(x*x+1)*2-a/(y*y+2)+b*x*y-a*b*0.25+(x+1)*(y+2)*(a+3)-x/(a*a+1)+y*3-b",
     f_long},
};

}  // namespace benchset
