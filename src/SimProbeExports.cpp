// Exports of the simulated build only: they let a test that loaded vessad3d9u.dll with
// LoadLibraryW see the state the library's own start-up produced inside the module.
#include "AdapterFuncs_auto.h"
#include "AppHandling.h"
#include "GpuEnumerator.h"
#include "OpenAdapter.h"
#include "OpenAdapter9.h"

#include "platform/win.h"

/// The GPU roles as the library holds them.
VESSA_EXPORT void vessaProbeGpuRoles(int* rendering, int* presenting) {
    if (rendering)
        *rendering = OpenAdapter::renderingGPU();
    if (presenting)
        *presenting = OpenAdapter::presentingGPU();
}

/// The library's GPU enumerator (created on this first use, as any caller would).
VESSA_EXPORT GpuEnumerator* vessaProbeGpuEnumerator() {
    return GpuEnumerator::getInstance();
}

/// True once the library's process start-up has run.
VESSA_EXPORT BOOL vessaProbeProcessInitialized() {
    return isProcessInitialized() ? TRUE : FALSE;
}

/// True once the library's quit watcher has seen WM_QUIT on the thread it watches.
VESSA_EXPORT BOOL vessaProbeQuitMessageSeen() {
    return quitMessageSeen() ? TRUE : FALSE;
}

/// The format count the library remembers from the rendering GPU.
VESSA_EXPORT UINT vessaProbeFormatCount() {
    return AdapterFuncs::formatCount();
}
