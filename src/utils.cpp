// utils: kernel status translation and the primary display's video present source.
#include "utils.h"

#include "GpuEnumerator.h"
#include "Report.h"
#include "platform/KernelThunks.h"

namespace {

struct KernelStatusTranslation {
    uint32_t status;  // NTSTATUS as the kernel thunk returned it
    uint32_t hresult; // what a vendor driver's callback receives instead
};

// Kept as plain numbers: the names of several of these statuses are DWORD on one build and
// NTSTATUS on the other, and the values are what matters here.
const KernelStatusTranslation kStatusTable[] = {
    {0x00000000u, 0x00000000u}, // STATUS_SUCCESS -> S_OK
    {0xC0000001u, 0x00000001u}, // STATUS_UNSUCCESSFUL -> 1: deliberately not a failure code
    {0xC0000008u, 0x88760873u}, // STATUS_INVALID_HANDLE
    {0xC01E0106u, 0x88760873u},
    {0xC000000Du, 0x80070057u}, // STATUS_INVALID_PARAMETER ->
                                // E_INVALIDARG
    {0xC0000017u, 0x8007000Eu}, // STATUS_NO_MEMORY -> E_OUTOFMEMORY
    {0xC000001Du, 0x88760872u},
    {0xC0000096u, 0x88760871u},
    {0xC00000E8u, 0x88760879u},
    {0xC00002B6u, 0x88760870u}, // STATUS_DEVICE_REMOVED
    {0xC01E0100u, 0x8876017Cu},
    {0xC01E0102u, 0x8876021Cu}, // D3DERR_WASSTILLDRAWING
    {0xC01E0103u, 0x80004005u}, // E_FAIL
    {0xC01E0109u, 0xC0262109u},
    {0xC01E0111u, 0xC0262111u},
    {0xC01E0200u, 0x8876086Au},
};

} // namespace

HRESULT kernelStatusToHResult(NTSTATUS status) {
    const uint32_t value = static_cast<uint32_t>(status);
    for (const KernelStatusTranslation& row : kStatusTable) {
        if (row.status == value)
            return static_cast<HRESULT>(row.hresult);
    }
    VESSA_REPORT_AT(115, Warning, 0, "false", "unknown error code");
    return E_FAIL;
}

UINT getPrimaryVidPnSourceId(D3DKMT_HANDLE* pPrimaryAdapter) {
    if (pPrimaryAdapter)
        *pPrimaryAdapter = 0;
    const DISPLAY_DEVICEA* primary = GpuEnumerator::getInstance()->getDisplayDeviceA(0);
    if (!primary)
        return 0xFFFFFFFFu;
    HDC dc = CreateDCA(nullptr, primary->DeviceName, nullptr, nullptr);
    if (!dc)
        return 0xFFFFFFFFu;

    D3DKMT_OPENADAPTERFROMHDC open = {};
    open.hDc = dc;
    const KernelThunkTable& kmt = KernelThunks::get();
    NTSTATUS status = kmt.pfnOpenAdapterFromHdc(&open);
    DeleteDC(dc);
    if (!NT_SUCCESS(status)) {
        VESSA_REPORT(Warning, 0, "false", "Cannot get VidPnSourceId of primary device");
        return 0;
    }
    if (pPrimaryAdapter) {
        *pPrimaryAdapter = open.hAdapter;
    } else {
        D3DKMT_CLOSEADAPTER close = {open.hAdapter};
        kmt.pfnCloseAdapter(&close);
    }
    return open.VidPnSourceId;
}
