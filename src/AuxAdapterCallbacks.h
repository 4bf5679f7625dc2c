// AuxAdapterCallbacks: the adapter callbacks the system gives the auxiliary GPU's driver.
//
// The runtime does not know the auxiliary GPU, so it cannot serve that driver's adapter
// callbacks. The driver was opened with a kernel adapter handle as its runtime handle, so
// every hAdapter it passes back is that kernel handle and goes to the kernel thunk as is.
#pragma once

#include "platform/win.h"

namespace AuxAdapterCallbacks {

/// D3DDDI_ADAPTERCALLBACKS::pfnQueryAdapterInfoCb on the kernel: the driver-private adapter
/// information (KMTQAITYPE_UMDRIVERPRIVATE) into the caller's buffer.
HRESULT APIENTRY pfnQueryAdapterInfoCb(HANDLE hAdapter, const D3DDDICB_QUERYADAPTERINFO* pData);

/// D3DDDI_ADAPTERCALLBACKS::pfnGetMultisampleMethodListCb on the kernel. With no list only
/// the method count is returned.
HRESULT APIENTRY pfnGetMultisampleMethodListCb(HANDLE hAdapter,
                                               D3DDDICB_GETMULTISAMPLEMETHODLIST* pData);

/// Fills a callback table with the two callbacks above.
void fill(D3DDDI_ADAPTERCALLBACKS* pCallbacks);

} // namespace AuxAdapterCallbacks
