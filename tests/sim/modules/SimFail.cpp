// simfail.dll: a module whose DllMain refuses DLL_PROCESS_ATTACH.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"

extern "C" __attribute__((visibility("default"))) BOOL WINAPI DllMain(HINSTANCE module,
                                                                      DWORD reason, LPVOID) {
    sim::Call call("simfail.dll", "DllMain");
    call.args("reason=%u module=%p", reason, static_cast<void*>(module));
    return call.finish(reason == DLL_PROCESS_ATTACH ? FALSE : TRUE);
}
