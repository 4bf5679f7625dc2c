// The runtime's device: creation over a kernel device, the helpers an application's
// calls map to, and the work of the device callbacks.
#include "sim/runtime/RuntimeDevice.h"

#include "DeviceCallbacks.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/SimAllocation.h"
#include "sim/runtime/RuntimeAdapter.h"

#include <string.h>
#include <vector>

namespace sim {
namespace rt {

namespace {

D3DKMT_HANDLE narrow(HANDLE h) {
    return D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(h));
}
HANDLE widen(D3DKMT_HANDLE h) {
    return reinterpret_cast<HANDLE>(uintptr_t(h));
}

} // namespace

RuntimeDevice::RuntimeDevice(RuntimeAdapter& adapter) : m_adapter(adapter) {}

RuntimeDevice* RuntimeDevice::fromHandle(HANDLE hDevice) {
    return isLiveObject(hDevice) ? static_cast<RuntimeDevice*>(hDevice) : nullptr;
}

const D3DDDI_DEVICECALLBACKS& RuntimeDevice::callbacks() {
    return deviceCallbacks();
}

HANDLE RuntimeDevice::newRuntimeHandle() {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    m_nextRuntimeHandle += 0x10;
    return reinterpret_cast<HANDLE>(m_nextRuntimeHandle);
}

void RuntimeDevice::setCreatingResource(HANDLE hRuntime) {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    m_creatingResource = hRuntime;
}

HRESULT RuntimeDevice::create(const DeviceOptions* pOptions) {
    D3DKMT_CREATEDEVICE kernel = {};
    kernel.hAdapter = m_adapter.kernelAdapter();
    NTSTATUS status = KernelThunks::get().pfnCreateDevice(&kernel);
    if (status < 0)
        return toHresult(status);
    m_hKernelDevice = kernel.hDevice;
    addLiveObject(this);

    D3DDDIARG_CREATEDEVICE args = {};
    args.hDevice = this;
    args.Interface = 9;
    args.Version = D3D_UMD_INTERFACE_VERSION_WIN7;
    args.pCallbacks = &deviceCallbacks();
    args.pCommandBuffer = kernel.pCommandBuffer;
    args.CommandBufferSize = kernel.CommandBufferSize;
    args.pAllocationList = kernel.pAllocationList;
    args.AllocationListSize = kernel.AllocationListSize;
    args.pPatchLocationList = kernel.pPatchLocationList;
    args.PatchLocationListSize = kernel.PatchLocationListSize;
    args.pDeviceFuncs = &m_funcs;
    if (pOptions && pOptions->multithreaded)
        args.Flags.Value |= D3DDDI_CREATEDEVICEFLAGS::AllowMultithreading;
    const D3DDDI_ADAPTERFUNCS& adapterFuncs = m_adapter.funcs();
    HRESULT hr = adapterFuncs.pfnCreateDevice(m_adapter.driverAdapter(), &args);
    if (FAILED(hr)) {
        removeLiveObject(this);
        D3DKMT_DESTROYDEVICE destroyKernel = {m_hKernelDevice};
        KernelThunks::get().pfnDestroyDevice(&destroyKernel);
        m_hKernelDevice = 0;
        return hr;
    }
    m_hDriverDevice = args.hDevice;
    return S_OK;
}

RuntimeDevice::~RuntimeDevice() {
    if (m_hKernelDevice && !m_destroyed)
        destroy();
    removeLiveObject(this);
}

HRESULT RuntimeDevice::destroy() {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    if (m_destroyed)
        return E_FAIL;
    m_destroyed = true;
    // Shared primaries the runtime made itself go after the driver let go of them.
    std::map<HANDLE, D3DKMT_HANDLE> shared = m_sharedPrimaries;
    shared.insert(m_openedShares.begin(), m_openedShares.end());
    for (auto& entry : shared)
        destroyResource(entry.first);
    HRESULT hr = m_funcs.pfnDestroyDevice ? m_funcs.pfnDestroyDevice(m_hDriverDevice) : E_FAIL;
    removeLiveObject(this);
    D3DKMT_DESTROYDEVICE destroyKernel = {m_hKernelDevice};
    KernelThunks::get().pfnDestroyDevice(&destroyKernel);
    m_hKernelDevice = 0;
    return hr;
}

// ---- Helpers -------------------------------------------------------------------------------

HRESULT RuntimeDevice::createResource(const SurfaceDesc& desc, HANDLE& hResource) {
    std::vector<D3DDDI_SURFACEINFO> surfaces(desc.surfaceCount ? desc.surfaceCount : 1);
    for (D3DDDI_SURFACEINFO& s : surfaces) {
        s.Width = desc.width;
        s.Height = desc.height;
        s.Depth = 1;
        s.pSysMem = desc.pSysMem;
        s.SysMemPitch = desc.sysMemPitch;
    }
    D3DDDIARG_CREATERESOURCE args = {};
    args.Format = desc.format;
    args.Pool = desc.pool;
    args.MultisampleType = D3DDDIMULTISAMPLE_TYPE(desc.multisampleType);
    args.pSurfList = surfaces.data();
    args.SurfCount = UINT(surfaces.size());
    args.MipLevels = 1;
    args.VidPnSourceId = m_adapter.vidPnSourceId();
    args.RefreshRate = {60, 1};
    args.hResource = newRuntimeHandle();
    args.Flags.Value = desc.flags;
    args.Rotation = D3DDDI_ROTATION_IDENTITY;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    HANDLE hRuntime = args.hResource;
    {
        std::lock_guard<std::mutex> state(m_stateMutex);
        m_creatingShared = (desc.flags & D3DDDI_RESOURCEFLAGS::SharedResource) != 0;
    }
    setCreatingResource(hRuntime);
    HRESULT hr = m_funcs.pfnCreateResource(m_hDriverDevice, &args);
    setCreatingResource(nullptr);
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::mutex> state(m_stateMutex);
        m_runtimeResources.insert(hRuntime);
        m_driverToRuntime[args.hResource] = hRuntime;
        hResource = args.hResource;
    }
    return hr;
}

