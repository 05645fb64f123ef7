// tallymat.hpp: a header-only C++ wrapper over the C interface (C++17 or later).
//
// It adds ownership and types, nothing else: every member is one or two C
// calls.  The library keeps process-wide state (one variable table, one
// set of 100 formula slots, one last error) and serves one thread at a
// time; so does this wrapper.  Not even two evaluations may run at once:
// the value stack and the last error are shared, so two threads each
// evaluating a formula of its own get each other's values.  Guard every
// call with one lock of your own.  No exceptions are thrown.
//
// Raw exprdelete/exprclr calls may be mixed with Formula objects: an object
// only ever releases or evaluates the slot it was created in, and after a
// raw release it reports code 20 instead of touching a newer formula that
// got the same slot through another Formula.
//
// Success and failure are asked by name: ok() and failed() on Error, Result
// and Formula alike.  None converts to bool, so that `if (variables::set(...))`
// fails to compile instead of reading one way and meaning the other.
#ifndef TALLYMAT_HPP
#define TALLYMAT_HPP

#if defined(_MSVC_LANG) ? _MSVC_LANG < 201703L : __cplusplus < 201703L
#error "tallymat.hpp needs C++17 or later (for example -std=c++17 or /std:c++17); C code includes tallymat.h"
#else

#include <string>
#include <string_view>
#include <utility>

#include "tallymat.h"

namespace tallymat {

// A code of the library, with the translation offset where it applies.
struct Error {
    int code = TALLYMAT_OK;
    int offset = 0;  // where a translation stopped; 0 otherwise

    bool ok() const { return code == TALLYMAT_OK; }
    bool failed() const { return !ok(); }

    // The library's Windows-1251 message, as UTF-8.
    std::string message() const { return to_utf8(getstrerror(code == TALLYMAT_OK ? -1 : code)); }

    // The messages use ASCII and the Cyrillic letters only.
    static std::string to_utf8(const char* cp1251) {
        std::string out;
        for (const char* p = cp1251; *p; ++p) {
            auto byte = static_cast<unsigned char>(*p);
            unsigned code_point = byte < 0x80 ? byte
                                  : byte >= 0xC0 ? 0x410 + (byte - 0xC0)  // А..я
                                  : byte == 0xA8 ? 0x401u                 // Ё
                                  : byte == 0xB8 ? 0x451u                 // ё
                                                 : 0xFFFDu;
            if (code_point < 0x80) {
                out += static_cast<char>(code_point);
            } else if (code_point < 0x800) {
                out += static_cast<char>(0xC0 | (code_point >> 6));
                out += static_cast<char>(0x80 | (code_point & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (code_point >> 12));
                out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (code_point & 0x3F));
            }
        }
        return out;
    }

    static Error last() { return {geterrnum(), 0}; }
};

// A value, or the code that refused it.
struct Result {
    double value = 0.0;
    Error error;

    bool ok() const { return error.ok(); }
    bool failed() const { return !ok(); }
};

// A translated formula; its slot is released when the object goes.  A
// Formula made empty (default-constructed, or moved from) holds no slot and
// says code 20, the code evaluating it gives; one whose translation failed
// keeps that failure's code and offset, and evaluating it gives them again.
class Formula {
public:
    Formula() = default;
    explicit Formula(const char* text) { translate(text); }
    // All of the text: one holding a NUL byte, which a C string would end
    // there, is refused with code 4 at the NUL's offset.
    explicit Formula(std::string_view text) {
        size_t nul = text.find('\0');
        if (nul == std::string_view::npos) translate(std::string(text).c_str());
        else error_ = {TALLYMAT_E_UNDEFINED_SYMBOL, static_cast<int>(nul)};
    }
    explicit Formula(const std::string& text) : Formula(std::string_view(text)) {}
    ~Formula() { release(); }

    Formula(Formula&& other) noexcept : handle_(other.handle_), generation_(other.generation_), error_(other.error_) {
        other.become_empty();
    }
    Formula& operator=(Formula&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = other.handle_;
            generation_ = other.generation_;
            error_ = other.error_;
            other.become_empty();
        }
        return *this;
    }
    Formula(const Formula&) = delete;
    Formula& operator=(const Formula&) = delete;

    bool ok() const { return handle_ >= 0; }
    bool failed() const { return !ok(); }
    bool empty() const { return handle_ < 0 && error_.code == TALLYMAT_E_INVALID_EXPRESSION; }
    int handle() const { return handle_; }
    const Error& error() const { return error_; }  // why there is no translated formula; code 0 when there is

    Result evaluate() const {
        if (handle_ < 0) return {0.0, error_};
        if (!owns_slot()) return {0.0, {TALLYMAT_E_INVALID_EXPRESSION, 0}};
        double value = calcpost(handle_);
        return {value, Error::last()};
    }

private:
    static constexpr int kSlots = 100;
    int handle_ = -1;
    unsigned long generation_ = 0;
    Error error_{TALLYMAT_E_INVALID_EXPRESSION, 0};

    void translate(const char* text) {
        handle_ = exprpost(text);
        if (handle_ < 0) {
            error_ = {geterrnum(), geterroffs()};
        } else {
            error_ = {};
            generation_ = ++generations()[handle_];
        }
    }

    void become_empty() {
        handle_ = -1;
        error_ = {TALLYMAT_E_INVALID_EXPRESSION, 0};
    }

    // Bumped whenever a Formula takes a slot: an older object whose slot a
    // raw exprclr released and a newer Formula took sees a newer generation.
    static unsigned long* generations() {
        static unsigned long per_slot[kSlots];
        return per_slot;
    }

    bool owns_slot() const {
        return handle_ >= 0 && handle_ < kSlots && generations()[handle_] == generation_;
    }

    void release() {
        if (owns_slot()) exprdelete(handle_);
        handle_ = -1;
    }
};

// The variable table, by name and by handle.  Handles are positions in
// name order and shift when a name sorting before them arrives.
namespace variables {

// Names as the C interface reads them: up to a NUL byte.  Each function
// takes a C string or any string_view (std::string, a substring).

inline int handle(const char* name) { return vlookup(name); }
inline int handle(std::string_view name) { return handle(std::string(name).c_str()); }

inline Error insert(const char* name, double value) { return {vinsert(name, value), 0}; }
inline Error insert(std::string_view name, double value) { return insert(std::string(name).c_str(), value); }

// Stores a value under a name, creating the variable when it is new.
inline Error set(const char* name, double value) {
    int h = vlookup(name);
    return {h >= 0 ? vsetvalue(h, value) : vinsert(name, value), 0};
}
inline Error set(std::string_view name, double value) { return set(std::string(name).c_str(), value); }

inline Error set(int handle, double value) { return {vsetvalue(handle, value), 0}; }

inline Result get(int handle) {
    double value = vgetvalue(handle);
    return {value, Error::last()};
}

inline Result get(const char* name) {
    int h = vlookup(name);
    if (h < 0) return {0.0, {TALLYMAT_E_INVALID_VARIABLE, 0}};
    return get(h);
}
inline Result get(std::string_view name) { return get(std::string(name).c_str()); }

// The stored upper-case name, or "" for an invalid handle.
inline std::string name(int handle) {
    const char* stored = vgetname(handle);
    return stored ? stored : "";
}

// Removes every variable; formulas that name variables stop evaluating (code 20).
inline void clear() { vclr(); }

}  // namespace variables

}  // namespace tallymat

#endif  // C++17
#endif  // TALLYMAT_HPP
