// AuxDeviceCallbacks: the auxiliary driver's device callbacks, on the kernel thunks.
//
// Every callback finds the device and GPU behind the view the driver passes, builds the
// D3DKMT_* argument for that GPU's kernel device, calls the thunk (through the device's
// kernel call-through table while the GPU services exist), copies the out members back and
// hands the kernel's status back translated. Callbacks take no lock and keep no state, apart
// from the node-0 context a device records.
//
// The report lines below are long-standing report sites; keep them stable.
#include "AuxDeviceCallbacks.h"

#include "Device9.h"
#include "GpuServices.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "platform/KernelThunks.h"
#include "utils.h"

#include <type_traits>

namespace {

#define VESSA_LOCK_CONDITION                                                                       \
    "((HRESULT)0L) == retVal || ((HRESULT) (((unsigned long)(1)<<31) | "                           \
    "((unsigned long)(0x876)<<16) | ((unsigned long)(540))) ) == retVal"

D3DKMT_HANDLE narrow(HANDLE handle) {
    return static_cast<D3DKMT_HANDLE>(reinterpret_cast<uintptr_t>(handle));
}

HANDLE widen(D3DKMT_HANDLE handle) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
}

// The device and GPU behind a driver's device handle, and that GPU's kernel device.
struct Target {
    Device* device = nullptr;
    unsigned gpu = 0;
    D3DKMT_HANDLE kernelDevice = 0;
};

bool findTarget(HANDLE hView, const void* pData, const char* name, Target& target) {
    if (!VESSA_CHECK(Warning, 0, pData != nullptr, "auxilliary %sCb without data", name))
        return false;
    target.device = Device::fromView(hView, &target.gpu);
    if (!target.device)
        return false;
    // An empty slot (or GPU 0, which has no kernel device of the system's) is reported by
    // the handle accessors, and the call goes on with what they read.
    target.kernelDevice =
        static_cast<D3DKMT_HANDLE>(target.device->ddiHandles().getKernelHandle(target.gpu));
    return true;
}

// Calls `thunk` with `pArgs`: through the device's call-through entry `id` while the GPU
// services exist (the interop layer may watch the kernel calls there), directly otherwise.
template <typename Args, typename Thunk>
NTSTATUS callKernel(const Target& target, KernelCallThroughId id, Args* pArgs, Thunk thunk) {
    if (!GpuServices::instance())
        return thunk(pArgs);
    PFNVESSA_KERNELCALLTHROUGH callThrough = target.device->kernelCallThrough(id);
    return callThrough(target.device->interopGroupId(), target.gpu,
                       const_cast<void*>(static_cast<const void*>(pArgs)),
                       reinterpret_cast<VOID*>(thunk));
}

// A kernel failure: translated, reported with the kernel's status and the translation.
HRESULT failure(int line, int code, const char* name, NTSTATUS status) {
    const HRESULT retVal = kernelStatusToHResult(status);
    reportAssertion(ReportLevel::Warning, code, __FILE__, line, "false",
                    "auxilliary %sCb failed (kmtResponse=%#x,retVal=%#x)", name,
                    static_cast<unsigned>(status), static_cast<unsigned>(retVal));
    return retVal;
}

HRESULT result(int line, int code, const char* name, NTSTATUS status) {
    return NT_SUCCESS(status) ? S_OK : failure(line, code, name, status);
}

// The shape of the callbacks that map onto one kernel call: the device's GPU and kernel
// device behind the driver's handle (E_INVALIDARG without them), the call `call(target)`
// makes, a failure translated and reported at `line` with `code`, and on success
// `answer(target)`, which hands the kernel's out members back to the driver.
template <typename Data, typename Call, typename Answer>
HRESULT onKernel(HANDLE hView, Data* pData, const char* name, int line, int code, Call call,
                 Answer answer) {
    Target target;
    if (!findTarget(hView, pData, name, target))
        return E_INVALIDARG;
    const NTSTATUS status = call(target);
    if (!NT_SUCCESS(status))
        return failure(line, code, name, status);
    answer(target);
    return S_OK;
}

// As above, for a call without out members.
template <typename Data, typename Call>
HRESULT onKernel(HANDLE hView, Data* pData, const char* name, int line, int code, Call call) {
    return onKernel(hView, pData, name, line, code, call, [](const Target&) {});
}

