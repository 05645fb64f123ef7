// A straightforward recursive evaluator for formulas made only of numbers,
// brackets, signs and + - *.  It follows the library's grammar (a sign
// covers the rest of the product chain after it) and its number
// conversion, so its results must match calcpost bit for bit.
#pragma once

#include <cstdint>
#include <optional>

#include "translate/scanner.hpp"

namespace fuzzref {

class Reference {
public:
    explicit Reference(const char* text) : text_(text) {}

    // The value, or nothing when the text uses anything beyond the subset.
    std::optional<double> evaluate() {
        std::optional<double> value = sum();
        skip();
        if (!value || text_[pos_] != '\0') return std::nullopt;
        return value;
    }

private:
    const char* text_;
    int32_t pos_ = 0;

    void skip() { tallymat::translate::skip_whitespace(text_, pos_); }
    char peek() {
        skip();
        return text_[pos_];
    }
    bool is_sign(char c) { return c == '+' || c == '-'; }
    bool is_multiplication() { return peek() == '*' && text_[pos_ + 1] != '*'; }

    // sum := [sign] chain { ("+" | "-") chain }
    std::optional<double> sum() {
        std::optional<double> value = signed_chain();
        while (value && is_sign(peek())) {
            char op = text_[pos_++];
            if (is_sign(peek())) return std::nullopt;  // no sign after + or -
            std::optional<double> right = chain();
            if (!right) return std::nullopt;
            value = op == '+' ? *value + *right : *value - *right;
        }
        return value;
    }

    std::optional<double> signed_chain() {
        if (!is_sign(peek())) return chain();
        char sign = text_[pos_++];
        if (is_sign(peek())) return std::nullopt;
        std::optional<double> value = chain();
        if (value && sign == '-') *value = -*value;
        return value;
    }

    // chain := primary { "*" ( primary | sign chain ) }: a sign after "*"
    // takes the rest of the chain as its operand.
    std::optional<double> chain() {
        std::optional<double> value = primary();
        while (value && is_multiplication()) {
            ++pos_;
            if (is_sign(peek())) {
                std::optional<double> rest = signed_chain();
                if (!rest) return std::nullopt;
                return *value * *rest;
            }
            std::optional<double> right = primary();
            if (!right) return std::nullopt;
            value = *value * *right;
        }
        return value;
    }

    std::optional<double> primary() {
        char c = peek();
        if (c == '(') {
            ++pos_;
            std::optional<double> inner = sum();
            if (!inner || peek() != ')') return std::nullopt;
            ++pos_;
            return inner;
        }
        if ((c >= '0' && c <= '9') || c == '.') return tallymat::translate::read_number(text_, pos_);
        return std::nullopt;
    }
};

}  // namespace fuzzref
