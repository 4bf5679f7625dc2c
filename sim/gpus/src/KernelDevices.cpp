// Devices, contexts, command submission and synchronisation objects of the simulated kernel.
#include "sim/gpus/Kernel.h"

#include "GpuQueues.h"
#include "sim/gpus/GpuCommand.h"
#include "sim/gpus/KernelStatus.h"
#include "sim/gpus/SimSubmission.h"

#include <new>
#include <string.h>

namespace sim {

bool Kernel::newBuffers(CommandBuffers& buffers, uint32_t commandSize, uint32_t allocationCount,
                        uint32_t patchCount) {
    CommandBuffers fresh;
    fresh.pCommands.reset(new (std::nothrow) uint8_t[commandSize]());
    fresh.pAllocations.reset(new (std::nothrow) D3DDDI_ALLOCATIONLIST[allocationCount]());
    fresh.pPatches.reset(new (std::nothrow) D3DDDI_PATCHLOCATIONLIST[patchCount]());
    if (!fresh.pCommands || !fresh.pAllocations || !fresh.pPatches)
        return false;
    fresh.commandSize = commandSize;
    fresh.allocationCount = allocationCount;
    fresh.patchCount = patchCount;
    // The previous buffers are released here: a driver that keeps writing into a buffer it
    // has submitted is wrong on Windows too, and the sanitizers then say so.
    buffers = std::move(fresh);
    return true;
}

NTSTATUS Kernel::CreateDevice(D3DKMT_CREATEDEVICE* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = adapterGpu(pArgs->hAdapter);
    if (gpu < 0 || !onlyKnownBits(pArgs->Flags.Value, kCreateDeviceFlagBits))
        return kStatusInvalidParameter;
    Device device;
    device.gpu = gpu;
    device.hAdapter = pArgs->hAdapter;
    device.flags = pArgs->Flags.Value;
    if (!newBuffers(device.buffers, kCommandBufferSize, kAllocationListSize,
                    kPatchLocationListSize))
        return kStatusNoMemory;
    D3DKMT_HANDLE h = newHandle();
    device.submission.handle = h;
    device.submission.hDevice = h;
    device.submission.gpu = gpu;
    Device& stored = m_devices[h] = std::move(device);
    m_pQueues->addContext(h, gpu); // a legacy device submits on its own queue
    pArgs->hDevice = h;
    pArgs->pCommandBuffer = stored.buffers.pCommands.get();
    pArgs->CommandBufferSize = stored.buffers.commandSize;
    pArgs->pAllocationList = stored.buffers.pAllocations.get();
    pArgs->AllocationListSize = stored.buffers.allocationCount;
    pArgs->pPatchLocationList = stored.buffers.pPatches.get();
    pArgs->PatchLocationListSize = stored.buffers.patchCount;
    return kStatusSuccess;
}

void Kernel::destroyDeviceLocked(D3DKMT_HANDLE h) {
    releaseSourcesLocked(h, true);
    // The device's queues finish (or are reported as stuck) before anything goes.
    for (auto it = m_contexts.begin(); it != m_contexts.end();) {
        if (it->second.info.hDevice == h) {
            m_pQueues->removeContext(it->first);
            it = m_contexts.erase(it);
        } else {
            ++it;
        }
    }
    m_pQueues->removeContext(h);
    for (auto it = m_syncObjects.begin(); it != m_syncObjects.end();) {
        if (it->second.info.hDevice == h)
            m_pQueues->removeSyncObject(it->first);
        it = it->second.info.hDevice == h ? m_syncObjects.erase(it) : std::next(it);
    }
    for (auto it = m_allocations.begin(); it != m_allocations.end();) {
        if (it->second.info.hDevice == h)
            waitForAllocationIdle(it->first);
        it = it->second.info.hDevice == h ? m_allocations.erase(it) : std::next(it);
    }
    for (auto it = m_resources.begin(); it != m_resources.end();) {
        it = it->second.hDevice == h ? m_resources.erase(it) : std::next(it);
    }
    m_devices.erase(h);
}

NTSTATUS Kernel::DestroyDevice(const D3DKMT_DESTROYDEVICE* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    // Everything the device created goes with it, as the kernel cleans up after a process.
    destroyDeviceLocked(pArgs->hDevice);
    return kStatusSuccess;
}

NTSTATUS Kernel::CreateContext(D3DKMT_CREATECONTEXT* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    if (pArgs->NodeOrdinal >= gpuOf(gpu)->nodeCount ||
        !validClientHint(rawValue(pArgs->ClientHint)) ||
        !onlyKnownBits(pArgs->Flags.Value, kCreateContextFlagBits))
        return kStatusInvalidParameter;
    if (pArgs->PrivateDriverDataSize != 0 && !pArgs->pPrivateDriverData)
        return kStatusInvalidParameter;
    if (pArgs->PrivateDriverDataSize > 64 * 1024)
        return kStatusInvalidParameter;
    Context context;
    if (!newBuffers(context.buffers, kCommandBufferSize, kAllocationListSize,
                    kPatchLocationListSize))
        return kStatusNoMemory;
    D3DKMT_HANDLE h = newHandle();
    context.info.handle = h;
    context.info.hDevice = pArgs->hDevice;
    context.info.gpu = gpu;
    context.info.nodeOrdinal = pArgs->NodeOrdinal;
    Context& stored = m_contexts[h] = std::move(context);
    m_pQueues->addContext(h, gpu);
    pArgs->hContext = h;
    pArgs->pCommandBuffer = stored.buffers.pCommands.get();
    pArgs->CommandBufferSize = stored.buffers.commandSize;
    pArgs->pAllocationList = stored.buffers.pAllocations.get();
    pArgs->AllocationListSize = stored.buffers.allocationCount;
    pArgs->pPatchLocationList = stored.buffers.pPatches.get();
    pArgs->PatchLocationListSize = stored.buffers.patchCount;
    pArgs->CommandBuffer = 0;
    return kStatusSuccess;
}

NTSTATUS Kernel::DestroyContext(const D3DKMT_DESTROYCONTEXT* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    Context* pContext = findContext(pArgs->hContext);
    if (!pContext)
        return kStatusInvalidParameter;
    gpu = pContext->info.gpu;
    m_pQueues->removeContext(pArgs->hContext);
    m_contexts.erase(pArgs->hContext);
    return kStatusSuccess;
}

NTSTATUS Kernel::Render(D3DKMT_RENDER* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    // The handle is a context, or for a legacy device without contexts the device itself.
    CommandBuffers* pBuffers = nullptr;
    ContextInfo* pInfo = nullptr;
    D3DKMT_HANDLE hDevice = 0;
    if (Context* pContext = findContext(pArgs->hContext)) {
        pBuffers = &pContext->buffers;
        pInfo = &pContext->info;
        hDevice = pContext->info.hDevice;
    } else if (Device* pDevice = findDevice(pArgs->hDevice)) {
        pBuffers = &pDevice->buffers;
        pInfo = &pDevice->submission;
        hDevice = pArgs->hDevice;
    } else {
        return kStatusInvalidParameter;
    }
    gpu = pInfo->gpu;
    uint64_t end = uint64_t(pArgs->CommandOffset) + pArgs->CommandLength;
    if (end > pBuffers->commandSize || pArgs->AllocationCount > pBuffers->allocationCount ||
        !onlyKnownBits(pArgs->Flags.Value, kRenderFlagBits) ||
        pArgs->PatchLocationCount > pBuffers->patchCount ||
        pArgs->BroadcastContextCount > D3DDDI_MAX_BROADCAST_CONTEXT)
        return kStatusInvalidParameter;
    for (ULONG i = 0; i < pArgs->BroadcastContextCount; ++i) {
        Context* pOther = findContext(pArgs->BroadcastContext[i]);
        if (!pOther || pOther->info.hDevice != hDevice)
            return kStatusInvalidParameter;
    }
    // Commands come with the private data of the driver that wrote them; another GPU's
    // commands (or commands of no driver) are refused.
    if (pArgs->PrivateDriverDataSize && !pArgs->pPrivateDriverData)
        return kStatusInvalidParameter;
    if (pArgs->CommandLength) {
        SimSubmissionDesc desc;
        if (!pArgs->pPrivateDriverData || pArgs->PrivateDriverDataSize < sizeof desc)
            return kStatusInvalidParameter;
        memcpy(&desc, pArgs->pPrivateDriverData, sizeof desc);
        if (desc.magic != kSimSubmissionMagic || desc.vendorId != gpuOf(gpu)->vendorId ||
            desc.gpu != gpu)
            return kStatusInvalidParameter;
    }
    std::vector<D3DKMT_HANDLE> referenced;
    for (UINT i = 0; i < pArgs->AllocationCount; ++i) {
        D3DKMT_HANDLE hAllocation = pBuffers->pAllocations[i].hAllocation;
        if (hAllocation && !findAllocation(hAllocation, hDevice))
            return kStatusInvalidParameter;
        referenced.push_back(hAllocation);
    }
    UINT flags = pArgs->Flags.Value;
    uint32_t commandSize = kCommandBufferSize;
    uint32_t allocationCount = kAllocationListSize;
    uint32_t patchCount = kPatchLocationListSize;
    // Resize requests name the new sizes in the New...Size members.
    if (flags & D3DKMT_RENDERFLAGS::ResizeCommandBuffer)
        commandSize = pArgs->NewCommandBufferSize;
    if (flags & D3DKMT_RENDERFLAGS::ResizeAllocationList)
        allocationCount = pArgs->NewAllocationListSize;
    if (flags & D3DKMT_RENDERFLAGS::ResizePatchLocationList)
        patchCount = pArgs->NewPatchLocationListSize;
    if (commandSize == 0 || commandSize > (16u << 20) || allocationCount == 0 ||
        allocationCount > 65536 || patchCount == 0 || patchCount > 65536)
        return kStatusInvalidParameter;

    // The submission joins its queue; the GPU runs it when its turn and time come.
    queueSubmission(pInfo->handle, gpu, hDevice, pBuffers->pCommands.get() + pArgs->CommandOffset,
                    pArgs->CommandLength);
    pInfo->lastCommands.assign(pBuffers->pCommands.get() + pArgs->CommandOffset,
                               pBuffers->pCommands.get() + end);
    pInfo->lastAllocations = referenced;
    ++pInfo->submissions;
    pInfo->submittedBytes += pArgs->CommandLength;
    if (!newBuffers(*pBuffers, commandSize, allocationCount, patchCount))
        return kStatusNoMemory;
    pArgs->pNewCommandBuffer = pBuffers->pCommands.get();
    pArgs->NewCommandBufferSize = pBuffers->commandSize;
    pArgs->pNewAllocationList = pBuffers->pAllocations.get();
    pArgs->NewAllocationListSize = pBuffers->allocationCount;
    pArgs->pNewPatchLocationList = pBuffers->pPatches.get();
    pArgs->NewPatchLocationListSize = pBuffers->patchCount;
    pArgs->QueuedBufferCount = 0;
    pArgs->NewCommandBuffer = 0;
    return kStatusSuccess;
}

void Kernel::queueSubmission(D3DKMT_HANDLE hQueue, int gpu, D3DKMT_HANDLE hDevice,
                             const uint8_t* pCommands, uint32_t length) {
    m_pQueues->settle();
    const GpuDesc& g = *gpuOf(gpu);
    auto known = [&](uint32_t h) { return h && findAllocation(h, hDevice); };
    for (uint32_t offset = 0; offset + sizeof(GpuCommandToken) <= length;
         offset += sizeof(GpuCommandToken)) {
        // The simulated GPUs read the simulated drivers' tokens; other bytes run as nothing.
        GpuCommandToken token;
        memcpy(&token, pCommands + offset, sizeof token);
        GpuItem item;
        GpuRecordedWork recorded = GpuWorkTable::instance().take(hQueue, token.work);
        if (recorded.work)
            item.run = [work = std::move(recorded.work)](uint64_t) { work(); };
        item.gate = std::move(recorded.gate);
        switch (GpuOp(token.op)) {
        case GpuOp::Fill:
        case GpuOp::Clear:
        case GpuOp::Draw:
            item.durationNs = uint64_t(g.renderTimeUs) * 1000;
            break;
        case GpuOp::Blt:
        case GpuOp::Copy:
            item.durationNs = uint64_t(g.copyTimeUs) * 1000;
            break;
        default:
            break;
        }
        if (known(token.hRead))
            item.reads.push_back(token.hRead);
        if (known(token.hWrite))
            item.writes.push_back(token.hWrite);
        m_pQueues->push(hQueue, std::move(item));
    }
    m_pQueues->endSubmission(hQueue);
}

NTSTATUS Kernel::CreateSynchronizationObject(D3DKMT_CREATESYNCHRONIZATIONOBJECT* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    SyncObject object;
    object.desc = pArgs->Info;
    switch (rawValue(pArgs->Info.Type)) {
    case D3DDDI_SYNCHRONIZATION_MUTEX:
        object.count = pArgs->Info.SynchronizationMutex.InitialState ? 1 : 0;
        break;
    case D3DDDI_SEMAPHORE:
        // A maximum count of 0 is accepted, as Windows accepts it (such a semaphore is
        // never signalled); only an initial count above the maximum is refused.
        if (pArgs->Info.Semaphore.InitialCount > pArgs->Info.Semaphore.MaxCount)
            return kStatusInvalidParameter;
        object.count = pArgs->Info.Semaphore.InitialCount;
        break;
    default:
        // Fences and CPU notifications belong to the later thunk versions.
        return kStatusInvalidParameter;
    }
    D3DKMT_HANDLE h = newHandle();
    object.info.handle = h;
    object.info.hDevice = pArgs->hDevice;
    object.info.gpu = gpu;
    object.info.type = rawValue(pArgs->Info.Type);
    m_syncObjects[h] = object;
    m_pQueues->addSyncObject(h, object.info.type == D3DDDI_SYNCHRONIZATION_MUTEX, object.count,
                             object.info.type == D3DDDI_SEMAPHORE ? pArgs->Info.Semaphore.MaxCount
                                                                  : 1);
    pArgs->hSyncObject = h;
    return kStatusSuccess;
}

NTSTATUS Kernel::DestroySynchronizationObject(const D3DKMT_DESTROYSYNCHRONIZATIONOBJECT* pArgs,
                                              int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    auto it = m_syncObjects.find(pArgs->hSyncObject);
    if (it == m_syncObjects.end())
        return kStatusInvalidParameter;
    gpu = it->second.info.gpu;
    m_pQueues->removeSyncObject(pArgs->hSyncObject);
    m_syncObjects.erase(it);
    return kStatusSuccess;
}

namespace {

// Checks a context and its object list; fills the objects' table entries.
template <class Objects, class Contexts>
NTSTATUS checkSyncList(Contexts& contexts, Objects& objects, D3DKMT_HANDLE hContext, UINT count,
                       const D3DKMT_HANDLE* pHandles, UINT limit, int& gpu,
                       std::vector<typename Objects::mapped_type*>& out) {
    auto context = contexts.find(hContext);
    if (context == contexts.end())
        return kStatusInvalidParameter;
    gpu = context->second.info.gpu;
    if (count == 0 || count > limit)
        return kStatusInvalidParameter;
    for (UINT i = 0; i < count; ++i) {
        auto it = objects.find(pHandles[i]);
        if (it == objects.end() || it->second.info.hDevice != context->second.info.hDevice)
            return kStatusInvalidParameter;
        out.push_back(&it->second);
    }
    return kStatusSuccess;
}

} // namespace

NTSTATUS Kernel::WaitForSynchronizationObject(const D3DKMT_WAITFORSYNCHRONIZATIONOBJECT* pArgs,
                                              int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    std::vector<SyncObject*> objects;
    NTSTATUS status =
        checkSyncList(m_contexts, m_syncObjects, pArgs->hContext, pArgs->ObjectCount,
                      pArgs->ObjectHandleArray, D3DDDI_MAX_OBJECT_WAITED_ON, gpu, objects);
    if (status < 0)
        return status;
    // The wait joins the context's queue: the context stalls there until the objects are
    // signalled (by a signal another queue runs), as the GPU scheduler does.
    GpuItem wait;
    wait.kind = GpuItem::Kind::Wait;
    for (SyncObject* pObject : objects) {
        ++pObject->info.waits;
        wait.objects.push_back(pObject->info.handle);
    }
    m_pQueues->settle();
    m_pQueues->push(pArgs->hContext, std::move(wait));
    return kStatusSuccess;
}

NTSTATUS Kernel::SignalSynchronizationObject(const D3DKMT_SIGNALSYNCHRONIZATIONOBJECT* pArgs,
                                             int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    std::vector<SyncObject*> objects;
    NTSTATUS status =
        checkSyncList(m_contexts, m_syncObjects, pArgs->hContext, pArgs->ObjectCount,
                      pArgs->ObjectHandleArray, D3DDDI_MAX_OBJECT_SIGNALED, gpu, objects);
    if (status < 0)
        return status;
    // The signal runs when the context's queue reaches it.
    GpuItem signal;
    signal.kind = GpuItem::Kind::Signal;
    for (SyncObject* pObject : objects) {
        ++pObject->info.signals;
        signal.objects.push_back(pObject->info.handle);
    }
    m_pQueues->settle();
    m_pQueues->push(pArgs->hContext, std::move(signal));
    return kStatusSuccess;
}

} // namespace sim
