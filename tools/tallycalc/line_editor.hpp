// Interactive input: line editing, history kept between sessions (each line
// appended to the file as it is entered) and Tab completion of function and
// variable names, through libedit when the build has it; plain lines
// otherwise.  Used only on a terminal, where Ctrl-C cancels the line being
// typed and prompts again.
#pragma once

#include <optional>
#include <string>

namespace tallycalc {

class LineEditor {
public:
    // Without editing (standard output is not a terminal) lines are read
    // plainly and no escape sequence is written.
    explicit LineEditor(bool editing);  // loads the history when editing; catches Ctrl-C
    ~LineEditor();                      // gives Ctrl-C back
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    // The next line without its newline (a line cancelled by Ctrl-C reads
    // as the empty line); nothing at the end of input (Ctrl-D).
    std::optional<std::string> read(const char* prompt);

private:
    void remember(const std::string& line);

    bool editing_;
    std::string history_path_;
};

}  // namespace tallycalc
