// Texts whose terminating NUL is the last readable byte: the page behind it
// is PROT_NONE, so any read past the NUL faults.  Every seed-corpus string
// and a few thousand random ones go through exprpost, vinsert and vlookup.
// (The fuzzers cannot see such reads: their inputs have slack behind them.)
#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tallymat.h"

namespace {

class PageEndBuffer {
public:
    PageEndBuffer() : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
        void* area = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (area == MAP_FAILED) return;
        base_ = static_cast<char*>(area);
        if (mprotect(base_ + page_, page_, PROT_NONE) != 0) base_ = nullptr;
    }
    bool ok() const { return base_ != nullptr; }

    // The text, up to its first NUL, placed so that its NUL ends the readable page.
    const char* place(const std::string& text) {
        std::string cut = text.substr(0, std::min(text.find('\0'), page_ - 1));
        char* start = base_ + page_ - cut.size() - 1;
        std::memcpy(start, cut.data(), cut.size());
        start[cut.size()] = '\0';
        return start;
    }

private:
    size_t page_;
    char* base_ = nullptr;
};

std::vector<std::string> corpus_texts(const char* folder) {
    std::vector<std::string> texts;
    DIR* dir = opendir(folder);
    if (!dir) return texts;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream file(std::string(folder) + "/" + entry->d_name, std::ios::binary);
        texts.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    closedir(dir);
    return texts;
}

std::vector<std::string> random_texts(int count) {
    static const char kAlphabet[] = "0123456789.eE+-*/^()xyzmodivsinqrtabclg_ \t\n\x80\xff";
    std::mt19937 random(20261208);
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        std::string text(random() % 48, ' ');
        for (char& c : text) c = kAlphabet[random() % (sizeof kAlphabet - 1)];
        texts.push_back(text);
    }
    return texts;
}

}  // namespace

int main(int argc, char** argv) {
    PageEndBuffer buffer;
    if (!buffer.ok()) {
        std::perror("page_end: mmap");
        return 1;
    }
    std::vector<std::string> texts = random_texts(4000);
    size_t from_corpus = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> more = corpus_texts(argv[i]);
        from_corpus += more.size();
        texts.insert(texts.end(), more.begin(), more.end());
    }
    vinsert("x", 1.0);
    for (const std::string& text : texts) {
        int handle = exprpost(buffer.place(text));
        if (handle >= 0) exprdelete(handle);
        vlookup(buffer.place(text));
        if (vinsert(buffer.place(text), 2.0) == TALLYMAT_OK) {
            vclr();
            vinsert("x", 1.0);
        }
    }
    std::printf("page_end: %zu texts (%zu from the corpus) read without crossing their NUL\n", texts.size(),
                from_corpus);
    return from_corpus > 0 || argc < 2 ? 0 : 1;
}
