// tallycalc's texts in the user's language (see translation.hpp).
#include "translation.hpp"

#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <utility>
#include <vector>

namespace tallycalc {

namespace {

constexpr char kDomain[] = "tallycalc";

// A compiled catalogue (GNU .mo): a header of 32-bit words in the writer's
// byte order, then two tables of (length, offset) pairs, the originals
// sorted and their translations in the same order.  Its first word read
// little-endian tells the order.
constexpr uint32_t kMagic = 0x950412de;
constexpr uint32_t kMagicBigEndian = 0xde120495;
constexpr size_t kCountWord = 2, kOriginalsWord = 3, kTranslationsWord = 4, kHeaderWords = 5;

// English text -> its translation in the terminal's codeset, sorted by the
// English: the one place tallycalc keeps what it read.
using Catalogue = std::vector<std::pair<std::string, std::string>>;
Catalogue& catalogue() {
    static Catalogue texts;
    return texts;
}

uint32_t swapped(uint32_t word) {
    return (word >> 24) | ((word >> 8) & 0xff00) | ((word << 8) & 0xff0000) | (word << 24);
}

class MoFile {
public:
    explicit MoFile(std::vector<char> bytes) : bytes_(std::move(bytes)) {
        big_endian_ = word_at(0) == kMagicBigEndian;
        valid_ = bytes_.size() >= kHeaderWords * 4 && (big_endian_ || word_at(0) == kMagic);
    }
    bool valid() const { return valid_; }
    uint32_t count() const { return word(kCountWord); }
    // The `index`th original (`table` kOriginalsWord) or translation; empty
    // when the file is cut short.
    std::string_view text(size_t table, uint32_t index) const {
        uint64_t entry = uint64_t{word(table)} + uint64_t{index} * 8;
        if (entry + 8 > bytes_.size()) return {};
        uint64_t length = word_at(static_cast<size_t>(entry)), offset = word_at(static_cast<size_t>(entry) + 4);
        if (offset + length > bytes_.size()) return {};
        return std::string_view(bytes_.data() + offset, static_cast<size_t>(length));
    }

private:
    uint32_t word(size_t index) const { return word_at(index * 4); }
    uint32_t word_at(size_t at) const {
        if (at + 4 > bytes_.size()) return 0;
        auto byte = [&](size_t i) { return uint32_t{static_cast<unsigned char>(bytes_[at + i])}; };
        uint32_t little = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
        return big_endian_ ? swapped(little) : little;
    }
    std::vector<char> bytes_;
    bool big_endian_ = false, valid_ = false;
};

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

bool is_untranslated_locale(std::string_view locale) {
    return locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0;
}

// The catalogue names to try, best first: each of LANGUAGE's entries (else
// the locale's name) as language_TERRITORY, then as the language alone.
std::vector<std::string> wanted_languages() {
    const char* locale = std::setlocale(LC_MESSAGES, nullptr);
    if (!locale || is_untranslated_locale(locale)) return {};
    const char* language = std::getenv("LANGUAGE");
    std::string_view list = language && *language ? language : locale;
    std::vector<std::string> names;
    while (!list.empty()) {
        std::string_view entry = list.substr(0, list.find(':'));
        list.remove_prefix(std::min(list.size(), entry.size() + 1));
        entry = entry.substr(0, entry.find_first_of(".@"));
        if (entry.empty()) continue;
        names.emplace_back(entry);
        if (size_t territory = entry.find('_'); territory != std::string_view::npos)
            names.emplace_back(entry.substr(0, territory));
    }
    return names;
}

std::vector<char> file_contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The translations of `file`, converted from UTF-8 (the catalogues' codeset)
// by `cd`, sorted by their English.
Catalogue read_catalogue(const MoFile& file, iconv_t cd) {
    Catalogue texts;
    for (uint32_t i = 0; i < file.count(); ++i) {
        std::string_view english = file.text(kOriginalsWord, i), translation = file.text(kTranslationsWord, i);
        if (english.empty() || translation.empty()) continue;  // the header, or a file cut short
        texts.emplace_back(english, convert(cd, translation));
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

// From UTF-8 to `codeset` (none when empty), closed however the reading ends.
struct OpenConversion {
    explicit OpenConversion(const std::string& codeset)
        : cd(codeset.empty() ? kNoConversion : iconv_open((codeset + "//TRANSLIT").c_str(), "UTF-8")) {}
    ~OpenConversion() {
        if (cd != kNoConversion) iconv_close(cd);
    }
    OpenConversion(const OpenConversion&) = delete;
    OpenConversion& operator=(const OpenConversion&) = delete;
    iconv_t cd;
};

}  // namespace

void start_translations() {
    try {
        std::string codeset = terminal_codeset();
        bool utf8 = codeset == "UTF-8";
        for (const std::string& language : wanted_languages()) {
            MoFile file(file_contents(locale_folder() + "/" + language + "/LC_MESSAGES/" + kDomain + ".mo"));
            if (!file.valid()) continue;
            OpenConversion conversion(utf8 ? std::string() : codeset);
            if (!utf8 && conversion.cd == kNoConversion) return;  // the terminal cannot show it: English
            catalogue() = read_catalogue(file, conversion.cd);
            return;
        }
    } catch (const std::bad_alloc&) {
        catalogue().clear();  // out of memory at start-up: English
    }
}

const char* tr(const char* english) {
    const Catalogue& texts = catalogue();
    std::string_view key(english);
    auto found = std::lower_bound(texts.begin(), texts.end(), key,
                                  [](const auto& entry, std::string_view text) { return entry.first < text; });
    return found != texts.end() && found->first == key ? found->second.c_str() : english;
}

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

std::string terminal_codeset() {
    const char* codeset = nl_langinfo(CODESET);
    if (!codeset || !*codeset || std::strcmp(codeset, "ANSI_X3.4-1968") == 0) return "UTF-8";
    return codeset;
}

std::string convert(iconv_t cd, std::string_view text) {
    if (cd == kNoConversion) return std::string(text);
    std::string in(text);
    std::string out(in.size() * 4 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t src_left = in.size(), dst_left = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) return std::string(text);
    out.resize(out.size() - dst_left);
    return out;
}

}  // namespace tallycalc
