// DeviceBase: the resource map, the context slots and the device lock.
//
// The report lines below are long-standing report sites; keep them stable.
#include "DeviceBase.h"

#include "OpenAdapter.h"
#include "Report.h"
#include "ResourceDDI9.h"

#include <string.h>

namespace {

// The default kernel call-through of an entry whose thunk takes `Args*`: calls the thunk
// with the argument, through the thunk's own type.
template <typename Args>
NTSTATUS APIENTRY callThrough(UINT interopGroupId, UINT gpuIndex, VOID* pKmtArgs, VOID* pfnThunk) {
    (void)interopGroupId;
    (void)gpuIndex;
    typedef NTSTATUS(APIENTRY * Thunk)(Args*);
    Thunk thunk = reinterpret_cast<Thunk>(pfnThunk);
    if (!thunk)
        return STATUS_INVALID_PARAMETER;
    return thunk(static_cast<Args*>(pKmtArgs));
}

// Handles print as their low 32 bits, as the reports have always shown them.
unsigned shortHandle(uint64_t handle) {
    return static_cast<unsigned>(handle);
}

} // namespace

DeviceBase::DeviceBase()
    : DdiObject(kDdiObjectDevice), m_auxScreenResource(kDdiObjectResource), m_workerState(0),
      m_pSwapChain(nullptr), m_workerThreadId(0), m_hWorkerThread(nullptr), m_pAdapter(nullptr),
      m_stagingWriteCount(0), m_stagingReadCount(0), m_interopGroupId(0),
      m_interopRegistered(false) {
    for (auto& context : m_contexts)
        context.store(0);
    memset(m_runtimeCallbacks, 0, sizeof m_runtimeCallbacks);
    m_kernelCallThrough[kctCreateAllocation] = callThrough<D3DKMT_CREATEALLOCATION>;
    m_kernelCallThrough[kctDestroyAllocation] = callThrough<const D3DKMT_DESTROYALLOCATION>;
    m_kernelCallThrough[kctSetAllocationPriority] = callThrough<const D3DKMT_SETALLOCATIONPRIORITY>;
    m_kernelCallThrough[kctLock] = callThrough<D3DKMT_LOCK>;
    m_kernelCallThrough[kctUnlock] = callThrough<const D3DKMT_UNLOCK>;
    m_kernelCallThrough[kctEscape] = callThrough<const D3DKMT_ESCAPE>;
    m_kernelCallThrough[kctCreateContext] = callThrough<D3DKMT_CREATECONTEXT>;
    m_kernelCallThrough[kctDestroyContext] = callThrough<const D3DKMT_DESTROYCONTEXT>;
    m_kernelCallThrough[kctReserved8] = callThrough<void>;
    m_kernelCallThrough[kctReserved9] = callThrough<void>;
    m_kernelCallThrough[kctRender] = callThrough<D3DKMT_RENDER>;
    m_kernelCallThrough[kctReserved11] = callThrough<void>;
    m_kernelCallThrough[kctQueryAllocationResidency] =
        callThrough<const D3DKMT_QUERYALLOCATIONRESIDENCY>;
    memset(&m_deviceCallbacks, 0, sizeof m_deviceCallbacks);
    memset(&m_auxDeviceCallbacks, 0, sizeof m_auxDeviceCallbacks);
    memset(m_stagingBuffers, 0, sizeof m_stagingBuffers);
    memset(m_stagingDesc, 0, sizeof m_stagingDesc);
    InitializeCriticalSection(&m_deviceLock);
}

DeviceBase::~DeviceBase() {
    DeleteCriticalSection(&m_deviceLock);
}

void DeviceBase::addResource(uint64_t hResource, ResourceDDI9* pResource) {
    VESSA_CHECK_AT(108, Error, 11031, m_resourceMap.end() == m_resourceMap.find(hResource),
                   "Resource %x already defined!", shortHandle(hResource));
    m_resourceMap[hResource] = pResource;
}

ResourceDDI9* DeviceBase::getResource(uint64_t hResource) {
    auto it = m_resourceMap.find(hResource);
    if (!VESSA_CHECK_AT(114, Error, 11032, m_resourceMap.end() != m_resourceMap.find(hResource),
                        "Could not find Resource %x!", shortHandle(hResource)))
        return nullptr;
    ResourceDDI9* res = it->second;
    // The runtime names an ordinary resource by the rendering GPU driver's handle; a shared
    // one by the presenting GPU's, which it opened there.
    if (res && !res->isSharedResource()) {
        VESSA_CHECK_AT(116, Error, 11033,
                       res->isSharedResource() ||
                           res->getUserHandle(OpenAdapter::renderingGPU()) == hResource,
                       "Application resource should be of OpenAdapter::renderingGPU()!");
    }
    return res;
}

void DeviceBase::removeResource(uint64_t hResource) {
    auto it = m_resourceMap.find(hResource);
    if (!VESSA_CHECK_AT(122, Error, 11034, m_resourceMap.end() != m_resourceMap.find(hResource),
                        "Could not find Resource %x!", shortHandle(hResource)))
        return;
    m_resourceMap.erase(it);
}

void DeviceBase::setContext(unsigned index, uint64_t contextHandle) {
    if (index >= kGpuSlots)
        return;
    uint64_t empty = 0;
    m_contexts[index].compare_exchange_strong(empty, contextHandle);
}

uint64_t DeviceBase::getContext(unsigned index) {
    return index < kGpuSlots ? m_contexts[index].load() : 0;
}
