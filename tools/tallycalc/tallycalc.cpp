// tallycalc: a calculator on the tallymat C interface, and an example host.
//
//   tallycalc                  a prompt on a terminal; otherwise standard input as a script
//   tallycalc FILE...          runs each file as a script ("-": standard input)
//   tallycalc -D x=2 -e 'x*(x+1)'
//   tallycalc --table x=0:1:0.1 'sin(x)' 'x^2'      one translation, many evaluations
//   tallycalc --plot x=-6.3:6.3 'sin(x)' 'cos(x)/2'
//   tallycalc --demo
#include <fcntl.h>
#include <getopt.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calculator.hpp"
#include "line_editor.hpp"
#include "sweep.hpp"
#include "tallymat.hpp"
#include "translation.hpp"

namespace {

using tallycalc::Calculator;
using tallycalc::fill;
using tallycalc::tr;

constexpr int kUsageError = 2;

void print_usage(std::ostream& out) {
    out << tr("usage: tallycalc [-D NAME=FORMULA]... [--digits N] [--no-init] [-e FORMULA]... [-i] [FILE...]\n"
           "       tallycalc [-D NAME=FORMULA]... --table VAR=FROM:TO:STEP [--csv] FORMULA...\n"
           "       tallycalc [-D NAME=FORMULA]... --plot VAR=FROM:TO [--range LO:HI] [--width N] [--height N] FORMULA...\n"
           "       tallycalc --demo | --help | --version\n");
}

void print_help() {
    print_usage(std::cout);
    std::cout << "\n" << tr("Evaluates formulas with the tallymat library.  Without FILE or -e it gives a\n"
                 "prompt on a terminal (line editing, history, Tab completion; \"help\", \"vars\";\n"
                 "Ctrl-C cancels a line; quit, exit or Ctrl-D leaves) and otherwise runs standard\n"
                 "input as a script.  Options may come anywhere; a formula that begins with - is\n"
                 "taken as one (evaluated, or with --table and --plot drawn) when a digit, a point\n"
                 "or a bracket follows the -, and otherwise goes after -e (or, with --table and\n"
                 "--plot, after --).  Other formulas go after -e; the rest are files.\n"
                 "\n"
                 "  -e FORMULA            evaluates a line (repeatable; \"name = formula\" assigns)\n"
                 "  -D NAME=FORMULA       sets a variable first (repeatable); a failure stops the run\n"
                 "  -i                    the prompt after the files and -e lines (\"-\" on a\n"
                 "                        terminal means the same)\n"
                 "  --table VAR=FROM:TO:STEP\n"
                 "                        a table of every FORMULA, VAR stepping from FROM to TO\n"
                 "                        (at most 100000000 points)\n"
                 "  --csv                 the table as CSV\n"
                 "  --plot VAR=FROM:TO    the FORMULAs' curves in the terminal (braille cells)\n"
                 "  --range LO:HI         the plot's value axis, instead of the values' own span\n"
                 "  --width N, --height N the plot's size, 8 to 10000 characters (default: the\n"
                 "                        terminal's, or 80x24); --width also bounds a table,\n"
                 "                        whose values then give up digits (down to 6) to fit\n"
                 "  --digits N            results with N significant digits (1 to 17; default 15;\n"
                 "                        17: the shortest text that reads back as the same number)\n"
                 "  --no-init             the prompt without the start-up file\n"
                 "                        ($XDG_CONFIG_HOME/tallycalc/init.tc, else\n"
                 "                        ~/.config/tallycalc/init.tc), whose lines otherwise run\n"
                 "                        quietly before the first\n"
                 "  --demo                the built-in demonstration\n"
                 "  --help, --version\n"
                 "\n"
                 "A script line is a formula, \"name = formula\", \"vars\" or \"help\"; \"#\" starts a\n"
                 "comment.  Results go to standard output, errors to standard error.  Exit status:\n"
                 "0 when every line succeeded, 1 when a line of a script, of -e or -D, of a table\n"
                 "or of a plot failed or the output could not be written, 2 for a usage error.  At\n"
                 "the prompt a failed line does not change the exit status.\n")
              << "\n";
    tallycalc::print_formula_rules(std::cout);
}

int usage_error(const std::string& why) {
    std::cerr << "tallycalc: " << fill(tr("{} (tallycalc --help tells more)"), {why}) << "\n";
    return kUsageError;
}

// Variables, every operator family, and two deliberate errors.
bool run_demonstration(Calculator& calc) {
    std::cout << tr("tallymat demonstration: formulas are translated once and evaluated by handle.\n") << "\n";
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
        std::cout << "> " << line << std::endl;
        calc.run_line(line);
        std::cerr.flush();
    }
    std::cout << "\n"
              << tr("Formulas over a range, each translated once: --table t=0:1:0.25 't^2' 'exp(-t)'\n") << "\n";
    std::string why;
    auto range = tallycalc::parse_range("t=0:1:0.25", true, why);
    tallycalc::print_table(calc, *range, {"t^2", "exp(-t)"}, false, std::cout);
    return true;
}

