// simtest.dll: a module for the loader tests. Its DllMain records each call in the
// machine's journal, so a test can count attaches and detaches after the module is gone.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"

extern "C" __attribute__((visibility("default"))) BOOL WINAPI DllMain(HINSTANCE module,
                                                                      DWORD reason, LPVOID) {
    sim::Call call("simtest.dll", "DllMain");
    call.args("reason=%u module=%p", reason, static_cast<void*>(module));
    return call.finish(TRUE);
}

/// An export for GetProcAddress.
extern "C" __attribute__((visibility("default"))) int simtestAnswer() {
    return 42;
}

/// An internal function, never exported.
extern "C" int simtestHidden() {
    return 7;
}
