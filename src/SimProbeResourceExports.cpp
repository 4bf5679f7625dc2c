// Exports of the simulated build only: they let a test drive a device's resource object,
// API copy and execution helper inside the loaded library as the present paths do, and see
// what they made.
#include "Device9.h"
#include "Execution9.h"
#include "OpenAdapter.h"
#include "ResourceDDI9.h"
#include "SWCopierDDI9.h"

#include "platform/win.h"

#include <stdint.h>

namespace {

uint64_t handleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

/// The resource `hResource` of the device the runtime knows as `hDevice`; null if none.
ResourceDDI9* probeResource(HANDLE hDevice, HANDLE hResource, Device** ppDevice) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (ppDevice)
        *ppDevice = pDevice;
    return pDevice ? pDevice->getResource(handleValue(hResource)) : nullptr;
}

} // namespace

/// Makes the copy of `hResource` on the presenting GPU (as the first flip present does for
/// the primary) and gives its handle there. FALSE when none was made.
VESSA_EXPORT BOOL vessaProbeCreateOnPresenting(HANDLE hDevice, HANDLE hResource,
                                               uint64_t* pPresenting) {
    Device* pDevice = nullptr;
    ResourceDDI9* res = probeResource(hDevice, hResource, &pDevice);
    if (!res)
        return FALSE;
    DeviceLockGuard lock(pDevice);
    BOOL made = res->createOnPresentingGPU() ? TRUE : FALSE;
    if (pPresenting)
        *pPresenting = res->userHandles().has(unsigned(OpenAdapter::presentingGPU()))
                           ? res->getUserHandle(unsigned(OpenAdapter::presentingGPU()))
                           : 0;
    return made;
}

/// The device's execution helper's transfer of surface `srcSub` of `hSrc` into surface
/// `dstSub` of `hDst`'s presenting copy. -1 when a handle names nothing.
VESSA_EXPORT int vessaProbeTransfer(HANDLE hDevice, HANDLE hDst, UINT dstSub, HANDLE hSrc,
                                    UINT srcSub) {
    Device* pDevice = nullptr;
    ResourceDDI9* dst = probeResource(hDevice, hDst, &pDevice);
    ResourceDDI9* src = probeResource(hDevice, hSrc, nullptr);
    if (!dst || !src)
        return -1;
    DeviceLockGuard lock(pDevice);
    return pDevice->execution().transfer(dst, dstSub, src, srcSub) ? 1 : 0;
}

/// The API-copy staging buffer of `hResource`: its surfaces on both GPUs and its block.
/// FALSE when the resource has none (yet).
VESSA_EXPORT BOOL vessaProbeStagingBuffer(HANDLE hDevice, HANDLE hResource, uint64_t* pRendering,
                                          uint64_t* pPresenting, void** ppMemory) {
    ResourceDDI9* res = probeResource(hDevice, hResource, nullptr);
    SWStagingBuffer* sb = res ? res->apiCopyStagingBuffer() : nullptr;
    if (!sb)
        return FALSE;
    *pRendering = sb->renderingSurface;
    *pPresenting = sb->presentingSurface;
    *ppMemory = sb->pMemory;
    return TRUE;
}

/// Makes the non-multisampled twin of `hResource` and gives its rendering-GPU handle.
VESSA_EXPORT BOOL vessaProbeCreateNonMultisampledBuffer(HANDLE hDevice, HANDLE hResource,
                                                        uint64_t* pExtra) {
    Device* pDevice = nullptr;
    ResourceDDI9* res = probeResource(hDevice, hResource, &pDevice);
    if (!res)
        return FALSE;
    DeviceLockGuard lock(pDevice);
    res->createNonMultisampledBuffer();
    ResourceDDI9* extra = res->extraBuffer();
    *pExtra = extra && extra->userHandles().has(unsigned(OpenAdapter::renderingGPU()))
                  ? extra->getUserHandle(unsigned(OpenAdapter::renderingGPU()))
                  : 0;
    return extra ? TRUE : FALSE;
}

/// The device's execution helper's present on GPU `gpu`.
VESSA_EXPORT HRESULT vessaProbeExecutionPresent(HANDLE hDevice, const D3DDDIARG_PRESENT* pArgs,
                                                int gpu) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice)
        return E_FAIL;
    DeviceLockGuard lock(pDevice);
    return pDevice->execution().present(pArgs, gpu);
}

/// Sets the device's API-copy flag (as the device creation does when the GPU services
/// could not start); the previous value comes back.
VESSA_EXPORT BOOL vessaProbeSetUseApiCopy(HANDLE hDevice, BOOL useApiCopy) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice)
        return FALSE;
    BOOL previous = pDevice->execution().useApiCopy() ? TRUE : FALSE;
    pDevice->execution().setUseApiCopy(useApiCopy != FALSE);
    return previous;
}

/// Takes (`hold` TRUE) or lets go of the device's lock on the calling thread, as an entry
/// that is busy in a driver holds it. FALSE for an unknown device.
VESSA_EXPORT BOOL vessaProbeHoldDeviceLock(HANDLE hDevice, BOOL hold) {
    Device* pDevice = Device::fromRuntimeHandle(hDevice);
    if (!pDevice)
        return FALSE;
    if (hold)
        pDevice->lock();
    else
        pDevice->unlock();
    return TRUE;
}
