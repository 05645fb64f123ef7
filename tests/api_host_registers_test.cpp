// A host that keeps its own values in the registers the calling convention
// leaves to it (System V: rbx, rbp, r12 to r15; Microsoft x64 also rdi, rsi
// and xmm6 to xmm15; i386: ebx, ebp, edi, esi, and the stack pointer, which
// comes back where it was) and calls the library with hostile
// control words: MXCSR with every trap unmasked, rounding up, flush-to-zero
// and denormals-are-zero; the x87 unit at 24-bit precision rounding down.
// On every way out of an exported call (success, each refusal, a math
// failure on the straight path and on a slow path, a frame and none, the
// evaluation that compiles, a free handle, a failed translation) the
// registers and both control words must be as the host left them, and the
// result as in the default state.  Run compiled, interpreted and as the
// formulas reach the threshold (the suite's three runs).
#if defined(__x86_64__) || defined(__i386__)

#include <cstddef>
#include <cstdint>

#include "support/api_fixture.hpp"

namespace {

struct HostState {
    uint64_t registers[8];  // rbx, rbp, r12, r13, r14, r15, rdi, rsi after the call (i386: see kExpected)
    uint64_t xmm[10][2];    // xmm6 to xmm15 after the call (Microsoft x64)
    uint32_t mxcsr_in, mxcsr_out;
    uint16_t x87_in, x87_out;
    uint32_t mxcsr_saved;
    uint16_t x87_saved;
    uint32_t stack_before;  // i386: the stack pointer at the call
};
static_assert(offsetof(HostState, xmm) == 64 && offsetof(HostState, mxcsr_in) == 224 &&
              offsetof(HostState, mxcsr_out) == 228 && offsetof(HostState, x87_in) == 232 &&
              offsetof(HostState, x87_out) == 234 && offsetof(HostState, mxcsr_saved) == 236 &&
              offsetof(HostState, x87_saved) == 240 && offsetof(HostState, stack_before) == 244);

constexpr uint64_t kMarkers[8] = {0x1111111111111111, 0x2222222222222222, 0x3333333333333333,
                                  0x4444444444444444, 0x5555555555555555, 0x6666666666666666,
                                  0x7777777777777777, 0x8888888888888888};
#if defined(__i386__)
// ebx, ebp, edi and esi keep their markers; the stack pointer moves by 0,
// or by the argument a stdcall callee pops (32-bit Windows).
#if defined(_WIN32)
constexpr uint64_t kArgumentPopped = 4;
#else
constexpr uint64_t kArgumentPopped = 0;
#endif
constexpr uint64_t kExpected[8] = {0x11111111, 0x22222222, 0x77777777, 0x88888888, kArgumentPopped};
constexpr int kMarkedRegisters = 5, kMarkedXmm = 0;
#elif defined(_WIN32)
constexpr const uint64_t (&kExpected)[8] = kMarkers;
constexpr int kMarkedRegisters = 8, kMarkedXmm = 10;  // xmm<6+i> holds 0x0606... + i * 0x0101...
#else
constexpr const uint64_t (&kExpected)[8] = kMarkers;
constexpr int kMarkedRegisters = 6, kMarkedXmm = 0;
#endif
constexpr uint32_t kHostileMxcsr = 0xC040;  // traps unmasked, rounding up, FTZ, DAZ
constexpr uint16_t kHostileX87 = 0x047F;    // exceptions masked, 24-bit precision, rounding down

}  // namespace