// The next line of a stream, without its newline; false at the end.  A NUL
// byte ends the line and sets `nul`: the input is no text (/dev/zero would
// otherwise be one endless line).
bool read_line(std::istream& in, std::string& line, bool& nul) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    for (;;) {
        int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            return !line.empty();
        }
        if (c == '\n') return true;
        if (c == '\0') {
            nul = true;
            return true;
        }
        line += static_cast<char>(c);
    }
}

// Lines from a stream named `name` in error reports ("-": standard input);
// false when any failed.  A NUL byte stops the stream: it is no script.
bool run_script(Calculator& calc, std::istream& in, const std::string& name, bool quiet = false) {
    bool all_ok = true;
    std::string line;
    bool nul = false;
    for (long number = 1; !calc.finished() && read_line(in, line, nul); ++number) {
        calc.set_location(name + ":" + std::to_string(number));
        if (nul) {
            calc.report_problem(tr("a NUL byte: this is no text; the rest is not read"));
            all_ok = false;
            break;
        }
        if (!calc.run_line(line, quiet)) all_ok = false;
    }
    calc.set_location("");
    return all_ok;
}

// The start-up file: $XDG_CONFIG_HOME/tallycalc/init.tc (~/.config when
// unset), lines run quietly before an interactive session's first; none is
// no error.
std::string start_up_path() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return std::string(config) + "/tallycalc/init.tc";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/tallycalc/init.tc";
    return {};
}

void run_start_up_file(Calculator& calc) {
    std::string path = start_up_path();
    if (path.empty()) return;
    std::ifstream file(path);
    if (file) run_script(calc, file, path, true);
}

// Standard input, unless the host closed it.
bool standard_input_open() { return fcntl(STDIN_FILENO, F_GETFD) != -1 || errno != EBADF; }

bool run_standard_input(Calculator& calc) {
    if (!standard_input_open()) {
        std::cerr << "tallycalc: " << tr("standard input is closed") << "\n";
        return false;
    }
    return run_script(calc, std::cin, "-");
}

// A failed line does not change the exit status at the prompt.  The
// banner and the prompts go where the user looks: standard output on a
// terminal, otherwise standard error (tallycalc > results.txt).
void run_interactive(Calculator& calc, bool start_up) {
    if (start_up) run_start_up_file(calc);
    FILE* prompts = isatty(STDOUT_FILENO) || !isatty(STDERR_FILENO) ? stdout : stderr;
    const std::string banner =
        fill(tr("tallycalc {} on tallymat: type help for help, quit to leave."), {TALLYMAT_VERSION_STRING}) + "\n";
    std::fputs(banner.c_str(), prompts);
    tallycalc::LineEditor editor(prompts);
    while (std::optional<std::string> line = editor.read("tallycalc> ")) {
        calc.run_line(*line);
        std::cout.flush();
        if (calc.finished()) return;
    }
    std::fputs("\n", prompts);
}

// Whether a text that names no file was probably meant as a formula: only
// the formula language's characters, and an operator, a bracket or nothing
// but digits among them.
bool reads_as_formula(const std::string& text) {
    bool operator_or_bracket = false, all_digits = !text.empty();
    for (char c : text) {
        bool digit = c >= '0' && c <= '9';
        all_digits = all_digits && digit;
        if (std::strchr("+-*/^()", c)) operator_or_bracket = true;
        else if (!digit && !tallycalc::continues_name(c) && !std::strchr(". \t", c)) return false;
    }
    return operator_or_bracket || all_digits;
}

// A script file, "-" for standard input; a folder or unreadable file is an error naming it.
bool run_file(Calculator& calc, const std::string& path, bool start_up) {
    if (path == "-" && isatty(STDIN_FILENO)) {
        run_interactive(calc, start_up);
        return true;
    }
    if (path == "-") return run_standard_input(calc);
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::cerr << "tallycalc: " << path << ": " << tr("is a directory") << "\n";
        return false;
    }
    std::ifstream file(path);
    if (!file) {
        int error = errno;
        std::cerr << "tallycalc: " << path << ": " << std::strerror(error);
        if (error == ENOENT && reads_as_formula(path))
            std::cerr << fill(tr("; a formula goes after -e: tallycalc -e '{}'"), {path});
        std::cerr << "\n";
        return false;
    }
    return run_script(calc, file, path);
}

