#include "sweep.hpp"

#include <langinfo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <iostream>

#include "tallymat.hpp"
#include "translation.hpp"

namespace tallycalc {

namespace {

constexpr size_t kMaxPoints = 100'000'000;

// A plain number as written, for the points' decimals.
bool is_plain_number(const std::string& text) {
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

// A bound or step: a number, or a formula over the variables there are
// (-pi, 2*pi, pi/50), evaluated once.
bool parse_number(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    if (*end == '\0') return std::isfinite(out);
    tallymat::Formula formula(text);
    tallymat::Result result = formula.evaluate();
    out = result.value;
    return result.ok() && std::isfinite(out);
}

// The formulas, translated once; those that failed evaluate to their error.
struct Translated {
    std::vector<tallymat::Formula> formulas;
    bool all_ok = true;

    Translated(Calculator& calc, const std::vector<std::string>& texts) {
        for (const std::string& text : texts) {
            tallymat::Formula& formula = formulas.emplace_back(text);
            if (formula.failed()) {
                calc.report_translation_error(text, formula.error());
                all_ok = false;
            }
        }
    }
};

// The variable's handle, created when new; -1 when it cannot be.
int variable_handle(Calculator& calc, const std::string& name, double start) {
    if (!calc.store(name, start)) return -1;
    return tallymat::variables::handle(name.c_str());
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Digits after the decimal point as written, the exponent counted: "0.25" 2, "1e-3" 3, "5" 0;
// a formula's value shows all its digits.
int written_decimals(const std::string& number) {
    if (!is_plain_number(number)) return 17;
    size_t exponent_at = number.find_first_of("eE");
    size_t dot = number.find('.');
    int decimals = 0;
    if (dot != std::string::npos && dot < exponent_at)
        decimals = static_cast<int>((exponent_at == std::string::npos ? number.size() : exponent_at) - dot - 1);
    if (exponent_at != std::string::npos) decimals -= std::atoi(number.c_str() + exponent_at + 1);
    return std::clamp(decimals, 0, 17);
}

}  // namespace

std::string unscalable_span(double low, double high) {
    double magnitude = std::max(std::fabs(low), std::fabs(high));
    if (magnitude > kLargestScalable) return tr("reaches beyond a magnitude of 1e300, where an axis cannot be scaled");
    if (high - low < magnitude * kNarrowestRelativeSpan || high - low < kSmallestScalable)
        return tr("is too narrow to divide into ticks");
    return {};
}

std::optional<Range> parse_range(const std::string& text, bool step_required, std::string& why) {
    const char* shape = step_required ? "VAR=FROM:TO:STEP" : "VAR=FROM:TO";
    size_t equals = text.find('=');
    if (equals == std::string::npos) {
        why = fill(tr("\"{}\" is no range: a range is {}"), {text, shape});
        return std::nullopt;
    }
    Range range;
    range.variable = std::string(trim(std::string_view(text).substr(0, equals)));
    if (std::string reason = unassignable_reason(range.variable); !reason.empty()) {
        why = tr("the range's variable: ") + reason;
        return std::nullopt;
    }
    std::vector<std::string> parts;
    std::string rest = text.substr(equals + 1);
    for (size_t start = 0;;) {
        size_t colon = rest.find(':', start);
        parts.push_back(std::string(trim(std::string_view(rest).substr(start, colon - start))));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() != (step_required ? 3u : 2u)) {
        why = fill(tr("\"{}\": {} takes {}"), {text, step_required ? "--table" : "--plot", shape});
        return std::nullopt;
    }
    double* values[] = {&range.from, &range.to, &range.step};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!parse_number(parts[i], *values[i])) {
            why = fill(tr("\"{}\" in \"{}\" is neither a finite number nor a formula that gives one"),
                       {parts[i], text});
            if (parts[i].find(',') != std::string::npos) why += tr("; numbers take a point: 0.25");
            return std::nullopt;
        }
    }
    if (step_required) {
        if (range.step == 0.0) {
            why = fill(tr("the step of \"{}\" is 0"), {text});
            return std::nullopt;
        }
        double count = (range.to - range.from) / range.step;
        if (count < 0) {
            why = fill(tr("the step of \"{}\" leads away from TO"), {text});
            return std::nullopt;
        }
        if (count >= static_cast<double>(kMaxPoints)) {
            why = fill(tr("\"{}\" has more than {} points"), {text, std::to_string(kMaxPoints)});
            return std::nullopt;
        }
        range.decimals = std::max(written_decimals(parts[0]), written_decimals(parts[2]));
    } else if (!(range.to > range.from)) {
        why = fill(tr("in \"{}\" TO is not above FROM"), {text});
        return std::nullopt;
    } else if (std::string narrow = unscalable_span(range.from, range.to); !narrow.empty()) {
        why = fill(tr("the range \"{}\" {}"), {text, narrow});
        return std::nullopt;
    }
    return range;
}

std::optional<ValueAxis> parse_value_axis(const std::string& text, std::string& why) {
    size_t colon = text.find(':');
    ValueAxis axis{0, 0};
    if (colon == std::string::npos || !parse_number(std::string(trim(std::string_view(text).substr(0, colon))), axis.low) ||
        !parse_number(std::string(trim(std::string_view(text).substr(colon + 1))), axis.high)) {
        why = fill(tr("--range {}: the value axis is LO:HI, two finite numbers or formulas"), {text});
        return std::nullopt;
    }
    if (!(axis.high > axis.low)) {
        why = fill(tr("--range {}: HI is not above LO"), {text});
        return std::nullopt;
    }
    if (std::string narrow = unscalable_span(axis.low, axis.high); !narrow.empty()) {
        why = fill(tr("--range {} {}"), {text, narrow});
        return std::nullopt;
    }
    return axis;
}

std::string format_point(const Calculator& calc, const Range& range, double point) {
    if (range.decimals < 17 && std::fabs(point) < 1e15) {
        // The point as written: 0.30000000000000004 of 0:1:0.1 is 0.3.
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*f", range.decimals, point);
        point = std::strtod(buffer, nullptr);
    }
    return calc.format(point);  // the values' own notation
}

namespace {

// The widest a result can print with `digits` significant digits:
// "-1.23456789012345e-308"; "-0.000012345678901234567" for the round trip.
size_t value_width(int digits) { return digits >= kRoundTripDigits ? 24 : static_cast<size_t>(digits) + 7; }

// The widest point of the range: at most a value's width, and no wider than
// the end farthest from zero with every decimal written and a sign where
// points are negative.
size_t point_width(const Range& range, const Points& points, int digits) {
    double farthest = std::max(std::fabs(range.from), std::fabs(points.last()));
    if (range.decimals >= 17 || farthest >= 1e15) return value_width(digits);
    char buffer[64];
    int length = std::snprintf(buffer, sizeof buffer, "%.*f", range.decimals, farthest);
    bool negative = range.from < 0 || points.last() < 0;
    return std::min(static_cast<size_t>(length) + (negative ? 1 : 0), value_width(digits));
}

// The columns' widths of an aligned table: each the widest its header or
// a cell can be, so that rows stream without being measured.
std::vector<size_t> column_widths(const Range& range, const std::vector<std::string>& formulas, int digits) {
    const Points points(range);
    std::vector<size_t> widths{std::max(range.variable.size(), point_width(range, points, digits))};
    for (const std::string& formula : formulas) widths.push_back(std::max(formula.size(), value_width(digits)));
    return widths;
}

size_t total_width(const std::vector<size_t>& widths) {
    size_t total = 0;
    for (size_t width : widths) total += width;
    return total + 2 * (widths.size() - 1);  // the gaps
}

}  // namespace

size_t table_width(const Range& range, const std::vector<std::string>& formulas, int digits) {
    return total_width(column_widths(range, formulas, digits));
}

int digits_to_fit(const Range& range, const std::vector<std::string>& formulas, int digits, size_t columns) {
    for (int fewer = std::min(digits, kDefaultDigits); fewer >= kFewestFittingDigits; --fewer)
        if (table_width(range, formulas, fewer) <= columns) return fewer;
    return digits;
}

Points::Points(const Range& range) : range_(range) {
    // Counted, not accumulated: 0:1:0.1 has eleven points, the last exactly 1.
    count_ = static_cast<size_t>(std::floor((range.to - range.from) / range.step + 1e-9)) + 1;
}

bool print_table(Calculator& calc, const Range& range, const std::vector<std::string>& formulas, bool csv,
                 std::ostream& out) {
    int x = variable_handle(calc, range.variable, range.from);
    if (x < 0) return false;
    Translated translated(calc, formulas);
    const Points points(range);

    std::vector<std::string> header{range.variable};
    for (const std::string& formula : formulas) header.push_back(formula);
    const size_t columns = header.size();
    bool all_ok = translated.all_ok;
    auto cell = [&](const tallymat::Formula& formula) -> std::string {
        if (formula.failed()) return "-";
        tallymat::Result result = formula.evaluate();
        if (result.ok()) return calc.format(result.value);
        all_ok = false;
        return fill(tr("error {}"), {std::to_string(result.error.code)});
    };

    // Streamed: a million rows need no memory.  A failed cell is empty, as
    // tools read a missing value, with its reason on standard error.
    if (csv) {
        for (size_t c = 0; c < columns; ++c) out << (c ? "," : "") << csv_field(header[c]);
        out << "\n";
        for (size_t i = 0; i < points.size(); ++i) {
            double point = points[i];
            tallymat::variables::set(x, point);
            std::string x_text = format_point(calc, range, point);
            out << csv_field(x_text);
            for (size_t f = 0; f < translated.formulas.size(); ++f) {
                std::string value;
                if (translated.formulas[f].ok()) {
                    tallymat::Result result = translated.formulas[f].evaluate();
                    if (result.ok()) {
                        value = calc.format(result.value);
                    } else {
                        all_ok = false;
                        std::cerr << fill(tr("{} at {} = {}: error {}: "),
                                          {formulas[f], range.variable, x_text, std::to_string(result.error.code)})
                                  << calc.message(result.error.code) << "\n";
                    }
                }
                out << "," << csv_field(value);
            }
            out << "\n";
        }
        return all_ok;
    }

    // Streamed too: the widths follow from the formatting rules, not from the cells.
    const std::vector<size_t> widths = column_widths(range, formulas, calc.digits());
    auto print_cell = [&](size_t c, const std::string& text) {
        out << (c ? "  " : "") << std::string(widths[c] - std::min(widths[c], text.size()), ' ') << text;
    };
    for (size_t c = 0; c < columns; ++c) print_cell(c, header[c]);
    out << "\n";
    for (size_t i = 0; i < points.size(); ++i) {
        double point = points[i];
        tallymat::variables::set(x, point);
        print_cell(0, format_point(calc, range, point));
        for (size_t f = 0; f < translated.formulas.size(); ++f) print_cell(f + 1, cell(translated.formulas[f]));
        out << "\n";
    }
    return all_ok;
}

// ---- plotting ----

namespace {

// How a curve is drawn, so that curves differ without colour too: the
// first solid, the second dotted, the third dashed, the others solid with
// their letter every few cells.
enum class Stroke { kSolid, kDotted, kDashed, kLettered };
Stroke stroke_of(size_t curve) { return curve < 3 ? static_cast<Stroke>(curve) : Stroke::kLettered; }
char letter_of(size_t curve) { return static_cast<char>('a' + (curve - 3) % 26); }
// Without braille each character shows its curve's mark.
char ascii_mark(size_t curve) { return curve < 3 ? "*o+"[curve] : letter_of(curve); }

// The frame's characters: box drawing in UTF-8, ASCII otherwise.
struct Frame {
    const char *vertical, *left_tick, *corner, *horizontal, *bottom_tick;
};
constexpr Frame kBoxFrame{"\u2502", "\u2524", "\u2514", "\u2500", "\u252c"};
constexpr Frame kAsciiFrame{"|", "+", "+", "-", "+"};

bool names_utf8(const char* text) { return text && (strcasestr(text, "UTF-8") || strcasestr(text, "UTF8")); }

// UTF-8 when the locale's charset is; ASCII is the C locale, chosen
// (LANG=C) or fallen back to because the locale named is not installed
// (LANG=en_US.UTF-8 in a bare container), and then the name tells.
bool charset_is_utf8() {
    const char* codeset = nl_langinfo(CODESET);
    if (names_utf8(codeset)) return true;
    if (!codeset || std::strcmp(codeset, "ANSI_X3.4-1968") != 0) return false;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char* name = std::getenv(variable); name && *name) return names_utf8(name);
    return false;
}
constexpr int kLetterEvery = 12;  // dot columns

// Whether the stroke draws at this dot column, and whether it joins the
// dot to the previous one with a vertical run.
bool draws_at(Stroke stroke, int column) {
    switch (stroke) {
        case Stroke::kDotted: return column % 2 == 0;
        case Stroke::kDashed: return (column / 4) % 2 == 0;
        default: return true;
    }
}
bool joins(Stroke stroke) { return stroke != Stroke::kDotted; }

// A grid of braille cells, each 2 dots wide and 4 high, with the curve
// that set a cell's last dot for its colour; a cell may hold a letter
// instead of dots.
class BrailleCanvas {
public:
    BrailleCanvas(int columns, int rows)
        : columns_(columns), rows_(rows), dots_(static_cast<size_t>(columns * rows)), curve_(dots_.size(), -1),
          letter_(dots_.size(), '\0') {}

