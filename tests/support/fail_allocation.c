/* Preloaded (LD_PRELOAD) into a program to make its Nth heap allocation
 * fail, N from FAIL_ALLOCATION: malloc, calloc and realloc count alike, and
 * only that one call fails, as when memory runs out for a moment. */
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);

static long remaining = -2; /* -2: not read yet; -1: nothing fails */

static int this_one_fails(void) {
    if (remaining == -2) {
        const char* n = getenv("FAIL_ALLOCATION");
        remaining = n ? atol(n) : -1;
    }
    if (remaining <= 0) return 0;
    if (--remaining > 0) return 0;
    remaining = -1;
    errno = ENOMEM;
    return 1;
}

void* malloc(size_t size) { return this_one_fails() ? NULL : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return this_one_fails() ? NULL : __libc_calloc(count, size); }
void* realloc(void* block, size_t size) { return this_one_fails() ? NULL : __libc_realloc(block, size); }
