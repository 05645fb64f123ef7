// tallycalc: a calculator on the tallymat C interface, and an example host.
//
//   tallycalc                  the built-in demonstration (or a script piped in)
//   tallycalc --demo           the demonstration, whatever the input
//   tallycalc FILE             runs a script
//   tallycalc -                reads standard input: with a prompt on a terminal
//   tallycalc -D x=2 -e 'x*(x+1)'
//
// A line "name = formula" stores the formula's value in the variable; any
// other line is a formula to evaluate; "#" starts a comment.
#include <iconv.h>
#include <sys/stat.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "tallymat.h"

namespace {

constexpr const char* kVersion = TALLYMAT_VERSION_STRING;

// Library messages are Windows-1251; the terminal gets its own encoding
// (UTF-8 when the locale names none but ASCII).
class MessageConverter {
public:
    MessageConverter() {
        const char* codeset = nl_langinfo(CODESET);
        if (!codeset || !*codeset || std::strcmp(codeset, "ANSI_X3.4-1968") == 0) codeset = "UTF-8";
        std::string target = std::string(codeset) + "//TRANSLIT";
        cd_ = iconv_open(target.c_str(), "CP1251");
    }
    ~MessageConverter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    MessageConverter(const MessageConverter&) = delete;
    MessageConverter& operator=(const MessageConverter&) = delete;

    std::string convert(const char* text) const {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return text;
        std::string in = text;
        std::string out(in.size() * 4 + 4, '\0');
        char* src = in.data();
        char* dst = out.data();
        size_t src_left = in.size(), dst_left = out.size();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) return text;
        out.resize(out.size() - dst_left);
        return out;
    }

private:
    iconv_t cd_;
};

// The shortest text that reads back to the same double.
std::string format_value(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc()) {
        std::snprintf(buffer, sizeof buffer, "%.17g", value);
        return buffer;
    }
    return std::string(buffer, result.ptr);
}