    int dot_width() const { return 2 * columns_; }
    int dot_height() const { return 4 * rows_; }

    void set(int x, int y, int curve) {
        if (x < 0 || y < 0 || x >= dot_width() || y >= dot_height()) return;
        static constexpr uint8_t kBits[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
        size_t cell = static_cast<size_t>((y / 4) * columns_ + x / 2);
        dots_[cell] |= kBits[y % 4][x % 2];
        curve_[cell] = curve;
    }

    void put_letter(int x, int y, char letter, int curve) {
        if (x < 0 || y < 0 || x >= dot_width() || y >= dot_height()) return;
        size_t cell = static_cast<size_t>((y / 4) * columns_ + x / 2);
        letter_[cell] = letter;
        curve_[cell] = curve;
    }

    // One row of cells as UTF-8 braille, or as ASCII marks; coloured by
    // curve when asked.
    std::string row(int r, bool colour, bool braille_cells) const {
        std::string text;
        int current = -1;
        for (int c = 0; c < columns_; ++c) {
            size_t cell = static_cast<size_t>(r * columns_ + c);
            if (colour && (dots_[cell] || letter_[cell]) && curve_[cell] != current) {
                current = curve_[cell];
                text += colour_code(current);
            }
            if (letter_[cell]) text += letter_[cell];
            else if (braille_cells) text += braille(dots_[cell]);
            else text += dots_[cell] ? ascii_mark(static_cast<size_t>(curve_[cell])) : ' ';
        }
        if (colour && current >= 0) text += "\x1b[0m";
        return text;
    }

    static std::string colour_code(int curve) { return "\x1b[3" + std::to_string(1 + curve % 6) + "m"; }

    static std::string braille(uint8_t bits) {
        unsigned code_point = 0x2800u + bits;  // U+2800..U+28FF: three bytes of UTF-8
        return {static_cast<char>(0xE0 | (code_point >> 12)), static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)),
                static_cast<char>(0x80 | (code_point & 0x3F))};
    }

private:
    int columns_, rows_;
    std::vector<uint8_t> dots_;
    std::vector<int> curve_;
    std::vector<char> letter_;
};

