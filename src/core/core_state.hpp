// Library frame: the error registers every exported call reports through.
#pragma once

#include <cstdint>

static_assert(sizeof(int) == 4, "the C interface passes codes, handles and offsets as 32-bit int");

namespace tallymat::core {

inline constexpr int32_t kMessageCount = 22;  // codes 0 to 21

// Error codes as the library uses them internally (same values as the
// TALLYMAT_* constants of the public header).
enum Code : int32_t {
    kOk = 0,
    kNoClosingBracket = 1,
    kNoFunctionBracket = 2,
    kSurplusBracket = 3,
    kUndefinedSymbol = 4,
    kBufferOverflow = 5,
    kUndefinedOperation = 6,
    kNoMemory = 7,
    kVariableTableFull = 8,
    kDuplicate = 9,
    kUnexpectedEnd = 10,
    kDivisionByZero = 11,
    kSingularity = 12,
    kDomain = 13,
    kOverflow = 14,
    kUnderflow = 15,
    kPrecisionLoss = 16,
    kTableNotCreated = 17,
    kTooManyExpressions = 18,
    kInvalidVariable = 19,
    kInvalidExpression = 20,
    kEmptyString = 21,
};

// Process-wide registers, one copy per process that loads the library.
struct CoreState {
    int32_t last_error;    // code of the latest operation that writes it
    int32_t error_offset;  // where the latest exprpost stopped
};

extern CoreState core_state;

inline void set_last_error(int32_t code) { core_state.last_error = code; }

// Records a code and hands it back, for operations whose result is the code.
inline int32_t report(int32_t code) {
    core_state.last_error = code;
    return code;
}

// The Windows-1251 message of a code, "" outside 0..21; never null.
const char* message_for(int32_t code);

}  // namespace tallymat::core
