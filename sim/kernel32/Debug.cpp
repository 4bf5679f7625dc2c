// kernel32.dll: the last error and the debugger.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <signal.h>

namespace {

const char kModule[] = "kernel32.dll";

} // namespace

DWORD WINAPI GetLastError(void) {
    return sim::lastError();
}

void WINAPI SetLastError(DWORD error) {
    sim::setLastError(error);
}

BOOL WINAPI IsDebuggerPresent(void) {
    return sim::Machine::instance().debuggerAttached() ? TRUE : FALSE;
}

void WINAPI DebugBreak(void) {
    sim::Machine& machine = sim::Machine::instance();
    bool attached = machine.debuggerAttached();
    {
        sim::Call call(kModule, "DebugBreak");
        call.args("debugger=%d", attached ? 1 : 0);
    }
    if (attached) {
        // The simulated debugger takes the break and lets the process go on.
        machine.noteDebugBreak();
        return;
    }
    // Without a debugger a breakpoint is an unhandled exception, as on Windows.
    raise(SIGTRAP);
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    sim::Call call(kModule, "OutputDebugStringA");
    call.args("%s", text ? text : "");
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
    sim::Call call(kModule, "OutputDebugStringW");
    call.args("%s", sim::toUtf8(sim::wideOf(text)).c_str());
}
