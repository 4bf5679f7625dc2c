// Helpers shared by the routes of the wrapped device entries.
#pragma once

#include "Device9.h"
#include "DeviceFuncs_auto.h"
#include "FlipManager.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "ResourceDDI9.h"
#include "SwapChainDDI9.h"

namespace DeviceFuncs {

/// The rendering GPU's index.
inline unsigned renderingIndex() {
    return static_cast<unsigned>(OpenAdapter::renderingGPU());
}

/// The presenting GPU's index.
inline unsigned presentingIndex() {
    return static_cast<unsigned>(OpenAdapter::presentingGPU());
}

/// Two GPUs: the application renders on one and is shown on the other.
inline bool isHybrid() {
    return OpenAdapter::renderingGPU() != OpenAdapter::presentingGPU();
}

/// True when the draws of the current frame are skipped (drop-draw mode, dropped frame).
inline bool dropsFrame(Device* pDevice) {
    return pDevice->m_pFlipManager && pDevice->m_pFlipManager->dropsDraws();
}

/// Calls `member` of the rendering GPU's table with the runtime's arguments unchanged (the
/// runtime's device handle is the rendering GPU driver's own): the route of an entry that
/// needs nothing else. A driver without the entry fails the call.
template <typename Pfn, typename... Args>
HRESULT forwardToRendering(Device* pDevice, Pfn D3DDDI_DEVICEFUNCS::*member, const char* name,
                           Args... args) {
    Pfn entry = pDevice->deviceFuncs(renderingIndex()).*member;
    if (!VESSA_CHECK(Error, 0, entry != nullptr, "%s: the rendering GPU's driver has no entry",
                     name))
        return E_FAIL;
    return entry(args...);
}

/// As forwardToRendering, unless the current frame's draws are skipped: S_OK then, and the
/// driver never sees the call.
template <typename Pfn, typename... Args>
HRESULT forwardUnlessDropped(Device* pDevice, Pfn D3DDDI_DEVICEFUNCS::*member, const char* name,
                             Args... args) {
    if (dropsFrame(pDevice))
        return S_OK;
    return forwardToRendering(pDevice, member, name, args...);
}

/// Exchanges the runtime's resource handle `*pHandle` for the handle that names the
/// resource on the rendering GPU (the primary's for a shared resource). False, reported,
/// for a handle the device does not know or that names nothing there.
bool exchangeForPresentHandle(Device* pDevice, HANDLE* pHandle);

} // namespace DeviceFuncs
