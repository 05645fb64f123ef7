#include "sweep.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <iostream>

#include "tallymat.hpp"

namespace tallycalc {

namespace {

constexpr size_t kMaxPoints = 100'000'000;

bool parse_number(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(out);
}

// The formulas, translated once; those that failed evaluate to their error.
struct Translated {
    std::vector<tallymat::Formula> formulas;
    bool all_ok = true;

    Translated(Calculator& calc, const std::vector<std::string>& texts) {
        for (const std::string& text : texts) {
            tallymat::Formula& formula = formulas.emplace_back(text);
            if (!formula) {
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

}  // namespace

namespace {

// Digits after the decimal point as written, the exponent counted: "0.25" 2, "1e-3" 3, "5" 0.
int written_decimals(const std::string& number) {
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
    if (magnitude > kLargestScalable) return "reaches beyond ±1e300, where an axis cannot be scaled";
    if (high - low < magnitude * kNarrowestRelativeSpan || high - low < kSmallestScalable)
        return "is too narrow to divide into ticks";
    return {};
}

std::optional<Range> parse_range(const std::string& text, bool step_required, std::string& why) {
    const char* shape = step_required ? "VAR=FROM:TO:STEP" : "VAR=FROM:TO";
    size_t equals = text.find('=');
    if (equals == std::string::npos) {
        why = "\"" + text + "\" is no range: a range is " + shape;
        return std::nullopt;
    }
    Range range;
    range.variable = std::string(trim(std::string_view(text).substr(0, equals)));
    if (std::string reason = unassignable_reason(range.variable); !reason.empty()) {
        why = "the range's variable: " + reason;
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
        why = std::string("\"") + text + "\": " + (step_required ? "--table" : "--plot") + " takes " + shape;
        return std::nullopt;
    }
    double* values[] = {&range.from, &range.to, &range.step};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!parse_number(parts[i], *values[i])) {
            why = "\"" + parts[i] + "\" in \"" + text + "\" is not a finite number";
            return std::nullopt;
        }
    }
    if (step_required) {
        if (range.step == 0.0) {
            why = "the step of \"" + text + "\" is 0";
            return std::nullopt;
        }
        double count = (range.to - range.from) / range.step;
        if (count < 0) {
            why = "the step of \"" + text + "\" leads away from TO";
            return std::nullopt;
        }
        if (count >= static_cast<double>(kMaxPoints)) {
            why = "\"" + text + "\" has more than " + std::to_string(kMaxPoints) + " points";
            return std::nullopt;
        }
        range.decimals = std::max(written_decimals(parts[0]), written_decimals(parts[2]));
    } else if (!(range.to > range.from)) {
        why = "in \"" + text + "\" TO is not above FROM";
        return std::nullopt;
    } else if (std::string narrow = unscalable_span(range.from, range.to); !narrow.empty()) {
        why = "the range \"" + text + "\" " + narrow;
        return std::nullopt;
    }
    return range;
}

std::string format_point(const Range& range, double point) {
    if (range.decimals >= 17 || std::fabs(point) >= 1e15) return format_value(point);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", range.decimals, point);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

std::vector<double> points_of(const Range& range) {
    // Counted, not accumulated: 0:1:0.1 has eleven points, the last exactly 1.
    auto count = static_cast<size_t>(std::floor((range.to - range.from) / range.step + 1e-9)) + 1;
    std::vector<double> points(count);
    for (size_t i = 0; i < count; ++i) points[i] = range.from + static_cast<double>(i) * range.step;
    return points;
}

bool print_table(Calculator& calc, const Range& range, const std::vector<std::string>& formulas, bool csv,
                 std::ostream& out) {
    int x = variable_handle(calc, range.variable, range.from);
    if (x < 0) return false;
    Translated translated(calc, formulas);
    std::vector<double> points = points_of(range);

    std::vector<std::string> header{range.variable};
    for (const std::string& formula : formulas) header.push_back(formula);
    const size_t columns = header.size();
    bool all_ok = translated.all_ok;
    auto cell = [&](const tallymat::Formula& formula) -> std::string {
        if (!formula) return "-";
        tallymat::Result result = formula.evaluate();
        if (result) return calc.format(result.value);
        all_ok = false;
        return "error " + std::to_string(result.error.code);
    };

    // Streamed: a million rows need no memory.  A failed cell is empty, as
    // tools read a missing value, with its reason on standard error.
    if (csv) {
        for (size_t c = 0; c < columns; ++c) out << (c ? "," : "") << csv_field(header[c]);
        out << "\n";
        for (double point : points) {
            tallymat::variables::set(x, point);
            std::string x_text = format_point(range, point);
            out << csv_field(x_text);
            for (size_t f = 0; f < translated.formulas.size(); ++f) {
                std::string value;
                if (translated.formulas[f]) {
                    tallymat::Result result = translated.formulas[f].evaluate();
                    if (result) {
                        value = calc.format(result.value);
                    } else {
                        all_ok = false;
                        std::cerr << formulas[f] << " at " << range.variable << " = " << x_text << ": error "
                                  << result.error.code << ": " << calc.message(result.error.code) << "\n";
                    }
                }
                out << "," << csv_field(value);
            }
            out << "\n";
        }
        return all_ok;
    }

    // Every cell first, so that the columns can be as wide as their widest cell.
    std::vector<std::string> cells;
    cells.reserve(points.size() * columns);
    for (double point : points) {
        tallymat::variables::set(x, point);
        cells.push_back(format_point(range, point));
        for (const tallymat::Formula& formula : translated.formulas) cells.push_back(cell(formula));
    }
    std::vector<size_t> widths(columns);
    for (size_t c = 0; c < columns; ++c) widths[c] = header[c].size();
    for (size_t i = 0; i < cells.size(); ++i) widths[i % columns] = std::max(widths[i % columns], cells[i].size());
    auto row = [&](auto cell_of) {
        for (size_t c = 0; c < columns; ++c) {
            const std::string& cell = cell_of(c);
            out << (c ? "  " : "") << std::string(widths[c] - cell.size(), ' ') << cell;
        }
        out << "\n";
    };
    row([&](size_t c) -> const std::string& { return header[c]; });
    for (size_t r = 0; r < points.size(); ++r) row([&](size_t c) -> const std::string& { return cells[r * columns + c]; });
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

    // One row of cells as UTF-8, coloured by curve when asked.
    std::string row(int r, bool colour) const {
        std::string text;
        int current = -1;
        for (int c = 0; c < columns_; ++c) {
            size_t cell = static_cast<size_t>(r * columns_ + c);
            if (colour && (dots_[cell] || letter_[cell]) && curve_[cell] != current) {
                current = curve_[cell];
                text += colour_code(current);
            }
            text += letter_[cell] ? std::string(1, letter_[cell]) : braille(dots_[cell]);
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
std::string stroke_sample(size_t curve) {
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

constexpr int kLabelWidth = 10;
constexpr int kMaxStepRefinements = 16;  // each at least halves the step  // "-1.234e+05" and the axis

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

}  // namespace

bool print_plot(Calculator& calc, const Range& range, const std::vector<std::string>& formulas, PlotSize size,
                bool colour, std::ostream& out) {
    const int columns = std::max(size.width - kLabelWidth - 1, 4);
    const int rows = std::max(size.height - 3, 2);  // the axis, the x labels and the legend below
    BrailleCanvas canvas(columns, rows);

    int x = variable_handle(calc, range.variable, range.from);
    if (x < 0) return false;
    Translated translated(calc, formulas);

    // One sample per dot column; NaN marks a point that failed.
    const int samples = canvas.dot_width();
    std::vector<std::vector<double>> ys(formulas.size(), std::vector<double>(static_cast<size_t>(samples)));
    double low = INFINITY, high = -INFINITY;
    for (int i = 0; i < samples; ++i) {
        tallymat::variables::set(x, range.from + (range.to - range.from) * i / (samples - 1));
        for (size_t f = 0; f < formulas.size(); ++f) {
            double y = NAN;
            if (translated.formulas[f]) {
                tallymat::Result result = translated.formulas[f].evaluate();
                if (result && std::isfinite(result.value)) y = result.value;
            }
            ys[f][static_cast<size_t>(i)] = y;
            if (!std::isnan(y)) {
                low = std::min(low, y);
                high = std::max(high, y);
            }
        }
    }
    if (low > high) {
        // (A formula that did not translate has been reported already.)
        if (translated.all_ok) std::cerr << "tallycalc: nothing to plot: every point failed\n";
        return false;
    }
    if (std::max(std::fabs(low), std::fabs(high)) > kLargestScalable) {
        std::cerr << "tallycalc: cannot plot: the values reach " << label(std::fabs(low) > std::fabs(high) ? low : high)
                  << ", beyond the ±1e300 an axis can be scaled to\n";
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
    // The value axis runs from tick to round tick, with a label at each.
    // (More than two labels on each axis, however small the plot.)  The
    // span is scalable, so the steps stay normal numbers and the loop short.
    double y_step = round_step(high - low, std::clamp(rows / 2, 2, 10));
    auto expanded_low = [&] { return std::floor(low / y_step + 1e-9) * y_step; };
    auto expanded_high = [&] { return std::ceil(high / y_step - 1e-9) * y_step; };
    for (int i = 0; i < kMaxStepRefinements && std::lround((expanded_high() - expanded_low()) / y_step) < 2; ++i)
        y_step = smaller_round_step(y_step);
    low = expanded_low();
    high = expanded_high();

    // Clamped before the conversion: a point far off a fixed axis stays off it.
    auto dot_row = [&](double y) {
        double row = std::clamp((high - y) / (high - low) * (canvas.dot_height() - 1), -1.0,
                                static_cast<double>(canvas.dot_height()));
        return static_cast<int>(std::lround(row));
    };
    for (size_t f = 0; f < formulas.size(); ++f) {
        Stroke stroke = stroke_of(f);
        int previous = -1;
        for (int i = 0; i < samples; ++i) {
            double y = ys[f][static_cast<size_t>(i)];
            if (std::isnan(y) || !draws_at(stroke, i)) {
                previous = -1;  // a gap, not a line to zero
                continue;
            }
            int r = dot_row(y);
            int from = previous < 0 || !joins(stroke) ? r : std::min(previous, r);
            int to = previous < 0 || !joins(stroke) ? r : std::max(previous, r);
            for (int dot = from; dot <= to; ++dot) canvas.set(i, dot, static_cast<int>(f));
            previous = r;
        }
        if (stroke == Stroke::kLettered)  // letters go on top of every curve's dots
            for (int i = kLetterEvery / 2 + 2 * static_cast<int>(f); i < samples; i += kLetterEvery)
                if (!std::isnan(ys[f][static_cast<size_t>(i)]))
                    canvas.put_letter(i, dot_row(ys[f][static_cast<size_t>(i)]), letter_of(f), static_cast<int>(f));
    }

    std::vector<std::string> left_labels(static_cast<size_t>(rows));
    for (double tick : ticks_within(low, high, y_step)) left_labels[static_cast<size_t>(dot_row(tick) / 4)] = label(tick);
    for (int r = 0; r < rows; ++r) {
        const std::string& left = left_labels[static_cast<size_t>(r)];
        out << std::string(static_cast<size_t>(std::max(kLabelWidth - static_cast<int>(left.size()), 0)), ' ') << left
            << (left.empty() ? "\u2502" : "\u2524") << canvas.row(r, colour) << "\n";
    }

    // The variable's axis: a mark and a label at each round value, labels
    // never overlapping.
    double x_step = round_step(range.to - range.from, std::clamp(columns / 8, 2, 12));
    for (int i = 0; i < kMaxStepRefinements && ticks_within(range.from, range.to, x_step).size() < 3; ++i)
        x_step = smaller_round_step(x_step);
    std::string axis(static_cast<size_t>(columns), '-'), labels(static_cast<size_t>(columns + kLabelWidth), ' ');
    int free_from = 0;
    for (double tick : ticks_within(range.from, range.to, x_step)) {
        int column = static_cast<int>(std::lround((tick - range.from) / (range.to - range.from) * (columns - 1)));
        axis[static_cast<size_t>(column)] = '+';
        std::string text = label(tick);
        int start = std::max(column - static_cast<int>(text.size()) / 2, 0);
        if (start < free_from || start + static_cast<int>(text.size()) > columns + kLabelWidth) continue;
        labels.replace(static_cast<size_t>(start), text.size(), text);
        free_from = start + static_cast<int>(text.size()) + 1;
    }
    out << std::string(kLabelWidth, ' ') << "\u2514";
    for (char c : axis) out << (c == '+' ? "\u252c" : "\u2500");
    labels.erase(labels.find_last_not_of(' ') + 1);
    out << "\n" << std::string(kLabelWidth + 1, ' ') << labels << "\n";
    out << std::string(kLabelWidth + 1, ' ');
    for (size_t f = 0; f < formulas.size(); ++f) {
        out << (f ? "  " : "") << (colour ? BrailleCanvas::colour_code(static_cast<int>(f)) : "") << stroke_sample(f)
            << (colour ? "\x1b[0m" : "") << " " << formulas[f];
    }
    out << "  (" << range.variable << ")\n";
    return translated.all_ok;
}

}  // namespace tallycalc
