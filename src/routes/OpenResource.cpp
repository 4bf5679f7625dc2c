// Route of the wrapped OpenResource entry.
//
// A resource the application opens (the desktop's shared primary) exists on the presenting
// GPU, GPU 0, whose driver talks to the runtime: it is opened there alone, with the
// runtime's arguments, and the runtime holds that driver's handle.
#include "DeviceRoute.h"

#include "ResourceDDI9.h"
#include "SwapChainDDI9.h"

#include <new>

namespace DeviceFuncs {

namespace {

uint64_t handleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

} // namespace

HRESULT OpenResource(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                     D3DDDIARG_OPENRESOURCE* pResource) {
    (void)hDevice;
    if (!VESSA_CHECK(Error, 0, pResource != nullptr, "OpenResource without arguments"))
        return E_INVALIDARG;
    const unsigned presenting = static_cast<unsigned>(OpenAdapter::presentingGPU());
    PFND3DDDI_OPENRESOURCE open = pDevice->deviceFuncs(presenting).pfnOpenResource;
    if (!VESSA_CHECK(Error, 0, open != nullptr, "OpenResource: the presenting GPU has no device"))
        return E_FAIL;
    HRESULT hr = open(pDevice->gpuHandle(presenting), pResource);
    if (hr != S_OK)
        return hr;

    // A shared resource has no creation arguments of its own: one surface, no list.
    D3DDDIARG_CREATERESOURCE args = {};
    args.SurfCount = 1;
    ResourceDDI9* res = nullptr;
    try {
        res = new ResourceDDI9(pDevice, args, true);
    } catch (const std::bad_alloc&) {
        VESSA_REPORT(Error, 0, "res != 0", "OpenResource: no memory for the resource object");
        PFND3DDDI_DESTROYRESOURCE destroy = pDevice->deviceFuncs(presenting).pfnDestroyResource;
        if (destroy)
            destroy(pDevice->gpuHandle(presenting), pResource->hResource);
        return E_OUTOFMEMORY;
    }
    res->setUserHandle(presenting, handleValue(pResource->hResource));
    pDevice->addResource(handleValue(pResource->hResource), res);
    if (pDevice->m_pSwapChain)
        pDevice->m_pSwapChain->m_bSharedPrimaryAdded = false;
    return hr;
}

} // namespace DeviceFuncs