bool parse_size(const char* text, int& out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < tallycalc::kPlotSizeMin || value > tallycalc::kPlotSizeMax) return false;
    out = static_cast<int>(value);
    return true;
}

// The terminal's characters across and lines, when standard output is one.
std::optional<winsize> terminal_window() {
    struct winsize window;
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) == 0 && window.ws_col > 0 &&
        window.ws_row > 0)
        return window;
    return std::nullopt;
}

tallycalc::PlotSize terminal_size() {
    tallycalc::PlotSize size;
    if (auto window = terminal_window()) {
        size.width = window->ws_col;
        size.height = window->ws_row - 1;  // the prompt's line stays
    }
    return size;
}


// Colour only on a terminal that has it, and never when NO_COLOR is set.
bool wants_colour() {
    const char* no_colour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && !(no_colour && *no_colour) && term && std::strcmp(term, "dumb") != 0;
}

struct Options {
    std::vector<std::string> definitions, lines, operands;
    std::vector<bool> operand_is_formula;  // a "-" and a digit, point or bracket: evaluated, not opened
    std::optional<std::string> table, plot, value_range;
    bool csv = false, demo = false, interactive = false, start_up = true;
    std::optional<int> width, height;
    std::optional<int> digits;  // CSV: round trip unless chosen
};

enum LongOption { kTable = 256, kPlot, kCsv, kWidth, kHeight, kDigits, kRange, kDemo, kHelp, kVersion, kNoInit };
const option kLongOptions[] = {
    {"table", required_argument, nullptr, kTable},   {"plot", required_argument, nullptr, kPlot},
    {"csv", no_argument, nullptr, kCsv},             {"width", required_argument, nullptr, kWidth},
    {"height", required_argument, nullptr, kHeight}, {"range", required_argument, nullptr, kRange},
    {"demo", no_argument, nullptr, kDemo},           {"digits", required_argument, nullptr, kDigits},
    {"help", no_argument, nullptr, kHelp},           {"version", no_argument, nullptr, kVersion},
    {"no-init", no_argument, nullptr, kNoInit},
    {nullptr, 0, nullptr, 0},
};
constexpr char kShortOptions[] = ":e:D:hi";  // ':' first: a missing argument is told apart

// Whether the argument `text` makes the next one its value: "-e", "-iD",
// "--table", "--tab" (an abbreviation), but not "--table=x=0:1:1".
bool takes_next_argument(const std::string& text) {
    if (text.size() < 2 || text[0] != '-') return false;
    if (text[1] == '-') {
        if (text.find('=') != std::string::npos) return false;
        std::string name = text.substr(2);
        for (const option* o = kLongOptions; o->name; ++o)
            if (!name.empty() && std::string(o->name).compare(0, name.size(), name) == 0)
                return o->has_arg == required_argument;
        return false;
    }
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i] == 'e' || text[i] == 'D') return i + 1 == text.size();
    return false;
}

// A "-" followed by a digit, a point or a bracket starts a formula (-2^2,
// -.5*x, -(x+1)): no option looks so.
bool is_negative_formula(const std::string& text) {
    return text.size() >= 2 && text[0] == '-' && (std::isdigit(static_cast<unsigned char>(text[1])) ||
                                                   text[1] == '.' || text[1] == '(');
}

// The arguments as getopt should see them: negative formulas hidden behind
// a leading space (still the same formula) so that they stay operands in place.
struct Arguments {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
    std::vector<bool> hidden;

