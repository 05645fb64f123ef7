// Library frame: the error registers every exported call reports through.
#pragma once

#include <cstdint>

#include "tallymat.h"
#include "core/visibility.hpp"

static_assert(sizeof(int) == 4, "the C interface passes codes, handles and offsets as 32-bit int");

namespace tallymat::core {

inline constexpr int32_t kMessageCount = 22;  // codes 0 to 21

// Error codes as the library uses them internally: the public constants,
// under shorter names.
enum Code : int32_t {
    kOk = TALLYMAT_OK,
    kNoClosingBracket = TALLYMAT_E_NO_CLOSING_BRACKET,
    kNoFunctionBracket = TALLYMAT_E_NO_FUNCTION_BRACKET,
    kSurplusBracket = TALLYMAT_E_SURPLUS_BRACKET,
    kUndefinedSymbol = TALLYMAT_E_UNDEFINED_SYMBOL,
    kBufferOverflow = TALLYMAT_E_BUFFER_OVERFLOW,
    kUndefinedOperation = TALLYMAT_E_UNDEFINED_OPERATION,
    kNoMemory = TALLYMAT_E_NO_MEMORY,
    kVariableTableFull = TALLYMAT_E_VARIABLE_TABLE_FULL,
    kDuplicate = TALLYMAT_E_DUPLICATE,
    kUnexpectedEnd = TALLYMAT_E_UNEXPECTED_END,
    kDivisionByZero = TALLYMAT_E_DIVISION_BY_ZERO,
    kSingularity = TALLYMAT_E_SINGULARITY,
    kDomain = TALLYMAT_E_DOMAIN,
    kOverflow = TALLYMAT_E_OVERFLOW,
    kUnderflow = TALLYMAT_E_UNDERFLOW,
    kPrecisionLoss = TALLYMAT_E_PRECISION_LOSS,
    kTableNotCreated = TALLYMAT_E_TABLE_NOT_CREATED,
    kTooManyExpressions = TALLYMAT_E_TOO_MANY_EXPRESSIONS,
    kInvalidVariable = TALLYMAT_E_INVALID_VARIABLE,
    kInvalidExpression = TALLYMAT_E_INVALID_EXPRESSION,
    kEmptyString = TALLYMAT_E_EMPTY_STRING,
};
static_assert(kEmptyString + 1 == kMessageCount, "one message per code");

// Process-wide registers, one copy per process that loads the library.
struct ErrorRegisters {
    int32_t last_error;    // code of the latest operation that writes it
    int32_t error_offset;  // where the latest exprpost stopped
};

extern TALLYMAT_HIDDEN ErrorRegisters error_registers;

inline void set_last_error(int32_t code) { error_registers.last_error = code; }

// Records a code and hands it back, for operations whose result is the code.
inline int32_t report(int32_t code) {
    error_registers.last_error = code;
    return code;
}

// The Windows-1251 message of a code, "" outside 0..21; never null.
const char* message_for(int32_t code);

}  // namespace tallymat::core
