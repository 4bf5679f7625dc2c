// OpenAdapter9: the library's OpenAdapter entry, reached through three exports.
//
// The runtime loads the library where it would load the adapter's vendor driver and calls
// one of the exports where it would call the driver's OpenAdapter. The entry either hands
// the call unchanged to the vendor driver (and takes no further part in that adapter) or
// opens both GPUs through an Adapter and returns the system's adapter function table.
#pragma once

#include "platform/win.h"

#include <stdint.h>

/// The common entry: `vendor` is the export's vendor code (1 NVIDIA, 2 ATI, 3 Intel).
HRESULT openAdapterEntry(D3DDDIARG_OPENADAPTER* pOpenData, uint32_t vendor);

/// Hands the runtime's unchanged arguments to the vendor OpenAdapter of GPU 0 and returns its
/// result; E_FAIL, reported, when that driver or its export cannot be found.
HRESULT forwardOpenAdapter(D3DDDIARG_OPENADAPTER* pOpenData);

/// Number of entries so far (never decremented).
uint32_t openAdapterCount();

/// True once the entry thread's message hook has seen WM_QUIT (after start-up).
bool quitMessageSeen();

VESSA_EXPORT HRESULT APIENTRY OpenAdapter9DetourNV(D3DDDIARG_OPENADAPTER* pOpenData);
VESSA_EXPORT HRESULT APIENTRY OpenAdapter9DetourATI(D3DDDIARG_OPENADAPTER* pOpenData);
VESSA_EXPORT HRESULT APIENTRY OpenAdapter9DetourIntel(D3DDDIARG_OPENADAPTER* pOpenData);
