// Exports of the simulated build only: they let a test look at a device's interop staging
// ring and drive the GPU services' steps inside the loaded library as the present paths do.
#include "Device9.h"
#include "GpuServices.h"
#include "GpuServicesDDI9.h"
#include "ResourceDDI9.h"
#include "SimProbeStagingRing.h"
#include "SwapChainDDI9.h"

#include "platform/win.h"

#include <stdint.h>
#include <string.h>

namespace {

uint64_t handleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

GpuServices* services(Device* pDevice) {
    return pDevice ? static_cast<GpuServices*>(pDevice->gpuServices()) : nullptr;
}

/// A swap chain whose present target a test names; it counts the worker's presents.
class ProbeSwapChain : public SwapChainDDI9 {
public:
    explicit ProbeSwapChain(Device* pDevice) : SwapChainDDI9(pDevice) {}
    void getPresentTarget(ResourceDDI9** ppResource, UINT* pSubresource) override {
        *ppResource = m_pTarget;
        *pSubresource = m_subresource;
    }
    HRESULT presentTransferred(ResourceDDI9* pResource, UINT subresource) override {
        if (pResource == m_pTarget && subresource == m_subresource)
            ++m_presents;
        return S_OK;
    }
    ResourceDDI9* m_pTarget = nullptr;
    unsigned m_subresource = 0;
    unsigned m_presents = 0;
};

} // namespace

VESSA_EXPORT BOOL vessaProbeStagingRing(HANDLE hDevice, VessaProbeStagingRing* pOut) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice || !pOut)
        return FALSE;
    DeviceLockGuard lock(pDevice);
    for (unsigned i = 0; i < 4; ++i) {
        StagingBuffer* rec = pDevice->stagingBuffer(i);
        pOut->states[i] = rec ? rec->state : 0xFFFFFFFFu;
        pOut->tokens[i] = rec ? rec->token : 0;
        pOut->queries[i] = rec ? rec->query : 0;
    }
    pOut->writeCount = pDevice->stagingWriteCount();
    pOut->readCount = pDevice->stagingReadCount();
    memcpy(pOut->desc, pDevice->stagingDesc(), sizeof pOut->desc);
    pOut->groupId = pDevice->interopGroupId();
    pOut->registered = pDevice->interopRegistered() ? TRUE : FALSE;
    return TRUE;
}

/// The process-wide services: partial-copy fraction, mode and interop user count. FALSE
/// when there are none.
VESSA_EXPORT BOOL vessaProbeGpuServices(double* pPartialCopy, BOOL* pAsynchronous,
                                        uint32_t* pUsers) {
    GpuServices* pServices = GpuServices::instance();
    if (!pServices)
        return FALSE;
    *pPartialCopy = pServices->partialCopy();
    *pAsynchronous = pServices->asynchronous() ? TRUE : FALSE;
    *pUsers = pServices->getUserCount();
    return TRUE;
}

/// The rect a transfer of a `width` x `height` source copies.
VESSA_EXPORT BOOL vessaProbePartialRect(uint32_t width, uint32_t height, RECT* pRect) {
    GpuServices* pServices = GpuServices::instance();
    if (!pServices)
        return FALSE;
    *pRect = pServices->partialRect(width, height);
    return TRUE;
}

/// The completion step the swap chain runs after a transfer.
VESSA_EXPORT BOOL vessaProbeCompletionStep(HANDLE hDevice, HANDLE hDst, UINT dstSub, HANDLE hSrc,
                                           UINT srcSub) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice || !services(pDevice))
        return FALSE;
    DeviceLockGuard lock(pDevice);
    ResourceDDI9* dst = pDevice->getResource(handleValue(hDst));
    ResourceDDI9* src = pDevice->getResource(handleValue(hSrc));
    if (!dst || !src)
        return FALSE;
    services(pDevice)->completionStep(pDevice, dst, dstSub, src, srcSub);
    return TRUE;
}

/// Stops the device's worker thread (so a test runs the passes itself); FALSE without one.
VESSA_EXPORT BOOL vessaProbeStopWorker(HANDLE hDevice) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice || pDevice->workerState() != kWorkerRunning)
        return FALSE;
    pDevice->stopWorker();
    return TRUE;
}

/// The device's worker state.
VESSA_EXPORT uint32_t vessaProbeWorkerState(HANDLE hDevice) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    return pDevice ? pDevice->workerState() : 0xFFFFFFFFu;
}

/// One worker pass, as the worker thread runs it.
VESSA_EXPORT BOOL vessaProbeWorkerPass(HANDLE hDevice) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice || !services(pDevice))
        return FALSE;
    DeviceLockGuard lock(pDevice);
    services(pDevice)->workerPass(pDevice);
    return TRUE;
}

/// Replaces the device's swap chain by one whose present target is (`hTarget`, `sub`);
/// later calls only change the target. Returns how many frames the worker presented there.
VESSA_EXPORT int vessaProbePresentTarget(HANDLE hDevice, HANDLE hTarget, UINT sub) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice)
        return -1;
    DeviceLockGuard lock(pDevice);
    ProbeSwapChain* pProbe = dynamic_cast<ProbeSwapChain*>(pDevice->m_pSwapChain);
    if (!pProbe) {
        pProbe = new ProbeSwapChain(pDevice);
        delete pDevice->m_pSwapChain;
        pDevice->m_pSwapChain = pProbe;
    }
    pProbe->m_pTarget = hTarget ? pDevice->getResource(handleValue(hTarget)) : nullptr;
    pProbe->m_subresource = sub;
    return int(pProbe->m_presents);
}

/// The 56-byte descriptors the device's registration passes.
VESSA_EXPORT BOOL vessaProbeDeviceDescriptors(HANDLE hDevice, void* pOut112) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice || !pOut112)
        return FALSE;
    ViDeviceDescriptor descriptors[2];
    GpuServicesDDI9::describeDevice(pDevice, descriptors);
    memcpy(pOut112, descriptors, sizeof descriptors);
    return TRUE;
}

/// The device's per-GPU view and table addresses, as the descriptors should carry them.
VESSA_EXPORT BOOL vessaProbeDeviceAddresses(HANDLE hDevice, uint64_t views[2], uint64_t funcs[2],
                                            uint64_t* pCallbacks, uint64_t* pCallThrough) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice)
        return FALSE;
    for (unsigned i = 0; i < 2; ++i) {
        views[i] = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pDevice->view(i)));
        funcs[i] =
            static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pDevice->deviceFuncsArray() + i));
    }
    *pCallbacks = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&pDevice->runtimeCallbacks(0)));
    *pCallThrough =
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pDevice->kernelCallThroughTable()));
    return TRUE;
}

/// The mapped cell of `hResource` on `gpu` (its content), 0 when none is cached.
VESSA_EXPORT uint64_t vessaProbeMappedCell(HANDLE hDevice, HANDLE hResource, UINT gpu) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice)
        return 0;
    DeviceLockGuard lock(pDevice);
    ResourceDDI9* res = pDevice->getResource(handleValue(hResource));
    void* pCell = res ? res->mappedCell(gpu) : nullptr;
    return pCell ? *static_cast<uint64_t*>(pCell) | (uint64_t(1) << 63) : 0;
}
