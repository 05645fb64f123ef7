#include "history_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace tallycalc {

namespace {

// At most this much of a file is read: a history of `cap` ordinary lines is far smaller.
constexpr off_t kMaxBytesRead = 4 << 20;
constexpr size_t kDefaultCap = 1000, kLargestCap = 1'000'000;
// The header line libedit's own history files begin with.
constexpr const char kOldHeader[] = "_HiStOrY_V2_";

// Creates each missing folder of `path` with mode 0700; false when one cannot be made.
bool make_folders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

bool write_all(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The last kMaxBytesRead bytes of a regular file open at `fd`, from a line's start.
bool read_tail(int fd, std::string& text) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    off_t start = info.st_size > kMaxBytesRead ? info.st_size - kMaxBytesRead : 0;
    if (lseek(fd, start, SEEK_SET) < 0) return false;
    text.clear();
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > static_cast<size_t>(kMaxBytesRead)) break;  // grew while read
    }
    if (start > 0) text.erase(0, text.find('\n') == std::string::npos ? text.size() : text.find('\n') + 1);
    return true;
}

std::string decode_octal_escapes(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        auto octal = [&](size_t at) { return at < line.size() && line[at] >= '0' && line[at] <= '7'; };
        if (line[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>(((line[i + 1] - '0') << 6) | ((line[i + 2] - '0') << 3) | (line[i + 3] - '0'));
            i += 3;
        } else if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else {
            out += line[i];
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> parse_history(const std::string& text) {
    std::vector<std::string> lines;
    bool old_format = text.compare(0, sizeof kOldHeader - 1, kOldHeader) == 0;
    size_t start = old_format ? text.find('\n') : 0;
    if (start == std::string::npos) return lines;
    if (old_format) ++start;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty()) lines.push_back(old_format ? decode_octal_escapes(line) : line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

std::string HistoryFile::default_path() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
        std::string folder = std::string(state) + "/tallycalc";
        if (!make_folders(folder)) return {};
        return folder + "/history";
    }
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.tallycalc_history";
    return {};
}

size_t HistoryFile::default_cap() {
    const char* text = std::getenv("TALLYCALC_HISTSIZE");
    if (!text || !*text) return kDefaultCap;
    char* end = nullptr;
    long long cap = std::strtoll(text, &end, 10);
    if (*end != '\0' || cap < 1 || cap > static_cast<long long>(kLargestCap)) return kDefaultCap;
    return static_cast<size_t>(cap);
}

std::vector<std::string> HistoryFile::load() {
    if (path_.empty()) return {};
    // O_NONBLOCK: a FIFO is refused below instead of waiting for a writer.
    int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    bool regular = read_tail(fd, text);
    close(fd);
    if (!regular) {
        report_once(path_ + " is no regular file: the history is neither read nor kept");
        path_.clear();
        return {};
    }
    std::vector<std::string> lines = parse_history(text);
    if (lines.size() > cap_) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(cap_));
    return lines;
}

int HistoryFile::open_locked() {
    // Another session may replace the file (trim_to_cap) between the open
    // and the lock: then the lock is on a file no longer named, and the
    // open is made again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        struct stat opened, named;
        if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            close(fd);
            errno = EINVAL;
            return -1;
        }
        while (flock(fd, LOCK_EX) != 0)
            if (errno != EINTR) {
                close(fd);
                return -1;
            }
        if (stat(path_.c_str(), &named) == 0 && named.st_ino == opened.st_ino && named.st_dev == opened.st_dev)
            return fd;
        close(fd);
    }
    errno = EAGAIN;
    return -1;
}

void HistoryFile::append(const std::string& line) {
    if (path_.empty()) return;
    int fd = open_locked();
    if (fd < 0) {
        report_once("cannot keep the history in " + path_ + ": " + std::strerror(errno));
        return;
    }
    struct stat before;
    fstat(fd, &before);
    if (!write_all(fd, line + "\n")) {
        int error = errno;
        // Nothing half-written stays: the next session reads whole lines only.
        if (ftruncate(fd, before.st_size) != 0) {}
        report_once("cannot keep the history in " + path_ + ": " + std::strerror(error));
    } else {
        trim_to_cap();
    }
    close(fd);
}

// Past its cap, the file is replaced by a copy of its last `cap` lines,
// written beside it and renamed over it (the caller holds the lock): a
// full disk leaves it as it was.
void HistoryFile::trim_to_cap() {
    std::string text;
    int reader = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0) return;
    bool read = read_tail(reader, text);
    close(reader);
    if (!read) return;
    std::vector<std::string> lines = parse_history(text);
    if (lines.size() <= cap_) return;
    std::string kept;
    for (size_t i = lines.size() - cap_; i < lines.size(); ++i) kept += lines[i] + "\n";
    std::string temporary = path_ + ".new";
    int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = out >= 0 && write_all(out, kept);
    if (out >= 0 && close(out) != 0) written = false;
    if (!written || rename(temporary.c_str(), path_.c_str()) != 0) {
        unlink(temporary.c_str());
        report_once("cannot cut the history in " + path_ + " to its last " + std::to_string(cap_) + " lines");
    }
}

void HistoryFile::report_once(const std::string& what) {
    if (reported_) return;
    reported_ = true;
    std::cerr << "tallycalc: " << what << "\n";
}

}  // namespace tallycalc
