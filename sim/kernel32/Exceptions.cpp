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
#include "ThreadRegisters.h"

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
    memset(&context, 0, sizeof context);
    context.ContextFlags = CONTEXT_FULL | CONTEXT_SEGMENTS;
    sim::readThreadRegisters(*uc, context);
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
        sim::writeThreadRegisters(context, *uc); // the registers the filter may have changed
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
