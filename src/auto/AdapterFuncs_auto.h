// AdapterFuncs_auto: the adapter entries the runtime receives in place of a vendor
// driver's, generated from the DDI header's D3DDDI_ADAPTERFUNCS list.
#pragma once

#include "platform/win.h"

class Adapter;

namespace AdapterFuncs {

/// Writes the system's pfnGetCaps, pfnCreateDevice and pfnCloseAdapter into `pFuncs`.
void fill(D3DDDI_ADAPTERFUNCS* pFuncs);

/// The wrapped entries, each finding its adapter by handle (an unknown handle fails the
/// call with E_FAIL) and routing as the routing functions below do.
#define VESSA_ADAPTERFUNCS_DECLARE(slot, member, Pfn, params, args) HRESULT APIENTRY member params;
VESSA_DDI_ADAPTERFUNCS(VESSA_ADAPTERFUNCS_DECLARE)
#undef VESSA_ADAPTERFUNCS_DECLARE

// Routing, one overload per entry, called with the adapter the wrapper found.

/// GetCaps: capability queries go to the rendering GPU, except the gamma-ramp caps
/// (presenting GPU). The format count is remembered process-wide, and the format data gains
/// display and 3D-acceleration support for A2R10G10B10 when the primary display lists modes
/// in it.
HRESULT route(Adapter* pAdapter, HANDLE hAdapter, const D3DDDIARG_GETCAPS* pData);
/// CreateDevice: the adapter's own.
HRESULT route(Adapter* pAdapter, HANDLE hAdapter, D3DDDIARG_CREATEDEVICE* pCreateData);
/// CloseAdapter: the adapter's own; the adapter object is destroyed afterwards.
HRESULT route(Adapter* pAdapter, HANDLE hAdapter);

/// The format count the rendering GPU last reported (0 before any GETFORMATCOUNT).
UINT formatCount();

} // namespace AdapterFuncs
