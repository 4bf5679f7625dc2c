// utils: small helpers shared by the adapter and device callbacks.
#pragma once

#include "platform/win.h"

#include <stddef.h>
#include <stdint.h>

/// Turns a kernel thunk's NTSTATUS into the HRESULT the system hands back to a vendor driver
/// from a callback, so the driver sees the codes it knows from the runtime's own callbacks.
/// A status missing from the table is reported and becomes E_FAIL.
HRESULT kernelStatusToHResult(NTSTATUS status);

/// The video present source of the primary display: a device context is created for the
/// enumerator's record 0 and the kernel adapter opened from it. Returns 0xFFFFFFFF when no
/// device context could be created, and 0 (reported) when the kernel open failed.
/// When `pPrimaryAdapter` is given and the open succeeded, the kernel adapter stays open and
/// its handle is stored there for the caller to close; otherwise it is closed here and 0
/// is stored.
UINT getPrimaryVidPnSourceId(D3DKMT_HANDLE* pPrimaryAdapter = nullptr);
