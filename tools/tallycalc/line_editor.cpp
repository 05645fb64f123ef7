#include "line_editor.hpp"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "calculator.hpp"
#include "tallymat.hpp"

#if TALLYCALC_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace tallycalc {

namespace {

// Ctrl-C at the prompt: the read under way returns (no SA_RESTART) and the
// flag says why.
volatile sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }
struct sigaction previous_interrupt_action;

bool take_interrupt() {
    bool was = interrupted != 0;
    interrupted = 0;
    return was;
}

#if TALLYCALC_HAVE_LIBEDIT

std::string lower(const char* text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Function names with their "(", then the variables defined so far (shown
// in lower case: names are case-insensitive), that start with the word
// being completed.
char* next_completion(const char* word, int state) {
    static std::vector<std::string> candidates;
    static size_t next;
    if (state == 0) {
        candidates.clear();
        next = 0;
        std::string prefix = lower(word);
        auto offer = [&](std::string name) {
            if (name.compare(0, prefix.size(), prefix) == 0) candidates.push_back(std::move(name));
        };
        for (const char* const* f = kFunctionNames; *f; ++f) offer(std::string(*f) + "(");
        for (int handle = 0; !tallymat::variables::name(handle).empty(); ++handle)
            offer(lower(tallymat::variables::name(handle).c_str()));
    }
    if (next >= candidates.size()) return nullptr;
    return strdup(candidates[next++].c_str());  // readline frees it
}

char** complete(const char* word, int, int) {
    rl_attempted_completion_over = 1;  // no file names
    return rl_completion_matches(word, next_completion);
}

#endif

}  // namespace

LineEditor::LineEditor(FILE* prompts)
    : prompts_(prompts),
      editing_(TALLYCALC_HAVE_LIBEDIT && isatty(STDIN_FILENO) && isatty(fileno(prompts))) {
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_interrupt_action);
#if TALLYCALC_HAVE_LIBEDIT
    if (!editing_) return;
    rl_readline_name = "tallycalc";
    rl_outstream = prompts_;  // before libedit starts: it writes there from then on
    rl_attempted_completion_function = complete;
    rl_completion_append_character = '\0';  // "sq" Tab gives "sqrt(", ready for its argument
    using_history();
    rl_parse_and_bind("bind ^L ed-clear-screen");
    history_ = std::make_unique<HistoryFile>(HistoryFile::default_path(), HistoryFile::default_cap());
    for (const std::string& line : history_->load()) add_history(line.c_str());
#endif
}

LineEditor::~LineEditor() { sigaction(SIGINT, &previous_interrupt_action, nullptr); }

// Into the session's history and at once onto the file's end, so that
// nothing typed is lost however the session ends.
void LineEditor::remember(const std::string& line) {
#if TALLYCALC_HAVE_LIBEDIT
    if (trim(line).empty()) return;
    add_history(line.c_str());
    history_->append(line);
#else
    (void)line;
#endif
}

std::optional<std::string> LineEditor::read(const char* prompt) {
    std::cout.flush();  // the last result before the next prompt
#if TALLYCALC_HAVE_LIBEDIT
    if (editing_) {
        char* line = readline(prompt);
        if (!line) {
            if (!take_interrupt()) return std::nullopt;
            std::fputs("^C\n", prompts_);
            return std::string();
        }
        std::string text = line;
        std::free(line);
        remember(text);
        return text;
    }
#endif
    std::fputs(prompt, prompts_);
    std::fflush(prompts_);
    std::string text;
    if (!std::getline(std::cin, text)) {
        if (!take_interrupt()) return std::nullopt;
        std::cin.clear();
        std::fputs("^C\n", prompts_);
        return std::string();
    }
    return text;
}

}  // namespace tallycalc
