// Routes of the wrapped entries that reach the rendering GPU's driver with the runtime's own
// arguments: the draw-type calls, which are skipped with the frame when the flip manager
// drops one in drop-draw mode, and the buffer and volume Blts, which never are (they fill
// resources the application reuses, not the frame).
#include "DeviceRoute.h"

namespace DeviceFuncs {

HRESULT DrawPrimitive(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                      const D3DDDIARG_DRAWPRIMITIVE* pData, const UINT* pFlagBuffer) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawPrimitive, "DrawPrimitive",
                                hDevice, pData, pFlagBuffer);
}

HRESULT DrawIndexedPrimitive(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                             const D3DDDIARG_DRAWINDEXEDPRIMITIVE* pData) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawIndexedPrimitive,
                                "DrawIndexedPrimitive", hDevice, pData);
}

HRESULT DrawRectPatch(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                      const D3DDDIARG_DRAWRECTPATCH* pData, const D3DDDIRECTPATCH_INFO* pInfo,
                      const FLOAT* pPatch) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawRectPatch, "DrawRectPatch",
                                hDevice, pData, pInfo, pPatch);
}

HRESULT DrawTriPatch(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                     const D3DDDIARG_DRAWTRIPATCH* pData, const D3DDDITRIPATCH_INFO* pInfo,
                     const FLOAT* pPatch) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawTriPatch, "DrawTriPatch",
                                hDevice, pData, pInfo, pPatch);
}

HRESULT DrawPrimitive2(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                       const D3DDDIARG_DRAWPRIMITIVE2* pData) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawPrimitive2, "DrawPrimitive2",
                                hDevice, pData);
}

HRESULT DrawIndexedPrimitive2(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                              const D3DDDIARG_DRAWINDEXEDPRIMITIVE2* pData, UINT dwIndicesSize,
                              const VOID* pIndexBuffer, const UINT* pFlagBuffer) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnDrawIndexedPrimitive2,
                                "DrawIndexedPrimitive2", hDevice, pData, dwIndicesSize,
                                pIndexBuffer, pFlagBuffer);
}

HRESULT VolBlt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
               const D3DDDIARG_VOLUMEBLT* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnVolBlt, "VolBlt", hDevice, pData);
}

HRESULT BufBlt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
               const D3DDDIARG_BUFFERBLT* pData) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnBufBlt, "BufBlt", hDevice, pData);
}

HRESULT Clear(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_CLEAR* pData,
              UINT NumRect, const RECT* pRect) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnClear, "Clear", hDevice, pData,
                                NumRect, pRect);
}

HRESULT DepthFill(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                  const D3DDDIARG_DEPTHFILL* pData) {
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnDepthFill, "DepthFill", hDevice,
                                pData);
}

} // namespace DeviceFuncs
