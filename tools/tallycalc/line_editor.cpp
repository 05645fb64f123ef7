#include "line_editor.hpp"

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

LineEditor::~LineEditor() {
#if TALLYCALC_HAVE_LIBEDIT
    if (editing_ && !history_path_.empty()) write_history(history_path_.c_str());
#endif
}

std::optional<std::string> LineEditor::read(const char* prompt) {
#if TALLYCALC_HAVE_LIBEDIT
    if (editing_) {
        char* line = readline(prompt);
        if (!line) return std::nullopt;
        std::string text = line;
        std::free(line);
        if (!trim(text).empty()) add_history(text.c_str());
        return text;
    }
#endif
    std::cout << prompt << std::flush;
    std::string text;
    if (!std::getline(std::cin, text)) return std::nullopt;
    return text;
}

}  // namespace tallycalc
