// The adapter and device function tables the simulated drivers hand to the runtime. One
// set of entries per driver module, so that a call with a handle no driver gave out is
// still journalled under the module it was made to.
#pragma once

#include "platform/win.h"

namespace sim {
namespace umd {

/// Fills the adapter table with the entries of one driver module (profile index).
void fillAdapterFuncs(int profileIndex, D3DDDI_ADAPTERFUNCS& table);
/// Fills every slot of the device table with the entries of one driver module.
void fillDeviceFuncs(int profileIndex, D3DDDI_DEVICEFUNCS& table);

/// What an entry without a real implementation returns: S_OK where the runtime only
/// hands state over, E_NOTIMPL where it would expect something back.
HRESULT unimplementedResult(unsigned slot);

} // namespace umd
} // namespace sim
