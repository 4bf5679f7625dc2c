// Route of the wrapped DestroyResource entry.
//
// The resource goes on every GPU that holds it, in ascending GPU order (so the presenting
// GPU's copy before the rendering GPU's), then the object goes with what it still owns (its
// API-copy staging buffer, its downsampling twin) and leaves the map.
#include "DeviceRoute.h"

#include "FlipManager.h"
#include "ResourceDDI9.h"
#include "SwapChainDDI9.h"

namespace DeviceFuncs {

namespace {

uint64_t handleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

HANDLE asHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

} // namespace

HRESULT DestroyResource(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, HANDLE hResource) {
    (void)hDevice;
    const uint64_t handle = handleValue(hResource);
    ResourceDDI9* res = pDevice->getResource(handle);
    if (!res)
        return E_FAIL; // reported by the look-up; no driver knows what to destroy

    if (SwapChainDDI9* swapChain = pDevice->m_pSwapChain) {
        // Asked before the removal: the swap chain forgets the primary as it removes it.
        const bool presentSource = swapChain->isPresentSource(res);
        swapChain->removeResource(res);
        if (presentSource && pDevice->m_pFlipManager)
            pDevice->m_pFlipManager->resetPacing();
    }

    HRESULT result = S_OK;
    for (unsigned gpu = 0; gpu < DdiObject::kGpuSlots; ++gpu) {
        if (!pDevice->userHandles().has(gpu) || !res->userHandles().has(gpu))
            continue;
        PFND3DDDI_DESTROYRESOURCE destroy = pDevice->deviceFuncs(gpu).pfnDestroyResource;
        result =
            destroy ? destroy(pDevice->gpuHandle(gpu), asHandle(res->getUserHandle(gpu))) : E_FAIL;
        res->setUserHandle(gpu, 0);
        if (result != S_OK)
            reportAssertion(ReportLevel::Warning, 11065, "DeviceFuncs_auto.cpp", 246,
                            "((HRESULT)0L) == res", "Could not destroy resource on gpu:%d",
                            static_cast<int>(gpu));
    }
    delete res;
    pDevice->removeResource(handle);
    return result;
}

} // namespace DeviceFuncs
