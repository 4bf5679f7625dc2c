// The entry point behind each simulated driver module's "OpenAdapter" export.
#pragma once

#include "platform/win.h"
#include "sim/Export.h"

namespace sim {
namespace umd {

/// Opens an adapter for the driver of one vendor profile (0 Intel, 1 NVIDIA, 2 ATI): the
/// work of that module's OpenAdapter export.
SIM_API HRESULT openAdapterForProfile(int profileIndex, D3DDDIARG_OPENADAPTER* pOpenData);

} // namespace umd
} // namespace sim
