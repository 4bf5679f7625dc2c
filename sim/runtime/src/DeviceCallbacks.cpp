// The device callbacks the simulated runtime hands to a driver. Each one checks the
// runtime device handle and its argument, consults fault injection, turns the driver's
// D3DDDICB_* record into the kernel thunk's D3DKMT_* record and journals the call under
// "d3d9.dll".
#include "DeviceCallbacks.h"

#include "sim/Call.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

namespace sim {
namespace rt {

namespace {

constexpr const char* kModule = "d3d9.dll";

// The common shape: a live device, an argument, no injected fault.
template <class A, class F> HRESULT serve(const char* entry, HANDLE hDevice, A* pData, F&& work) {
    RuntimeDevice* pDevice = RuntimeDevice::fromHandle(hDevice);
    Call call(kModule, entry, pDevice ? pDevice->adapter().gpu() : kNoGpu);
    if (!pDevice || !pData)
        return call.finish(E_INVALIDARG);
    if (call.faulted())
        return call.finish(HRESULT(call.faultStatus()));
    try {
        return call.finish(work(*pDevice, *pData, call));
    } catch (...) {
        return call.finish(E_OUTOFMEMORY);
    }
}

HRESULT APIENTRY allocateCb(HANDLE hDevice, D3DDDICB_ALLOCATE* pData) {
    return serve("AllocateCb", hDevice, pData, [](RuntimeDevice& d, D3DDDICB_ALLOCATE& a, Call& c) {
        c.args("hResource=%p NumAllocations=%u", a.hResource, a.NumAllocations);
        return d.allocateCb(a);
    });
}
HRESULT APIENTRY deallocateCb(HANDLE hDevice, const D3DDDICB_DEALLOCATE* pData) {
    return serve("DeallocateCb", hDevice, pData,
                 [](RuntimeDevice& d, const D3DDDICB_DEALLOCATE& a, Call& c) {
                     c.args("hResource=%p NumAllocations=%u", a.hResource, a.NumAllocations);
                     return d.deallocateCb(a);
                 });
}
HRESULT APIENTRY setPriorityCb(HANDLE hDevice, D3DDDICB_SETPRIORITY* pData) {
    return serve(
        "SetPriorityCb", hDevice, pData,
        [](RuntimeDevice& d, D3DDDICB_SETPRIORITY& a, Call&) { return d.setPriorityCb(a); });
}
HRESULT APIENTRY queryResidencyCb(HANDLE hDevice, const D3DDDICB_QUERYRESIDENCY* pData) {
    return serve("QueryResidencyCb", hDevice, pData,
                 [](RuntimeDevice& d, const D3DDDICB_QUERYRESIDENCY& a, Call&) {
                     return d.queryResidencyCb(a);
                 });
}
HRESULT APIENTRY setDisplayModeCb(HANDLE hDevice, D3DDDICB_SETDISPLAYMODE* pData) {
    return serve("SetDisplayModeCb", hDevice, pData,
                 [](RuntimeDevice& d, D3DDDICB_SETDISPLAYMODE& a, Call& c) {
                     c.args("hPrimaryAllocation=0x%x", a.hPrimaryAllocation);
                     return d.setDisplayModeCb(a);
                 });
}
HRESULT APIENTRY presentCb(HANDLE hDevice, D3DDDICB_PRESENT* pData) {
    return serve("PresentCb", hDevice, pData, [](RuntimeDevice& d, D3DDDICB_PRESENT& a, Call& c) {
        c.args("hSrcAllocation=0x%x hDstAllocation=0x%x hContext=%p", a.hSrcAllocation,
               a.hDstAllocation, a.hContext);
        return d.presentCb(a);
    });
}
HRESULT APIENTRY renderCb(HANDLE hDevice, D3DDDICB_RENDER* pData) {
    return serve("RenderCb", hDevice, pData, [](RuntimeDevice& d, D3DDDICB_RENDER& a, Call& c) {
        c.args("CommandLength=%u NumAllocations=%u hContext=%p", a.CommandLength, a.NumAllocations,
               a.hContext);
        return d.renderCb(a);
    });
}
HRESULT APIENTRY lockCb(HANDLE hDevice, D3DDDICB_LOCK* pData) {
    return serve("LockCb", hDevice, pData, [](RuntimeDevice& d, D3DDDICB_LOCK& a, Call& c) {
        c.args("hAllocation=0x%x Flags=0x%x", a.hAllocation, a.Flags.Value);
        return d.lockCb(a);
    });
}
HRESULT APIENTRY unlockCb(HANDLE hDevice, const D3DDDICB_UNLOCK* pData) {
    return serve("UnlockCb", hDevice, pData,
                 [](RuntimeDevice& d, const D3DDDICB_UNLOCK& a, Call& c) {
                     c.args("NumAllocations=%u", a.NumAllocations);
                     return d.unlockCb(a);
                 });
}
HRESULT APIENTRY escapeCb(HANDLE hAdapter, const D3DDDICB_ESCAPE* pData) {
    RuntimeAdapter* pAdapter = RuntimeAdapter::fromHandle(hAdapter);
    Call call(kModule, "EscapeCb", pAdapter ? pAdapter->gpu() : kNoGpu);
    if (!pAdapter || !pData)
        return call.finish(E_INVALIDARG);
    call.args("hDevice=%p hContext=%p size=%u", pData->hDevice, pData->hContext,
              pData->PrivateDriverDataSize);
    if (call.faulted())
        return call.finish(HRESULT(call.faultStatus()));
    // A device the runtime never made, one of another adapter, or a context without the
    // device it belongs to cannot be routed.
    RuntimeDevice* pDevice = RuntimeDevice::fromHandle(pData->hDevice);
    if ((pData->hDevice && (!pDevice || &pDevice->adapter() != pAdapter)) ||
        (pData->hContext && !pDevice))
        return call.finish(E_INVALIDARG);
    D3DKMT_ESCAPE escape = {};
    escape.hAdapter = pAdapter->kernelAdapter();
    escape.hDevice = pDevice ? pDevice->kernelDevice() : 0;
    escape.Type = D3DKMT_ESCAPE_DRIVERPRIVATE;
    escape.Flags = pData->Flags;
    escape.pPrivateDriverData = pData->pPrivateDriverData;
    escape.PrivateDriverDataSize = pData->PrivateDriverDataSize;
    escape.hContext = D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(pData->hContext));
    return call.finish(toHresult(KernelThunks::get().pfnEscape(&escape)));
}
// The simulated display has no overlays.
template <class A> HRESULT overlay(const char* entry, HANDLE hDevice, A* pData) {
    return serve(entry, hDevice, pData, [](RuntimeDevice&, A&, Call&) { return E_NOTIMPL; });
}
HRESULT APIENTRY createOverlayCb(HANDLE hDevice, D3DDDICB_CREATEOVERLAY* pData) {
    return overlay("CreateOverlayCb", hDevice, pData);
}
HRESULT APIENTRY updateOverlayCb(HANDLE hDevice, const D3DDDICB_UPDATEOVERLAY* pData) {
    return overlay("UpdateOverlayCb", hDevice, pData);
}
HRESULT APIENTRY flipOverlayCb(HANDLE hDevice, const D3DDDICB_FLIPOVERLAY* pData) {
    return overlay("FlipOverlayCb", hDevice, pData);
}
HRESULT APIENTRY destroyOverlayCb(HANDLE hDevice, const D3DDDICB_DESTROYOVERLAY* pData) {
    return overlay("DestroyOverlayCb", hDevice, pData);
}
HRESULT APIENTRY createContextCb(HANDLE hDevice, D3DDDICB_CREATECONTEXT* pData) {
    return serve("CreateContextCb", hDevice, pData,
                 [](RuntimeDevice& d, D3DDDICB_CREATECONTEXT& a, Call& c) {
                     c.args("NodeOrdinal=%u", a.NodeOrdinal);
                     return d.createContextCb(a);
                 });
}
HRESULT APIENTRY destroyContextCb(HANDLE hDevice, const D3DDDICB_DESTROYCONTEXT* pData) {
    return serve("DestroyContextCb", hDevice, pData,
                 [](RuntimeDevice& d, const D3DDDICB_DESTROYCONTEXT& a, Call& c) {
                     c.args("hContext=%p", a.hContext);
                     return d.destroyContextCb(a);
                 });
}
HRESULT APIENTRY createSyncObjectCb(HANDLE hDevice, D3DDDICB_CREATESYNCHRONIZATIONOBJECT* pData) {
    return serve("CreateSynchronizationObjectCb", hDevice, pData,
                 [](RuntimeDevice& d, D3DDDICB_CREATESYNCHRONIZATIONOBJECT& a, Call&) {
                     return d.createSyncObjectCb(a);
                 });
}
HRESULT APIENTRY destroySyncObjectCb(HANDLE hDevice,
                                     const D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT* pData) {
    return serve("DestroySynchronizationObjectCb", hDevice, pData,
                 [](RuntimeDevice& d, const D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT& a, Call&) {
                     return d.destroySyncObjectCb(a);
                 });
}
HRESULT APIENTRY waitForSyncObjectCb(HANDLE hDevice,
                                     const D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT* pData) {
    return serve("WaitForSynchronizationObjectCb", hDevice, pData,
                 [](RuntimeDevice& d, const D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT& a, Call&) {
                     return d.waitForSyncObjectCb(a);
                 });
}
HRESULT APIENTRY signalSyncObjectCb(HANDLE hDevice,
                                    const D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT* pData) {
    return serve("SignalSynchronizationObjectCb", hDevice, pData,
                 [](RuntimeDevice& d, const D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT& a, Call&) {
                     return d.signalSyncObjectCb(a);
                 });
}
HRESULT APIENTRY setAsyncCallbacksCb(HANDLE hDevice, BOOL enable) {
    RuntimeDevice* pDevice = RuntimeDevice::fromHandle(hDevice);
    Call call(kModule, "SetAsyncCallbacksCb", pDevice ? pDevice->adapter().gpu() : kNoGpu);
    call.args("Enable=%d", int(enable));
    // Callbacks are served on any thread, so there is nothing to switch.
    return call.finish(pDevice ? S_OK : E_INVALIDARG);
}
HRESULT APIENTRY setDisplayPrivateDriverFormatCb(
    HANDLE hDevice, const D3DDDICB_SETDISPLAYPRIVATEDRIVERFORMAT* pData) {
    return serve(
        "SetDisplayPrivateDriverFormatCb", hDevice, pData,
        [](RuntimeDevice&, const D3DDDICB_SETDISPLAYPRIVATEDRIVERFORMAT&, Call&) { return S_OK; });
}

} // namespace

const D3DDDI_DEVICECALLBACKS& deviceCallbacks() {
    static const D3DDDI_DEVICECALLBACKS s_callbacks = {allocateCb,
                                                       deallocateCb,
                                                       setPriorityCb,
                                                       queryResidencyCb,
                                                       setDisplayModeCb,
                                                       presentCb,
                                                       renderCb,
                                                       lockCb,
                                                       unlockCb,
                                                       escapeCb,
                                                       createOverlayCb,
                                                       updateOverlayCb,
                                                       flipOverlayCb,
                                                       destroyOverlayCb,
                                                       createContextCb,
                                                       destroyContextCb,
                                                       createSyncObjectCb,
                                                       destroySyncObjectCb,
                                                       waitForSyncObjectCb,
                                                       signalSyncObjectCb,
                                                       setAsyncCallbacksCb,
                                                       setDisplayPrivateDriverFormatCb};
    return s_callbacks;
}

} // namespace rt
} // namespace sim
