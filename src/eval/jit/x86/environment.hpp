// How machine code keeps the host's floating-point environment, one of two
// (core::FpSwitch):
// - SwitchedEnvironment, the switching code: a host whose control bits are
//   the library's keeps its MXCSR, the others get the library's for the
//   evaluation (the load out of the straight path), and the exit gives the
//   host's back as the CPU's costs say (reload it, or compare and reload
//   only when a flag was raised that the host did not have).  Where the
//   exit compares, a program that calls nothing on its straight path keeps
//   the host's value in a register: one load less.
// - HostEnvironment, code that rounds per instruction: MXCSR stays the
//   host's; a probe before the frame sends a flushing host (DAZ or FTZ,
//   which no instruction overrides) on to the switching code with the
//   caller's stack and argument; the standard functions it calls round in
//   their own instructions (elementary::own_rounding_functions), and only
//   helper calls, on slow paths, switch around the call.  x86-64 only, as
//   the instruction forms it needs are.
#pragma once

#include <xbyak/xbyak.h>

#include "core/fp_environment.hpp"
#include "eval/jit/x86/calling_convention.hpp"

namespace tallymat::eval::x86 {

class FrameWriter;

class Environment {
public:
    virtual ~Environment() = default;
    virtual void enter() = 0;                // the prologue, frame included
    virtual void leave() = 0;                // before the frame closes at each exit
    virtual void stubs() = 0;                // out-of-line code behind the failure stubs
    virtual void call_in_library_environment(const void* helper) = 0;
    virtual void after_helper_call() = 0;
};

class SwitchedEnvironment final : public Environment {
public:
    explicit SwitchedEnvironment(FrameWriter& frame) : frame_(frame) {}
    void enter() override;
    void leave() override;
    void stubs() override;
    void call_in_library_environment(const void* helper) override;
    void after_helper_call() override;

private:
    // The host's MXCSR on the Intel exit's way.
    static constexpr Xbyak::Reg32 kHostMxcsr = Xbyak::Reg32(kHostMxcsrRegister);
    FrameWriter& frame_;
    const core::HostMxcsrRestore restore_ = core::fp_switch.restore;
    bool keeps_host_mxcsr_ = false;  // in kHostMxcsr from entry to exit
    Xbyak::Label switch_to_library_, in_library_environment_, restore_host_;
};

#if defined(XBYAK64)
class HostEnvironment final : public Environment {
public:
    HostEnvironment(FrameWriter& frame, const void* for_flushing_host)
        : frame_(frame), for_flushing_host_(for_flushing_host) {}
    void enter() override;
    void leave() override {}  // MXCSR is as the host left it
    void stubs() override;
    void call_in_library_environment(const void* helper) override;
    void after_helper_call() override {}

private:
    FrameWriter& frame_;
    const core::FlushProbe flush_probe_ = core::fp_switch.flush_probe;
    const void* const for_flushing_host_;  // where such a host is sent
    Xbyak::Label flushing_host_;
};
#endif

}  // namespace tallymat::eval::x86
