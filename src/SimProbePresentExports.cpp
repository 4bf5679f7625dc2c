// Exports of the simulated build only: they let a test read a device's pacing choices inside
// the loaded library.
#include "Device9.h"
#include "FlipManager.h"

#include "platform/win.h"

/// The pacing policy a device runs: ZARI and drop-draw. FALSE for an unknown device or one
/// without a flip manager.
VESSA_EXPORT BOOL vessaProbeFlipManager(HANDLE hDevice, BOOL* pZari, BOOL* pDropDraw) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice || !pDevice->m_pFlipManager || !pZari || !pDropDraw)
        return FALSE;
    DeviceLockGuard lock(pDevice);
    *pZari = pDevice->m_pFlipManager->zari() ? TRUE : FALSE;
    *pDropDraw = pDevice->m_pFlipManager->dropDraw() ? TRUE : FALSE;
    return TRUE;
}