// call_with_markers(function, argument, state): calls function(argument)
// with the markers in the host's registers and the hostile control words
// loaded, records what the call left, and puts the host's own words back
// before any C++ runs again.
// Both results are kept: xmm0 (i386: st(0)) for calcpost, eax for exprpost.
extern "C" double call_with_markers(const void* function, uintptr_t argument, HostState* state);
extern "C" int call_with_markers_for_int(const void* function, uintptr_t argument, HostState* state);
#if defined(_WIN32) && defined(__x86_64__)
// (.irp repeats a line for each xmm register from 6 to 15.)
asm(R"(
    .text
    .globl call_with_markers
    .globl call_with_markers_for_int
call_with_markers:
call_with_markers_for_int:
    push %rbx
    push %rbp
    push %rdi
    push %rsi
    push %r12
    push %r13
    push %r14
    push %r15
    sub $216, %rsp
    mov %r8, 32(%rsp)
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movups %xmm\n, 48 + 16 * (\n - 6)(%rsp)
    .endr
    stmxcsr 236(%r8)
    fnstcw 240(%r8)
    ldmxcsr 224(%r8)
    fldcw 232(%r8)
    mov %rcx, %r11
    mov %rdx, %rcx
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movabs $0x0101010101010101 * \n, %rax
    movq %rax, %xmm\n
    .endr
    movabs $0x1111111111111111, %rbx
    movabs $0x2222222222222222, %rbp
    movabs $0x3333333333333333, %r12
    movabs $0x4444444444444444, %r13
    movabs $0x5555555555555555, %r14
    movabs $0x6666666666666666, %r15
    movabs $0x7777777777777777, %rdi
    movabs $0x8888888888888888, %rsi
    call *%r11
    mov 32(%rsp), %r8
    mov %rbx, 0(%r8)
    mov %rbp, 8(%r8)
    mov %r12, 16(%r8)
    mov %r13, 24(%r8)
    mov %r14, 32(%r8)
    mov %r15, 40(%r8)
    mov %rdi, 48(%r8)
    mov %rsi, 56(%r8)
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movups %xmm\n, 64 + 16 * (\n - 6)(%r8)
    .endr
    stmxcsr 228(%r8)
    fnstcw 234(%r8)
    ldmxcsr 236(%r8)
    fldcw 240(%r8)
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movups 48 + 16 * (\n - 6)(%rsp), %xmm\n
    .endr
    add $216, %rsp
    pop %r15
    pop %r14
    pop %r13
    pop %r12
    pop %rsi
    pop %rdi
    pop %rbp
    pop %rbx
    ret
)");
#elif defined(__i386__)
// (cdecl, or stdcall on Windows, whose callee pops the argument; 16-byte
// alignment at the call.)
#if defined(_WIN32)
#define I386_SYMBOL(name) "_" #name
#define I386_GLOBAL(name) ".globl _" #name "\n"
#define I386_STATE_AFTER_CALL "36"
#define I386_END ""
#else
#define I386_SYMBOL(name) #name
#define I386_GLOBAL(name) ".globl " #name "\n.type " #name ", @function\n"
#define I386_STATE_AFTER_CALL "40"
#define I386_END ".size call_with_markers, .-call_with_markers\n.section .note.GNU-stack,\"\",@progbits\n.text\n"
#endif
asm(".text\n" I386_GLOBAL(call_with_markers) I386_GLOBAL(call_with_markers_for_int)
    I386_SYMBOL(call_with_markers) ":\n" I386_SYMBOL(call_with_markers_for_int) ":\n"
    R"(
    push %ebx
    push %ebp
    push %esi
    push %edi
    mov 28(%esp), %edx
    stmxcsr 236(%edx)
    fnstcw 240(%edx)
    ldmxcsr 224(%edx)
    fldcw 232(%edx)
    mov 20(%esp), %eax
    mov 24(%esp), %ecx
    sub $8, %esp
    push %ecx
    mov %esp, 244(%edx)
    mov $0x11111111, %ebx
    mov $0x22222222, %ebp
    mov $0x77777777, %edi
    mov $0x88888888, %esi
    call *%eax
    mov )" I386_STATE_AFTER_CALL R"((%esp), %edx
    mov %ebx, 0(%edx)
    mov %ebp, 8(%edx)
    mov %edi, 16(%edx)
    mov %esi, 24(%edx)
    mov %esp, %ecx
    sub 244(%edx), %ecx
    mov %ecx, 32(%edx)
    stmxcsr 228(%edx)
    fnstcw 234(%edx)
    ldmxcsr 236(%edx)
    fldcw 240(%edx)
    mov 244(%edx), %esp
    add $12, %esp
    pop %edi
    pop %esi
    pop %ebp
    pop %ebx
    ret
)" I386_END);
#else
asm(R"(
    .text
    .globl call_with_markers
    .globl call_with_markers_for_int
    .type call_with_markers, @function
    .type call_with_markers_for_int, @function
call_with_markers:
call_with_markers_for_int:
    push %rbx
    push %rbp
    push %r12
    push %r13
    push %r14
    push %r15
    push %rdx
    stmxcsr 236(%rdx)
    fnstcw 240(%rdx)
    ldmxcsr 224(%rdx)
    fldcw 232(%rdx)
    mov %rdi, %rax
    mov %rsi, %rdi
    movabs $0x1111111111111111, %rbx
    movabs $0x2222222222222222, %rbp
    movabs $0x3333333333333333, %r12
    movabs $0x4444444444444444, %r13
    movabs $0x5555555555555555, %r14
    movabs $0x6666666666666666, %r15
    call *%rax
    mov (%rsp), %rdx
    mov %rbx, 0(%rdx)
    mov %rbp, 8(%rdx)
    mov %r12, 16(%rdx)
    mov %r13, 24(%rdx)
    mov %r14, 32(%rdx)
    mov %r15, 40(%rdx)
    stmxcsr 228(%rdx)
    fnstcw 234(%rdx)
    ldmxcsr 236(%rdx)
    fldcw 240(%rdx)
    pop %rdx
    pop %r15
    pop %r14
    pop %r13
    pop %r12
    pop %rbp
    pop %rbx
    ret
    .size call_with_markers, .-call_with_markers
    .section .note.GNU-stack,"",@progbits
    .text
)");
#endif

