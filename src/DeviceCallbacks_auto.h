// DeviceCallbacks_auto: the callbacks the presenting GPU's driver receives in place of the
// runtime's, generated from the DDI header's D3DDDI_DEVICECALLBACKS list.
//
// The driver was created with the device's view 0 as its runtime device handle. Each
// callback turns the view back into the device, puts the runtime's own device handle in its
// place and calls the runtime's callback that the device saved at creation. The arguments
// pass through unchanged otherwise, so the driver works exactly as if it talked to the
// runtime directly.
#pragma once

#include "platform/win.h"

namespace DeviceCallbacks {

/// Fills `pCallbacks` with the wrappers, slot by slot.
void fill(D3DDDI_DEVICECALLBACKS* pCallbacks);

/// Remembers the runtime's pfnEscapeCb of the most recently created device (an escape
/// without a device goes there).
void setProcessEscapeCb(PFND3DDDI_ESCAPECB escapeCb);
PFND3DDDI_ESCAPECB processEscapeCb();

#define VESSA_DEVICECALLBACKS_DECLARE(slot, member, Pfn, params, args)                             \
    HRESULT APIENTRY member params;
VESSA_DDI_DEVICECALLBACKS(VESSA_DEVICECALLBACKS_DECLARE)
#undef VESSA_DEVICECALLBACKS_DECLARE

} // namespace DeviceCallbacks