HRESULT RuntimeDevice::createFlipChain(UINT width, UINT height, D3DDDIFORMAT format, UINT count,
                                       HANDLE& hPrimary) {
    SurfaceDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = format;
    desc.surfaceCount = count;
    desc.flags = D3DDDI_RESOURCEFLAGS::Primary | D3DDDI_RESOURCEFLAGS::RenderTarget;
    return createResource(desc, hPrimary);
}

HRESULT RuntimeDevice::openSharedPrimary(UINT width, UINT height, HANDLE& hResource) {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    SimAllocationDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = D3DDDIFMT_X8R8G8B8;
    desc.pitch = width * 4;
    desc.size = uint64_t(desc.pitch) * height;
    // Written as the display's driver writes its primaries, for the display's GPU.
    std::shared_ptr<const MachineDesc> pMachine = Kernel::instance().machine();
    if (m_adapter.gpu() >= 0 && size_t(m_adapter.gpu()) < pMachine->gpus.size())
        desc.setOwner(pMachine->gpus[size_t(m_adapter.gpu())].vendorId, m_adapter.gpu());
    D3DDDI_ALLOCATIONINFO info = {};
    info.pPrivateDriverData = &desc;
    info.PrivateDriverDataSize = sizeof desc;
    info.VidPnSourceId = m_adapter.vidPnSourceId();
    info.Flags.Value = D3DDDI_ALLOCATIONINFOFLAGS::Primary;
    D3DKMT_CREATEALLOCATION create = {};
    create.hDevice = m_hKernelDevice;
    create.NumAllocations = 1;
    create.pAllocationInfo = &info;
    create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::CreateResource;
    NTSTATUS status = KernelThunks::get().pfnCreateAllocation(&create);
    if (status < 0)
        return toHresult(status);
    D3DDDI_OPENALLOCATIONINFO openInfo = {info.hAllocation, &desc, sizeof desc};
    HRESULT hr = openKernelResource(create.hResource, 1, &openInfo, hResource);
    if (FAILED(hr))
        return hr;
    m_sharedPrimaries[hResource] = create.hResource;
    return S_OK;
}

HRESULT RuntimeDevice::openKernelResource(D3DKMT_HANDLE hKMResource, UINT numAllocations,
                                          D3DDDI_OPENALLOCATIONINFO* pAllocations,
                                          HANDLE& hResource) {
    D3DDDIARG_OPENRESOURCE open = {};
    open.NumAllocations = numAllocations;
    open.pOpenAllocationInfo = pAllocations;
    open.hKMResource = hKMResource;
    open.hResource = newRuntimeHandle();
    open.Rotation = D3DDDI_ROTATION_IDENTITY;
    HRESULT hr = m_funcs.pfnOpenResource(m_hDriverDevice, &open);
    if (FAILED(hr)) {
        // The driver refused it: the kernel resource would otherwise outlive every handle.
        D3DKMT_DESTROYALLOCATION destroy = {};
        destroy.hDevice = m_hKernelDevice;
        destroy.hResource = hKMResource;
        KernelThunks::get().pfnDestroyAllocation(&destroy);
        return hr;
    }
    hResource = open.hResource;
    return S_OK;
}

