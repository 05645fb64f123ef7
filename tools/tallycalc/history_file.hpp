// The prompt's history file, shared by every session of the user: each
// entered line is appended under a lock (two sessions at once lose
// nothing), and the file is cut back to its last `cap` lines when it
// grows past them.  Only a regular file is read or written: a history
// path that names a device, a FIFO or a folder keeps no history.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tallycalc {

class HistoryFile {
public:
    HistoryFile(std::string path, size_t cap) : path_(std::move(path)), cap_(cap) {}

    // $XDG_STATE_HOME/tallycalc/history (its missing folders created, mode
    // 0700), or ~/.tallycalc_history; empty when neither can be named.
    static std::string default_path();
    // TALLYCALC_HISTSIZE when it is a number from 1 to 1,000,000; 1,000 otherwise.
    static size_t default_cap();

    // The last `cap` lines of the file; none when it is missing or no regular file.
    std::vector<std::string> load();
    // Appends the line; the first failure is reported on standard error, once.
    void append(const std::string& line);

private:
    // The file open for appending and locked, or -1.
    int open_locked();
    void trim_to_cap();
    void report_once(const std::string& what);

    std::string path_;
    size_t cap_;
    bool reported_ = false;
};

// The lines of a history text; the old format's header line and its
// octal escapes (\040 for a space) are read too.  Exposed for the tests.
std::vector<std::string> parse_history(const std::string& text);

}  // namespace tallycalc
