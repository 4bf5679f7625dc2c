// A stand-in for ddraw.dll on the simulated machine: an adapter opened from a device context
// by this module's own code (the interposer gives ddraw.dll the rendering GPU's adapter).
#include "platform/win.h"

/// D3DKMTOpenAdapterFromHdc of gdi32.dll, called from inside this module.
VESSA_EXPORT NTSTATUS ddrawTestOpenAdapterFromHdc(D3DKMT_OPENADAPTERFROMHDC* args) {
    auto open =
        reinterpret_cast<NTSTATUS(APIENTRY*)(D3DKMT_OPENADAPTERFROMHDC*)>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("gdi32.dll"), "D3DKMTOpenAdapterFromHdc")));
    if (!open)
        return static_cast<NTSTATUS>(0xC0000001); // STATUS_UNSUCCESSFUL
    NTSTATUS status = open(args);
    asm volatile("" ::: "memory"); // no tail call: the call must come from this module
    return status;
}