// The legend's sample of a stroke: three cells of a horizontal line.
std::string stroke_sample(size_t curve, bool braille_cells) {
    if (!braille_cells) return std::string(3, ascii_mark(curve));
    const std::string solid = BrailleCanvas::braille(0x12), left = BrailleCanvas::braille(0x02);
    switch (stroke_of(curve)) {
        case Stroke::kSolid: return solid + solid + solid;
        case Stroke::kDotted: return left + left + left;
        case Stroke::kDashed: return solid + solid + BrailleCanvas::braille(0);
        default: return solid + letter_of(curve) + solid;
    }
}

std::string label(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4g", value);
    std::string text = buffer;
    return text == "-0" ? "0" : text;
}

constexpr int kLabelWidth = 10;          // "-1.234e+05" and the axis
constexpr int kMaxStepRefinements = 16;  // each at least halves the step

// The power of ten of v's leading digit (v > 0, finite), read from its
// decimal form: exact, where a C runtime's log10 and pow would decide it.
double leading_power_of_ten(double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.16e", v);  // enough digits that none rounds up
    std::string power = std::string("1e") + (std::strchr(buffer, 'e') + 1);
    return std::strtod(power.c_str(), nullptr);
}

// A round step (1, 2 or 5 times a power of ten) that divides `span` into at
// least `wanted` parts.
double round_step(double span, int wanted) {
    double raw = span / wanted;
    double power = leading_power_of_ten(raw);
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= raw) return factor * power;
    return 10.0 * power;
}

