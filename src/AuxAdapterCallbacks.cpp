// AuxAdapterCallbacks: the auxiliary driver's adapter callbacks, on the kernel thunks.
#include "AuxAdapterCallbacks.h"

#include "Report.h"
#include "platform/KernelThunks.h"
#include "utils.h"

#include <memory>
#include <new>

namespace {

D3DKMT_HANDLE kernelHandleOf(HANDLE hAdapter) {
    return static_cast<D3DKMT_HANDLE>(reinterpret_cast<uintptr_t>(hAdapter));
}

} // namespace

namespace AuxAdapterCallbacks {

HRESULT APIENTRY pfnQueryAdapterInfoCb(HANDLE hAdapter, const D3DDDICB_QUERYADAPTERINFO* pData) {
    if (!VESSA_CHECK(Warning, 0, pData != nullptr, "auxilliary QueryAdapterInfoCb without data"))
        return E_INVALIDARG;
    D3DKMT_QUERYADAPTERINFO query = {};
    query.hAdapter = kernelHandleOf(hAdapter);
    query.Type = KMTQAITYPE_UMDRIVERPRIVATE;
    query.pPrivateDriverData = pData->pPrivateDriverData;
    query.PrivateDriverDataSize = pData->PrivateDriverDataSize;
    // The kernel writes the answer straight into the driver's buffer.
    NTSTATUS status = KernelThunks::get().pfnQueryAdapterInfo(&query);
    if (NT_SUCCESS(status))
        return S_OK;
    HRESULT result = kernelStatusToHResult(status);
    VESSA_REPORT_AT(61, Warning, 0, "false",
                    "auxilliary QueryAdapterInfoCb failed (kmtResponse=%#x,retVal=%#x)",
                    static_cast<unsigned>(status), static_cast<unsigned>(result));
    return result;
}

HRESULT APIENTRY pfnGetMultisampleMethodListCb(HANDLE hAdapter,
                                               D3DDDICB_GETMULTISAMPLEMETHODLIST* pData) {
    if (!VESSA_CHECK(Warning, 0, pData != nullptr,
                     "auxilliary GetMultisampleMethodListCb without data"))
        return E_INVALIDARG;
    D3DKMT_GETMULTISAMPLEMETHODLIST query = {};
    query.hAdapter = kernelHandleOf(hAdapter);
    query.VidPnSourceId = pData->VidPnSourceId;
    query.Width = pData->Width;
    query.Height = pData->Height;
    query.Format = pData->Format;
    query.MethodCount = pData->MethodCount;

    // The kernel's method records are 12 bytes, the driver's 8: the kernel fills a list of
    // its own, which is then converted into the driver's, never written over it.
    std::unique_ptr<D3DKMT_MULTISAMPLEMETHOD[]> kernelList;
    if (pData->pMethodList && pData->MethodCount) {
        kernelList.reset(new (std::nothrow) D3DKMT_MULTISAMPLEMETHOD[pData->MethodCount]());
        if (!VESSA_CHECK(Warning, 0, kernelList != nullptr,
                         "auxilliary GetMultisampleMethodListCb: no memory for %u methods",
                         pData->MethodCount))
            return E_OUTOFMEMORY;
    }
    query.pMethodList = kernelList.get();

    NTSTATUS status = KernelThunks::get().pfnGetMultisampleMethodList(&query);
    if (NT_SUCCESS(status)) {
        if (kernelList) {
            // A kernel that claims more methods than the list holds has not written them:
            // the driver gets what its list holds, and a count that says so.
            const UINT filled =
                query.MethodCount < pData->MethodCount ? query.MethodCount : pData->MethodCount;
            VESSA_CHECK(Warning, 0, query.MethodCount <= pData->MethodCount,
                        "auxilliary GetMultisampleMethodListCb: the kernel reported %u methods "
                        "for a list of %u",
                        query.MethodCount, pData->MethodCount);
            for (UINT i = 0; i < filled; ++i) {
                pData->pMethodList[i].NumSamples = kernelList[i].NumSamples;
                pData->pMethodList[i].NumQualityLevels = kernelList[i].NumQualityLevels;
            }
            query.MethodCount = filled;
        }
        pData->MethodCount = query.MethodCount;
        return S_OK;
    }
    HRESULT result = kernelStatusToHResult(status);
    VESSA_REPORT_AT(89, Warning, 0, "false",
                    "auxilliary GetMultisampleMethodListCb failed (kmtResponse=%#x,retVal=%#x)",
                    static_cast<unsigned>(status), static_cast<unsigned>(result));
    return result;
}

void fill(D3DDDI_ADAPTERCALLBACKS* pCallbacks) {
    pCallbacks->pfnQueryAdapterInfoCb = pfnQueryAdapterInfoCb;
    pCallbacks->pfnGetMultisampleMethodListCb = pfnGetMultisampleMethodListCb;
}

} // namespace AuxAdapterCallbacks
