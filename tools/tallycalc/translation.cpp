// tallycalc's texts in the user's language (see translation.hpp).
#include "translation.hpp"

#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace tallycalc {

namespace {

constexpr char kDomain[] = "tallycalc";

// The catalogue beside the executable when it runs from a build tree,
// else the installed one.
std::string locale_folder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        std::string beside(path, static_cast<size_t>(length));
        beside = beside.substr(0, beside.rfind('/') + 1) + "locale";
        struct stat status;
        if (stat(beside.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return beside;
    }
    return TALLYCALC_LOCALEDIR;
}

}  // namespace

void start_translations() {
    bindtextdomain(kDomain, locale_folder().c_str());
    textdomain(kDomain);
}

const char* tr(const char* english) { return gettext(english); }

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> arguments) {
    std::string text;
    auto argument = arguments.begin();
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern.compare(at, 2, "{}") == 0 && argument != arguments.end()) {
            text += *argument++;
            ++at;
        } else {
            text += pattern[at];
        }
    }
    return text;
}

}  // namespace tallycalc