    Arguments(int argc, char** argv) {
        bool options_end = false;
        for (int i = 0; i < argc; ++i) {
            std::string text = argv[i];
            bool hide = i > 0 && !options_end && is_negative_formula(text) && !takes_next_argument(argv[i - 1]);
            if (text == "--") options_end = true;
            texts.push_back(hide ? " " + text : text);
            hidden.push_back(hide);
        }
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    // An operand as typed, and whether it is a negative formula.  (getopt
    // reorders `pointers`, never `texts`.)
    std::pair<std::string, bool> original(const char* pointer) const {
        for (size_t i = 0; i < texts.size(); ++i)
            if (texts[i].data() == pointer) return {hidden[i] ? texts[i].substr(1) : texts[i], hidden[i]};
        return {pointer, false};
    }
};

// Why the options as a whole do not fit together; empty when they do.
std::string option_conflict(const Options& options) {
    if (options.table && options.plot) return tr("--table and --plot exclude each other");
    if ((options.table || options.plot) && options.operands.empty()) return tr("no formula given");
    if (options.csv && !options.table) return tr("--csv goes with --table");
    if ((options.height || options.value_range) && !options.plot) return tr("--height and --range go with --plot");
    if (options.width && !options.plot && !options.table) return tr("--width goes with --plot or --table");
    if (options.interactive && (options.table || options.plot || options.demo))
        return tr("-i goes with files and -e, not with --table, --plot or --demo");
    return {};
}

// Parses the arguments; a status to exit with when they end the run.
std::optional<int> parse_options(int argc, char** argv, Options& options) {
    Arguments arguments(argc, argv);
    char** args = arguments.pointers.data();
    opterr = 0;  // the messages below name the program, not its path
    for (int c; (c = getopt_long(argc, args, kShortOptions, kLongOptions, nullptr)) != -1;) {
        switch (c) {
            case 'e': options.lines.emplace_back(optarg); break;
            case 'D': options.definitions.emplace_back(optarg); break;
            case 'i': options.interactive = true; break;
            case kTable: options.table = optarg; break;
            case kPlot: options.plot = optarg; break;
            case kRange: options.value_range = optarg; break;
            case kCsv: options.csv = true; break;
            case kDemo: options.demo = true; break;
            case kNoInit: options.start_up = false; break;
            case kDigits: {
                char* end = nullptr;
                long digits = std::strtol(optarg, &end, 10);
                if (*end != '\0' || digits < 1 || digits > 17)
                    return usage_error(fill(tr("--digits {}: the digits are 1 to 17"), {optarg}));
                options.digits = static_cast<int>(digits);
                break;
            }
            case kWidth:
            case kHeight: {
                int value = 0;
                if (!parse_size(optarg, value))
                    return usage_error(fill(tr("{} {}: a size is {} to {} characters"),
                                            {c == kWidth ? "--width" : "--height", optarg,
                                             std::to_string(tallycalc::kPlotSizeMin),
                                             std::to_string(tallycalc::kPlotSizeMax)}));
                (c == kWidth ? options.width : options.height) = value;
                break;
            }
            case 'h':
            case kHelp: print_help(); return 0;
            case kVersion: std::cout << "tallycalc " << TALLYMAT_VERSION_STRING << "\n"; return 0;
            case ':': return usage_error(fill(tr("{} needs a value"), {args[optind - 1]}));
            default:
                if (optopt > 0 && optopt < 256)
                    return usage_error(fill(tr("unknown option -{}; a formula that begins with - goes after -- or -e"),
                                            {std::string(1, static_cast<char>(optopt))}));
                return usage_error(fill(tr("unknown option {}"), {args[optind - 1]}));
        }
    }
    for (int i = optind; i < argc; ++i) {
        auto [text, formula] = arguments.original(args[i]);
        options.operands.push_back(std::move(text));
        options.operand_is_formula.push_back(formula);
    }
    if (std::string conflict = option_conflict(options); !conflict.empty()) return usage_error(conflict);
    return std::nullopt;
}

// How a run ended, and so the exit status: every line succeeded (0), one
// failed (1), or the command line was wrong (kUsageError), in which case
// nothing more is run.
enum class RunOutcome { kAllSucceeded, kSomeFailed, kUsageError };

RunOutcome outcome_of(bool all_ok) { return all_ok ? RunOutcome::kAllSucceeded : RunOutcome::kSomeFailed; }

// The -D definitions in order, each labelled "-D NAME" in its errors;
// kSomeFailed at the first that fails.
RunOutcome run_definitions(const Options& options, Calculator& calc) {
    for (const std::string& definition : options.definitions) {
        size_t equals = definition.find('=');
        if (equals == std::string::npos) {
            usage_error(fill(tr("-D {}: -D takes NAME=FORMULA"), {definition}));
            return RunOutcome::kUsageError;
        }
        calc.set_location("-D " + std::string(tallycalc::trim(std::string_view(definition).substr(0, equals))));
        bool ok = calc.run_line(definition, true);  // -D prints nothing
        calc.set_location("");
        if (!ok) return RunOutcome::kSomeFailed;
    }
    return RunOutcome::kAllSucceeded;
}

// An aligned table keeps to the terminal's width, or to --width: without
// --digits its values give up digits (down to six) to fit, and a table
// that cannot fit says so once; both notes go to standard error.
void fit_table(const Options& options, const tallycalc::Range& range, Calculator& calc) {
    size_t columns = 0;
    if (options.width) columns = static_cast<size_t>(*options.width);
    else if (auto window = terminal_window()) columns = window->ws_col;
    const size_t width = tallycalc::table_width(range, options.operands, calc.digits());
    if (columns == 0 || width <= columns) return;
    if (!options.digits) {
        int digits = tallycalc::digits_to_fit(range, options.operands, calc.digits(), columns);
        if (digits != calc.digits()) {
            calc.set_digits(digits);
            std::cerr << "tallycalc: "
                      << fill(tr("{} significant digits, to fit {} columns (--digits or --csv gives more)"),
                              {std::to_string(digits), std::to_string(columns)})
                      << "\n";
            return;
        }
    }
    std::cerr << "tallycalc: "
              << fill(tr("the table is {} columns wide, wider than {}: long lines wrap"),
                      {std::to_string(width), std::to_string(columns)})
              << "\n";
}

RunOutcome run_sweep(const Options& options, Calculator& calc) {
    std::string why;
    auto range = tallycalc::parse_range(options.table ? *options.table : *options.plot, options.table.has_value(), why);
    if (!range) {
        usage_error(why);
        return RunOutcome::kUsageError;
    }
    if (options.csv && !options.digits) calc.set_digits(tallycalc::kRoundTripDigits);  // machines read it
    if (options.table) {
        if (!options.csv) fit_table(options, *range, calc);
        return outcome_of(tallycalc::print_table(calc, *range, options.operands, options.csv, std::cout));
    }
    tallycalc::PlotSize size = terminal_size();
    if (options.width) size.width = *options.width;
    if (options.height) size.height = *options.height;
    std::optional<tallycalc::ValueAxis> axis;
    if (options.value_range && !(axis = tallycalc::parse_value_axis(*options.value_range, why))) {
        usage_error(why);
        return RunOutcome::kUsageError;
    }
    return outcome_of(tallycalc::print_plot(calc, *range, options.operands, size, axis, wants_colour(), std::cout));
}

// The run itself.
RunOutcome run(const Options& options, Calculator& calc) {
    RunOutcome defined = run_definitions(options, calc);
    if (defined != RunOutcome::kAllSucceeded) return defined;
    if (options.demo) return outcome_of(run_demonstration(calc));
    if (options.table || options.plot) return run_sweep(options, calc);
    bool all_ok = true;
    for (size_t i = 0; i < options.lines.size() && !calc.finished(); ++i) {
        calc.set_location("-e " + std::to_string(i + 1));
        if (!calc.run_line(options.lines[i])) all_ok = false;
        calc.set_location("");
    }
    for (size_t i = 0; i < options.operands.size() && !calc.finished(); ++i) {
        if (!options.operand_is_formula[i]) {
            if (!run_file(calc, options.operands[i], options.start_up)) all_ok = false;
            continue;
        }
        calc.set_location("argument " + std::to_string(i + 1));
        if (!calc.run_line(options.operands[i])) all_ok = false;
        calc.set_location("");
    }
    bool given_work = !options.lines.empty() || !options.operands.empty();
    if (calc.finished() || (given_work && !options.interactive)) return outcome_of(all_ok);
    if (isatty(STDIN_FILENO)) {
        run_interactive(calc, options.start_up);
        return outcome_of(all_ok);
    }
    return outcome_of(run_standard_input(calc) && all_ok);
}

// Out of memory anywhere: a message written without allocating, status 1.
int out_of_memory() {
    static const char kMessage[] = "tallycalc: out of memory\n";
    ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)written;
    return 1;
}

int run_main(int argc, char** argv) {
    // The user's locale picks the messages' language and the terminal's
    // charset; numbers are read and written as formulas write them (0.5,
    // never 0,5), whatever LC_NUMERIC says.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    tallycalc::start_translations();
    Options options;
    if (std::optional<int> status = parse_options(argc, argv, options)) return *status;
    Calculator calc(std::cout, std::cerr);
    calc.set_digits(options.digits.value_or(tallycalc::kDefaultDigits));
    RunOutcome outcome = run(options, calc);
    if (outcome == RunOutcome::kUsageError) return kUsageError;
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::cerr << "tallycalc: " << tr("cannot write the output: ") << std::strerror(errno) << "\n";
        return 1;
    }
    return outcome == RunOutcome::kAllSucceeded ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run_main(argc, argv);
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
}