// The next round step below `step`: 5 -> 2 -> 1 -> 0.5 ...
double smaller_round_step(double step) {
    double power = leading_power_of_ten(step);
    double mantissa = step / power;
    return mantissa >= 4.5 ? 2 * power : mantissa >= 1.5 ? power : 0.5 * power;
}

// Multiples of `step` within [low, high] (a rounding error's worth beyond counts).
std::vector<double> ticks_within(double low, double high, double step) {
    std::vector<double> ticks;
    for (double k = std::ceil(low / step - 1e-9); k * step <= high + step * 1e-9 && ticks.size() < 1000; k += 1.0)
        ticks.push_back(k * step);
    return ticks;
}

// One sample per dot column of every formula; NaN marks a point that
// failed.  The first failure is kept for the message when nothing can be drawn.
struct Samples {
    std::vector<std::vector<double>> ys;
    double low = INFINITY, high = -INFINITY;
    tallymat::Error first_failure;
    double first_failure_at = 0;
    size_t failed = 0, evaluated = 0;  // evaluations that gave no value or no finite one

    Samples(const Range& range, int x, const Translated& translated, int count) {
        ys.assign(translated.formulas.size(), std::vector<double>(static_cast<size_t>(count), NAN));
        for (int i = 0; i < count; ++i) {
            double point = range.from + (range.to - range.from) * i / (count - 1);
            tallymat::variables::set(x, point);
            for (size_t f = 0; f < translated.formulas.size(); ++f) {
                if (translated.formulas[f].failed()) continue;
                tallymat::Result result = translated.formulas[f].evaluate();
                ++evaluated;
                if (result.failed() || !std::isfinite(result.value)) {
                    ++failed;
                    if (first_failure.ok() && result.failed()) {
                        first_failure = result.error;
                        first_failure_at = point;
                    }
                    continue;
                }
                ys[f][static_cast<size_t>(i)] = result.value;
                low = std::min(low, result.value);
                high = std::max(high, result.value);
            }
        }
    }
};

