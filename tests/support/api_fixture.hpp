// Shared helpers of the black-box tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "bits.hpp"
#include "tallymat.h"

// Every test starts from empty tables; the library's state is process-wide.
class Api : public ::testing::Test {
protected:
    void SetUp() override {
        exprclr();
        vclr();
    }
    void TearDown() override {
        exprclr();
        vclr();
    }
};

// Doubles compared bit for bit, with both values shown on failure.
#define EXPECT_SAME_BITS(expected, actual) \
    EXPECT_EQ(bits(expected), bits(actual)) << "expected " << (expected) << ", got " << (actual)

struct Evaluation {
    int handle;
    double value;
    int code;
};

// Translates and evaluates once, keeping the slot.
inline Evaluation translate_and_evaluate(const char* text) {
    int handle = exprpost(text);
    if (handle < 0) return {handle, 0.0, geterrnum()};
    double value = calcpost(handle);
    return {handle, value, geterrnum()};
}
