/*
 * tallymat: translate arithmetic formulas once, evaluate them often.
 *
 * The library keeps process-wide state (100 variables, 100 translated
 * formulas, the last error) and serves one calling thread at a time.
 * Every call except the three error queries leaves a code in the last
 * error; 0 means success.  Messages are fixed Russian texts in the
 * Windows-1251 code page.  A null pointer given where a text is expected
 * is read as the empty text.
 *
 * Operators: + - * / mod div, ^ (power: x^2 is exactly x*x, every other
 * power correctly rounded by the library's own pow) and ** (integer power);
 * see the README.
 *
 * Floating point: exprpost and calcpost compute in the library's own
 * environment (round to nearest, every exception masked, subnormals kept)
 * and give the host its environment back exactly as it was, sticky flags
 * included; a host's traps, rounding mode or flush-to-zero settings change
 * neither the bits of a result nor turn a failure into a signal.
 *
 * Threads: one thread at a time, and not even two evaluations at once: the
 * value stack and the last error are shared.  Guard every call with one lock.
 * Unloading the library frees every variable and translated formula.
 */
#ifndef TALLYMAT_H
#define TALLYMAT_H

#include "tallymat_version.h"

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(TALLYMAT_STATIC)
#    define TALLYMAT_API
#  elif defined(TALLYMAT_BUILDING)
#    define TALLYMAT_API __declspec(dllexport)
#  else
#    define TALLYMAT_API __declspec(dllimport)
#  endif
#else
#  define TALLYMAT_API __attribute__((visibility("default")))
#endif

/* 32-bit Windows: stdcall, the Windows API's own convention, which VBA and
   VB6 Declare statements and Delphi's stdcall expect; the names are exported
   undecorated all the same ("vinsert", not "_vinsert@12").  Everywhere else
   the platform's C convention. */
#if defined(_WIN32) && !defined(_WIN64)
#  define TALLYMAT_CALL __stdcall
#else
#  define TALLYMAT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Error codes: the index of each message in the library's table. */
enum {
    TALLYMAT_OK = 0,
    TALLYMAT_E_NO_CLOSING_BRACKET = 1,      /* a ")" is missing */
    TALLYMAT_E_NO_FUNCTION_BRACKET = 2,     /* no "(" after a function name */
    TALLYMAT_E_SURPLUS_BRACKET = 3,         /* a ")" without its "(" */
    TALLYMAT_E_UNDEFINED_SYMBOL = 4,        /* unknown name or character */
    TALLYMAT_E_BUFFER_OVERFLOW = 5,         /* expression buffer overflow */
    TALLYMAT_E_UNDEFINED_OPERATION = 6,     /* no operator where one is due */
    TALLYMAT_E_NO_MEMORY = 7,
    TALLYMAT_E_VARIABLE_TABLE_FULL = 8,
    TALLYMAT_E_DUPLICATE = 9,
    TALLYMAT_E_UNEXPECTED_END = 10,         /* the text ends where it may not */
    TALLYMAT_E_DIVISION_BY_ZERO = 11,
    TALLYMAT_E_SINGULARITY = 12,            /* never set in practice */
    TALLYMAT_E_DOMAIN = 13,
    TALLYMAT_E_OVERFLOW = 14,
    TALLYMAT_E_UNDERFLOW = 15,
    TALLYMAT_E_PRECISION_LOSS = 16,
    TALLYMAT_E_TABLE_NOT_CREATED = 17,      /* never set */
    TALLYMAT_E_TOO_MANY_EXPRESSIONS = 18,
    TALLYMAT_E_INVALID_VARIABLE = 19,
    TALLYMAT_E_INVALID_EXPRESSION = 20,
    TALLYMAT_E_EMPTY_STRING = 21
};

/* Adds a variable (name stored upper-cased); returns 0, 7, 8 or 9, also
   left in the last error.  A null name is the empty name. */
TALLYMAT_API int TALLYMAT_CALL vinsert(const char* name, double value);
/* Returns the handle of the named variable (case-insensitive) or -1; leaves 0.
   A null name is the empty name. */
TALLYMAT_API int TALLYMAT_CALL vlookup(const char* name);
/* Returns the value of a variable, or 0.0 for an invalid handle; leaves 0 or 19. */
TALLYMAT_API double TALLYMAT_CALL vgetvalue(int handle);
/* Stores a value; returns 0, or 19 for an invalid handle; leaves the same. */
TALLYMAT_API int TALLYMAT_CALL vsetvalue(int handle, double value);
/* Returns the stored upper-case name (owned by the library, valid until
   vclr), or null for an invalid handle; leaves 0 or 19. */
TALLYMAT_API const char* TALLYMAT_CALL vgetname(int handle);
/* Removes every variable; programs that name variables become invalid
   (calcpost then leaves 20).  Returns 0; leaves 0. */
TALLYMAT_API int TALLYMAT_CALL vclr(void);

/* Translates a formula; returns its expression handle 0..99, or -1 and
   leaves 1, 2, 3, 4, 5, 6, 7, 10, 18 or 21 with the error offset set.
   A null text is the empty text (21). */
TALLYMAT_API int TALLYMAT_CALL exprpost(const char* text);
/* Releases one translated formula; returns 0, or 20 for an invalid handle;
   leaves the same. */
TALLYMAT_API int TALLYMAT_CALL exprdelete(int handle);
/* Releases every translated formula; returns 0; leaves 0. */
TALLYMAT_API int TALLYMAT_CALL exprclr(void);
/* Evaluates a translated formula; returns its value, or 0.0 and leaves
   11, 13, 14, 15, 16 or 20.  Tell failure from a zero value by geterrnum. */
TALLYMAT_API double TALLYMAT_CALL calcpost(int handle);

/* Returns the last error; leaves it unchanged. */
TALLYMAT_API int TALLYMAT_CALL geterrnum(void);
/* Returns the character offset where the last exprpost stopped; leaves the last error. */
TALLYMAT_API int TALLYMAT_CALL geterroffs(void);
/* Returns the Windows-1251 message of a code (0: of the last error), "" for
   codes outside 0..21; never null; leaves the last error. */
TALLYMAT_API const char* TALLYMAT_CALL getstrerror(int code);

#ifdef __cplusplus
}
#endif

#endif /* TALLYMAT_H */