// The value axis from the values' own span, widened to round ticks; false
// (with the reason told) when the values cannot be scaled.
bool fit_value_axis(double& low, double& high, double& step, int rows) {
    if (std::max(std::fabs(low), std::fabs(high)) > kLargestScalable) {
        std::cerr << "tallycalc: "
                  << fill(tr("cannot plot: the values reach {}, beyond the magnitude of 1e300 an axis can be "
                             "scaled to (--range fixes the axis)"),
                          {label(std::fabs(low) > std::fabs(high) ? low : high)})
                  << "\n";
        return false;
    }
    if (!unscalable_span(low, high).empty()) {
        // A constant, or values a few units in the last place apart: a flat
        // line in the middle of a tenth of its size either way.
        double middle = low / 2 + high / 2;
        double half = std::max(std::fabs(middle) / 10, 1.0);
        low = middle - half;
        high = middle + half;
    }
    // From tick to round tick, more than two labels however small the plot.
    // The span is scalable, so the steps stay normal numbers and the loop short.
    step = round_step(high - low, std::clamp(rows / 2, 2, 10));
    auto expanded_low = [&] { return std::floor(low / step + 1e-9) * step; };
    auto expanded_high = [&] { return std::ceil(high / step - 1e-9) * step; };
    for (int i = 0; i < kMaxStepRefinements && std::lround((expanded_high() - expanded_low()) / step) < 2; ++i)
        step = smaller_round_step(step);
    low = expanded_low();
    high = expanded_high();
    return true;
}