namespace {

// Calls through the markers and holds the host's state to what it was.
template <typename Result, typename Call>
Result call_as_hostile_host(Call call, const void* function, uintptr_t argument, const char* what) {
    HostState state{};
    state.mxcsr_in = kHostileMxcsr;
    state.x87_in = kHostileX87;
    Result result = call(function, argument, &state);
    for (int i = 0; i < kMarkedRegisters; ++i)
        EXPECT_EQ(state.registers[i], kExpected[i]) << what << ": register " << i;
    for (int i = 0; i < kMarkedXmm; ++i) {
        EXPECT_EQ(state.xmm[i][0], 0x0606060606060606u + 0x0101010101010101u * static_cast<uint64_t>(i)) << what << ": xmm" << 6 + i;
        EXPECT_EQ(state.xmm[i][1], 0u) << what << ": xmm" << 6 + i << "'s upper half";
    }
    EXPECT_EQ(state.mxcsr_out, kHostileMxcsr) << what;
    EXPECT_EQ(state.x87_out, kHostileX87) << what;
    return result;
}

int hostile_exprpost(const char* text) {
    return call_as_hostile_host<int>(call_with_markers_for_int, reinterpret_cast<const void*>(exprpost),
                                     reinterpret_cast<uintptr_t>(text), "exprpost");
}

double hostile_calcpost(int handle) {
    return call_as_hostile_host<double>(call_with_markers, reinterpret_cast<const void*>(calcpost),
                                        static_cast<uintptr_t>(static_cast<uint32_t>(handle)), "calcpost");
}

class HostRegisters : public Api {};

TEST_F(HostRegisters, SurviveEveryWayOutOfTheLibrary) {
    struct Row {
        const char* text;
        double x;
    };
    const Row rows[] = {
        {"x+1", 2},             // success without a frame
        {"x**3+sin(x)", 2},     // success with calls on the straight path
        {"1/x", 0},             // refusals: division, domain, overflow
        {"sqrt(x)", -1},        {"ln(x)", 0},       {"exp(x)", 101},
        {"x^y", 2},             // pow's overflow, through its helper in a frame
        {"x^2", 1e300},         // the square's slow path, failing without a frame
        {"x^2", 0x1p510},       // and succeeding
        {"sin(x)", 1e16},       // the guard's slow path: total loss
        {"exp(x)", -1000},      // underflow
        {"x*(x+(x*(x+(x*(x+sin(x))))))", 0.5},  // entries spilled around a call
        {"x*(x+(x*(x+(x*(x+1)))))", 0.5},       // deep, no call: xmm6 up on Windows
        {"x mod 0", 1},         {"x div 3", -7},
    };
    vinsert("x", 0.0);
    vinsert("y", 1024.0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        vsetvalue(vlookup("x"), row.x);
        // Translation and the first evaluation (which compiles at threshold
        // 0) as the hostile host, then once more, then as the default host.
        int handle = hostile_exprpost(row.text);
        ASSERT_GE(handle, 0);
        double hostile_first = hostile_calcpost(handle);
        int hostile_code = geterrnum();
        double hostile_again = hostile_calcpost(handle);
        double plain = calcpost(handle);
        EXPECT_EQ(hostile_code, geterrnum());
        EXPECT_SAME_BITS(plain, hostile_first);
        EXPECT_SAME_BITS(plain, hostile_again);
        exprdelete(handle);
    }
    hostile_calcpost(99);
    EXPECT_EQ(geterrnum(), 20);
    EXPECT_EQ(hostile_exprpost("x+"), -1);
    EXPECT_EQ(geterrnum(), 10);
}

}  // namespace

#endif
