// Routes of the wrapped entries that name resources to the rendering GPU.
//
// The runtime names an ordinary resource by the rendering GPU driver's own handle, which
// passes unchanged; a shared resource (the desktop's primary, opened on the presenting GPU)
// stands for the application's primary there and is exchanged for the primary's handle.
// The runtime's argument structures are copied, never modified.
#include "DeviceRoute.h"

namespace DeviceFuncs {

namespace {

uint64_t handleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

} // namespace

bool exchangeForPresentHandle(Device* pDevice, HANDLE* pHandle) {
    ResourceDDI9* res = pDevice->getResource(handleValue(*pHandle));
    if (!res || !pDevice->m_pSwapChain)
        return false; // an unknown handle is reported by the look-up
    const uint64_t exchanged = pDevice->m_pSwapChain->getPresentHandle(res);
    if (!VESSA_CHECK(Error, 0, exchanged != 0, "resource %x names nothing on the rendering GPU",
                     static_cast<unsigned>(handleValue(*pHandle))))
        return false;
    *pHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(exchanged));
    return true;
}

HRESULT TexBlt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_TEXBLT* pData) {
    if (!pData || !isHybrid())
        return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnTexBlt, "TexBlt", hDevice,
                                  pData);
    D3DDDIARG_TEXBLT args = *pData;
    if (!exchangeForPresentHandle(pDevice, &args.hDstResource) ||
        !exchangeForPresentHandle(pDevice, &args.hSrcResource))
        return E_FAIL;
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnTexBlt, "TexBlt", hDevice,
                              static_cast<const D3DDDIARG_TEXBLT*>(&args));
}

HRESULT ColorFill(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                  const D3DDDIARG_COLORFILL* pData) {
    if (!pData || !isHybrid())
        return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnColorFill, "ColorFill",
                                    hDevice, pData);
    D3DDDIARG_COLORFILL args = *pData;
    if (!exchangeForPresentHandle(pDevice, &args.hResource))
        return E_FAIL;
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnColorFill, "ColorFill", hDevice,
                                static_cast<const D3DDDIARG_COLORFILL*>(&args));
}

// The render target is state, not work: a skipped frame's draws go, but the target they
// would have drawn into stays set, or every later frame would draw into the wrong surface.
HRESULT SetRenderTarget(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                        const D3DDDIARG_SETRENDERTARGET* pData) {
    if (!pData || !isHybrid() || !pData->hRenderTarget)
        return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnSetRenderTarget,
                                  "SetRenderTarget", hDevice, pData);
    D3DDDIARG_SETRENDERTARGET args = *pData;
    if (!exchangeForPresentHandle(pDevice, &args.hRenderTarget))
        return E_FAIL;
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnSetRenderTarget, "SetRenderTarget",
                              hDevice, static_cast<const D3DDDIARG_SETRENDERTARGET*>(&args));
}

} // namespace DeviceFuncs
