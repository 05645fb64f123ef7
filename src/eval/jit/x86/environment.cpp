// The two ways of keeping the host's floating-point environment (environment.hpp).
// (Built only with the JIT: the target needs Xbyak's header.)
#if TALLYMAT_JIT

#include "eval/jit/x86/environment.hpp"
#include "eval/jit/x86/frame_writer.hpp"

namespace tallymat::eval::x86 {

void SwitchedEnvironment::enter() {
    FrameWriter& f = frame_;
    keeps_host_mxcsr_ = restore_ == core::HostMxcsrRestore::kWhenChanged && !f.calls_on_straight_path();
    f.open_frame_if_framed();
    f.stmxcsr(f.host_mxcsr());
    if (keeps_host_mxcsr_) {
        // Library controls with any flags: kLibraryMxcsr to kLibraryMxcsr + kMxcsrFlags.
        f.mov(kHostMxcsr, f.host_mxcsr());
        f.lea(f.eax, f.ptr[Word(kHostMxcsrRegister) - core::kLibraryMxcsr]);
        f.cmp(f.eax, core::kMxcsrFlags);
        f.ja(switch_to_library_, Xbyak::CodeGenerator::T_NEAR);
    } else {
        f.mov(f.eax, f.host_mxcsr());
        f.and_(f.eax, ~core::kMxcsrFlags);
        f.cmp(f.eax, core::kLibraryMxcsr);
        f.jne(switch_to_library_, Xbyak::CodeGenerator::T_NEAR);
    }
    f.L(in_library_environment_);
}

void SwitchedEnvironment::leave() {
    FrameWriter& f = frame_;
    if (restore_ == core::HostMxcsrRestore::kAlways) {
        f.ldmxcsr(f.host_mxcsr());
    } else if (keeps_host_mxcsr_) {
        f.stmxcsr(f.exit_mxcsr());
        f.cmp(kHostMxcsr, f.exit_mxcsr());
        f.jne(restore_host_, Xbyak::CodeGenerator::T_NEAR);
    } else {
        f.stmxcsr(f.exit_mxcsr());
        f.mov(f.eax, f.exit_mxcsr());
        f.cmp(f.eax, f.host_mxcsr());
        f.jne(restore_host_, Xbyak::CodeGenerator::T_NEAR);
    }
}

void SwitchedEnvironment::stubs() {
    FrameWriter& f = frame_;
    f.L(switch_to_library_);
    f.ldmxcsr(f.pooled(core::kLibraryMxcsr));
    f.jmp(in_library_environment_, Xbyak::CodeGenerator::T_NEAR);
    f.L(restore_host_);  // a flag was raised that the host did not have, or the host's controls differ
    f.ldmxcsr(f.host_mxcsr());
    f.close_frame_if_framed();
    f.ret();
}

void SwitchedEnvironment::call_in_library_environment(const void* helper) { frame_.call(frame_.pointer(helper)); }

// A helper call may overwrite the register that keeps the host's MXCSR.
void SwitchedEnvironment::after_helper_call() {
    if (keeps_host_mxcsr_) frame_.mov(kHostMxcsr, frame_.host_mxcsr());
}

#if defined(XBYAK64)
// A host with DAZ or FTZ set is sent on: either bit makes the least
// subnormal's double zero (the sum), or the read shows them.
void HostEnvironment::enter() {
    FrameWriter& f = frame_;
    const Xbyak::Xmm loaded = EvexForms::loaded();
    switch (flush_probe_) {
        case core::FlushProbe::kSubnormalSum:
            f.vmovsd(loaded, f.pooled(1));
            f.vaddsd(loaded, loaded, loaded | Xbyak::util::T_rn_sae);
            f.vmovq(f.rax, loaded);
            f.test(f.rax, f.rax);
            f.jz(flushing_host_, Xbyak::CodeGenerator::T_NEAR);
            break;
        case core::FlushProbe::kReadMxcsr:
            f.stmxcsr(f.ptr[f.rsp + kFrame.unframed_mxcsr]);
            f.test(f.dword[f.rsp + kFrame.unframed_mxcsr], core::kMxcsrFlushBits);
            f.jnz(flushing_host_, Xbyak::CodeGenerator::T_NEAR);
            break;
    }
    f.open_frame_if_framed();
}

void HostEnvironment::stubs() {
    frame_.L(flushing_host_);
    frame_.jmp(frame_.pointer(for_flushing_host_));
}

// The helper, C++ like the rest of the library, runs in the library's
// MXCSR, and the host's comes back after it.
void HostEnvironment::call_in_library_environment(const void* helper) {
    FrameWriter& f = frame_;
    f.stmxcsr(f.ptr[f.rsp + kFrame.host_mxcsr]);
    f.ldmxcsr(f.pooled(core::kLibraryMxcsr));
    f.call(f.pointer(helper));
    f.ldmxcsr(f.ptr[f.rsp + kFrame.host_mxcsr]);
}
#endif

}  // namespace tallymat::eval::x86

#endif
