#include "ThreadRegisters.h"

#include <string.h>

namespace sim {
namespace {

// The architecture bit of the flags (CONTEXT_AMD64) is not looked at.
constexpr DWORD kFlagMask = 0xFF;

} // namespace

void readThreadRegisters(const ucontext_t& uc, CONTEXT& context) {
    const greg_t* r = uc.uc_mcontext.gregs;
    DWORD flags = context.ContextFlags & kFlagMask;
    if (flags & (CONTEXT_CONTROL & kFlagMask)) {
        context.Rip = static_cast<DWORD64>(r[REG_RIP]);
        context.Rsp = static_cast<DWORD64>(r[REG_RSP]);
        context.EFlags = static_cast<DWORD>(r[REG_EFL]);
        context.SegCs = static_cast<WORD>(r[REG_CSGSFS] & 0xFFFF);
        context.SegSs = 0x2B; // the user data selector; Linux does not report it
    }
    if (flags & (CONTEXT_INTEGER & kFlagMask)) {
        context.Rax = static_cast<DWORD64>(r[REG_RAX]);
        context.Rcx = static_cast<DWORD64>(r[REG_RCX]);
        context.Rdx = static_cast<DWORD64>(r[REG_RDX]);
        context.Rbx = static_cast<DWORD64>(r[REG_RBX]);
        context.Rbp = static_cast<DWORD64>(r[REG_RBP]);
        context.Rsi = static_cast<DWORD64>(r[REG_RSI]);
        context.Rdi = static_cast<DWORD64>(r[REG_RDI]);
        context.R8 = static_cast<DWORD64>(r[REG_R8]);
        context.R9 = static_cast<DWORD64>(r[REG_R9]);
        context.R10 = static_cast<DWORD64>(r[REG_R10]);
        context.R11 = static_cast<DWORD64>(r[REG_R11]);
        context.R12 = static_cast<DWORD64>(r[REG_R12]);
        context.R13 = static_cast<DWORD64>(r[REG_R13]);
        context.R14 = static_cast<DWORD64>(r[REG_R14]);
        context.R15 = static_cast<DWORD64>(r[REG_R15]);
    }
    if (flags & (CONTEXT_SEGMENTS & kFlagMask)) {
        context.SegGs = static_cast<WORD>((r[REG_CSGSFS] >> 16) & 0xFFFF);
        context.SegFs = static_cast<WORD>((r[REG_CSGSFS] >> 32) & 0xFFFF);
        context.SegDs = context.SegEs = 0;
    }
    if ((flags & (CONTEXT_FLOATING_POINT & kFlagMask)) && uc.uc_mcontext.fpregs) {
        static_assert(sizeof(*uc.uc_mcontext.fpregs) == sizeof(context.FltSave), "FXSAVE");
        memcpy(context.FltSave, uc.uc_mcontext.fpregs, sizeof context.FltSave);
        context.MxCsr = uc.uc_mcontext.fpregs->mxcsr;
    }
}

void writeThreadRegisters(const CONTEXT& context, ucontext_t& uc) {
    greg_t* r = uc.uc_mcontext.gregs;
    DWORD flags = context.ContextFlags & kFlagMask;
    if (flags & (CONTEXT_CONTROL & kFlagMask)) {
        r[REG_RIP] = static_cast<greg_t>(context.Rip);
        r[REG_RSP] = static_cast<greg_t>(context.Rsp);
        r[REG_EFL] = static_cast<greg_t>(context.EFlags);
    }
    if (flags & (CONTEXT_INTEGER & kFlagMask)) {
        r[REG_RAX] = static_cast<greg_t>(context.Rax);
        r[REG_RCX] = static_cast<greg_t>(context.Rcx);
        r[REG_RDX] = static_cast<greg_t>(context.Rdx);
        r[REG_RBX] = static_cast<greg_t>(context.Rbx);
        r[REG_RBP] = static_cast<greg_t>(context.Rbp);
        r[REG_RSI] = static_cast<greg_t>(context.Rsi);
        r[REG_RDI] = static_cast<greg_t>(context.Rdi);
        r[REG_R8] = static_cast<greg_t>(context.R8);
        r[REG_R9] = static_cast<greg_t>(context.R9);
        r[REG_R10] = static_cast<greg_t>(context.R10);
        r[REG_R11] = static_cast<greg_t>(context.R11);
        r[REG_R12] = static_cast<greg_t>(context.R12);
        r[REG_R13] = static_cast<greg_t>(context.R13);
        r[REG_R14] = static_cast<greg_t>(context.R14);
        r[REG_R15] = static_cast<greg_t>(context.R15);
    }
    if ((flags & (CONTEXT_FLOATING_POINT & kFlagMask)) && uc.uc_mcontext.fpregs) {
        memcpy(uc.uc_mcontext.fpregs, context.FltSave, sizeof context.FltSave);
        uc.uc_mcontext.fpregs->mxcsr = context.MxCsr;
    }
}

} // namespace sim
