#include "line_editor.hpp"

#include <signal.h>
#include <sys/stat.h>

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

// $XDG_STATE_HOME/tallycalc/history, or ~/.tallycalc_history.
std::string history_path() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        std::string folder = std::string(state) + "/tallycalc";
        mkdir(folder.c_str(), 0700);  // may exist already
        return folder + "/history";
    }
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.tallycalc_history";
    return {};
}

std::string lower(const char* text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Function names, then the variables defined so far (shown in lower case:
// names are case-insensitive), that start with the word being completed.
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
        for (const char* const* f = kFunctionNames; *f; ++f) offer(*f);
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

LineEditor::LineEditor(bool editing) : editing_(editing && TALLYCALC_HAVE_LIBEDIT) {
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_interrupt_action);
#if TALLYCALC_HAVE_LIBEDIT
    if (!editing_) return;
    history_path_ = history_path();
    rl_readline_name = "tallycalc";
    rl_attempted_completion_function = complete;
    rl_completion_append_character = '\0';  // "sq" Tab gives "sqrt", ready for its "("
    using_history();
    if (!history_path_.empty()) read_history(history_path_.c_str());
#endif
}

LineEditor::~LineEditor() { sigaction(SIGINT, &previous_interrupt_action, nullptr); }

// Into the session's history and at once into the file, so that nothing
// typed is lost however the session ends.  (The whole file is written:
// libedit's append_history appends one entry too many.)
void LineEditor::remember(const std::string& line) {
#if TALLYCALC_HAVE_LIBEDIT
    if (trim(line).empty()) return;
    add_history(line.c_str());
    if (!history_path_.empty()) write_history(history_path_.c_str());
#else
    (void)line;
#endif
}

std::optional<std::string> LineEditor::read(const char* prompt) {
#if TALLYCALC_HAVE_LIBEDIT
    if (editing_) {
        char* line = readline(prompt);
        if (!line) {
            if (!take_interrupt()) return std::nullopt;
            std::cout << "^C\n" << std::flush;
            return std::string();
        }
        std::string text = line;
        std::free(line);
        remember(text);
        return text;
    }
#endif
    std::cout << prompt << std::flush;
    std::string text;
    if (!std::getline(std::cin, text)) {
        if (!take_interrupt()) return std::nullopt;
        std::cin.clear();
        std::cout << "^C\n" << std::flush;
        return std::string();
    }
    return text;
}

}  // namespace tallycalc