HRESULT RuntimeDevice::createSharedSurface(UINT width, UINT height, HANDLE& hResource,
                                           D3DKMT_HANDLE& hGlobalShare) {
    SurfaceDesc desc;
    desc.width = width;
    desc.height = height;
    desc.flags = D3DDDI_RESOURCEFLAGS::RenderTarget | D3DDDI_RESOURCEFLAGS::SharedResource;
    HRESULT hr = createResource(desc, hResource);
    if (FAILED(hr))
        return hr;
    hGlobalShare = globalShare(hResource);
    if (hGlobalShare)
        return S_OK;
    // The driver made no allocation through the runtime: nothing another device could open.
    destroyResource(hResource);
    hResource = nullptr;
    return E_FAIL;
}

D3DKMT_HANDLE RuntimeDevice::globalShare(HANDLE hResource) const {
    std::lock_guard<std::mutex> state(m_stateMutex);
    auto runtime = m_driverToRuntime.find(hResource);
    if (runtime == m_driverToRuntime.end())
        return 0;
    auto share = m_globalShares.find(runtime->second);
    return share == m_globalShares.end() ? 0 : share->second;
}

HRESULT RuntimeDevice::openSharedSurface(D3DKMT_HANDLE hGlobalShare, HANDLE& hResource) {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    D3DKMT_QUERYRESOURCEINFO query = {};
    query.hDevice = m_hKernelDevice;
    query.hGlobalShare = hGlobalShare;
    NTSTATUS status = KernelThunks::get().pfnQueryResourceInfo(&query);
    if (status < 0)
        return toHresult(status);
    std::vector<D3DDDI_OPENALLOCATIONINFO> allocations(query.NumAllocations);
    std::vector<uint8_t> privateData(query.TotalPrivateDriverDataSize);
    std::vector<uint8_t> resourceData(query.ResourcePrivateDriverDataSize);
    D3DKMT_OPENRESOURCE openKernel = {};
    openKernel.hDevice = m_hKernelDevice;
    openKernel.hGlobalShare = hGlobalShare;
    openKernel.NumAllocations = query.NumAllocations;
    openKernel.pOpenAllocationInfo = allocations.data();
    openKernel.pTotalPrivateDriverDataBuffer = privateData.data();
    openKernel.TotalPrivateDriverDataBufferSize = UINT(privateData.size());
    openKernel.pResourcePrivateDriverData = resourceData.data();
    openKernel.ResourcePrivateDriverDataSize = UINT(resourceData.size());
    status = KernelThunks::get().pfnOpenResource(&openKernel);
    if (status < 0)
        return toHresult(status);
    HRESULT hr = openKernelResource(openKernel.hResource, openKernel.NumAllocations,
                                    allocations.data(), hResource);
    if (FAILED(hr))
        return hr;
    m_openedShares[hResource] = openKernel.hResource;
    return S_OK;
}

HRESULT RuntimeDevice::destroyResource(HANDLE hResource) {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    HRESULT hr = m_funcs.pfnDestroyResource(m_hDriverDevice, hResource);
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::mutex> state(m_stateMutex);
        auto runtime = m_driverToRuntime.find(hResource);
        if (runtime != m_driverToRuntime.end()) {
            m_globalShares.erase(runtime->second);
            m_runtimeResources.erase(runtime->second);
            m_kernelResources.erase(runtime->second);
            m_driverToRuntime.erase(runtime);
        }
    }
    for (std::map<HANDLE, D3DKMT_HANDLE>* pMade : {&m_sharedPrimaries, &m_openedShares}) {
        auto made = pMade->find(hResource);
        if (made == pMade->end())
            continue;
        D3DKMT_DESTROYALLOCATION destroy = {};
        destroy.hDevice = m_hKernelDevice;
        destroy.hResource = made->second;
        KernelThunks::get().pfnDestroyAllocation(&destroy);
        pMade->erase(made);
    }
    return hr;
}

