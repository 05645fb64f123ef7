// The operating system's side of the machine code (executable_memory.hpp).
#include "eval/jit/executable_memory.hpp"

#if TALLYMAT_JIT

#if defined(_WIN32)
#define _CRT_RAND_S  // rand_s
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdlib>

namespace tallymat::eval::executable_memory {

namespace {

constexpr uintptr_t kBelowTheTarget = uintptr_t{64} << 20;
constexpr uintptr_t kPlacementWindow = uintptr_t{1} << 30;

// A random multiple of `granularity` below the placement window; 0 when the
// system gives no randomness.
uintptr_t random_offset(uintptr_t granularity) {
    uint64_t random = 0;
#if defined(_WIN32)
    unsigned int low = 0, high = 0;
    if (rand_s(&low) != 0 || rand_s(&high) != 0) return 0;
    random = (uint64_t{high} << 32) | low;
#else
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) return 0;
#endif
    return static_cast<uintptr_t>(random % (kPlacementWindow / granularity)) * granularity;
}

// Where below the target the area is asked for, aligned to `granularity`; 0: anywhere.
uintptr_t placement_below(const void* target, size_t bytes, uintptr_t granularity) {
    auto at = reinterpret_cast<uintptr_t>(target);
    uintptr_t below = kBelowTheTarget + random_offset(granularity) + bytes;
    return at > below ? (at - below) / granularity * granularity : 0;
}

}  // namespace

#if defined(_WIN32)

size_t page_bytes() {
    static const size_t bytes = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<size_t>(info.dwPageSize);
    }();
    return bytes;
}

// VirtualAlloc places an area only at a multiple of the allocation granularity (64 KiB).
void* map_writable_near(const void* target, size_t bytes) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    uintptr_t hint = placement_below(target, bytes, info.dwAllocationGranularity);
    void* area = nullptr;
    if (hint) area = VirtualAlloc(reinterpret_cast<void*>(hint), bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!area) area = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    return area;
}

bool seal(void* area, size_t mapped, size_t code_bytes, size_t used) {
    auto* bytes = static_cast<unsigned char*>(area);
    DWORD previous;
    if (used < mapped) VirtualFree(bytes + used, mapped - used, MEM_DECOMMIT);
    if (VirtualProtect(area, code_bytes, PAGE_EXECUTE_READ, &previous) &&
        (code_bytes == used || VirtualProtect(bytes + code_bytes, used - code_bytes, PAGE_READONLY, &previous))) {
        FlushInstructionCache(GetCurrentProcess(), area, code_bytes);
        return true;
    }
    VirtualFree(area, 0, MEM_RELEASE);
    return false;
}

void unmap(void* area, size_t) { VirtualFree(area, 0, MEM_RELEASE); }

#if defined(_WIN64)
void* register_unwind_table(void* area, const void* table) {
    auto* entry = const_cast<RUNTIME_FUNCTION*>(static_cast<const RUNTIME_FUNCTION*>(table));
    return RtlAddFunctionTable(entry, 1, reinterpret_cast<DWORD64>(area)) ? entry : nullptr;
}

void unregister_unwind_table(void* handle) {
    if (handle) RtlDeleteFunctionTable(static_cast<RUNTIME_FUNCTION*>(handle));
}
#else
// 32-bit Windows finds exception handlers through a chain on the stack:
// code that never touches it needs no table.
void* register_unwind_table(void*, const void*) { return nullptr; }
void unregister_unwind_table(void*) {}
#endif

#else

size_t page_bytes() {
    static const size_t bytes = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return bytes;
}

void* map_writable_near(const void* target, size_t bytes) {
    uintptr_t hint = placement_below(target, bytes, page_bytes());
    void* area = mmap(reinterpret_cast<void*>(hint), bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return area == MAP_FAILED ? nullptr : area;
}

bool seal(void* area, size_t mapped, size_t code_bytes, size_t used) {
    auto* bytes = static_cast<unsigned char*>(area);
    if (used < mapped) munmap(bytes + used, mapped - used);
    if (mprotect(area, code_bytes, PROT_READ | PROT_EXEC) == 0 &&
        (code_bytes == used || mprotect(bytes + code_bytes, used - code_bytes, PROT_READ) == 0))
        return true;
    munmap(area, used);
    return false;
}

void unmap(void* area, size_t bytes) { munmap(area, bytes); }

void* register_unwind_table(void*, const void*) { return nullptr; }
void unregister_unwind_table(void*) {}

#endif

}  // namespace tallymat::eval::executable_memory

#endif
