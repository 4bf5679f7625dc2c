// The device callback table the simulated runtime hands to drivers.
#pragma once

#include "KernelStatus.h"
#include "platform/KernelThunks.h"
#include "platform/win.h"

namespace sim {
namespace rt {

/// One table for every device; the first argument names the runtime device.
const D3DDDI_DEVICECALLBACKS& deviceCallbacks();

} // namespace rt
} // namespace sim
