// AuxDeviceCallbacks: the device callbacks the auxiliary GPU's driver receives.
//
// The runtime does not know the auxiliary GPU, so it cannot serve that driver's device
// callbacks. The driver was created with the device's view for its GPU as its runtime
// device handle; each callback turns the driver's D3DDDICB_* argument into the matching
// D3DKMT_* argument for the device's kernel device on that GPU, calls the kernel thunk and
// hands the kernel's status back translated into the HRESULT the driver knows.
#pragma once

#include "platform/win.h"

namespace AuxDeviceCallbacks {

/// Fills `pCallbacks` with the callbacks, slot by slot.
void fill(D3DDDI_DEVICECALLBACKS* pCallbacks);

#define VESSA_AUXDEVICECALLBACKS_DECLARE(slot, member, Pfn, params, args)                          \
    HRESULT APIENTRY member params;
VESSA_DDI_DEVICECALLBACKS(VESSA_AUXDEVICECALLBACKS_DECLARE)
#undef VESSA_AUXDEVICECALLBACKS_DECLARE

} // namespace AuxDeviceCallbacks
