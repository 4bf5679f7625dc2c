// Allocations (memory-backed), locks, residency, priorities and the present that scans an
// allocation out to the simulated display.
#include "sim/gpus/Kernel.h"

#include "GpuQueues.h"
#include "sim/Clock.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/KernelStatus.h"
#include "sim/gpus/SimAllocation.h"

#include <algorithm>
#include <new>
#include <string.h>
#include <time.h>

namespace sim {

namespace {

// Layout of one allocation from the driver's description for GPU `gpu`; false when it is
// unusable or was written for another GPU.
bool layoutOf(const D3DDDI_ALLOCATIONINFO& info, const GpuDesc& g, int gpu, AllocationInfo& out) {
    if (!info.pPrivateDriverData || info.PrivateDriverDataSize < sizeof(SimAllocationDesc))
        return false;
    SimAllocationDesc desc;
    memcpy(&desc, info.pPrivateDriverData, sizeof desc);
    if (desc.magic != kSimAllocationMagic || desc.vendorId != g.vendorId || desc.gpu != gpu)
        return false;
    uint64_t pitch = desc.pitch;
    if (pitch == 0) {
        uint32_t bpp = formatBitsPerPixel(desc.format);
        if (bpp == 0)
            return false;
        pitch = uint64_t(desc.width) * (bpp / 8);
    }
    uint64_t size = desc.size ? desc.size : pitch * std::max<uint32_t>(desc.height, 1);
    if (size == 0 || pitch > UINT32_MAX || size < pitch * desc.height)
        return false;
    out.width = desc.width;
    out.height = desc.height;
    out.format = desc.format;
    out.pitch = uint32_t(pitch);
    out.size = size;
    return true;
}

// Bytes written over a CPU copy of locked memory when it is freed, so that a stale
// pointer's reads show garbage even in builds without the address sanitizer.
constexpr uint8_t kFreedLockPoison = 0xDD;

// A present's source can be scanned out: its rectangle lies inside it, within its memory,
// and the display shows its format. Checked when the present is queued, since the scan-out
// itself happens later on the GPU.
bool presentSourceValid(const D3DKMT_PRESENT& present, const AllocationInfo& a) {
    uint32_t left = 0, top = 0, right = a.width, bottom = std::max<uint32_t>(a.height, 1);
    if (present.Flags.Value & D3DKMT_PRESENTFLAGS::SrcRectValid) {
        const RECT& r = present.SrcRect;
        if (r.left < 0 || r.top < 0 || r.right <= r.left || r.bottom <= r.top ||
            uint32_t(r.right) > a.width || uint32_t(r.bottom) > a.height)
            return false;
        left = uint32_t(r.left);
        top = uint32_t(r.top);
        right = uint32_t(r.right);
        bottom = uint32_t(r.bottom);
    }
    uint32_t bytes = formatBitsPerPixel(a.format) / 8;
    Image probe;
    return right > left && bottom > top &&
           uint64_t(bottom - 1) * a.pitch + uint64_t(right) * bytes <= a.size &&
           convertToImage(a.pMemory, a.pitch, 1, 1, a.format, probe);
}

} // namespace

NTSTATUS Kernel::CreateAllocation(D3DKMT_CREATEALLOCATION* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    UINT flags = pArgs->Flags.Value;
    if (pArgs->NumAllocations == 0 || pArgs->NumAllocations > 1024 || !pArgs->pAllocationInfo ||
        !onlyKnownBits(flags, kCreateAllocationFlagBits))
        return kStatusInvalidParameter;
    if ((pArgs->PrivateDriverDataSize && !pArgs->pPrivateDriverData) ||
        (pArgs->PrivateRuntimeDataSize && !pArgs->pPrivateRuntimeData))
        return kStatusInvalidParameter;
    if (flags & (D3DKMT_CREATEALLOCATIONFLAGS::CreateProtected |
                 D3DKMT_CREATEALLOCATIONFLAGS::ExistingSysMem))
        return kStatusNotSupported;
    // A shared resource is a new resource in video memory: the share names the resource,
    // and the caller's system memory cannot be handed to another device.
    bool shared = (flags & D3DKMT_CREATEALLOCATIONFLAGS::CreateShared) != 0;
    if (shared && !(flags & D3DKMT_CREATEALLOCATIONFLAGS::CreateResource))
        return kStatusInvalidParameter;
    if (pArgs->hGlobalShare)
        return kStatusInvalidParameter;
    // Which resource the allocations join: a new one (CreateResource, hResource 0 on the
    // way in), an existing resource of this device, or none. Any other handle is refused
    // as Windows refuses it; the kernel never takes a driver's own handle for a resource.
    bool newResource = (flags & D3DKMT_CREATEALLOCATIONFLAGS::CreateResource) != 0;
    if (newResource && pArgs->hResource)
        return kStatusInvalidParameter;
    if (pArgs->hResource) {
        auto existing = m_resources.find(pArgs->hResource);
        if (existing == m_resources.end() || existing->second.hDevice != pArgs->hDevice)
            return kStatusInvalidHandle;
    }

    std::vector<Allocation> created(pArgs->NumAllocations);
    for (UINT i = 0; i < pArgs->NumAllocations; ++i) {
        const D3DDDI_ALLOCATIONINFO& info = pArgs->pAllocationInfo[i];
        AllocationInfo& a = created[i].info;
        if (!layoutOf(info, *gpuOf(gpu), gpu, a) ||
            !onlyKnownBits(info.Flags.Value, kAllocationInfoFlagBits))
            return kStatusInvalidParameter;
        if (a.size > kMaxAllocationSize)
            return kStatusNoVideoMemory;
        a.primary = (info.Flags.Value & D3DDDI_ALLOCATIONINFOFLAGS::Primary) != 0;
        a.vidPnSourceId = info.VidPnSourceId;
        if (a.primary && !m_pMachine->activeSource(gpu, a.vidPnSourceId))
            return kStatusInvalidParameter;
        a.hDevice = pArgs->hDevice;
        a.gpu = gpu;
        const uint8_t* pDriverData = static_cast<const uint8_t*>(info.pPrivateDriverData);
        created[i].privateData.assign(pDriverData, pDriverData + info.PrivateDriverDataSize);
        if (info.pSystemMem && shared)
            return kStatusInvalidParameter;
        if (info.pSystemMem) {
            // The caller's memory backs the allocation; it must outlive it, as on Windows.
            a.pMemory = static_cast<uint8_t*>(const_cast<void*>(info.pSystemMem));
            a.systemMemory = true;
        } else {
            created[i].pStorage.reset(new (std::nothrow) uint8_t[size_t(a.size)]());
            if (!created[i].pStorage)
                return kStatusNoMemory;
            a.pMemory = created[i].pStorage.get();
        }
    }

    D3DKMT_HANDLE hResource = pArgs->hResource;
    if (newResource) {
        hResource = newHandle();
        Resource& resource = m_resources[hResource];
        resource.hDevice = pArgs->hDevice;
        const uint8_t* pData = static_cast<const uint8_t*>(pArgs->pPrivateDriverData);
        if (pData)
            resource.privateData.assign(pData, pData + pArgs->PrivateDriverDataSize);
        if (shared) {
            resource.hGlobalShare = newHandle();
            m_shares[resource.hGlobalShare] = hResource;
            pArgs->hGlobalShare = resource.hGlobalShare;
        }
    }
    for (UINT i = 0; i < pArgs->NumAllocations; ++i) {
        D3DKMT_HANDLE h = newHandle();
        created[i].info.handle = h;
        created[i].info.hResource = hResource;
        if (hResource)
            m_resources[hResource].allocations.push_back(h);
        pArgs->pAllocationInfo[i].hAllocation = h;
        m_allocations[h] = std::move(created[i]);
    }
    if (newResource)
        pArgs->hResource = hResource;
    return kStatusSuccess;
}

void Kernel::waitForAllocationIdle(D3DKMT_HANDLE hAllocation) {
    // Memory goes only after the GPU is done with it, as the kernel defers the release.
    m_pQueues->waitFor(
        [this, hAllocation] { return !m_pQueues->allocationBusy(hAllocation, false); }, UINT64_MAX,
        "the destruction of an allocation");
}

void Kernel::destroyAllocationLocked(D3DKMT_HANDLE h) {
    waitForAllocationIdle(h);
    auto it = m_allocations.find(h);
    if (it == m_allocations.end())
        return;
    D3DKMT_HANDLE hResource = it->second.info.hResource;
    m_allocations.erase(it);
    auto resource = m_resources.find(hResource);
    if (resource != m_resources.end()) {
        std::vector<D3DKMT_HANDLE>& list = resource->second.allocations;
        list.erase(std::remove(list.begin(), list.end(), h), list.end());
    }
}

NTSTATUS Kernel::collectAllocations(D3DKMT_HANDLE hDevice, D3DKMT_HANDLE hResource,
                                    const D3DKMT_HANDLE* pList, UINT count,
                                    std::vector<D3DKMT_HANDLE>& out) {
    if (count && !pList)
        return kStatusInvalidParameter;
    if (hResource) {
        auto resource = m_resources.find(hResource);
        if (resource == m_resources.end() || resource->second.hDevice != hDevice)
            return kStatusInvalidParameter;
        if (count == 0) {
            out = resource->second.allocations;
            return kStatusSuccess;
        }
    } else if (count == 0) {
        return kStatusInvalidParameter;
    }
    for (UINT i = 0; i < count; ++i) {
        Allocation* pAllocation = findAllocation(pList[i], hDevice);
        if (!pAllocation || (hResource && pAllocation->info.hResource != hResource))
            return kStatusInvalidParameter;
        out.push_back(pList[i]);
    }
    return kStatusSuccess;
}

template <class Request>
NTSTATUS Kernel::collectRequestAllocations(const Request& request, int& gpu,
                                           std::vector<D3DKMT_HANDLE>& out) {
    gpu = deviceGpu(request.hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    return collectAllocations(request.hDevice, request.hResource, request.phAllocationList,
                              request.AllocationCount, out);
}

NTSTATUS Kernel::DestroyAllocation(const D3DKMT_DESTROYALLOCATION* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    // Destroying nothing (no resource, no allocation) succeeds, as on Windows.
    if (!pArgs->hResource && pArgs->AllocationCount == 0) {
        gpu = deviceGpu(pArgs->hDevice);
        return gpu < 0 ? kStatusInvalidParameter : kStatusSuccess;
    }
    std::vector<D3DKMT_HANDLE> handles;
    NTSTATUS status = collectRequestAllocations(*pArgs, gpu, handles);
    if (status < 0)
        return status;
    // A named resource goes with all of its allocations, whatever the list holds (the list
    // is checked to be the resource's).
    if (pArgs->hResource)
        handles = m_resources[pArgs->hResource].allocations;
    for (D3DKMT_HANDLE h : handles)
        destroyAllocationLocked(h);
    if (pArgs->hResource)
        m_resources.erase(pArgs->hResource);
    return kStatusSuccess;
}

NTSTATUS Kernel::SetAllocationPriority(const D3DKMT_SETALLOCATIONPRIORITY* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    std::vector<D3DKMT_HANDLE> handles;
    NTSTATUS status = collectRequestAllocations(*pArgs, gpu, handles);
    if (status < 0)
        return status;
    if (!pArgs->pPriorities)
        return kStatusInvalidParameter;
    // A list takes one priority per allocation; a resource alone takes one for all.
    for (size_t i = 0; i < handles.size(); ++i) {
        UINT priority = pArgs->AllocationCount ? pArgs->pPriorities[i] : pArgs->pPriorities[0];
        m_allocations[handles[i]].info.priority = priority;
    }
    return kStatusSuccess;
}

NTSTATUS Kernel::QueryAllocationResidency(const D3DKMT_QUERYALLOCATIONRESIDENCY* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    std::vector<D3DKMT_HANDLE> handles;
    NTSTATUS status = collectRequestAllocations(*pArgs, gpu, handles);
    if (status < 0)
        return status;
    if (!pArgs->pResidencyStatus)
        return kStatusInvalidParameter;
    // Everything is resident: the simulated GPUs never evict.
    size_t answers = pArgs->AllocationCount ? handles.size() : 1;
    for (size_t i = 0; i < answers; ++i)
        pArgs->pResidencyStatus[i] = D3DKMT_ALLOCATIONRESIDENCYSTATUS_RESIDENTINGPUMEMORY;
    return kStatusSuccess;
}

NTSTATUS Kernel::Lock(D3DKMT_LOCK* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    Allocation* pAllocation = findAllocation(pArgs->hAllocation, pArgs->hDevice);
    if (!pAllocation || (pArgs->NumPages && !pArgs->pPages) ||
        !onlyKnownBits(pArgs->Flags.Value, kLockFlagBits))
        return kStatusInvalidParameter;
    // The CPU sees the memory once the GPU's queued work on it is done: a read-only lock
    // waits for the writers, any other lock for every use. DonotWait asks instead.
    UINT flags = pArgs->Flags.Value;
    D3DKMT_HANDLE h = pArgs->hAllocation;
    bool writesOnly = (flags & D3DDDICB_LOCKFLAGS::ReadOnly) != 0;
    m_pQueues->settle();
    if (m_pQueues->allocationBusy(h, writesOnly)) {
        if (flags & D3DDDICB_LOCKFLAGS::DonotWait) {
            m_pQueues->chargeBusyPoll();
            return kStatusAllocationBusy;
        }
        if (!m_pQueues->waitFor([&] { return !m_pQueues->allocationBusy(h, writesOnly); },
                                UINT64_MAX, "a lock"))
            return kStatusAllocationBusy;
        pAllocation = findAllocation(h, pArgs->hDevice);
        if (!pAllocation)
            return kStatusInvalidParameter;
    }
    AllocationInfo& a = pAllocation->info;
    uint8_t* pData = a.pMemory;
    if (!a.systemMemory) {
        // Video memory is handed out as a CPU copy that lives until the last unlock.
        if (!pAllocation->pLockCopy) {
            pAllocation->pLockCopy.reset(new (std::nothrow) uint8_t[size_t(a.size)]);
            if (!pAllocation->pLockCopy)
                return kStatusNoMemory;
            memcpy(pAllocation->pLockCopy.get(), a.pMemory, size_t(a.size));
            pAllocation->lockWrites = false;
        }
        if (!writesOnly)
            pAllocation->lockWrites = true;
        pData = pAllocation->pLockCopy.get();
    }
    ++a.lockCount;
    pArgs->pData = pData;
    pArgs->GpuVirtualAddress = 0;
    return kStatusSuccess;
}

NTSTATUS Kernel::Unlock(const D3DKMT_UNLOCK* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    if (pArgs->NumAllocations == 0 || !pArgs->phAllocations)
        return kStatusInvalidParameter;
    std::vector<Allocation*> allocations;
    for (UINT i = 0; i < pArgs->NumAllocations; ++i) {
        Allocation* pAllocation = findAllocation(pArgs->phAllocations[i], pArgs->hDevice);
        if (!pAllocation || pAllocation->info.lockCount == 0)
            return kStatusInvalidParameter;
        allocations.push_back(pAllocation);
    }
    for (Allocation* pAllocation : allocations) {
        if (--pAllocation->info.lockCount > 0 || !pAllocation->pLockCopy)
            continue;
        // The last unlock writes the CPU's changes back and ends the pointer's life.
        AllocationInfo& a = pAllocation->info;
        if (pAllocation->lockWrites)
            memcpy(a.pMemory, pAllocation->pLockCopy.get(), size_t(a.size));
        memset(pAllocation->pLockCopy.get(), kFreedLockPoison, size_t(a.size));
        pAllocation->pLockCopy.reset();
    }
    return kStatusSuccess;
}

void Kernel::scanOut(int gpu, const D3DKMT_PRESENT& present, D3DKMT_HANDLE hSource,
                     uint64_t timeNs) {
    ScanOut out;
    out.gpu = gpu;
    out.vidPnSourceId = present.VidPnSourceId;
    out.timeNs = timeNs;
    out.flipInterval = rawValue(present.FlipInterval);
    out.presentFlags = present.Flags.Value;
    if (!hSource) {
        // A colour fill covers the display in its current mode.
        DisplayMode mode = currentModeLocked(gpu, present.VidPnSourceId);
        out.sourceFormat = kFormatX8R8G8B8;
        out.image.width = mode.width;
        out.image.height = mode.height;
        out.image.pixels.assign(size_t(mode.width) * mode.height, present.Color | 0xFF000000u);
        Display::instance().record(std::move(out));
        return;
    }
    auto it = m_allocations.find(hSource);
    if (it == m_allocations.end())
        return; // destroyed while the present was queued: nothing to show
    const AllocationInfo& a = it->second.info;
    uint32_t left = 0, top = 0, right = a.width, bottom = std::max<uint32_t>(a.height, 1);
    if (present.Flags.Value & D3DKMT_PRESENTFLAGS::SrcRectValid) {
        left = uint32_t(present.SrcRect.left);
        top = uint32_t(present.SrcRect.top);
        right = uint32_t(present.SrcRect.right);
        bottom = uint32_t(present.SrcRect.bottom);
    }
    uint32_t bytes = formatBitsPerPixel(a.format) / 8;
    const uint8_t* pBits = a.pMemory + size_t(top) * a.pitch + size_t(left) * bytes;
    if (uint64_t(bottom - 1) * a.pitch + uint64_t(right) * bytes > a.size ||
        !convertToImage(pBits, a.pitch, right - left, bottom - top, a.format, out.image))
        return;
    out.sourceFormat = a.format;
    Display::instance().record(std::move(out));
}

NTSTATUS Kernel::Present(D3DKMT_PRESENT* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    D3DKMT_HANDLE hDevice = 0;
    if (Context* pContext = findContext(pArgs->hContext)) {
        hDevice = pContext->info.hDevice;
        gpu = pContext->info.gpu;
    } else if (Device* pDevice = findDevice(pArgs->hDevice)) {
        hDevice = pArgs->hDevice;
        gpu = pDevice->gpu;
    } else {
        return kStatusInvalidParameter;
    }
    UINT flags = pArgs->Flags.Value;
    UINT kinds = flags & (D3DKMT_PRESENTFLAGS::Blt | D3DKMT_PRESENTFLAGS::ColorFill |
                          D3DKMT_PRESENTFLAGS::Flip);
    if (kinds == 0 || !onlyKnownBits(flags, kPresentFlagBits) ||
        !m_pMachine->activeSource(gpu, pArgs->VidPnSourceId) ||
        rawValue(pArgs->FlipInterval) > D3DDDI_FLIPINTERVAL_FOUR ||
        pArgs->BroadcastContextCount > D3DDDI_MAX_BROADCAST_CONTEXT ||
        (pArgs->SubRectCnt && !pArgs->pSrcSubRects))
        return kStatusInvalidParameter;
    const Allocation* pSource = nullptr;
    if (!(flags & D3DKMT_PRESENTFLAGS::ColorFill)) {
        pSource = findAllocation(pArgs->hSource, hDevice);
        if (!pSource)
            return kStatusInvalidParameter;
    }
    if (pArgs->hDestination && !findAllocation(pArgs->hDestination, hDevice))
        return kStatusInvalidParameter;
    // A flip scans the source out as it is: it must be a primary of that source, in the
    // source's current mode.
    if (pSource && (flags & D3DKMT_PRESENTFLAGS::Flip)) {
        const AllocationInfo& a = pSource->info;
        DisplayMode mode = currentModeLocked(gpu, pArgs->VidPnSourceId);
        if (!a.primary || a.vidPnSourceId != pArgs->VidPnSourceId || a.width != mode.width ||
            a.height != mode.height || a.format != mode.format)
            return kStatusInvalidParameter;
    }
    // Broadcast contexts are contexts of the same device, as for a render.
    for (ULONG i = 0; i < pArgs->BroadcastContextCount; ++i) {
        Context* pOther = findContext(pArgs->BroadcastContext[i]);
        if (!pOther || pOther->info.hDevice != hDevice)
            return kStatusInvalidParameter;
    }
    if (pSource && !presentSourceValid(*pArgs, pSource->info))
        return kStatusInvalidParameter;
    if (flags & D3DKMT_PRESENTFLAGS::FlipDoNotFlip)
        return kStatusSuccess;
    // A source queues at most three presents; the caller waits for the oldest to show.
    uint32_t source = pArgs->VidPnSourceId;
    m_pQueues->settle();
    if (!m_pQueues->waitFor(
            [&] { return m_pQueues->queuedPresents(gpu, source) < GpuQueues::kMaxQueuedPresents; },
            UINT64_MAX, "a present"))
        return kStatusAllocationBusy;
    // The present joins the queue behind the rendering before it and shows when the GPU
    // gets there (a flip: at its vertical blank).
    D3DKMT_HANDLE hQueue = findContext(pArgs->hContext) ? pArgs->hContext : hDevice;
    D3DKMT_HANDLE hSource = pSource ? pArgs->hSource : 0;
    D3DKMT_PRESENT copy = *pArgs;
    copy.pSrcSubRects = nullptr;
    copy.SubRectCnt = 0;
    GpuItem item;
    item.kind = GpuItem::Kind::Present;
    item.vidPnSourceId = source;
    item.flip = (flags & D3DKMT_PRESENTFLAGS::Flip) != 0;
    item.flipInterval = rawValue(pArgs->FlipInterval);
    if (hSource)
        item.reads.push_back(hSource);
    item.run = [this, gpu, copy, hSource](uint64_t endNs) { scanOut(gpu, copy, hSource, endNs); };
    m_pQueues->push(hQueue, std::move(item));
    return kStatusSuccess;
}

NTSTATUS Kernel::SetDisplayMode(const D3DKMT_SETDISPLAYMODE* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0 || !validScanLineOrdering(rawValue(pArgs->ScanLineOrdering)) ||
        !validRotation(rawValue(pArgs->DisplayOrientation)) ||
        !onlyKnownBits(pArgs->Flags.Flags, D3DKMT_SETDISPLAYMODE_FLAGS::PreserveVidPn))
        return kStatusInvalidParameter;
    Allocation* pPrimary = findAllocation(pArgs->hPrimaryAllocation, pArgs->hDevice);
    if (!pPrimary || !pPrimary->info.primary)
        return kStatusInvalidParameter;
    const AllocationInfo& a = pPrimary->info;
    SourceKey key(gpu, a.vidPnSourceId);
    // Only the exclusive owner of the source sets its mode, and only to one of its modes.
    auto owner = m_sourceOwners.find(key);
    if (owner == m_sourceOwners.end() || owner->second.hDevice != pArgs->hDevice ||
        owner->second.type < D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE)
        return kStatusNotExclusiveModeOwner;
    DisplayMode current = currentModeLocked(gpu, a.vidPnSourceId);
    for (const DisplayMode& mode : gpuOf(gpu)->modes) {
        if (mode.width == a.width && mode.height == a.height && mode.format == a.format) {
            DisplayMode set = mode;
            // Of several refresh rates, the current one is kept when the mode offers it.
            for (const DisplayMode& other : gpuOf(gpu)->modes) {
                if (other.width == a.width && other.height == a.height &&
                    other.format == a.format && other.refreshRate == current.refreshRate)
                    set = other;
            }
            m_modes[key] = set;
            return kStatusSuccess;
        }
    }
    return kStatusInvalidParameter;
}

const Kernel::Resource* Kernel::sharedResourceFor(D3DKMT_HANDLE hGlobalShare, int deviceGpu) {
    auto share = m_shares.find(hGlobalShare);
    if (share == m_shares.end())
        return nullptr;
    auto resource = m_resources.find(share->second);
    if (resource == m_resources.end()) {
        m_shares.erase(share); // its creator destroyed it
        return nullptr;
    }
    // Resources are shared between devices of one adapter; another GPU's memory is not
    // reachable through a share handle.
    if (this->deviceGpu(resource->second.hDevice) != deviceGpu)
        return nullptr;
    return &resource->second;
}

NTSTATUS Kernel::OpenResource(D3DKMT_OPENRESOURCE* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    const Resource* pShared = sharedResourceFor(pArgs->hGlobalShare, gpu);
    if (!pShared)
        return kStatusInvalidParameter;
    // The caller asks for exactly the allocations D3DKMTQueryResourceInfo counted, and gives
    // room for their private data (the kernel hands each allocation's out of that buffer).
    size_t totalPrivate = 0;
    for (D3DKMT_HANDLE h : pShared->allocations)
        totalPrivate += m_allocations[h].privateData.size();
    if (pArgs->NumAllocations != pShared->allocations.size() || !pArgs->pOpenAllocationInfo ||
        pArgs->TotalPrivateDriverDataBufferSize < totalPrivate ||
        (totalPrivate && !pArgs->pTotalPrivateDriverDataBuffer) ||
        pArgs->ResourcePrivateDriverDataSize < pShared->privateData.size() ||
        (!pShared->privateData.empty() && !pArgs->pResourcePrivateDriverData))
        return kStatusInvalidParameter;

    D3DKMT_HANDLE hResource = newHandle();
    Resource opened;
    opened.hDevice = pArgs->hDevice;
    opened.privateData = pShared->privateData;
    if (!opened.privateData.empty())
        memcpy(pArgs->pResourcePrivateDriverData, opened.privateData.data(),
               opened.privateData.size());
    uint8_t* pPrivate = static_cast<uint8_t*>(pArgs->pTotalPrivateDriverDataBuffer);
    std::vector<D3DKMT_HANDLE> sources = pShared->allocations;
    for (size_t i = 0; i < sources.size(); ++i) {
        const Allocation& source = m_allocations[sources[i]];
        Allocation alias;
        alias.info = source.info;
        alias.info.handle = newHandle();
        alias.info.hDevice = pArgs->hDevice;
        alias.info.hResource = hResource;
        alias.info.lockCount = 0;
        alias.pStorage = source.pStorage;
        alias.privateData = source.privateData;
        D3DDDI_OPENALLOCATIONINFO& out = pArgs->pOpenAllocationInfo[i];
        out.hAllocation = alias.info.handle;
        out.PrivateDriverDataSize = UINT(alias.privateData.size());
        out.pPrivateDriverData = pPrivate;
        if (!alias.privateData.empty()) {
            memcpy(pPrivate, alias.privateData.data(), alias.privateData.size());
            pPrivate += alias.privateData.size();
        }
        opened.allocations.push_back(alias.info.handle);
        m_allocations[alias.info.handle] = std::move(alias);
    }
    m_resources[hResource] = std::move(opened);
    pArgs->hResource = hResource;
    return kStatusSuccess;
}

NTSTATUS Kernel::QueryResourceInfo(D3DKMT_QUERYRESOURCEINFO* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    const Resource* pShared = sharedResourceFor(pArgs->hGlobalShare, gpu);
    if (!pShared)
        return kStatusInvalidParameter;
    size_t totalPrivate = 0;
    for (D3DKMT_HANDLE h : pShared->allocations)
        totalPrivate += m_allocations[h].privateData.size();
    pArgs->NumAllocations = UINT(pShared->allocations.size());
    pArgs->TotalPrivateDriverDataSize = UINT(totalPrivate);
    pArgs->ResourcePrivateDriverDataSize = UINT(pShared->privateData.size());
    pArgs->PrivateRuntimeDataSize = 0;
    return kStatusSuccess;
}

} // namespace sim
