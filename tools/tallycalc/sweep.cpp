#include "sweep.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
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

std::optional<Range> parse_range(const std::string& text, bool step_required) {
    size_t equals = text.find('=');
    if (equals == std::string::npos) return std::nullopt;
    Range range;
    range.variable = std::string(trim(std::string_view(text).substr(0, equals)));
    if (!unassignable_reason(range.variable).empty()) return std::nullopt;
    std::vector<std::string> parts;
    std::string rest = text.substr(equals + 1);
    for (size_t start = 0;;) {
        size_t colon = rest.find(':', start);
        parts.push_back(std::string(trim(std::string_view(rest).substr(start, colon - start))));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() != (step_required ? 3u : 2u)) return std::nullopt;
    if (!parse_number(parts[0], range.from) || !parse_number(parts[1], range.to)) return std::nullopt;
    if (step_required) {
        if (!parse_number(parts[2], range.step) || range.step == 0.0) return std::nullopt;
        double count = (range.to - range.from) / range.step;
        if (count < 0 || count >= static_cast<double>(kMaxPoints)) return std::nullopt;
    } else if (!(range.to > range.from)) {
        return std::nullopt;
    }
    return range;
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
        if (!result) all_ok = false;
        return result ? format_value(result.value) : "error " + std::to_string(result.error.code);
    };

    if (csv) {  // streamed: a million rows need no memory
        for (size_t c = 0; c < columns; ++c) out << (c ? "," : "") << csv_field(header[c]);
        out << "\n";
        for (double point : points) {
            tallymat::variables::set(x, point);
            out << csv_field(format_value(point));
            for (const tallymat::Formula& formula : translated.formulas) out << "," << csv_field(cell(formula));
            out << "\n";
        }
        return all_ok;
    }

    // Every cell first, so that the columns can be as wide as their widest cell.
    std::vector<std::string> cells;
    cells.reserve(points.size() * columns);
    for (double point : points) {
        tallymat::variables::set(x, point);
        cells.push_back(format_value(point));
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

// A grid of braille cells, each 2 dots wide and 4 high, with the curve
// that set a cell's last dot for its colour.
class BrailleCanvas {
public:
    BrailleCanvas(int columns, int rows)
        : columns_(columns), rows_(rows), dots_(static_cast<size_t>(columns * rows)), curve_(dots_.size(), -1) {}

    int dot_width() const { return 2 * columns_; }
    int dot_height() const { return 4 * rows_; }

    void set(int x, int y, int curve) {
        if (x < 0 || y < 0 || x >= dot_width() || y >= dot_height()) return;
        static constexpr uint8_t kBits[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
        size_t cell = static_cast<size_t>((y / 4) * columns_ + x / 2);
        dots_[cell] |= kBits[y % 4][x % 2];
        curve_[cell] = curve;
    }

    // One row of cells as UTF-8, coloured by curve when asked.
    std::string row(int r, bool colour) const {
        std::string text;
        int current = -1;
        for (int c = 0; c < columns_; ++c) {
            size_t cell = static_cast<size_t>(r * columns_ + c);
            if (colour && dots_[cell] && curve_[cell] != current) {
                current = curve_[cell];
                text += colour_code(current);
            }
            text += braille(dots_[cell]);
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
};

std::string label(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4g", value);
    return buffer;
}

constexpr int kLabelWidth = 10;  // "-1.234e+05" and the axis

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
        std::cerr << "tallycalc: nothing to plot: every point failed\n";
        return false;
    }
    if (low == high) {
        low -= 1;
        high += 1;
    }

    auto dot_row = [&](double y) {
        return static_cast<int>(std::lround((high - y) / (high - low) * (canvas.dot_height() - 1)));
    };
    for (size_t f = 0; f < formulas.size(); ++f) {
        int previous = -1;
        for (int i = 0; i < samples; ++i) {
            double y = ys[f][static_cast<size_t>(i)];
            if (std::isnan(y)) {
                previous = -1;  // a gap, not a line to zero
                continue;
            }
            int r = dot_row(y);
            int from = previous < 0 ? r : std::min(previous, r), to = previous < 0 ? r : std::max(previous, r);
            for (int dot = from; dot <= to; ++dot) canvas.set(i, dot, static_cast<int>(f));
            previous = r;
        }
    }

    for (int r = 0; r < rows; ++r) {
        std::string left = r == 0 ? label(high) : r == rows - 1 ? label(low) : "";
        out << std::string(static_cast<size_t>(kLabelWidth - static_cast<int>(left.size())), ' ') << left
            << (r == 0 || r == rows - 1 ? "\u2524" : "\u2502") << canvas.row(r, colour) << "\n";
    }
    out << std::string(kLabelWidth, ' ') << "\u2514";
    for (int c = 0; c < columns; ++c) out << "\u2500";
    std::string from = label(range.from), to = label(range.to);
    out << "\n" << std::string(kLabelWidth + 1, ' ') << from
        << std::string(static_cast<size_t>(std::max(columns - static_cast<int>(from.size() + to.size()), 1)), ' ') << to
        << "\n";
    out << std::string(kLabelWidth + 1, ' ');
    for (size_t f = 0; f < formulas.size(); ++f) {
        out << (f ? "  " : "") << (colour ? BrailleCanvas::colour_code(static_cast<int>(f)) : "")
            << BrailleCanvas::braille(0xFF) << (colour ? "\x1b[0m" : "") << " " << formulas[f];
    }
    out << "  (" << range.variable << ")\n";
    return translated.all_ok;
}

}  // namespace tallycalc
