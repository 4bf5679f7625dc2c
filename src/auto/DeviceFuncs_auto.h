// DeviceFuncs_auto: the device entries the runtime receives in place of the rendering GPU
// driver's, generated from one list.
//
// The runtime's device table is the rendering GPU driver's own with exactly these entries
// replaced; every other call goes straight to that driver. Each wrapper has one shape: find
// the device by the runtime's handle (an unknown handle fails the call with E_FAIL), take
// the device lock, run the entry's route, release the lock on every path, and never let a
// C++ exception reach the runtime.
#pragma once

#include "platform/win.h"

class Device;
class DeviceLockGuard;

// X(slot, member, Route, Pfn, params, args): the wrapped entries of D3DDDI_DEVICEFUNCS.
#define VESSA_DEVICEFUNCS_WRAPPED(X)                                                               \
    X(10, pfnDrawPrimitive, DrawPrimitive, PFND3DDDI_DRAWPRIMITIVE,                                \
      (HANDLE hDevice, const D3DDDIARG_DRAWPRIMITIVE* pData, const UINT* pFlagBuffer),             \
      (hDevice, pData, pFlagBuffer))                                                               \
    X(11, pfnDrawIndexedPrimitive, DrawIndexedPrimitive, PFND3DDDI_DRAWINDEXEDPRIMITIVE,           \
      (HANDLE hDevice, const D3DDDIARG_DRAWINDEXEDPRIMITIVE* pData), (hDevice, pData))             \
    X(12, pfnDrawRectPatch, DrawRectPatch, PFND3DDDI_DRAWRECTPATCH,                                \
      (HANDLE hDevice, const D3DDDIARG_DRAWRECTPATCH* pData, const D3DDDIRECTPATCH_INFO* pInfo,    \
       const FLOAT* pPatch),                                                                       \
      (hDevice, pData, pInfo, pPatch))                                                             \
    X(13, pfnDrawTriPatch, DrawTriPatch, PFND3DDDI_DRAWTRIPATCH,                                   \
      (HANDLE hDevice, const D3DDDIARG_DRAWTRIPATCH* pData, const D3DDDITRIPATCH_INFO* pInfo,      \
       const FLOAT* pPatch),                                                                       \
      (hDevice, pData, pInfo, pPatch))                                                             \
    X(14, pfnDrawPrimitive2, DrawPrimitive2, PFND3DDDI_DRAWPRIMITIVE2,                             \
      (HANDLE hDevice, const D3DDDIARG_DRAWPRIMITIVE2* pData), (hDevice, pData))                   \
    X(15, pfnDrawIndexedPrimitive2, DrawIndexedPrimitive2, PFND3DDDI_DRAWINDEXEDPRIMITIVE2,        \
      (HANDLE hDevice, const D3DDDIARG_DRAWINDEXEDPRIMITIVE2* pData, UINT dwIndicesSize,           \
       const VOID* pIndexBuffer, const UINT* pFlagBuffer),                                         \
      (hDevice, pData, dwIndicesSize, pIndexBuffer, pFlagBuffer))                                  \
    X(16, pfnVolBlt, VolBlt, PFND3DDDI_VOLBLT, (HANDLE hDevice, const D3DDDIARG_VOLUMEBLT* pData), \
      (hDevice, pData))                                                                            \
    X(17, pfnBufBlt, BufBlt, PFND3DDDI_BUFBLT, (HANDLE hDevice, const D3DDDIARG_BUFFERBLT* pData), \
      (hDevice, pData))                                                                            \
    X(18, pfnTexBlt, TexBlt, PFND3DDDI_TEXBLT, (HANDLE hDevice, const D3DDDIARG_TEXBLT* pData),    \
      (hDevice, pData))                                                                            \
    X(21, pfnClear, Clear, PFND3DDDI_CLEAR,                                                        \
      (HANDLE hDevice, const D3DDDIARG_CLEAR* pData, UINT NumRect, const RECT* pRect),             \
      (hDevice, pData, NumRect, pRect))                                                            \
    X(37, pfnCreateResource, CreateResource, PFND3DDDI_CREATERESOURCE,                             \
      (HANDLE hDevice, D3DDDIARG_CREATERESOURCE * pResource), (hDevice, pResource))                \
    X(38, pfnDestroyResource, DestroyResource, PFND3DDDI_DESTROYRESOURCE,                          \
      (HANDLE hDevice, HANDLE hResource), (hDevice, hResource))                                    \
    X(39, pfnSetDisplayMode, SetDisplayMode, PFND3DDDI_SETDISPLAYMODE,                             \
      (HANDLE hDevice, const D3DDDIARG_SETDISPLAYMODE* pData), (hDevice, pData))                   \
    X(40, pfnPresent, Present, PFND3DDDI_PRESENT,                                                  \
      (HANDLE hDevice, const D3DDDIARG_PRESENT* pData), (hDevice, pData))                          \
    X(41, pfnFlush, Flush, PFND3DDDI_FLUSH, (HANDLE hDevice), (hDevice))                           \
    X(55, pfnBlt, Blt, PFND3DDDI_BLT, (HANDLE hDevice, const D3DDDIARG_BLT* pData),                \
      (hDevice, pData))                                                                            \
    X(56, pfnColorFill, ColorFill, PFND3DDDI_COLORFILL,                                            \
      (HANDLE hDevice, const D3DDDIARG_COLORFILL* pData), (hDevice, pData))                        \
    X(57, pfnDepthFill, DepthFill, PFND3DDDI_DEPTHFILL,                                            \
      (HANDLE hDevice, const D3DDDIARG_DEPTHFILL* pData), (hDevice, pData))                        \
    X(62, pfnSetRenderTarget, SetRenderTarget, PFND3DDDI_SETRENDERTARGET,                          \
      (HANDLE hDevice, const D3DDDIARG_SETRENDERTARGET* pData), (hDevice, pData))                  \
    X(91, pfnDestroyDevice, DestroyDevice, PFND3DDDI_DESTROYDEVICE, (HANDLE hDevice), (hDevice))   \
    X(93, pfnOpenResource, OpenResource, PFND3DDDI_OPENRESOURCE,                                   \
      (HANDLE hDevice, D3DDDIARG_OPENRESOURCE * pResource), (hDevice, pResource))

