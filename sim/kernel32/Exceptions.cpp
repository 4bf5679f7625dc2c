// kernel32.dll: the unhandled-exception filter over the host's fault signals.
//
// Once a filter is set, a fault (SIGSEGV, SIGBUS, SIGILL, SIGFPE) or a breakpoint (SIGTRAP)
// in any thread becomes the Windows exception the filter receives, with the thread's
// registers. The filter's answer is honoured as Windows honours it:
//   EXCEPTION_EXECUTE_HANDLER     the process ends, its exit code the exception code
//                                 (of which the host keeps the low 8 bits);
//   EXCEPTION_CONTINUE_EXECUTION  execution resumes with the registers of the CONTEXT;
//   EXCEPTION_CONTINUE_SEARCH     the signal goes on to the handler that was there before
//                                 (the default action, or a sanitizer's report).
#include "platform/sim/win32_api.h"
#include "sim/Call.h"

#include <atomic>
#include <mutex>
#include <signal.h>
#include <string.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> s_filter{nullptr};
struct sigaction s_previous[kSignalCount];
std::once_flag s_installed;

size_t indexOf(int signal) {
    for (size_t i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal)
            return i;
    return 0;
}

DWORD exceptionCodeOf(int signal, const siginfo_t* info) {
    switch (signal) {
    case SIGSEGV:
        return EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS:
        return EXCEPTION_IN_PAGE_ERROR;
    case SIGILL:
        return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
        if (info->si_code == FPE_INTDIV)
            return EXCEPTION_INT_DIVIDE_BY_ZERO;
        return info->si_code == FPE_FLTDIV ? EXCEPTION_FLT_DIVIDE_BY_ZERO
                                           : EXCEPTION_FLT_INVALID_OPERATION;
    default:
        return EXCEPTION_BREAKPOINT;
    }
}

void contextOf(const ucontext_t* uc, CONTEXT& context) {
    const greg_t* r = uc->uc_mcontext.gregs;
    memset(&context, 0, sizeof context);
    context.ContextFlags = CONTEXT_FULL | CONTEXT_SEGMENTS;
    context.Rax = static_cast<DWORD64>(r[REG_RAX]);
    context.Rcx = static_cast<DWORD64>(r[REG_RCX]);
    context.Rdx = static_cast<DWORD64>(r[REG_RDX]);
    context.Rbx = static_cast<DWORD64>(r[REG_RBX]);
    context.Rsp = static_cast<DWORD64>(r[REG_RSP]);
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
    context.Rip = static_cast<DWORD64>(r[REG_RIP]);
    context.EFlags = static_cast<DWORD>(r[REG_EFL]);
    context.SegCs = static_cast<WORD>(r[REG_CSGSFS] & 0xFFFF);
    context.SegGs = static_cast<WORD>((r[REG_CSGSFS] >> 16) & 0xFFFF);
    context.SegFs = static_cast<WORD>((r[REG_CSGSFS] >> 32) & 0xFFFF);
    if (uc->uc_mcontext.fpregs) {
        static_assert(sizeof(*uc->uc_mcontext.fpregs) == sizeof(context.FltSave), "FXSAVE");
        memcpy(context.FltSave, uc->uc_mcontext.fpregs, sizeof context.FltSave);
        context.MxCsr = uc->uc_mcontext.fpregs->mxcsr;
    }
}

// Writes the registers a filter may have changed back into the thread's state.
void applyContext(const CONTEXT& context, ucontext_t* uc) {
    greg_t* r = uc->uc_mcontext.gregs;
    r[REG_RAX] = static_cast<greg_t>(context.Rax);
    r[REG_RCX] = static_cast<greg_t>(context.Rcx);
    r[REG_RDX] = static_cast<greg_t>(context.Rdx);
    r[REG_RBX] = static_cast<greg_t>(context.Rbx);
    r[REG_RSP] = static_cast<greg_t>(context.Rsp);
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
    r[REG_RIP] = static_cast<greg_t>(context.Rip);
    r[REG_EFL] = static_cast<greg_t>(context.EFlags);
}

// Hands the signal on to whoever handled it before the filter was set.
void passOn(int signal, siginfo_t* info) {
    sigaction(signal, &s_previous[indexOf(signal)], nullptr);
    // A signal sent by a call (raise, kill) does not come back by itself; a fault does, when
    // the faulting instruction runs again.
    if (info->si_code <= 0 || signal == SIGTRAP)
        raise(signal);
}

void onSignal(int signal, siginfo_t* info, void* ucontext) {
    auto* uc = static_cast<ucontext_t*>(ucontext);
    LPTOP_LEVEL_EXCEPTION_FILTER filter = s_filter.load();
    if (!filter) {
        passOn(signal, info);
        return;
    }
    EXCEPTION_RECORD record;
    memset(&record, 0, sizeof record);
    record.ExceptionCode = exceptionCodeOf(signal, info);
    record.ExceptionAddress = reinterpret_cast<PVOID>(uc->uc_mcontext.gregs[REG_RIP]);
    if (signal == SIGSEGV || signal == SIGBUS) {
        // Parameter 0: 0 read, 1 write (the page-fault error code's write bit); 1: address.
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = (uc->uc_mcontext.gregs[REG_ERR] & 2) ? 1 : 0;
        record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
    }
    CONTEXT context;
    contextOf(uc, context);
    EXCEPTION_POINTERS pointers = {&record, &context};
    LONG answer = filter(&pointers);
    if (answer == EXCEPTION_EXECUTE_HANDLER)
        _exit(static_cast<int>(record.ExceptionCode));
    if (answer == EXCEPTION_CONTINUE_EXECUTION) {
        applyContext(context, uc);
        return;
    }
    passOn(signal, info);
}

void installHandlers() {
    for (size_t i = 0; i < kSignalCount; ++i) {
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_sigaction = onSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(kSignals[i], &action, &s_previous[i]);
    }
}

} // namespace

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI
SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    sim::Call call("kernel32.dll", "SetUnhandledExceptionFilter");
    call.args("filter=%p", reinterpret_cast<void*>(filter));
    if (filter)
        std::call_once(s_installed, installHandlers);
    return call.finish(s_filter.exchange(filter));
}
