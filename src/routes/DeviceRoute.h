// Helpers shared by the routes of the wrapped device entries.
#pragma once

#include "Device9.h"
#include "DeviceFuncs_auto.h"
#include "OpenAdapter.h"
#include "Report.h"

namespace DeviceFuncs {

/// The rendering GPU's index.
inline unsigned renderingIndex() {
    return static_cast<unsigned>(OpenAdapter::renderingGPU());
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

} // namespace DeviceFuncs
