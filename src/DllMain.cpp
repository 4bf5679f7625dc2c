// The library entry point of vessad3d9u.dll.
#include "AppHandling.h"

#include "platform/win.h"

VESSA_EXPORT BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)module;
    (void)reserved;
    // Only the process attach does work; the rest of the system is created on first use.
    if (reason == DLL_PROCESS_ATTACH)
        initProcess();
    return TRUE;
}
