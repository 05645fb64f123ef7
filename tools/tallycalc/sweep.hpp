// One variable swept over a range, each formula translated once and
// evaluated at every point: --table and --plot.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "calculator.hpp"

namespace tallycalc {

// "x=0:1:0.1" (table: from, to, step) or "x=-6.3:6.3" (plot: from, to).
struct Range {
    std::string variable;
    double from = 0, to = 0, step = 0;  // step 0: not given
    int decimals = 0;                   // fraction digits of FROM and STEP as written
};

// Axes are scaled between ±1e300 (so that round ticks never overflow) and
// over spans of at least 1e-12 of their magnitude and 1e-290 (so that the
// ticks stay distinct normal numbers).
inline constexpr double kLargestScalable = 1e300, kNarrowestRelativeSpan = 1e-12, kSmallestScalable = 1e-290;

// Why an axis from low to high cannot be scaled; empty when it can.
std::string unscalable_span(double low, double high);

// The range, or nothing with the reason in `why`.
std::optional<Range> parse_range(const std::string& text, bool step_required, std::string& why);

// A point of the range as the shortest decimal the written precision
// supports: 0.30000000000000004 of 0:1:0.1 reads 0.3.
// It prints in the values' notation (calc's digits).
std::string format_point(const Calculator& calc, const Range& range, double point);

// The points of a range with a step: from, from + step, ... up to to
// (a rounding error's worth past it still counts), computed as they are
// read: 10^8 of them take no memory.
class Points {
public:
    explicit Points(const Range& range);
    size_t size() const { return count_; }
    double operator[](size_t i) const { return range_.from + static_cast<double>(i) * range_.step; }
    double last() const { return (*this)[count_ - 1]; }

private:
    const Range& range_;
    size_t count_;
};

// Every formula over the range as an aligned table, or CSV; a cell that
// fails shows its code (in CSV it is empty, the reason on standard error).
// False when a formula did not translate or a point failed.
bool print_table(Calculator& calc, const Range& range, const std::vector<std::string>& formulas, bool csv,
                 std::ostream& out);

// The characters a row of the aligned table takes.
size_t table_width(const Range& range, const std::vector<std::string>& formulas, int digits);

// The most significant digits, at most `digits` (and at most the default),
// with which the aligned table fits `columns` characters; `digits` itself
// when even kFewestFittingDigits do not fit.
inline constexpr int kFewestFittingDigits = 6;
int digits_to_fit(const Range& range, const std::vector<std::string>& formulas, int digits, size_t columns);

struct PlotSize {
    int width = 80, height = 24;  // characters, labels included
};
inline constexpr int kPlotSizeMin = 8, kPlotSizeMax = 10000;

// A value axis fixed by the user (--range LO:HI); points beyond it are cut off.
struct ValueAxis {
    double low, high;
};

// "LO:HI", or nothing with the reason in `why`.
std::optional<ValueAxis> parse_value_axis(const std::string& text, std::string& why);

// The formulas' curves in Unicode braille cells (2 x 4 dots per
// character; '*', 'o', '+' or the curve's letter per character where the
// terminal's charset is not UTF-8), with the ranges labelled; points that
// fail are left out, and so are formulas that do not translate.
bool print_plot(Calculator& calc, const Range& range, const std::vector<std::string>& formulas, PlotSize size,
                std::optional<ValueAxis> axis, bool colour, std::ostream& out);

}  // namespace tallycalc
