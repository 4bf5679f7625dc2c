// OpenAdapterHelper: finding a GPU's vendor user-mode driver and its OpenAdapter export.
#pragma once

#include "platform/win.h"

/// The "OpenAdapter" export of the Direct3D 9 user-mode driver of the enumerator's GPU
/// `index`: the kernel names the driver file (KMTQAITYPE_UMDRIVERNAME), which is loaded and
/// stays loaded for the life of the process. Null, reported, for a bad index, a GPU without
/// device key, a failed query, a driver that does not load or one without the export.
PFND3DDDI_OPENADAPTER getOpenAdapterFuncPtr(int index);
