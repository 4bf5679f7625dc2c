// Routes of the wrapped entries that go to the rendering GPU's driver unchanged.
//
// The draw-dropping of skipped frames, the handle exchange for presented resources and the
// presents themselves build on the swap chain and the flip manager; until those paths exist
// these entries reach the rendering GPU's driver as an unwrapped entry would, but under the
// device lock, so they are already serialised with the device's other wrapped calls.
#include "DeviceRoute.h"

namespace DeviceFuncs {

HRESULT DrawPrimitive(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                      const D3DDDIARG_DRAWPRIMITIVE* pData, const UINT* pFlagBuffer) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawPrimitive, "DrawPrimitive",
                              hDevice, pData, pFlagBuffer);
}

HRESULT DrawIndexedPrimitive(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                             const D3DDDIARG_DRAWINDEXEDPRIMITIVE* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawIndexedPrimitive,
                              "DrawIndexedPrimitive", hDevice, pData);
}

HRESULT DrawRectPatch(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                      const D3DDDIARG_DRAWRECTPATCH* pData, const D3DDDIRECTPATCH_INFO* pInfo,
                      const FLOAT* pPatch) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawRectPatch, "DrawRectPatch",
                              hDevice, pData, pInfo, pPatch);
}

HRESULT DrawTriPatch(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                     const D3DDDIARG_DRAWTRIPATCH* pData, const D3DDDITRIPATCH_INFO* pInfo,
                     const FLOAT* pPatch) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawTriPatch, "DrawTriPatch",
                              hDevice, pData, pInfo, pPatch);
}

HRESULT DrawPrimitive2(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                       const D3DDDIARG_DRAWPRIMITIVE2* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawPrimitive2, "DrawPrimitive2",
                              hDevice, pData);
}

HRESULT DrawIndexedPrimitive2(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                              const D3DDDIARG_DRAWINDEXEDPRIMITIVE2* pData, UINT dwIndicesSize,
                              const VOID* pIndexBuffer, const UINT* pFlagBuffer) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawIndexedPrimitive2,
                              "DrawIndexedPrimitive2", hDevice, pData, dwIndicesSize, pIndexBuffer,
                              pFlagBuffer);
}

HRESULT VolBlt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
               const D3DDDIARG_VOLUMEBLT* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnVolBlt, "VolBlt", hDevice, pData);
}

HRESULT BufBlt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
               const D3DDDIARG_BUFFERBLT* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnBufBlt, "BufBlt", hDevice, pData);
}

HRESULT TexBlt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_TEXBLT* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnTexBlt, "TexBlt", hDevice, pData);
}

HRESULT Clear(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_CLEAR* pData,
              UINT NumRect, const RECT* pRect) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnClear, "Clear", hDevice, pData,
                              NumRect, pRect);
}

HRESULT SetDisplayMode(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                       const D3DDDIARG_SETDISPLAYMODE* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnSetDisplayMode, "SetDisplayMode",
                              hDevice, pData);
}

HRESULT Present(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_PRESENT* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnPresent, "Present", hDevice, pData);
}

HRESULT Flush(Device* pDevice, DeviceLockGuard&, HANDLE hDevice) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnFlush, "Flush", hDevice);
}

HRESULT Blt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_BLT* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnBlt, "Blt", hDevice, pData);
}

HRESULT ColorFill(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                  const D3DDDIARG_COLORFILL* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnColorFill, "ColorFill", hDevice,
                              pData);
}

HRESULT DepthFill(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                  const D3DDDIARG_DEPTHFILL* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDepthFill, "DepthFill", hDevice,
                              pData);
}

HRESULT SetRenderTarget(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                        const D3DDDIARG_SETRENDERTARGET* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnSetRenderTarget, "SetRenderTarget",
                              hDevice, pData);
}

} // namespace DeviceFuncs