std::string_view trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool is_identifier(std::string_view name) {
    if (name.empty()) return false;
    auto start = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
    if (!start(name[0])) return false;
    for (char c : name)
        if (!start(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

class Calculator {
public:
    explicit Calculator(std::ostream& out) : out_(out) {}

    // Evaluates one input line; false when it failed.
    bool run_line(std::string_view line) {
        size_t comment = line.find('#');
        if (comment != std::string_view::npos) line = line.substr(0, comment);
        line = trim(line);
        if (line.empty()) return true;
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            double value;
            if (!evaluate(line, value)) return false;
            out_ << format_value(value) << "\n";
            return true;
        }
        std::string name(trim(line.substr(0, equals)));
        if (!is_identifier(name)) {
            out_ << "error: \"" << name << "\" is not a variable name\n";
            return false;
        }
        double value;
        if (!evaluate(trim(line.substr(equals + 1)), value)) return false;
        if (!store(name, value)) return false;
        out_ << name << " = " << format_value(value) << "\n";
        return true;
    }

    // Translates and evaluates, reporting any error; the slot is released.
    bool evaluate(std::string_view formula_view, double& value) {
        std::string formula(formula_view);
        int handle = exprpost(formula.c_str());
        if (handle < 0) {
            report_translation_error(formula);
            return false;
        }
        value = calcpost(handle);
        int code = geterrnum();
        exprdelete(handle);
        if (code != 0) {
            out_ << "error " << code << ": " << messages_.convert(getstrerror(code)) << "\n";
            return false;
        }
        return true;
    }

    bool store(const std::string& name, double value) {
        int handle = vlookup(name.c_str());
        int code = handle >= 0 ? vsetvalue(handle, value) : vinsert(name.c_str(), value);
        if (code != 0) {
            out_ << "error " << code << ": " << messages_.convert(getstrerror(code)) << "\n";
            return false;
        }
        return true;
    }

private:
    std::ostream& out_;
    MessageConverter messages_;

    void report_translation_error(const std::string& formula) {
        int code = geterrnum();
        int offset = geterroffs();
        out_ << "error " << code << " at offset " << offset << ": " << messages_.convert(getstrerror(code)) << "\n";
        out_ << "  " << formula << "\n  ";
        // The caret stands under the byte at the offset; tabs are kept so it lines up.
        for (int i = 0; i < offset && i < static_cast<int>(formula.size()); ++i) out_ << (formula[i] == '\t' ? '\t' : ' ');
        out_ << "^\n";
    }
};

// Variables, every operator family, and two deliberate errors.
int run_demonstration(Calculator& calc) {
    std::cout << "tallymat demonstration: formulas are translated once and evaluated by handle.\n\n";
    const char* const lines[] = {
        "x = 2",
        "y = 9",
        "r = 0.5",
        "x*(x+1)-sqrt(y)",
        "2^3^2",
        "-2^2",
        "2 ** 10",
        "17 mod 5",
        "(-7) div 2",
        "sin(r)^2 + cos(r)^2",
        "ln(y)/ln(3) + lg(1000)",
        "exp(-x*x/2)",
        "arcsin(1) + arccos(r) + arctg(1) + tg(0)",
        "abs(-3) + sign(-x) + ez(0)",
        "area = 3.1415926536 * r^2       # ten fraction digits at most",
        "1/(x-2)",
        "x*(x+1",
    };
    for (const char* line : lines) {
        std::cout << "> " << line << "\n";
        calc.run_line(line);
    }
    return 0;
}

int run_stream(Calculator& calc, std::istream& in, bool prompt) {
    bool any_failed = false;
    std::string line;
    for (;;) {
        if (prompt) std::cout << "tallycalc> " << std::flush;
        if (!std::getline(in, line)) break;
        if (!calc.run_line(line)) any_failed = true;
    }
    if (prompt) std::cout << "\n";
    return any_failed && !prompt ? 1 : 0;
}

void print_help() {
    std::cout << "usage: tallycalc [options] [FILE | -]\n"
                 "\n"
                 "Evaluates formulas with the tallymat library.\n"
                 "  (no arguments)     the built-in demonstration; a script when input is piped\n"
                 "  FILE               runs the lines of FILE as a script\n"
                 "  -                  reads standard input, with a prompt on a terminal\n"
                 "  --demo             the built-in demonstration, whatever the input\n"
                 "  -e FORMULA         evaluates FORMULA (repeatable; lines may be assignments)\n"
                 "  -D NAME=FORMULA    sets a variable before anything else (repeatable)\n"
                 "  --help, --version\n"
                 "\n"
                 "A line \"name = formula\" stores the value in the variable; any other line is a\n"
                 "formula; \"#\" starts a comment.  The exit status is 1 when a line failed.\n";
}

bool stdin_is_piped() {
    // A pipe or a redirected file; a terminal or /dev/null is not input to read.
    if (isatty(STDIN_FILENO)) return false;
    struct stat info;
    if (fstat(STDIN_FILENO, &info) != 0) return false;
    return S_ISFIFO(info.st_mode) || S_ISREG(info.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    Calculator calc(std::cout);
    std::vector<std::string> definitions, formulas;
    std::string script;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            print_help();
            return 0;
        }
        if (arg == "--demo") {
            Calculator demo(std::cout);
            return run_demonstration(demo);
        }
        if (arg == "--version") {
            std::cout << "tallycalc " << kVersion << "\n";
            return 0;
        }
        if ((arg == "-e" || arg == "-D") && i + 1 < argc) {
            (arg == "-e" ? formulas : definitions).push_back(argv[++i]);
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "tallycalc: unknown option " << arg << " (see --help)\n";
            return 2;
        }
        script = arg;
    }

    bool failed = false;
    for (const std::string& definition : definitions) {
        if (definition.find('=') == std::string::npos) {
            std::cerr << "tallycalc: -D needs NAME=FORMULA, got " << definition << "\n";
            return 2;
        }
        if (!calc.run_line(definition)) failed = true;
    }
    if (!formulas.empty()) {
        for (const std::string& formula : formulas)
            if (!calc.run_line(formula)) failed = true;
        return failed ? 1 : 0;
    }
    if (script == "-") return run_stream(calc, std::cin, isatty(STDIN_FILENO)) || failed;
    if (!script.empty()) {
        std::ifstream file(script);
        if (!file) {
            std::cerr << "tallycalc: cannot read " << script << ": " << std::strerror(errno) << "\n";
            return 2;
        }
        return run_stream(calc, file, false) || failed;
    }
    if (stdin_is_piped()) return run_stream(calc, std::cin, false) || failed;
    return run_demonstration(calc) || failed;
}