HRESULT RuntimeDevice::colorFill(HANDLE hResource, UINT subresource, const RECT& rect,
                                 D3DCOLOR color) {
    D3DDDIARG_COLORFILL args = {};
    args.hResource = hResource;
    args.SubResourceIndex = subresource;
    args.DstRect = rect;
    args.Color = color;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnColorFill(m_hDriverDevice, &args);
}

HRESULT RuntimeDevice::blt(HANDLE hSrc, UINT srcSub, const RECT& srcRect, HANDLE hDst, UINT dstSub,
                           const RECT& dstRect, UINT flags) {
    D3DDDIARG_BLT args = {};
    args.hSrcResource = hSrc;
    args.SrcSubResourceIndex = srcSub;
    args.SrcRect = srcRect;
    args.hDstResource = hDst;
    args.DstSubResourceIndex = dstSub;
    args.DstRect = dstRect;
    args.Flags.Value = flags;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnBlt(m_hDriverDevice, &args);
}

HRESULT RuntimeDevice::setRenderTarget(HANDLE hResource, UINT subresource) {
    D3DDDIARG_SETRENDERTARGET args = {};
    args.hRenderTarget = hResource;
    args.SubResourceIndex = subresource;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnSetRenderTarget(m_hDriverDevice, &args);
}

HRESULT RuntimeDevice::clear(D3DCOLOR color, UINT rectCount, const RECT* pRects) {
    D3DDDIARG_CLEAR args = {};
    args.Flags = 0x1; // the render target
    args.FillColor = color;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnClear(m_hDriverDevice, &args, rectCount, pRects);
}

HRESULT RuntimeDevice::drawPrimitive(UINT primitiveCount) {
    D3DDDIARG_DRAWPRIMITIVE args = {};
    args.PrimitiveType = 4; // a triangle list
    args.PrimitiveCount = primitiveCount;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnDrawPrimitive(m_hDriverDevice, &args, nullptr);
}

HRESULT RuntimeDevice::lock(HANDLE hResource, UINT subresource, void*& pBits, UINT& pitch,
                            UINT flags) {
    D3DDDIARG_LOCK args = {};
    args.hResource = hResource;
    args.SubResourceIndex = subresource;
    args.Flags.Value = flags;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    HRESULT hr = m_funcs.pfnLock(m_hDriverDevice, &args);
    if (SUCCEEDED(hr)) {
        pBits = args.pSurfData;
        pitch = args.Pitch;
    }
    return hr;
}

HRESULT RuntimeDevice::unlock(HANDLE hResource, UINT subresource) {
    D3DDDIARG_UNLOCK args = {};
    args.hResource = hResource;
    args.SubResourceIndex = subresource;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnUnlock(m_hDriverDevice, &args);
}

HRESULT RuntimeDevice::flush() {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnFlush(m_hDriverDevice);
}

HRESULT RuntimeDevice::present(HANDLE hSrc, UINT srcSub, HANDLE hDst, UINT dstSub, UINT flags,
                               UINT interval) {
    D3DDDIARG_PRESENT args = {};
    args.hSrcResource = hSrc;
    args.SrcSubResourceIndex = srcSub;
    args.hDstResource = hDst;
    args.DstSubResourceIndex = dstSub;
    args.Flags.Value = flags;
    args.FlipInterval = D3DDDI_FLIPINTERVAL_TYPE(interval);
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    m_pendingInterval = interval;
    m_pendingFlags = flags;
    HRESULT hr = m_funcs.pfnPresent(m_hDriverDevice, &args);
    m_pendingInterval = D3DDDI_FLIPINTERVAL_ONE;
    m_pendingFlags = 0;
    return hr;
}

