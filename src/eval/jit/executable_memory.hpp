// The pages generated code lives in, from the operating system: written
// while writable, then sealed, code pages read-and-execute and the pool's
// read-only, never writable and executable at once.  mmap and mprotect on
// Linux, VirtualAlloc and VirtualProtect on Windows, where the system's
// unwinder is also told about a program's frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallymat::eval::executable_memory {

size_t page_bytes();
inline size_t whole_pages(size_t bytes) { return (bytes + page_bytes() - 1) / page_bytes() * page_bytes(); }

// A writable area of `bytes` (whole pages) at a random distance below
// `target`, within 1 GiB and some, so that code there reaches it with 32-bit
// displacements and where code lies does not follow from where the library
// lies; elsewhere when the system will not place it there; null on failure.
void* map_writable_near(const void* target, size_t bytes);

// Keeps the first `used` bytes of the `mapped` ones and gives the rest back;
// the first `code_bytes` become read-and-execute, the others read-only.
// False, and everything given back, on failure.
bool seal(void* area, size_t mapped, size_t code_bytes, size_t used);

void unmap(void* area, size_t bytes);

// Windows: registers the function table entry at `table` (within the sealed
// area, as are the unwind data it names) so that debuggers, profilers and
// crash handlers can walk through the code; the handle to unregister it, or
// null.  Nothing elsewhere.
void* register_unwind_table(void* area, const void* table);
void unregister_unwind_table(void* handle);

}  // namespace tallymat::eval::executable_memory
