// Call-sequence harness: the input bytes choose calls and their arguments;
// a small model of the tables checks every answer.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/invariants.hpp"
#include "translate/slots.hpp"

namespace {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int32_t handle() {
        switch (byte() % 8) {
            case 0: return INT32_MIN;
            case 1: return -1;
            case 2: return 100;
            case 3: return INT32_MAX;
            default: return byte() % 101;
        }
    }
    double value() {
        static const double special[] = {0.0, -0.0, INFINITY, -INFINITY, NAN, -NAN, 0x1p-1074, -0x1p-1030,
                                         1e308, 1e-10, 2.0, -7.5, 1e16, 709.79, -708.4, 0.5};
        uint8_t choice = byte();
        if (choice < 200) return special[choice % 16];
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = bits << 8 | byte();
        return std::bit_cast<double>(bits);
    }
    std::string text() {
        size_t length = byte() % 48;
        std::string out;
        for (size_t i = 0; i < length && !empty(); ++i) {
            char c = static_cast<char>(byte());
            if (c == '\0') break;
            out += c;
        }
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// What the harness knows of the library's tables.
struct Model {
    bool occupied[100] = {};
    bool names_variables[100] = {};
    bool stale[100] = {};
    int variables = 0;
};

// Read from the translated program itself: does any item name a variable?
bool refers_to_variables(int handle) {
    using namespace tallymat::translate;
    using namespace tallymat::program;
    const Slot& slot = expr_table.slots[handle];
    for (int32_t i = 0; i < slot.count; ++i)
        if (slot.items[i].kind == kVariableItem) return true;
    return false;
}

void reset(Model& model) {
    exprclr();
    vclr();
    model = Model{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    Model model;
    reset(model);
    static const char* const kNames[] = {"a", "B", "x", "mod", "sin", "", "y_1", "z9"};

    while (!in.empty()) {
        switch (in.byte() % 12) {
            case 0: {
                const char* name = in.byte() % 10 == 0 ? nullptr : kNames[in.byte() % 8];
                int code = vinsert(name, in.value());
                fuzzcheck::expect_codes("vinsert", {0, 7, 8, 9});
                if (code == 0) ++model.variables;
                if (code != geterrnum()) fuzzcheck::violated("vinsert result differs from the last error");
                break;
            }
            case 1: {
                int handle = in.handle();
                int code = vsetvalue(handle, in.value());
                fuzzcheck::expect_codes("vsetvalue", {0, 19});
                if ((code == 0) != (handle >= 0 && handle < model.variables)) fuzzcheck::violated("vsetvalue validity");
                break;
            }
            case 2: {
                int handle = in.handle();
                vgetvalue(handle);
                fuzzcheck::expect_codes("vgetvalue", {0, 19});
                const char* name = vgetname(handle);
                fuzzcheck::expect_codes("vgetname", {0, 19});
                if ((name != nullptr) != (handle >= 0 && handle < model.variables)) fuzzcheck::violated("vgetname validity");
                break;
            }
            case 3: {
                const char* name = kNames[in.byte() % 8];
                int handle = vlookup(name);
                fuzzcheck::expect_codes("vlookup", {0});
                if (handle < -1 || handle >= model.variables) fuzzcheck::violated("vlookup handle out of range");
                break;
            }
            case 4:
                if (vclr() != 0) fuzzcheck::violated("vclr");
                fuzzcheck::expect_codes("vclr", {0});
                model.variables = 0;
                for (int i = 0; i < 100; ++i) model.stale[i] = model.stale[i] || model.names_variables[i];
                break;
            case 5: case 6: {
                std::string text = in.text();
                bool pass_null = text.empty() && in.byte() % 4 == 0;
                int handle = exprpost(pass_null ? nullptr : text.c_str());
                fuzzcheck::check_translation(handle, pass_null ? nullptr : text.c_str());
                if (handle >= 0) {
                    if (model.occupied[handle]) fuzzcheck::violated("exprpost reused an occupied slot", text.c_str());
                    for (int i = 0; i < handle; ++i)
                        if (!model.occupied[i]) fuzzcheck::violated("exprpost skipped a free slot", text.c_str());
                    model.occupied[handle] = true;
                    model.names_variables[handle] = refers_to_variables(handle);
                    model.stale[handle] = false;
                }
                break;
            }
            case 7: case 8: {
                int handle = in.handle();
                double value = calcpost(handle);
                fuzzcheck::check_evaluation(value);
                bool valid = handle >= 0 && handle < 100 && model.occupied[handle];
                if (!valid && geterrnum() != 20) fuzzcheck::violated("calcpost of a free or invalid handle");
                if (valid && model.stale[handle] && geterrnum() != 20) fuzzcheck::violated("stale program evaluated");
                if (valid && !model.stale[handle] && geterrnum() == 20) fuzzcheck::violated("occupied slot refused");
                break;
            }
            case 9: {
                int handle = in.handle();
                int code = exprdelete(handle);
                fuzzcheck::expect_codes("exprdelete", {0, 20});
                bool valid = handle >= 0 && handle < 100 && model.occupied[handle];
                if ((code == 0) != valid) fuzzcheck::violated("exprdelete validity");
                if (valid) model.occupied[handle] = false;
                break;
            }
            case 10:
                if (exprclr() != 0) fuzzcheck::violated("exprclr");
                fuzzcheck::expect_codes("exprclr", {0});
                for (bool& o : model.occupied) o = false;
                break;
            case 11: {
                int before = geterrnum();
                int code = static_cast<int8_t>(in.byte());
                if (getstrerror(code) == nullptr) fuzzcheck::violated("getstrerror returned null");
                geterroffs();
                if (geterrnum() != before) fuzzcheck::violated("a query changed the last error");
                break;
            }
        }
    }
    reset(model);
    return 0;
}