HRESULT RuntimeDevice::presentToCompositor(HANDLE hSrc, HANDLE hShared,
                                           const std::vector<RECT>& rects, UINT flagsOverride) {
    if (rects.empty())
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    for (size_t i = 0; i < rects.size(); ++i) {
        UINT flags = flagsOverride;
        if (!flags) {
            flags =
                i == 0 ? D3DDDI_BLTFLAGS::BeginPresentToDwm : D3DDDI_BLTFLAGS::ContinuePresentToDwm;
            if (i + 1 == rects.size())
                flags =
                    (flags & D3DDDI_BLTFLAGS::BeginPresentToDwm) | D3DDDI_BLTFLAGS::EndPresentToDwm;
        }
        HRESULT hr = blt(hSrc, 0, rects[i], hShared, 0, rects[i], flags);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT RuntimeDevice::setDisplayMode(HANDLE hPrimary, UINT subresource) {
    D3DDDIARG_SETDISPLAYMODE args = {hPrimary, subresource};
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_funcs.pfnSetDisplayMode(m_hDriverDevice, &args);
}

HRESULT RuntimeDevice::waitForIdle(UINT* pPolls) {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    D3DDDIARG_CREATEQUERY create = {};
    create.QueryType = D3DDDIQUERYTYPE_EVENT;
    HRESULT hr = m_funcs.pfnCreateQuery(m_hDriverDevice, &create);
    if (FAILED(hr))
        return hr;
    D3DDDIARG_ISSUEQUERY issue = {create.hQuery, {D3DDDI_ISSUEQUERYFLAGS::End}};
    hr = m_funcs.pfnIssueQuery(m_hDriverDevice, &issue);
    UINT polls = 0;
    while (SUCCEEDED(hr)) {
        BOOL done = FALSE;
        D3DDDIARG_GETQUERYDATA get = {create.hQuery, &done};
        hr = m_funcs.pfnGetQueryData(m_hDriverDevice, &get);
        ++polls;
        if (hr != D3DERR_WASSTILLDRAWING)
            break;
        hr = S_OK;
        Sleep(0);
    }
    if (pPolls)
        *pPolls = polls;
    m_funcs.pfnDestroyQuery(m_hDriverDevice, create.hQuery);
    return hr;
}

uint64_t RuntimeDevice::presentCallbacks() const {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return m_presentCallbacks;
}

uint64_t RuntimeDevice::renderCallbacks() const {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return m_renderCallbacks;
}

bool RuntimeDevice::displayModeSet() const {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return m_displayModeSet;
}

// ---- Device callbacks ----------------------------------------------------------------------

HRESULT RuntimeDevice::allocateCb(D3DDDICB_ALLOCATE& args) {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    D3DKMT_CREATEALLOCATION create = {};
    create.hDevice = m_hKernelDevice;
    create.pPrivateDriverData = args.pPrivateDriverData;
    create.PrivateDriverDataSize = args.PrivateDriverDataSize;
    create.NumAllocations = args.NumAllocations;
    create.pAllocationInfo = args.pAllocationInfo;
    // A runtime resource gets a kernel resource, which the allocations join.
    // Allocations join a resource of the runtime (the one it is creating, or one it made
    // earlier: a driver may be asked to make a resource the runtime already has, such as a
    // primary made on a second GPU at its first present), or no resource at all: the
    // runtime refuses any other handle.
    if (args.hResource && args.hResource != m_creatingResource &&
        !m_runtimeResources.count(args.hResource))
        return E_INVALIDARG;
    auto known = args.hResource ? m_kernelResources.find(args.hResource) : m_kernelResources.end();
    if (known != m_kernelResources.end())
        create.hResource = known->second;
    else if (args.hResource)
        create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::CreateResource;
    // A shared resource's allocations are created shared, so another device may open them.
    bool shared = args.hResource && args.hResource == m_creatingResource && m_creatingShared &&
                  known == m_kernelResources.end();
    if (shared)
        create.Flags.Value |= D3DKMT_CREATEALLOCATIONFLAGS::CreateShared;
    NTSTATUS status = KernelThunks::get().pfnCreateAllocation(&create);
    if (status < 0)
        return toHresult(status);
    if (shared)
        m_globalShares[args.hResource] = create.hGlobalShare;
    if (args.hResource)
        m_kernelResources[args.hResource] = create.hResource;
    args.hKMResource = create.hResource;
    return S_OK;
}

HRESULT RuntimeDevice::deallocateCb(const D3DDDICB_DEALLOCATE& args) {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    D3DKMT_DESTROYALLOCATION destroy = {};
    destroy.hDevice = m_hKernelDevice;
    if (args.hResource) {
        // The resource goes with all of its allocations; the list is ignored, as documented.
        if (args.hResource != m_creatingResource && !m_runtimeResources.count(args.hResource))
            return E_INVALIDARG;
        auto known = m_kernelResources.find(args.hResource);
        if (known == m_kernelResources.end())
            return S_OK; // the driver gave the resource no allocations of its own
        destroy.hResource = known->second;
        m_kernelResources.erase(known);
        return toHresult(KernelThunks::get().pfnDestroyAllocation(&destroy));
    }
    // Releasing nothing succeeds.
    if (args.NumAllocations == 0)
        return S_OK;
    if (!args.HandleList)
        return E_INVALIDARG;
    // The kernel resources the allocations belonged to go with their last allocation.
    std::vector<D3DKMT_HANDLE> resources;
    for (UINT i = 0; i < args.NumAllocations; ++i) {
        AllocationInfo info;
        if (Kernel::instance().allocation(args.HandleList[i], info) && info.hResource)
            resources.push_back(info.hResource);
    }
    destroy.phAllocationList = args.HandleList;
    destroy.AllocationCount = args.NumAllocations;
    NTSTATUS status = KernelThunks::get().pfnDestroyAllocation(&destroy);
    if (status < 0)
        return toHresult(status);
    for (D3DKMT_HANDLE hResource : resources) {
        if (!Kernel::instance().resourceAllocations(hResource).empty())
            continue;
        D3DKMT_DESTROYALLOCATION destroyResource = {};
        destroyResource.hDevice = m_hKernelDevice;
        destroyResource.hResource = hResource;
        KernelThunks::get().pfnDestroyAllocation(&destroyResource);
        for (auto it = m_kernelResources.begin(); it != m_kernelResources.end();)
            it = it->second == hResource ? m_kernelResources.erase(it) : std::next(it);
    }
    return S_OK;
}

HRESULT RuntimeDevice::setPriorityCb(D3DDDICB_SETPRIORITY& args) {
    D3DKMT_SETALLOCATIONPRIORITY priority = {};
    priority.hDevice = m_hKernelDevice;
    priority.phAllocationList = args.HandleList;
    priority.AllocationCount = args.NumAllocations;
    priority.pPriorities = args.pPriorities;
    return toHresult(KernelThunks::get().pfnSetAllocationPriority(&priority));
}

HRESULT RuntimeDevice::queryResidencyCb(const D3DDDICB_QUERYRESIDENCY& args) {
    if (!args.pResidencyStatus)
        return E_INVALIDARG;
    std::vector<D3DKMT_ALLOCATIONRESIDENCYSTATUS> status(args.NumAllocations ? args.NumAllocations
                                                                             : 1);
    D3DKMT_QUERYALLOCATIONRESIDENCY query = {};
    query.hDevice = m_hKernelDevice;
    query.phAllocationList = args.HandleList;
    query.AllocationCount = args.NumAllocations;
    query.pResidencyStatus = status.data();
    NTSTATUS result = KernelThunks::get().pfnQueryAllocationResidency(&query);
    if (result >= 0) {
        for (size_t i = 0; i < status.size(); ++i)
            args.pResidencyStatus[i] = D3DDDI_RESIDENCYSTATUS(status[i]);
    }
    return toHresult(result);
}

HRESULT RuntimeDevice::setDisplayModeCb(D3DDDICB_SETDISPLAYMODE& args) {
    // A full-screen device owns its display's source exclusively, as d3d9 takes it before
    // the first mode change; the kernel gives it up when the device goes.
    D3DKMT_VIDPNSOURCEOWNER_TYPE type = D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID source = m_adapter.vidPnSourceId();
    D3DKMT_SETVIDPNSOURCEOWNER owner = {};
    owner.hDevice = m_hKernelDevice;
    owner.pType = &type;
    owner.pVidPnSourceId = &source;
    owner.VidPnSourceCount = 1;
    NTSTATUS owned = KernelThunks::get().pfnSetVidPnSourceOwner(&owner);
    if (owned < 0)
        return toHresult(owned);
    D3DKMT_SETDISPLAYMODE mode = {};
    mode.hDevice = m_hKernelDevice;
    mode.hPrimaryAllocation = args.hPrimaryAllocation;
    mode.ScanLineOrdering = D3DDDI_VSSLO_PROGRESSIVE;
    mode.DisplayOrientation = D3DDDI_ROTATION_IDENTITY;
    mode.PrivateDriverFormatAttribute = args.PrivateDriverFormatAttribute;
    HRESULT hr = toHresult(KernelThunks::get().pfnSetDisplayMode(&mode));
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::mutex> guard(m_stateMutex);
        m_displayModeSet = true;
    }
    return hr;
}

HRESULT RuntimeDevice::presentCb(D3DDDICB_PRESENT& args) {
    std::lock_guard<std::mutex> guard(m_stateMutex);
    // The kind of present is the application's (the flags of the present in progress), not
    // something guessed from the allocations: a flip of a surface that is no primary of the
    // source in its mode is the kernel's to refuse. Outside an application's present there
    // is nothing to present.
    UINT appFlags = m_pendingFlags.load();
    if (!(appFlags &
          (D3DDDI_PRESENTFLAGS::Blt | D3DDDI_PRESENTFLAGS::ColorFill | D3DDDI_PRESENTFLAGS::Flip)))
        return E_INVALIDARG;
    D3DKMT_PRESENT present = {};
    present.hContext = narrow(args.hContext);
    present.VidPnSourceId = m_adapter.vidPnSourceId();
    present.FlipInterval = D3DDDI_FLIPINTERVAL_TYPE(m_pendingInterval.load());
    if (appFlags & D3DDDI_PRESENTFLAGS::ColorFill) {
        present.Flags.Value = D3DKMT_PRESENTFLAGS::ColorFill;
    } else if (appFlags & D3DDDI_PRESENTFLAGS::Flip) {
        present.Flags.Value = D3DKMT_PRESENTFLAGS::Flip;
        present.hSource = args.hSrcAllocation;
    } else {
        // A Blt present into a destination (the shared primary of a windowed present, which
        // the driver has drawn the frame into) shows that destination; without one it
        // shows the source.
        present.Flags.Value = D3DKMT_PRESENTFLAGS::Blt;
        present.hSource = args.hDstAllocation ? args.hDstAllocation : args.hSrcAllocation;
        present.hDestination = args.hDstAllocation;
    }
    ULONG count = args.BroadcastContextCount;
    if (count > D3DDDI_MAX_BROADCAST_CONTEXT)
        return E_INVALIDARG;
    present.BroadcastContextCount = count;
    for (ULONG i = 0; i < count; ++i)
        present.BroadcastContext[i] = narrow(args.BroadcastContext[i]);
    HRESULT hr = toHresult(KernelThunks::get().pfnPresent(&present));
    if (SUCCEEDED(hr))
        ++m_presentCallbacks;
    return hr;
}

HRESULT RuntimeDevice::renderCb(D3DDDICB_RENDER& args) {
    D3DKMT_RENDER render = {};
    render.hContext = narrow(args.hContext);
    render.CommandOffset = args.CommandOffset;
    render.CommandLength = args.CommandLength;
    render.AllocationCount = args.NumAllocations;
    render.PatchLocationCount = args.NumPatchLocations;
    render.NewCommandBufferSize = args.NewCommandBufferSize;
    render.NewAllocationListSize = args.NewAllocationListSize;
    render.NewPatchLocationListSize = args.NewPatchLocationListSize;
    render.Flags.Value = args.Flags.Value;
    if (args.BroadcastContextCount > D3DDDI_MAX_BROADCAST_CONTEXT)
        return E_INVALIDARG;
    render.BroadcastContextCount = args.BroadcastContextCount;
    for (UINT i = 0; i < args.BroadcastContextCount; ++i)
        render.BroadcastContext[i] = narrow(args.BroadcastContext[i]);
    render.pPrivateDriverData = args.pPrivateDriverData;
    render.PrivateDriverDataSize = args.PrivateDriverDataSize;
    NTSTATUS status = KernelThunks::get().pfnRender(&render);
    if (status < 0)
        return toHresult(status);
    args.pNewCommandBuffer = render.pNewCommandBuffer;
    args.NewCommandBufferSize = render.NewCommandBufferSize;
    args.pNewAllocationList = render.pNewAllocationList;
    args.NewAllocationListSize = render.NewAllocationListSize;
    args.pNewPatchLocationList = render.pNewPatchLocationList;
    args.NewPatchLocationListSize = render.NewPatchLocationListSize;
    args.QueuedBufferCount = render.QueuedBufferCount;
    args.NewCommandBuffer = render.NewCommandBuffer;
    std::lock_guard<std::mutex> guard(m_stateMutex);
    ++m_renderCallbacks;
    return S_OK;
}

HRESULT RuntimeDevice::lockCb(D3DDDICB_LOCK& args) {
    D3DKMT_LOCK lock = {};
    lock.hDevice = m_hKernelDevice;
    lock.hAllocation = args.hAllocation;
    lock.PrivateDriverData = args.PrivateDriverData;
    lock.NumPages = args.NumPages;
    lock.pPages = args.pPages;
    lock.Flags = args.Flags;
    NTSTATUS status = KernelThunks::get().pfnLock(&lock);
    if (status < 0)
        return toHresult(status);
    args.pData = lock.pData;
    args.GpuVirtualAddress = lock.GpuVirtualAddress;
    return S_OK;
}

HRESULT RuntimeDevice::unlockCb(const D3DDDICB_UNLOCK& args) {
    D3DKMT_UNLOCK unlock = {};
    unlock.hDevice = m_hKernelDevice;
    unlock.NumAllocations = args.NumAllocations;
    unlock.phAllocations = args.phAllocations;
    return toHresult(KernelThunks::get().pfnUnlock(&unlock));
}

HRESULT RuntimeDevice::createContextCb(D3DDDICB_CREATECONTEXT& args) {
    D3DKMT_CREATECONTEXT create = {};
    create.hDevice = m_hKernelDevice;
    create.NodeOrdinal = args.NodeOrdinal;
    create.EngineAffinity = args.EngineAffinity;
    create.Flags = args.Flags;
    create.pPrivateDriverData = args.pPrivateDriverData;
    create.PrivateDriverDataSize = args.PrivateDriverDataSize;
    create.ClientHint = D3DKMT_CLIENTHINT_DX9;
    NTSTATUS status = KernelThunks::get().pfnCreateContext(&create);
    if (status < 0)
        return toHresult(status);
    args.hContext = widen(create.hContext);
    args.pCommandBuffer = create.pCommandBuffer;
    args.CommandBufferSize = create.CommandBufferSize;
    args.pAllocationList = create.pAllocationList;
    args.AllocationListSize = create.AllocationListSize;
    args.pPatchLocationList = create.pPatchLocationList;
    args.PatchLocationListSize = create.PatchLocationListSize;
    args.CommandBuffer = create.CommandBuffer;
    return S_OK;
}

HRESULT RuntimeDevice::destroyContextCb(const D3DDDICB_DESTROYCONTEXT& args) {
    D3DKMT_DESTROYCONTEXT destroy = {narrow(args.hContext)};
    return toHresult(KernelThunks::get().pfnDestroyContext(&destroy));
}

HRESULT RuntimeDevice::createSyncObjectCb(D3DDDICB_CREATESYNCHRONIZATIONOBJECT& args) {
    D3DKMT_CREATESYNCHRONIZATIONOBJECT create = {};
    create.hDevice = m_hKernelDevice;
    create.Info = args.Info;
    NTSTATUS status = KernelThunks::get().pfnCreateSynchronizationObject(&create);
    if (status >= 0)
        args.hSyncObject = create.hSyncObject;
    return toHresult(status);
}

HRESULT RuntimeDevice::destroySyncObjectCb(const D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT& args) {
    D3DKMT_DESTROYSYNCHRONIZATIONOBJECT destroy = {args.hSyncObject};
    return toHresult(KernelThunks::get().pfnDestroySynchronizationObject(&destroy));
}

namespace {

// Wait and signal hand the same bounded list of objects from the callback to the thunk.
// A count beyond the fixed array is refused before anything is copied.
template <class Callback, class Thunk> bool copySyncObjectList(const Callback& args, Thunk& out) {
    const UINT limit = UINT(sizeof out.ObjectHandleArray / sizeof out.ObjectHandleArray[0]);
    if (args.ObjectCount > limit)
        return false;
    out.hContext = narrow(args.hContext);
    out.ObjectCount = args.ObjectCount;
    memcpy(out.ObjectHandleArray, args.ObjectHandleArray, sizeof(D3DKMT_HANDLE) * args.ObjectCount);
    return true;
}

} // namespace

HRESULT RuntimeDevice::waitForSyncObjectCb(const D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT& args) {
    D3DKMT_WAITFORSYNCHRONIZATIONOBJECT wait = {};
    if (!copySyncObjectList(args, wait))
        return E_INVALIDARG;
    return toHresult(KernelThunks::get().pfnWaitForSynchronizationObject(&wait));
}

HRESULT RuntimeDevice::signalSyncObjectCb(const D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT& args) {
    D3DKMT_SIGNALSYNCHRONIZATIONOBJECT signal = {};
    if (!copySyncObjectList(args, signal))
        return E_INVALIDARG;
    signal.Flags = args.Flags;
    return toHresult(KernelThunks::get().pfnSignalSynchronizationObject(&signal));
}

} // namespace rt
} // namespace sim
