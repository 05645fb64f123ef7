// Interactive input: line editing, history kept between sessions (each line
// appended to the file as it is entered) and Tab completion of function and
// variable names, through libedit when the build has it; plain lines
// otherwise.  Used only on a terminal, where Ctrl-C cancels the line being
// typed and prompts again.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "history_file.hpp"

namespace tallycalc {

class LineEditor {
public:
    // Prompts go to `prompts`: standard output on a terminal, otherwise the
    // terminal's standard error, so that redirected results stay clean.
    // Lines are edited when both it and standard input are terminals;
    // otherwise read plainly, with no escape sequence written.
    explicit LineEditor(FILE* prompts);  // loads the history when editing; catches Ctrl-C
    ~LineEditor();                       // gives Ctrl-C back
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    // The next line without its newline (a line cancelled by Ctrl-C reads
    // as the empty line); nothing at the end of input (Ctrl-D).
    std::optional<std::string> read(const char* prompt);

private:
    void remember(const std::string& line);

    FILE* prompts_;
    bool editing_;
    std::unique_ptr<HistoryFile> history_;
};

}  // namespace tallycalc
