// Interactive input: line editing, history kept between sessions and Tab
// completion of function and variable names, through libedit when the
// build has it; plain lines otherwise.  Used only on a terminal.
#pragma once

#include <optional>
#include <string>

namespace tallycalc {

class LineEditor {
public:
    // Without editing (standard output is not a terminal) lines are read
    // plainly and no escape sequence is written.
    explicit LineEditor(bool editing);  // loads the history when editing
    ~LineEditor();  // saves it
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    // The next line without its newline; nothing at the end of input (Ctrl-D).
    std::optional<std::string> read(const char* prompt);

private:
    bool editing_;
    std::string history_path_;
};

}  // namespace tallycalc
