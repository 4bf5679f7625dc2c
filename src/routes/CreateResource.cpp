// Route of the wrapped CreateResource entry.
//
// A resource is created on the rendering GPU only, with no runtime handle: the rendering
// GPU's driver allocates through the kernel, not through the runtime. The runtime gets that
// driver's handle, and the resource object keeps the runtime's own handle for the day the
// resource is also made on the presenting GPU (whose driver talks to the runtime).
#include "DeviceRoute.h"

#include "FlipManager.h"
#include "ResourceDDI9.h"

#include <new>

namespace DeviceFuncs {

namespace {

uint64_t handleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

} // namespace

HRESULT CreateResource(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                       D3DDDIARG_CREATERESOURCE* pResource) {
    if (!VESSA_CHECK(Error, 0, pResource != nullptr, "CreateResource without arguments"))
        return E_INVALIDARG;
    const unsigned rendering = renderingIndex();
    const unsigned presenting = static_cast<unsigned>(OpenAdapter::presentingGPU());
    if (rendering != presenting && (pResource->Flags.Value & D3DDDI_RESOURCEFLAGS::Primary)) {
        // A new primary restarts the pacing: the presented surfaces change.
        if (pDevice->m_pFlipManager)
            pDevice->m_pFlipManager->resetPacing();
        else
            reportAssertion(ReportLevel::Error, 11064, "DeviceFuncs_auto.cpp", 197,
                            "pDevice->m_pFlipManager", "pDevice->m_pFlipManager is NULL");
        // The primary is made on the rendering GPU now and copied to the presenting GPU at
        // its first flip present; the swap chain keeps it.
        if (pDevice->m_pSwapChain)
            return pDevice->m_pSwapChain->createPrimaryResource(pResource);
    }

    HANDLE hRuntimeResource = pResource->hResource;
    pResource->hResource = nullptr;
    HRESULT hr = forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnCreateResource,
                                    "CreateResource", hDevice, pResource);
    if (FAILED(hr)) {
        pResource->hResource = hRuntimeResource; // the runtime's structure as it came
        return hr;
    }

    HANDLE hDriverResource = pResource->hResource;
    ResourceDDI9* res = nullptr;
    try {
        res = new ResourceDDI9(pDevice, *pResource, false);
    } catch (const std::bad_alloc&) {
        // Without the object nobody would ever destroy the driver's resource.
        VESSA_REPORT(Error, 0, "res != 0", "CreateResource: no memory for the resource object");
        forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDestroyResource, "DestroyResource",
                           hDevice, hDriverResource);
        pResource->hResource = hRuntimeResource;
        return E_OUTOFMEMORY;
    }
    res->ddiHandles().setRuntimeHandle(handleValue(hRuntimeResource), presenting);
    res->setUserHandle(rendering, handleValue(hDriverResource));
    pDevice->addResource(handleValue(hDriverResource), res);
    // A surface the application shares (a window's surface the desktop compositor opens)
    // must exist where the compositor runs, as an allocation the runtime knows: its copy on
    // the presenting GPU is made now, under the runtime's handle, and the compositor Blts of
    // the present paths fill it there.
    if (rendering != presenting && (pResource->Flags.Value & D3DDDI_RESOURCEFLAGS::SharedResource))
        res->createOnPresentingGPU();
    return S_OK;
}

} // namespace DeviceFuncs
