// AdapterFuncs_auto: the wrapped adapter entries, one per D3DDDI_ADAPTERFUNCS slot.
//
// Each wrapper has one shape: find the adapter by the runtime's handle, route, and never
// let a C++ exception reach the runtime. The routing functions say where each call goes.
#include "AdapterFuncs_auto.h"

#include "Adapter9.h"
#include "GuardedEntry.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "platform/KernelThunks.h"
#include "utils.h"

#include <atomic>
#include <memory>
#include <new>
#include <type_traits>

namespace {

// Shared by every adapter of the process: the format data a runtime asks for always
// follows its own format count query.
std::atomic<UINT> s_formatCount{0};

HRESULT forwardGetCaps(Adapter* pAdapter, int gpu, const D3DDDIARG_GETCAPS* pData) {
    if (!VESSA_CHECK(Error, 0, gpu >= 0 && gpu < static_cast<int>(DdiObject::kGpuSlots),
                     "GetCaps for GPU %d", gpu))
        return E_FAIL;
    const unsigned index = static_cast<unsigned>(gpu);
    PFND3DDDI_GETCAPS getCaps = pAdapter->vendorFuncs(index).pfnGetCaps;
    const uint64_t handle = pAdapter->getUserHandle(index);
    if (!VESSA_CHECK(Error, 0, getCaps != nullptr, "No GetCaps of GPU %d", gpu))
        return E_FAIL;
    return getCaps(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)), pData);
}

// The display modes of the primary display, or none (empty) when the kernel cannot list
// them. `count` receives the number of modes.
std::unique_ptr<D3DKMT_DISPLAYMODE[]> primaryDisplayModes(Adapter* pAdapter, UINT* count) {
    *count = 0;
    D3DKMT_HANDLE primaryAdapter = 0;
    D3DKMT_GETDISPLAYMODELIST list = {};
    list.VidPnSourceId = getPrimaryVidPnSourceId(&primaryAdapter);
    // The display's own kernel adapter when it could be opened; the adapter's runtime
    // handle otherwise.
    list.hAdapter = primaryAdapter
                        ? primaryAdapter
                        : static_cast<D3DKMT_HANDLE>(pAdapter->ddiHandles().getRuntimeHandle());
    const KernelThunkTable& kmt = KernelThunks::get();
    std::unique_ptr<D3DKMT_DISPLAYMODE[]> modes;
    NTSTATUS status = kmt.pfnGetDisplayModeList(&list);
    if (NT_SUCCESS(status) && list.ModeCount) {
        modes.reset(new (std::nothrow) D3DKMT_DISPLAYMODE[list.ModeCount]());
        list.pModeList = modes.get();
        status = modes ? kmt.pfnGetDisplayModeList(&list) : STATUS_NO_MEMORY;
    }
    if (primaryAdapter) {
        D3DKMT_CLOSEADAPTER close = {primaryAdapter};
        kmt.pfnCloseAdapter(&close);
    }
    if (!NT_SUCCESS(status) || !modes)
        return nullptr;
    *count = list.ModeCount;
    return modes;
}

HRESULT getFormatData(Adapter* pAdapter, const D3DDDIARG_GETCAPS* pData) {
    const UINT formatCount = s_formatCount.load();
    VESSA_CHECK_AT(77, Warning, 0, formatCount, "format data queried before the format count");

    HRESULT hr = forwardGetCaps(pAdapter, OpenAdapter::renderingGPU(), pData);
    if (FAILED(hr))
        return hr;

    UINT modeCount = 0;
    std::unique_ptr<D3DKMT_DISPLAYMODE[]> modes = primaryDisplayModes(pAdapter, &modeCount);
    if (!modes || formatCount == 0 || !pData->pData)
        return hr;

    bool displayHas10Bit = false;
    for (UINT m = 0; m < modeCount; ++m)
        displayHas10Bit = displayHas10Bit || modes[m].Format == D3DDDIFMT_A2R10G10B10;
    if (!displayHas10Bit)
        return hr;

    // Never past the runtime's buffer, whatever the remembered count says.
    UINT records = static_cast<UINT>(pData->DataSize / sizeof(FORMATOP));
    if (records > formatCount)
        records = formatCount;
    FORMATOP* formats = static_cast<FORMATOP*>(pData->pData);
    for (UINT i = 0; i < records; ++i) {
        if (formats[i].Format == D3DDDIFMT_A2R10G10B10)
            formats[i].Operations |= FORMATOP_DISPLAYMODE | FORMATOP_3DACCELERATION;
    }
    return hr;
}

} // namespace

namespace AdapterFuncs {

UINT formatCount() {
    return s_formatCount.load();
}

HRESULT route(Adapter* pAdapter, HANDLE hAdapter, const D3DDDIARG_GETCAPS* pData) {
    (void)hAdapter;
    if (!VESSA_CHECK(Warning, 0, pData != nullptr, "GetCaps without arguments"))
        return E_INVALIDARG;
    switch (pData->Type) {
    case D3DDDICAPS_GETGAMMARAMPCAPS:
        // The gamma ramp is the display's, and the display hangs on the presenting GPU.
        return forwardGetCaps(pAdapter, OpenAdapter::presentingGPU(), pData);
    case D3DDDICAPS_GETFORMATCOUNT: {
        HRESULT hr = forwardGetCaps(pAdapter, OpenAdapter::renderingGPU(), pData);
        if (SUCCEEDED(hr) && pData->pData)
            s_formatCount.store(*static_cast<const UINT*>(pData->pData));
        return hr;
    }
    case D3DDDICAPS_GETFORMATDATA:
        return getFormatData(pAdapter, pData);
    default:
        return forwardGetCaps(pAdapter, OpenAdapter::renderingGPU(), pData);
    }
}

HRESULT route(Adapter* pAdapter, HANDLE hAdapter, D3DDDIARG_CREATEDEVICE* pCreateData) {
    (void)hAdapter;
    return pAdapter->createDevice(pCreateData);
}

HRESULT route(Adapter* pAdapter, HANDLE hAdapter) {
    (void)hAdapter;
    HRESULT hr = pAdapter->closeAdapter();
    // The runtime never uses a closed adapter again, and nothing else holds it.
    delete pAdapter;
    return hr;
}

#define VESSA_UNPAREN(...) __VA_ARGS__
#define VESSA_ADAPTERFUNCS_DEFINE(slot, member, Pfn, params, args)                                 \
    HRESULT APIENTRY member params {                                                               \
        static_assert(std::is_same<decltype(&member), Pfn>::value, #member " signature");          \
        return guardedEntry(#member, [&]() -> HRESULT {                                            \
            Adapter* pAdapter = OpenAdapter::getAdapter(hAdapter);                                 \
            if (!pAdapter)                                                                         \
                return E_FAIL;                                                                     \
            return route(pAdapter, VESSA_UNPAREN args);                                            \
        });                                                                                        \
    }
VESSA_DDI_ADAPTERFUNCS(VESSA_ADAPTERFUNCS_DEFINE)
#undef VESSA_ADAPTERFUNCS_DEFINE

void fill(D3DDDI_ADAPTERFUNCS* pFuncs) {
#define VESSA_ADAPTERFUNCS_FILL(slot, member, Pfn, params, args) pFuncs->member = member;
    VESSA_DDI_ADAPTERFUNCS(VESSA_ADAPTERFUNCS_FILL)
#undef VESSA_ADAPTERFUNCS_FILL
}

} // namespace AdapterFuncs