// The value axis mapped to dot rows: row 0 at `high`.
struct ValueScale {
    double low, high;
    int dot_height;

    // Clamped before the conversion: a point far off a fixed axis stays off it.
    int dot_row(double y) const {
        double row = std::clamp((high - y) / (high - low) * (dot_height - 1), -1.0, static_cast<double>(dot_height));
        return static_cast<int>(std::lround(row));
    }
};

// Why nothing can be drawn when no point gave a finite value.  (A formula
// that did not translate has been reported already.)
void report_nothing_to_plot(Calculator& calc, const Range& range, const Samples& sampled,
                            const Translated& translated) {
    if (sampled.first_failure.failed())
        std::cerr << "tallycalc: "
                  << fill(tr("nothing to plot: every point failed; the first, at {} = {}: error {}: "),
                          {range.variable, calc.format(sampled.first_failure_at),
                           std::to_string(sampled.first_failure.code)})
                  << calc.message(sampled.first_failure.code) << "\n";
    else if (translated.all_ok)
        std::cerr << "tallycalc: " << tr("nothing to plot: no value is finite") << "\n";
}

// Points left out of a plot that was drawn: how many, and the first's reason.
void report_gaps(Calculator& calc, const Range& range, const Samples& sampled) {
    if (sampled.failed == 0) return;
    std::cerr << "tallycalc: "
              << fill(tr("{} of {} points are left out of the plot: no finite value"),
                      {std::to_string(sampled.failed), std::to_string(sampled.evaluated)});
    if (sampled.first_failure.failed())
        std::cerr << fill(tr("; the first error, at {} = {}: error {}: "),
                          {range.variable, calc.format(sampled.first_failure_at),
                           std::to_string(sampled.first_failure.code)})
                  << calc.message(sampled.first_failure.code);
    std::cerr << "\n";
}

// Every formula's curve on the canvas, each in its stroke; lettered curves
// get their letters last, on top of every curve's dots.
void draw_curves(BrailleCanvas& canvas, const std::vector<std::vector<double>>& ys, const ValueScale& scale) {
    const int samples = canvas.dot_width();
    for (size_t f = 0; f < ys.size(); ++f) {
        Stroke stroke = stroke_of(f);
        int previous = -1;
        for (int i = 0; i < samples; ++i) {
            double y = ys[f][static_cast<size_t>(i)];
            if (std::isnan(y) || !draws_at(stroke, i)) {
                previous = -1;  // a gap, not a line to zero
                continue;
            }
            int r = scale.dot_row(y);
            int from = previous < 0 || !joins(stroke) ? r : std::min(previous, r);
            int to = previous < 0 || !joins(stroke) ? r : std::max(previous, r);
            for (int dot = from; dot <= to; ++dot) canvas.set(i, dot, static_cast<int>(f));
            previous = r;
        }
        if (stroke == Stroke::kLettered)
            for (int i = kLetterEvery / 2 + 2 * static_cast<int>(f); i < samples; i += kLetterEvery)
                if (!std::isnan(ys[f][static_cast<size_t>(i)]))
                    canvas.put_letter(i, scale.dot_row(ys[f][static_cast<size_t>(i)]), letter_of(f),
                                      static_cast<int>(f));
    }
}

// The canvas's rows, each behind its value label or the axis line.
void print_rows(const BrailleCanvas& canvas, const ValueScale& scale, double y_step, int rows, const Frame& frame,
                bool colour, bool braille_cells, std::ostream& out) {
    std::vector<std::string> left_labels(static_cast<size_t>(rows));
    for (double tick : ticks_within(scale.low, scale.high, y_step))
        left_labels[static_cast<size_t>(scale.dot_row(tick) / 4)] = label(tick);
    for (int r = 0; r < rows; ++r) {
        const std::string& left = left_labels[static_cast<size_t>(r)];
        out << std::string(static_cast<size_t>(std::max(kLabelWidth - static_cast<int>(left.size()), 0)), ' ') << left
            << (left.empty() ? frame.vertical : frame.left_tick) << canvas.row(r, colour, braille_cells) << "\n";
    }
}