// A driver resource handle reaches these callbacks only for a resource the system did not
// create on this GPU itself (the system creates its resources with hResource 0). Whatever
// it names is not dereferenced: the kernel call is made without a kernel resource.
void reportUnwrappedResource(HANDLE hResource, int line, int code) {
    if (hResource)
        VESSA_REPORT_AT(line, Error, code, "false", "resources are not wrapped!!");
}

// Copies a wait or signal list into the kernel's form; false (reported) when the driver
// names more objects than the list holds.
template <typename Kernel, typename Driver>
bool copyObjectList(Kernel& kernel, const Driver& driver, UINT capacity, const char* name) {
    if (!VESSA_CHECK(Warning, 0, driver.ObjectCount <= capacity, "auxilliary %sCb: %u objects",
                     name, driver.ObjectCount))
        return false;
    kernel.hContext = narrow(driver.hContext);
    kernel.ObjectCount = driver.ObjectCount;
    for (UINT i = 0; i < driver.ObjectCount; ++i)
        kernel.ObjectHandleArray[i] = driver.ObjectHandleArray[i];
    return true;
}

HRESULT notSupported(int line, int code, const char* text) {
    VESSA_REPORT_AT(line, Error, code, "0", "%s", text);
    return S_OK;
}

} // namespace

namespace AuxDeviceCallbacks {

HRESULT APIENTRY pfnAllocateCb(HANDLE hDevice, D3DDDICB_ALLOCATE* pData) {
    D3DKMT_CREATEALLOCATION create = {};
    return onKernel(
        hDevice, pData, "Allocate", 141, 1000,
        [&](const Target& target) {
            create.hDevice = target.kernelDevice;
            create.pPrivateDriverData = pData->pPrivateDriverData;
            create.PrivateDriverDataSize = pData->PrivateDriverDataSize;
            create.NumAllocations = pData->NumAllocations;
            create.pAllocationInfo = pData->pAllocationInfo;
            return callKernel(target, kctCreateAllocation, &create,
                              KernelThunks::get().pfnCreateAllocation);
        },
        [&](const Target&) {
            // The kernel wrote the allocation handles into the driver's pAllocationInfo.
            pData->PrivateDriverDataSize = create.PrivateDriverDataSize;
            pData->hKMResource = create.hResource;
            reportUnwrappedResource(pData->hResource, 132, 11035);
        });
}

HRESULT APIENTRY pfnDeallocateCb(HANDLE hDevice, const D3DDDICB_DEALLOCATE* pData) {
    return onKernel(hDevice, pData, "Deallocate", 170, 11037, [&](const Target& target) {
        reportUnwrappedResource(pData->hResource, 160, 11036);
        D3DKMT_DESTROYALLOCATION destroy = {};
        destroy.hDevice = target.kernelDevice;
        destroy.phAllocationList = pData->HandleList;
        destroy.AllocationCount = pData->NumAllocations;
        return callKernel(target, kctDestroyAllocation, &destroy,
                          KernelThunks::get().pfnDestroyAllocation);
    });
}

HRESULT APIENTRY pfnSetPriorityCb(HANDLE hDevice, D3DDDICB_SETPRIORITY* pData) {
    return onKernel(hDevice, pData, "SetPriority", 226, 11039, [&](const Target& target) {
        reportUnwrappedResource(pData->hResource, 202, 11038);
        D3DKMT_SETALLOCATIONPRIORITY priority = {};
        priority.hDevice = target.kernelDevice;
        priority.phAllocationList = pData->HandleList;
        priority.AllocationCount = pData->NumAllocations;
        priority.pPriorities = pData->pPriorities;
        return callKernel(target, kctSetAllocationPriority, &priority,
                          KernelThunks::get().pfnSetAllocationPriority);
    });
}

HRESULT APIENTRY pfnQueryResidencyCb(HANDLE hDevice, const D3DDDICB_QUERYRESIDENCY* pData) {
    VESSA_REPORT_AT(236, Error, 10311, "0", "call back not yet supported failed!");
    // The driver learns what the kernel answered: a failed query leaves its status array
    // unwritten, and success would have it read that as residency.
    return onKernel(hDevice, pData, "QueryResidency", 238, 0, [&](const Target& target) {
        D3DKMT_QUERYALLOCATIONRESIDENCY query = {};
        query.hDevice = target.kernelDevice;
        query.phAllocationList = pData->HandleList;
        query.AllocationCount = pData->NumAllocations;
        query.pResidencyStatus =
            reinterpret_cast<D3DKMT_ALLOCATIONRESIDENCYSTATUS*>(pData->pResidencyStatus);
        return callKernel(target, kctQueryAllocationResidency, &query,
                          KernelThunks::get().pfnQueryAllocationResidency);
    });
}

HRESULT APIENTRY pfnSetDisplayModeCb(HANDLE hDevice, D3DDDICB_SETDISPLAYMODE* pData) {
    (void)hDevice;
    // The rendering GPU drives no display: there is no mode to set.
    if (pData)
        pData->PrivateDriverFormatAttribute = 0;
    return S_OK;
}

HRESULT APIENTRY pfnPresentCb(HANDLE hDevice, D3DDDICB_PRESENT* pData) {
    (void)hDevice;
    (void)pData;
    // Frames are presented by the presenting GPU; the rendering GPU's present is a no-op.
    return S_OK;
}

HRESULT APIENTRY pfnRenderCb(HANDLE hDevice, D3DDDICB_RENDER* pData) {
    Target target;
    if (!findTarget(hDevice, pData, "Render", target))
        return E_INVALIDARG;
    if (!VESSA_CHECK(Warning, 0, pData->BroadcastContextCount <= D3DDDI_MAX_BROADCAST_CONTEXT,
                     "auxilliary RenderCb: %u broadcast contexts", pData->BroadcastContextCount))
        return E_INVALIDARG;
    D3DKMT_RENDER render = {};
    render.hContext = narrow(pData->hContext);
    render.CommandOffset = pData->CommandOffset;
    render.CommandLength = pData->CommandLength;
    render.AllocationCount = pData->NumAllocations;
    render.PatchLocationCount = pData->NumPatchLocations;
    render.pNewCommandBuffer = pData->pNewCommandBuffer;
    render.NewCommandBufferSize = pData->NewCommandBufferSize;
    render.pNewAllocationList = pData->pNewAllocationList;
    render.NewAllocationListSize = pData->NewAllocationListSize;
    render.pNewPatchLocationList = pData->pNewPatchLocationList;
    render.NewPatchLocationListSize = pData->NewPatchLocationListSize;
    render.Flags.Value = pData->Flags.Value;
    render.BroadcastContextCount = pData->BroadcastContextCount;
    for (UINT i = 0; i < pData->BroadcastContextCount; ++i)
        render.BroadcastContext[i] = narrow(pData->BroadcastContext[i]);
    render.QueuedBufferCount = pData->QueuedBufferCount;
    render.pPrivateDriverData = pData->pPrivateDriverData;
    render.PrivateDriverDataSize = pData->PrivateDriverDataSize;
    NTSTATUS status = callKernel(target, kctRender, &render, KernelThunks::get().pfnRender);
    if (!NT_SUCCESS(status))
        return failure(369, 11040, "Render", status);
    // The driver continues in the buffers the kernel handed out.
    pData->pNewCommandBuffer = render.pNewCommandBuffer;
    pData->NewCommandBufferSize = render.NewCommandBufferSize;
    pData->pNewAllocationList = render.pNewAllocationList;
    pData->NewAllocationListSize = render.NewAllocationListSize;
    pData->pNewPatchLocationList = render.pNewPatchLocationList;
    pData->NewPatchLocationListSize = render.NewPatchLocationListSize;
    pData->QueuedBufferCount = render.QueuedBufferCount;
    pData->NewCommandBuffer = render.NewCommandBuffer;
    return S_OK;
}

HRESULT APIENTRY pfnLockCb(HANDLE hDevice, D3DDDICB_LOCK* pData) {
    Target target;
    if (!findTarget(hDevice, pData, "Lock", target))
        return E_INVALIDARG;
    D3DKMT_LOCK lock = {};
    lock.hDevice = target.kernelDevice;
    lock.hAllocation = pData->hAllocation;
    lock.PrivateDriverData = pData->PrivateDriverData;
    lock.NumPages = pData->NumPages;
    lock.pPages = pData->pPages;
    lock.Flags = pData->Flags;
    NTSTATUS status = callKernel(target, kctLock, &lock, KernelThunks::get().pfnLock);
    pData->pData = lock.pData;
    pData->hAllocation = lock.hAllocation;
    if (NT_SUCCESS(status))
        pData->GpuVirtualAddress = lock.GpuVirtualAddress;
    const HRESULT retVal = kernelStatusToHResult(status);
    if (!(((HRESULT)0L) == retVal || D3DERR_WASSTILLDRAWING == retVal))
        reportAssertion(ReportLevel::Warning, 11041, __FILE__, 405, VESSA_LOCK_CONDITION,
                        "auxilliary LockCb failed (kmtResponse=%#x,retVal=%#x)",
                        static_cast<unsigned>(status), static_cast<unsigned>(retVal));
    return retVal;
}

HRESULT APIENTRY pfnUnlockCb(HANDLE hDevice, const D3DDDICB_UNLOCK* pData) {
    return onKernel(hDevice, pData, "Unlock", 437, 11042, [&](const Target& target) {
        D3DKMT_UNLOCK unlock = {};
        unlock.hDevice = target.kernelDevice;
        unlock.NumAllocations = pData->NumAllocations;
        unlock.phAllocations = pData->phAllocations;
        return callKernel(target, kctUnlock, &unlock, KernelThunks::get().pfnUnlock);
    });
}

HRESULT APIENTRY pfnEscapeCb(HANDLE hAdapter, const D3DDDICB_ESCAPE* pData) {
    if (!VESSA_CHECK(Warning, 0, pData != nullptr, "auxilliary EscapeCb without data"))
        return E_INVALIDARG;
    // The auxiliary driver was opened over a kernel adapter: its adapter handle is that.
    Target target;
    if (pData->hDevice && !findTarget(pData->hDevice, pData, "Escape", target))
        return E_INVALIDARG;
    if (!pData->hDevice)
        target.gpu = static_cast<unsigned>(
            OpenAdapter::renderingGPU() < 0 ? 1 : OpenAdapter::renderingGPU());
    D3DKMT_ESCAPE escape = {};
    escape.hAdapter = narrow(hAdapter);
    escape.hDevice = target.kernelDevice;
    escape.Type = D3DKMT_ESCAPE_DRIVERPRIVATE;
    escape.Flags = pData->Flags;
    escape.pPrivateDriverData = pData->pPrivateDriverData;
    escape.PrivateDriverDataSize = pData->PrivateDriverDataSize;
    escape.hContext = narrow(pData->hContext);
    // Escapes always pass the call-through, as group 0: the interop layer sees every one.
    NTSTATUS status;
    if (target.device)
        status = target.device->kernelCallThrough(kctEscape)(
            0, target.gpu, &escape, reinterpret_cast<VOID*>(KernelThunks::get().pfnEscape));
    else
        status = KernelThunks::get().pfnEscape(&escape);
    return result(476, 11043, "Escape", status);
}

HRESULT APIENTRY pfnCreateOverlayCb(HANDLE, D3DDDICB_CREATEOVERLAY*) {
    return notSupported(486, 10313, "callback not yet supported failed!");
}

HRESULT APIENTRY pfnUpdateOverlayCb(HANDLE, const D3DDDICB_UPDATEOVERLAY*) {
    return notSupported(495, 10314, "call back not yet supported failed!");
}

HRESULT APIENTRY pfnFlipOverlayCb(HANDLE, const D3DDDICB_FLIPOVERLAY*) {
    return notSupported(504, 10315, "callback not yet supported failed!");
}

HRESULT APIENTRY pfnDestroyOverlayCb(HANDLE, const D3DDDICB_DESTROYOVERLAY*) {
    return notSupported(515, 10316, "callback not yet supported failed!");
}

HRESULT APIENTRY pfnCreateContextCb(HANDLE hDevice, D3DDDICB_CREATECONTEXT* pData) {
    D3DKMT_CREATECONTEXT create = {};
    return onKernel(
        hDevice, pData, "CreateContext", 581, 11044,
        [&](const Target& target) {
            create.hDevice = target.kernelDevice;
            create.NodeOrdinal = pData->NodeOrdinal;
            create.EngineAffinity = pData->EngineAffinity;
            create.Flags = pData->Flags;
            create.pPrivateDriverData = pData->pPrivateDriverData;
            create.PrivateDriverDataSize = pData->PrivateDriverDataSize;
            create.ClientHint = D3DKMT_CLIENTHINT_DX9;
            return callKernel(target, kctCreateContext, &create,
                              KernelThunks::get().pfnCreateContext);
        },
        [&](const Target& target) {
            pData->hContext = widen(create.hContext);
            pData->pCommandBuffer = create.pCommandBuffer;
            pData->CommandBufferSize = create.CommandBufferSize;
            pData->pAllocationList = create.pAllocationList;
            pData->AllocationListSize = create.AllocationListSize;
            pData->pPatchLocationList = create.pPatchLocationList;
            pData->PatchLocationListSize = create.PatchLocationListSize;
            pData->CommandBuffer = create.CommandBuffer;
            if (pData->NodeOrdinal == 0)
                target.device->setContext(target.gpu, create.hContext);
        });
}

HRESULT APIENTRY pfnDestroyContextCb(HANDLE hDevice, const D3DDDICB_DESTROYCONTEXT* pData) {
    return onKernel(hDevice, pData, "DestroyContext", 614, 11045, [&](const Target& target) {
        D3DKMT_DESTROYCONTEXT destroy = {narrow(pData->hContext)};
        return callKernel(target, kctDestroyContext, &destroy,
                          KernelThunks::get().pfnDestroyContext);
    });
}

HRESULT APIENTRY pfnCreateSynchronizationObjectCb(HANDLE hDevice,
                                                  D3DDDICB_CREATESYNCHRONIZATIONOBJECT* pData) {
    D3DKMT_CREATESYNCHRONIZATIONOBJECT create = {};
    return onKernel(
        hDevice, pData, "CreateSynchronizationObject", 640, 11046,
        [&](const Target& target) {
            create.hDevice = target.kernelDevice;
            create.Info = pData->Info;
            return KernelThunks::get().pfnCreateSynchronizationObject(&create);
        },
        [&](const Target&) { pData->hSyncObject = create.hSyncObject; });
}

HRESULT APIENTRY pfnDestroySynchronizationObjectCb(
    HANDLE hDevice, const D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT* pData) {
    return onKernel(hDevice, pData, "DestroySynchronizationObject", 664, 11047, [&](const Target&) {
        D3DKMT_DESTROYSYNCHRONIZATIONOBJECT destroy = {pData->hSyncObject};
        return KernelThunks::get().pfnDestroySynchronizationObject(&destroy);
    });
}

HRESULT APIENTRY pfnWaitForSynchronizationObjectCb(
    HANDLE hDevice, const D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT* pData) {
    D3DKMT_WAITFORSYNCHRONIZATIONOBJECT wait = {};
    if (pData &&
        !copyObjectList(wait, *pData, D3DDDI_MAX_OBJECT_WAITED_ON, "WaitForSynchronizationObject"))
        return E_INVALIDARG;
    return onKernel(hDevice, pData, "WaitForSynchronizationObject", 691, 11048, [&](const Target&) {
        return KernelThunks::get().pfnWaitForSynchronizationObject(&wait);
    });
}

HRESULT APIENTRY pfnSignalSynchronizationObjectCb(
    HANDLE hDevice, const D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT* pData) {
    D3DKMT_SIGNALSYNCHRONIZATIONOBJECT signal = {};
    if (pData &&
        !copyObjectList(signal, *pData, D3DDDI_MAX_OBJECT_SIGNALED, "SignalSynchronizationObject"))
        return E_INVALIDARG;
    if (pData)
        signal.Flags = pData->Flags;
    return onKernel(hDevice, pData, "SignalSynchronizationObject", 720, 11049, [&](const Target&) {
        return KernelThunks::get().pfnSignalSynchronizationObject(&signal);
    });
}

HRESULT APIENTRY pfnSetAsyncCallbacksCb(HANDLE, BOOL) {
    // There is no runtime thread on the auxiliary GPU to take asynchronous callbacks.
    return E_FAIL;
}

HRESULT APIENTRY pfnSetDisplayPrivateDriverFormatCb(HANDLE,
                                                    const D3DDDICB_SETDISPLAYPRIVATEDRIVERFORMAT*) {
    return notSupported(274, 10312, "callback not yet supported failed!");
}

void fill(D3DDDI_DEVICECALLBACKS* pCallbacks) {
#define VESSA_AUXDEVICECALLBACKS_FILL(slot, member, Pfn, params, args)                             \
    static_assert(std::is_same<decltype(&member), Pfn>::value, #member " signature");              \
    pCallbacks->member = member;
    VESSA_DDI_DEVICECALLBACKS(VESSA_AUXDEVICECALLBACKS_FILL)
#undef VESSA_AUXDEVICECALLBACKS_FILL
}

} // namespace AuxDeviceCallbacks