namespace DeviceFuncs {

/// Number of wrapped entries.
constexpr unsigned kWrappedCount = 21;

/// Writes the wrappers into `pFuncs` (the runtime's copy of the rendering GPU's table).
void fill(D3DDDI_DEVICEFUNCS* pFuncs);

/// True when slot `slot` of D3DDDI_DEVICEFUNCS is a wrapped entry.
bool isWrapped(unsigned slot);

/// The wrappers, with the signatures of the entries they replace.
#define VESSA_DEVICEFUNCS_DECLARE(slot, member, Route, Pfn, params, args)                          \
    HRESULT APIENTRY member params;
VESSA_DEVICEFUNCS_WRAPPED(VESSA_DEVICEFUNCS_DECLARE)
#undef VESSA_DEVICEFUNCS_DECLARE

/// The route of each entry, run by its wrapper with the device found and its lock held
/// through `lock`: (device, lock, the entry's own parameters). A route may release the lock
/// early (device destruction does, before it deletes the device). Each route's body lives
/// in its own file under src/routes.
#define VESSA_DEVICEFUNCS_ROUTE_PARAMS(...) (Device * pDevice, DeviceLockGuard & lock, __VA_ARGS__)
#define VESSA_DEVICEFUNCS_ROUTE(slot, member, Route, Pfn, params, args)                            \
    HRESULT Route VESSA_DEVICEFUNCS_ROUTE_PARAMS params;
VESSA_DEVICEFUNCS_WRAPPED(VESSA_DEVICEFUNCS_ROUTE)
#undef VESSA_DEVICEFUNCS_ROUTE

} // namespace DeviceFuncs
