// Interactive input: line editing, history kept between sessions and Tab
// completion of function and variable names, through libedit when the
// build has it; plain lines otherwise.  Used only on a terminal.
#pragma once

#include <optional>
#include <string>

namespace tallycalc {

class LineEditor {
public:
    LineEditor();   // loads the history
    ~LineEditor();  // saves it
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    // The next line without its newline; nothing at the end of input (Ctrl-D).
    std::optional<std::string> read(const char* prompt);

private:
    std::string history_path_;
};

}  // namespace tallycalc
