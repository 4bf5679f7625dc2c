// Exports of the simulated build only: they let a test that loaded vessad3d9u.dll with
// LoadLibraryW see the state the library's own start-up produced inside the module.
#include "AppHandling.h"
#include "GpuEnumerator.h"
#include "OpenAdapter.h"

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