// The variable's axis: a mark and a label at each round value, labels
// never overlapping.
void print_variable_axis(const Range& range, int columns, const Frame& frame, std::ostream& out) {
    double x_step = round_step(range.to - range.from, std::clamp(columns / 8, 2, 12));
    for (int i = 0; i < kMaxStepRefinements && ticks_within(range.from, range.to, x_step).size() < 3; ++i)
        x_step = smaller_round_step(x_step);
    std::string axis_marks(static_cast<size_t>(columns), '-'), labels(static_cast<size_t>(columns + kLabelWidth), ' ');
    int free_from = 0;
    for (double tick : ticks_within(range.from, range.to, x_step)) {
        int column = static_cast<int>(std::lround((tick - range.from) / (range.to - range.from) * (columns - 1)));
        axis_marks[static_cast<size_t>(column)] = '+';
        std::string text = label(tick);
        int start = std::max(column - static_cast<int>(text.size()) / 2, 0);
        if (start < free_from || start + static_cast<int>(text.size()) > columns + kLabelWidth) continue;
        labels.replace(static_cast<size_t>(start), text.size(), text);
        free_from = start + static_cast<int>(text.size()) + 1;
    }
    out << std::string(kLabelWidth, ' ') << frame.corner;
    for (char c : axis_marks) out << (c == '+' ? frame.bottom_tick : frame.horizontal);
    labels.erase(labels.find_last_not_of(' ') + 1);
    out << "\n" << std::string(kLabelWidth + 1, ' ') << labels << "\n";
}

// Each drawn formula beside a sample of its stroke, and the variable along the bottom.
void print_legend(const Range& range, const std::vector<std::string>& formulas, const Translated& translated,
                  bool colour, bool braille_cells, std::ostream& out) {
    out << std::string(kLabelWidth + 1, ' ');
    const char* separator = "";
    for (size_t f = 0; f < formulas.size(); ++f) {
        if (translated.formulas[f].failed()) continue;  // reported, not drawn
        out << separator << (colour ? BrailleCanvas::colour_code(static_cast<int>(f)) : "")
            << stroke_sample(f, braille_cells) << (colour ? "\x1b[0m" : "") << " " << formulas[f];
        separator = "  ";
    }
    out << "  (against " << range.variable << ")\n";
}

}  // namespace

bool print_plot(Calculator& calc, const Range& range, const std::vector<std::string>& formulas, PlotSize size,
                std::optional<ValueAxis> axis, bool colour, std::ostream& out) {
    const int columns = std::max(size.width - kLabelWidth - 1, 4);
    const int rows = std::max(size.height - 3, 2);  // the axis, the x labels and the legend below
    BrailleCanvas canvas(columns, rows);
    const bool braille_cells = charset_is_utf8();
    const Frame& frame = braille_cells ? kBoxFrame : kAsciiFrame;

    int x = variable_handle(calc, range.variable, range.from);
    if (x < 0) return false;
    Translated translated(calc, formulas);
    Samples sampled(range, x, translated, canvas.dot_width());
    double low = sampled.low, high = sampled.high, y_step = 0;
    if (low > high) {
        report_nothing_to_plot(calc, range, sampled, translated);
        return false;
    }
    if (axis) {
        low = axis->low;
        high = axis->high;
        y_step = round_step(high - low, std::clamp(rows / 2, 2, 10));
    } else if (!fit_value_axis(low, high, y_step, rows)) {
        return false;
    }
    const ValueScale scale{low, high, canvas.dot_height()};
    draw_curves(canvas, sampled.ys, scale);
    print_rows(canvas, scale, y_step, rows, frame, colour, braille_cells, out);
    print_variable_axis(range, columns, frame, out);
    print_legend(range, formulas, translated, colour, braille_cells, out);
    report_gaps(calc, range, sampled);
    return translated.all_ok && sampled.failed == 0;
}

}  // namespace tallycalc
