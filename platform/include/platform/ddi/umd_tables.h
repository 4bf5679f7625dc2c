// Function tables of the Direct3D 9 user-mode DDI: the driver's device and adapter entries,
// the runtime's device and adapter callbacks, and the driver's OpenAdapter export.
//
// Each table comes from one X-macro list, X(slot, member, PFN type, (parameters), (arguments)),
// which also declares the PFN types and checks every slot's offset. Generated routing tables
// expand the same lists, so a wrapper's signature, its slot and the table cannot drift apart.
// Every entry returns HRESULT and is APIENTRY.
#pragma once

#include "platform/ddi/umd_args.h"

// Argument records of entries whose contents the system never reads: declared, not defined.
struct D3DDDIARG_AUTHENTICATEDCHANNELKEYEXCHANGE;
struct D3DDDIARG_CAPTURETOSYSMEM;
struct D3DDDIARG_COMPOSERECTS;
struct D3DDDIARG_CONFIGUREAUTHENTICATEDCHANNEL;
struct D3DDDIARG_CREATEAUTHENTICATEDCHANNEL;
struct D3DDDIARG_CREATECRYPTOSESSION;
struct D3DDDIARG_CREATEDECODEDEVICE;
struct D3DDDIARG_CREATEEXTENSIONDEVICE;
struct D3DDDIARG_CREATELIGHT;
struct D3DDDIARG_CREATEOVERLAY;
struct D3DDDIARG_CREATEPIXELSHADER;
struct D3DDDIARG_CREATEVERTEXSHADERDECL;
struct D3DDDIARG_CREATEVERTEXSHADERFUNC;
struct D3DDDIARG_CREATEVIDEOPROCESSDEVICE;
struct D3DDDIARG_CRYPTOSESSIONKEYEXCHANGE;
struct D3DDDIARG_DECODEBEGINFRAME;
struct D3DDDIARG_DECODEENDFRAME;
struct D3DDDIARG_DECODEEXECUTE;
struct D3DDDIARG_DECODEEXTENSIONEXECUTE;
struct D3DDDIARG_DECRYPTIONBLT;
struct D3DDDIARG_DESTROYAUTHENTICATEDCHANNEL;
struct D3DDDIARG_DESTROYCRYPTOSESSION;
struct D3DDDIARG_DESTROYLIGHT;
struct D3DDDIARG_DESTROYOVERLAY;
struct D3DDDIARG_DXVAHD_CREATEVIDEOPROCESSOR;
struct D3DDDIARG_DXVAHD_GETVIDEOPROCESSBLTSTATEPRIVATE;
struct D3DDDIARG_DXVAHD_GETVIDEOPROCESSSTREAMSTATEPRIVATE;
struct D3DDDIARG_DXVAHD_SETVIDEOPROCESSBLTSTATE;
struct D3DDDIARG_DXVAHD_SETVIDEOPROCESSSTREAMSTATE;
struct D3DDDIARG_DXVAHD_VIDEOPROCESSBLTHD;
struct D3DDDIARG_ENCRYPTIONBLT;
struct D3DDDIARG_EXTENSIONEXECUTE;
struct D3DDDIARG_FINISHSESSIONKEYREFRESH;
struct D3DDDIARG_FLIPOVERLAY;
struct D3DDDIARG_GENERATEMIPSUBLEVELS;
struct D3DDDIARG_GETCAPTUREALLOCATIONHANDLE;
struct D3DDDIARG_GETENCRYPTIONBLTKEY;
struct D3DDDIARG_GETOVERLAYCOLORCONTROLS;
struct D3DDDIARG_GETPITCH;
struct D3DDDIARG_LOCKASYNC;
struct D3DDDIARG_MULTIPLYTRANSFORM;
struct D3DDDIARG_QUERYAUTHENTICATEDCHANNEL;
struct D3DDDIARG_QUERYRESOURCERESIDENCY;
struct D3DDDIARG_RENAME;
struct D3DDDIARG_RENDERSTATE;
struct D3DDDIARG_SETCLIPPLANE;
struct D3DDDIARG_SETCONVOLUTIONKERNELMONO;
struct D3DDDIARG_SETDECODERENDERTARGET;
struct D3DDDIARG_SETDEPTHSTENCIL;
struct D3DDDIARG_SETLIGHT;
struct D3DDDIARG_SETMATERIAL;
struct D3DDDIARG_SETOVERLAYCOLORCONTROLS;
struct D3DDDIARG_SETPALETTE;
struct D3DDDIARG_SETPIXELSHADERCONST;
struct D3DDDIARG_SETPIXELSHADERCONSTB;
struct D3DDDIARG_SETPIXELSHADERCONSTI;
struct D3DDDIARG_SETPRIORITY;
struct D3DDDIARG_SETSTREAMSOURCEFREQ;
struct D3DDDIARG_SETSTREAMSOURCEUM;
struct D3DDDIARG_SETTRANSFORM;
struct D3DDDIARG_SETVERTEXSHADERCONST;
struct D3DDDIARG_SETVERTEXSHADERCONSTB;
struct D3DDDIARG_SETVERTEXSHADERCONSTI;
struct D3DDDIARG_SETVIDEOPROCESSRENDERTARGET;
struct D3DDDIARG_STARTSESSIONKEYREFRESH;
struct D3DDDIARG_STATESET;
struct D3DDDIARG_TEXTURESTAGESTATE;
struct D3DDDIARG_UNLOCKASYNC;
struct D3DDDIARG_UPDATEOVERLAY;
struct D3DDDIARG_UPDATEPALETTE;
struct D3DDDIARG_VALIDATETEXTURESTAGESTATE;
struct D3DDDIARG_VIDEOPROCESSBLT;
struct D3DDDIARG_VIDEOPROCESSENDFRAME;
struct D3DDDIARG_VIEWPORTINFO;
struct D3DDDIARG_WINFO;
struct D3DDDIARG_ZRANGE;
struct D3DDDIVERTEXELEMENT;
struct D3DDDI_LIGHT;

// Expands to `HRESULT (APIENTRY* pfn)(parameters)` typedefs and to table members.
#define VESSA_DDI_PFN_TYPEDEF(slot, member, Pfn, params, args)                                     \
    typedef HRESULT(APIENTRY* Pfn) params;
#define VESSA_DDI_TABLE_MEMBER(slot, member, Pfn, params, args) Pfn member;
#define VESSA_DDI_CHECK_SLOT(table, slot, member)                                                  \
    static_assert(offsetof(table, member) == (slot) * sizeof(void*), #table "::" #member " slot")

// ---- Driver device entries (D3DDDI_DEVICEFUNCS) -------------------------------------------------
// The 121 slots of the Windows 7 table (968 bytes). A runtime of that era hands the driver a table
// of exactly this size; nothing is read past slot 120.
#define VESSA_DDI_DEVICEFUNCS(X)                                                                   \
    X(0, pfnSetRenderState, PFND3DDDI_SETRENDERSTATE,                                              \
      (HANDLE hDevice, const D3DDDIARG_RENDERSTATE* pData), (hDevice, pData))                      \
    X(1, pfnUpdateWInfo, PFND3DDDI_UPDATEWINFO, (HANDLE hDevice, const D3DDDIARG_WINFO* pData),    \
      (hDevice, pData))                                                                            \
    X(2, pfnValidateDevice, PFND3DDDI_VALIDATEDEVICE,                                              \
      (HANDLE hDevice, D3DDDIARG_VALIDATETEXTURESTAGESTATE * pData), (hDevice, pData))             \
    X(3, pfnSetTextureStageState, PFND3DDDI_SETTEXTURESTAGESTATE,                                  \
      (HANDLE hDevice, const D3DDDIARG_TEXTURESTAGESTATE* pData), (hDevice, pData))                \
    X(4, pfnSetTexture, PFND3DDDI_SETTEXTURE, (HANDLE hDevice, UINT Stage, HANDLE hTexture),       \
      (hDevice, Stage, hTexture))                                                                  \
    X(5, pfnSetPixelShader, PFND3DDDI_SETPIXELSHADER, (HANDLE hDevice, HANDLE hShader),            \
      (hDevice, hShader))                                                                          \
    X(6, pfnSetPixelShaderConst, PFND3DDDI_SETPIXELSHADERCONST,                                    \
      (HANDLE hDevice, const D3DDDIARG_SETPIXELSHADERCONST* pData, const FLOAT* pRegisters),       \
      (hDevice, pData, pRegisters))                                                                \
    X(7, pfnSetStreamSourceUm, PFND3DDDI_SETSTREAMSOURCEUM,                                        \
      (HANDLE hDevice, const D3DDDIARG_SETSTREAMSOURCEUM* pData, const VOID* pUMBuffer),           \
      (hDevice, pData, pUMBuffer))                                                                 \
    X(8, pfnSetIndices, PFND3DDDI_SETINDICES, (HANDLE hDevice, const D3DDDIARG_SETINDICES* pData), \
      (hDevice, pData))                                                                            \
    X(9, pfnSetIndicesUm, PFND3DDDI_SETINDICESUM,                                                  \
      (HANDLE hDevice, UINT IndexSize, const VOID* pUMBuffer), (hDevice, IndexSize, pUMBuffer))    \
    X(10, pfnDrawPrimitive, PFND3DDDI_DRAWPRIMITIVE,                                               \
      (HANDLE hDevice, const D3DDDIARG_DRAWPRIMITIVE* pData, const UINT* pFlagBuffer),             \
      (hDevice, pData, pFlagBuffer))                                                               \
    X(11, pfnDrawIndexedPrimitive, PFND3DDDI_DRAWINDEXEDPRIMITIVE,                                 \
      (HANDLE hDevice, const D3DDDIARG_DRAWINDEXEDPRIMITIVE* pData), (hDevice, pData))             \
    X(12, pfnDrawRectPatch, PFND3DDDI_DRAWRECTPATCH,                                               \
      (HANDLE hDevice, const D3DDDIARG_DRAWRECTPATCH* pData, const D3DDDIRECTPATCH_INFO* pInfo,    \
       const FLOAT* pPatch),                                                                       \
      (hDevice, pData, pInfo, pPatch))                                                             \
    X(13, pfnDrawTriPatch, PFND3DDDI_DRAWTRIPATCH,                                                 \
      (HANDLE hDevice, const D3DDDIARG_DRAWTRIPATCH* pData, const D3DDDITRIPATCH_INFO* pInfo,      \
       const FLOAT* pPatch),                                                                       \
      (hDevice, pData, pInfo, pPatch))                                                             \
    X(14, pfnDrawPrimitive2, PFND3DDDI_DRAWPRIMITIVE2,                                             \
      (HANDLE hDevice, const D3DDDIARG_DRAWPRIMITIVE2* pData), (hDevice, pData))                   \
    X(15, pfnDrawIndexedPrimitive2, PFND3DDDI_DRAWINDEXEDPRIMITIVE2,                               \
      (HANDLE hDevice, const D3DDDIARG_DRAWINDEXEDPRIMITIVE2* pData, UINT dwIndicesSize,           \
       const VOID* pIndexBuffer, const UINT* pFlagBuffer),                                         \
      (hDevice, pData, dwIndicesSize, pIndexBuffer, pFlagBuffer))                                  \
    X(16, pfnVolBlt, PFND3DDDI_VOLBLT, (HANDLE hDevice, const D3DDDIARG_VOLUMEBLT* pData),         \
      (hDevice, pData))                                                                            \
    X(17, pfnBufBlt, PFND3DDDI_BUFBLT, (HANDLE hDevice, const D3DDDIARG_BUFFERBLT* pData),         \
      (hDevice, pData))                                                                            \
    X(18, pfnTexBlt, PFND3DDDI_TEXBLT, (HANDLE hDevice, const D3DDDIARG_TEXBLT* pData),            \
      (hDevice, pData))                                                                            \
    X(19, pfnStateSet, PFND3DDDI_STATESET, (HANDLE hDevice, D3DDDIARG_STATESET * pData),           \
      (hDevice, pData))                                                                            \
    X(20, pfnSetPriority, PFND3DDDI_SETPRIORITY,                                                   \
      (HANDLE hDevice, const D3DDDIARG_SETPRIORITY* pData), (hDevice, pData))                      \
    X(21, pfnClear, PFND3DDDI_CLEAR,                                                               \
      (HANDLE hDevice, const D3DDDIARG_CLEAR* pData, UINT NumRect, const RECT* pRect),             \
      (hDevice, pData, NumRect, pRect))                                                            \
    X(22, pfnUpdatePalette, PFND3DDDI_UPDATEPALETTE,                                               \
      (HANDLE hDevice, const D3DDDIARG_UPDATEPALETTE* pData, const PALETTEENTRY* pPaletteData),    \
      (hDevice, pData, pPaletteData))                                                              \
    X(23, pfnSetPalette, PFND3DDDI_SETPALETTE,                                                     \
      (HANDLE hDevice, const D3DDDIARG_SETPALETTE* pData), (hDevice, pData))                       \
    X(24, pfnSetVertexShaderConst, PFND3DDDI_SETVERTEXSHADERCONST,                                 \
      (HANDLE hDevice, const D3DDDIARG_SETVERTEXSHADERCONST* pData, const VOID* pRegisters),       \
      (hDevice, pData, pRegisters))                                                                \
    X(25, pfnMultiplyTransform, PFND3DDDI_MULTIPLYTRANSFORM,                                       \
      (HANDLE hDevice, const D3DDDIARG_MULTIPLYTRANSFORM* pData), (hDevice, pData))                \
    X(26, pfnSetTransform, PFND3DDDI_SETTRANSFORM,                                                 \
      (HANDLE hDevice, const D3DDDIARG_SETTRANSFORM* pData), (hDevice, pData))                     \
    X(27, pfnSetViewport, PFND3DDDI_SETVIEWPORT,                                                   \
      (HANDLE hDevice, const D3DDDIARG_VIEWPORTINFO* pData), (hDevice, pData))                     \
    X(28, pfnSetZRange, PFND3DDDI_SETZRANGE, (HANDLE hDevice, const D3DDDIARG_ZRANGE* pData),      \
      (hDevice, pData))                                                                            \
    X(29, pfnSetMaterial, PFND3DDDI_SETMATERIAL,                                                   \
      (HANDLE hDevice, const D3DDDIARG_SETMATERIAL* pData), (hDevice, pData))                      \
    X(30, pfnSetLight, PFND3DDDI_SETLIGHT,                                                         \
      (HANDLE hDevice, const D3DDDIARG_SETLIGHT* pData, const D3DDDI_LIGHT* pLightProperties),     \
      (hDevice, pData, pLightProperties))                                                          \
    X(31, pfnCreateLight, PFND3DDDI_CREATELIGHT,                                                   \
      (HANDLE hDevice, const D3DDDIARG_CREATELIGHT* pData), (hDevice, pData))                      \
    X(32, pfnDestroyLight, PFND3DDDI_DESTROYLIGHT,                                                 \
      (HANDLE hDevice, const D3DDDIARG_DESTROYLIGHT* pData), (hDevice, pData))                     \
    X(33, pfnSetClipPlane, PFND3DDDI_SETCLIPPLANE,                                                 \
      (HANDLE hDevice, const D3DDDIARG_SETCLIPPLANE* pData), (hDevice, pData))                     \
    X(34, pfnGetInfo, PFND3DDDI_GETINFO,                                                           \
      (HANDLE hDevice, UINT DevInfoID, VOID * pDevInfoStruct, UINT DevInfoSize),                   \
      (hDevice, DevInfoID, pDevInfoStruct, DevInfoSize))                                           \
    X(35, pfnLock, PFND3DDDI_LOCK, (HANDLE hDevice, D3DDDIARG_LOCK * pData), (hDevice, pData))     \
    X(36, pfnUnlock, PFND3DDDI_UNLOCK, (HANDLE hDevice, const D3DDDIARG_UNLOCK* pData),            \
      (hDevice, pData))                                                                            \
    X(37, pfnCreateResource, PFND3DDDI_CREATERESOURCE,                                             \
      (HANDLE hDevice, D3DDDIARG_CREATERESOURCE * pResource), (hDevice, pResource))                \
    X(38, pfnDestroyResource, PFND3DDDI_DESTROYRESOURCE, (HANDLE hDevice, HANDLE hResource),       \
      (hDevice, hResource))                                                                        \
    X(39, pfnSetDisplayMode, PFND3DDDI_SETDISPLAYMODE,                                             \
      (HANDLE hDevice, const D3DDDIARG_SETDISPLAYMODE* pData), (hDevice, pData))                   \
    X(40, pfnPresent, PFND3DDDI_PRESENT, (HANDLE hDevice, const D3DDDIARG_PRESENT* pData),         \
      (hDevice, pData))                                                                            \
    X(41, pfnFlush, PFND3DDDI_FLUSH, (HANDLE hDevice), (hDevice))                                  \
    X(42, pfnCreateVertexShaderFunc, PFND3DDDI_CREATEVERTEXSHADERFUNC,                             \
      (HANDLE hDevice, D3DDDIARG_CREATEVERTEXSHADERFUNC * pData, const UINT* pCode),               \
      (hDevice, pData, pCode))                                                                     \
    X(43, pfnDeleteVertexShaderFunc, PFND3DDDI_DELETEVERTEXSHADERFUNC,                             \
      (HANDLE hDevice, HANDLE hShader), (hDevice, hShader))                                        \
    X(44, pfnSetVertexShaderFunc, PFND3DDDI_SETVERTEXSHADERFUNC, (HANDLE hDevice, HANDLE hShader), \
      (hDevice, hShader))                                                                          \
    X(45, pfnCreateVertexShaderDecl, PFND3DDDI_CREATEVERTEXSHADERDECL,                             \
      (HANDLE hDevice, D3DDDIARG_CREATEVERTEXSHADERDECL * pData,                                   \
       const D3DDDIVERTEXELEMENT* pVertexElements),                                                \
      (hDevice, pData, pVertexElements))                                                           \
    X(46, pfnDeleteVertexShaderDecl, PFND3DDDI_DELETEVERTEXSHADERDECL,                             \
      (HANDLE hDevice, HANDLE hShader), (hDevice, hShader))                                        \
    X(47, pfnSetVertexShaderDecl, PFND3DDDI_SETVERTEXSHADERDECL, (HANDLE hDevice, HANDLE hShader), \
      (hDevice, hShader))                                                                          \
    X(48, pfnSetVertexShaderConstI, PFND3DDDI_SETVERTEXSHADERCONSTI,                               \
      (HANDLE hDevice, const D3DDDIARG_SETVERTEXSHADERCONSTI* pData, const INT* pRegisters),       \
      (hDevice, pData, pRegisters))                                                                \
    X(49, pfnSetVertexShaderConstB, PFND3DDDI_SETVERTEXSHADERCONSTB,                               \
      (HANDLE hDevice, const D3DDDIARG_SETVERTEXSHADERCONSTB* pData, const BOOL* pRegisters),      \
      (hDevice, pData, pRegisters))                                                                \
    X(50, pfnSetScissorRect, PFND3DDDI_SETSCISSORRECT, (HANDLE hDevice, const RECT* pRect),        \
      (hDevice, pRect))                                                                            \
    X(51, pfnSetStreamSource, PFND3DDDI_SETSTREAMSOURCE,                                           \
      (HANDLE hDevice, const D3DDDIARG_SETSTREAMSOURCE* pData), (hDevice, pData))                  \
    X(52, pfnSetStreamSourceFreq, PFND3DDDI_SETSTREAMSOURCEFREQ,                                   \
      (HANDLE hDevice, const D3DDDIARG_SETSTREAMSOURCEFREQ* pData), (hDevice, pData))              \
    X(53, pfnSetConvolutionKernelMono, PFND3DDDI_SETCONVOLUTIONKERNELMONO,                         \
      (HANDLE hDevice, const D3DDDIARG_SETCONVOLUTIONKERNELMONO* pData), (hDevice, pData))         \
    X(54, pfnComposeRects, PFND3DDDI_COMPOSERECTS,                                                 \
      (HANDLE hDevice, const D3DDDIARG_COMPOSERECTS* pData), (hDevice, pData))                     \
    X(55, pfnBlt, PFND3DDDI_BLT, (HANDLE hDevice, const D3DDDIARG_BLT* pData), (hDevice, pData))   \
    X(56, pfnColorFill, PFND3DDDI_COLORFILL, (HANDLE hDevice, const D3DDDIARG_COLORFILL* pData),   \
      (hDevice, pData))                                                                            \
    X(57, pfnDepthFill, PFND3DDDI_DEPTHFILL, (HANDLE hDevice, const D3DDDIARG_DEPTHFILL* pData),   \
      (hDevice, pData))                                                                            \
    X(58, pfnCreateQuery, PFND3DDDI_CREATEQUERY, (HANDLE hDevice, D3DDDIARG_CREATEQUERY * pData),  \
      (hDevice, pData))                                                                            \
    X(59, pfnDestroyQuery, PFND3DDDI_DESTROYQUERY, (HANDLE hDevice, const HANDLE hQuery),          \
      (hDevice, hQuery))                                                                           \
    X(60, pfnIssueQuery, PFND3DDDI_ISSUEQUERY,                                                     \
      (HANDLE hDevice, const D3DDDIARG_ISSUEQUERY* pData), (hDevice, pData))                       \
    X(61, pfnGetQueryData, PFND3DDDI_GETQUERYDATA,                                                 \
      (HANDLE hDevice, const D3DDDIARG_GETQUERYDATA* pData), (hDevice, pData))                     \
    X(62, pfnSetRenderTarget, PFND3DDDI_SETRENDERTARGET,                                           \
      (HANDLE hDevice, const D3DDDIARG_SETRENDERTARGET* pData), (hDevice, pData))                  \
    X(63, pfnSetDepthStencil, PFND3DDDI_SETDEPTHSTENCIL,                                           \
      (HANDLE hDevice, const D3DDDIARG_SETDEPTHSTENCIL* pData), (hDevice, pData))                  \
    X(64, pfnGenerateMipSubLevels, PFND3DDDI_GENERATEMIPSUBLEVELS,                                 \
      (HANDLE hDevice, const D3DDDIARG_GENERATEMIPSUBLEVELS* pData), (hDevice, pData))             \
    X(65, pfnSetPixelShaderConstI, PFND3DDDI_SETPIXELSHADERCONSTI,                                 \
      (HANDLE hDevice, const D3DDDIARG_SETPIXELSHADERCONSTI* pData, const INT* pRegisters),        \
      (hDevice, pData, pRegisters))                                                                \
    X(66, pfnSetPixelShaderConstB, PFND3DDDI_SETPIXELSHADERCONSTB,                                 \
      (HANDLE hDevice, const D3DDDIARG_SETPIXELSHADERCONSTB* pData, const BOOL* pRegisters),       \
      (hDevice, pData, pRegisters))                                                                \
    X(67, pfnCreatePixelShader, PFND3DDDI_CREATEPIXELSHADER,                                       \
      (HANDLE hDevice, D3DDDIARG_CREATEPIXELSHADER * pData, const UINT* pCode),                    \
      (hDevice, pData, pCode))                                                                     \
    X(68, pfnDeletePixelShader, PFND3DDDI_DELETEPIXELSHADER, (HANDLE hDevice, HANDLE hShader),     \
      (hDevice, hShader))                                                                          \
    X(69, pfnCreateDecodeDevice, PFND3DDDI_CREATEDECODEDEVICE,                                     \
      (HANDLE hDevice, D3DDDIARG_CREATEDECODEDEVICE * pData), (hDevice, pData))                    \
    X(70, pfnDestroyDecodeDevice, PFND3DDDI_DESTROYDECODEDEVICE, (HANDLE hDevice, HANDLE hDecode), \
      (hDevice, hDecode))                                                                          \
    X(71, pfnSetDecodeRenderTarget, PFND3DDDI_SETDECODERENDERTARGET,                               \
      (HANDLE hDevice, const D3DDDIARG_SETDECODERENDERTARGET* pData), (hDevice, pData))            \
    X(72, pfnDecodeBeginFrame, PFND3DDDI_DECODEBEGINFRAME,                                         \
      (HANDLE hDevice, D3DDDIARG_DECODEBEGINFRAME * pData), (hDevice, pData))                      \
    X(73, pfnDecodeEndFrame, PFND3DDDI_DECODEENDFRAME,                                             \
      (HANDLE hDevice, D3DDDIARG_DECODEENDFRAME * pData), (hDevice, pData))                        \
    X(74, pfnDecodeExecute, PFND3DDDI_DECODEEXECUTE,                                               \
      (HANDLE hDevice, const D3DDDIARG_DECODEEXECUTE* pData), (hDevice, pData))                    \
    X(75, pfnDecodeExtensionExecute, PFND3DDDI_DECODEEXTENSIONEXECUTE,                             \
      (HANDLE hDevice, const D3DDDIARG_DECODEEXTENSIONEXECUTE* pData), (hDevice, pData))           \
    X(76, pfnCreateVideoProcessDevice, PFND3DDDI_CREATEVIDEOPROCESSDEVICE,                         \
      (HANDLE hDevice, D3DDDIARG_CREATEVIDEOPROCESSDEVICE * pData), (hDevice, pData))              \
    X(77, pfnDestroyVideoProcessDevice, PFND3DDDI_DESTROYVIDEOPROCESSDEVICE,                       \
      (HANDLE hDevice, HANDLE hVideoProcessor), (hDevice, hVideoProcessor))                        \
    X(78, pfnVideoProcessBeginFrame, PFND3DDDI_VIDEOPROCESSBEGINFRAME,                             \
      (HANDLE hDevice, HANDLE hVideoProcess), (hDevice, hVideoProcess))                            \
    X(79, pfnVideoProcessEndFrame, PFND3DDDI_VIDEOPROCESSENDFRAME,                                 \
      (HANDLE hDevice, D3DDDIARG_VIDEOPROCESSENDFRAME * pData), (hDevice, pData))                  \
    X(80, pfnSetVideoProcessRenderTarget, PFND3DDDI_SETVIDEOPROCESSRENDERTARGET,                   \
      (HANDLE hDevice, const D3DDDIARG_SETVIDEOPROCESSRENDERTARGET* pData), (hDevice, pData))      \
    X(81, pfnVideoProcessBlt, PFND3DDDI_VIDEOPROCESSBLT,                                           \
      (HANDLE hDevice, const D3DDDIARG_VIDEOPROCESSBLT* pData), (hDevice, pData))                  \
    X(82, pfnCreateExtensionDevice, PFND3DDDI_CREATEEXTENSIONDEVICE,                               \
      (HANDLE hDevice, D3DDDIARG_CREATEEXTENSIONDEVICE * pData), (hDevice, pData))                 \
    X(83, pfnDestroyExtensionDevice, PFND3DDDI_DESTROYEXTENSIONDEVICE,                             \
      (HANDLE hDevice, HANDLE hExtension), (hDevice, hExtension))                                  \
    X(84, pfnExtensionExecute, PFND3DDDI_EXTENSIONEXECUTE,                                         \
      (HANDLE hDevice, const D3DDDIARG_EXTENSIONEXECUTE* pData), (hDevice, pData))                 \
    X(85, pfnCreateOverlay, PFND3DDDI_CREATEOVERLAY,                                               \
      (HANDLE hDevice, D3DDDIARG_CREATEOVERLAY * pData), (hDevice, pData))                         \
    X(86, pfnUpdateOverlay, PFND3DDDI_UPDATEOVERLAY,                                               \
      (HANDLE hDevice, const D3DDDIARG_UPDATEOVERLAY* pData), (hDevice, pData))                    \
    X(87, pfnFlipOverlay, PFND3DDDI_FLIPOVERLAY,                                                   \
      (HANDLE hDevice, const D3DDDIARG_FLIPOVERLAY* pData), (hDevice, pData))                      \
    X(88, pfnGetOverlayColorControls, PFND3DDDI_GETOVERLAYCOLORCONTROLS,                           \
      (HANDLE hDevice, D3DDDIARG_GETOVERLAYCOLORCONTROLS * pData), (hDevice, pData))               \
    X(89, pfnSetOverlayColorControls, PFND3DDDI_SETOVERLAYCOLORCONTROLS,                           \
      (HANDLE hDevice, const D3DDDIARG_SETOVERLAYCOLORCONTROLS* pData), (hDevice, pData))          \
    X(90, pfnDestroyOverlay, PFND3DDDI_DESTROYOVERLAY,                                             \
      (HANDLE hDevice, const D3DDDIARG_DESTROYOVERLAY* pData), (hDevice, pData))                   \
    X(91, pfnDestroyDevice, PFND3DDDI_DESTROYDEVICE, (HANDLE hDevice), (hDevice))                  \
    X(92, pfnQueryResourceResidency, PFND3DDDI_QUERYRESOURCERESIDENCY,                             \
      (HANDLE hDevice, const D3DDDIARG_QUERYRESOURCERESIDENCY* pData), (hDevice, pData))           \
    X(93, pfnOpenResource, PFND3DDDI_OPENRESOURCE,                                                 \
      (HANDLE hDevice, D3DDDIARG_OPENRESOURCE * pResource), (hDevice, pResource))                  \
    X(94, pfnGetCaptureAllocationHandle, PFND3DDDI_GETCAPTUREALLOCATIONHANDLE,                     \
      (HANDLE hDevice, D3DDDIARG_GETCAPTUREALLOCATIONHANDLE * pData), (hDevice, pData))            \
    X(95, pfnCaptureToSysMem, PFND3DDDI_CAPTURETOSYSMEM,                                           \
      (HANDLE hDevice, const D3DDDIARG_CAPTURETOSYSMEM* pData), (hDevice, pData))                  \
    X(96, pfnLockAsync, PFND3DDDI_LOCKASYNC, (HANDLE hDevice, D3DDDIARG_LOCKASYNC * pData),        \
      (hDevice, pData))                                                                            \
    X(97, pfnUnlockAsync, PFND3DDDI_UNLOCKASYNC,                                                   \
      (HANDLE hDevice, const D3DDDIARG_UNLOCKASYNC* pData), (hDevice, pData))                      \
    X(98, pfnRename, PFND3DDDI_RENAME, (HANDLE hDevice, const D3DDDIARG_RENAME* pData),            \
      (hDevice, pData))                                                                            \
    X(99, pfnCreateVideoProcessor, PFND3DDDI_DXVAHD_CREATEVIDEOPROCESSOR,                          \
      (HANDLE hDevice, D3DDDIARG_DXVAHD_CREATEVIDEOPROCESSOR * pData), (hDevice, pData))           \
    X(100, pfnSetVideoProcessBltState, PFND3DDDI_DXVAHD_SETVIDEOPROCESSBLTSTATE,                   \
      (HANDLE hDevice, const D3DDDIARG_DXVAHD_SETVIDEOPROCESSBLTSTATE* pData), (hDevice, pData))   \
    X(101, pfnGetVideoProcessBltStatePrivate, PFND3DDDI_DXVAHD_GETVIDEOPROCESSBLTSTATEPRIVATE,     \
      (HANDLE hDevice, D3DDDIARG_DXVAHD_GETVIDEOPROCESSBLTSTATEPRIVATE * pData), (hDevice, pData)) \
    X(102, pfnSetVideoProcessStreamState, PFND3DDDI_DXVAHD_SETVIDEOPROCESSSTREAMSTATE,             \
      (HANDLE hDevice, const D3DDDIARG_DXVAHD_SETVIDEOPROCESSSTREAMSTATE* pData),                  \
      (hDevice, pData))                                                                            \
    X(103, pfnGetVideoProcessStreamStatePrivate,                                                   \
      PFND3DDDI_DXVAHD_GETVIDEOPROCESSSTREAMSTATEPRIVATE,                                          \
      (HANDLE hDevice, D3DDDIARG_DXVAHD_GETVIDEOPROCESSSTREAMSTATEPRIVATE * pData),                \
      (hDevice, pData))                                                                            \
    X(104, pfnVideoProcessBltHD, PFND3DDDI_DXVAHD_VIDEOPROCESSBLTHD,                               \
      (HANDLE hDevice, const D3DDDIARG_DXVAHD_VIDEOPROCESSBLTHD* pData), (hDevice, pData))         \
    X(105, pfnDestroyVideoProcessor, PFND3DDDI_DXVAHD_DESTROYVIDEOPROCESSOR,                       \
      (HANDLE hDevice, HANDLE hVideoProcessor), (hDevice, hVideoProcessor))                        \
    X(106, pfnCreateAuthenticatedChannel, PFND3DDDI_CREATEAUTHENTICATEDCHANNEL,                    \
      (HANDLE hDevice, D3DDDIARG_CREATEAUTHENTICATEDCHANNEL * pData), (hDevice, pData))            \
    X(107, pfnAuthenticatedChannelKeyExchange, PFND3DDDI_AUTHENTICATEDCHANNELKEYEXCHANGE,          \
      (HANDLE hDevice, D3DDDIARG_AUTHENTICATEDCHANNELKEYEXCHANGE * pData), (hDevice, pData))       \
    X(108, pfnQueryAuthenticatedChannel, PFND3DDDI_QUERYAUTHENTICATEDCHANNEL,                      \
      (HANDLE hDevice, const D3DDDIARG_QUERYAUTHENTICATEDCHANNEL* pData), (hDevice, pData))        \
    X(109, pfnConfigureAuthenticatedChannel, PFND3DDDI_CONFIGUREAUTHENICATEDCHANNEL,               \
      (HANDLE hDevice, const D3DDDIARG_CONFIGUREAUTHENTICATEDCHANNEL* pData), (hDevice, pData))    \
    X(110, pfnDestroyAuthenticatedChannel, PFND3DDDI_DESTROYAUTHENTICATEDCHANNEL,                  \
      (HANDLE hDevice, const D3DDDIARG_DESTROYAUTHENTICATEDCHANNEL* pData), (hDevice, pData))      \
    X(111, pfnCreateCryptoSession, PFND3DDDI_CREATECRYPTOSESSION,                                  \
      (HANDLE hDevice, D3DDDIARG_CREATECRYPTOSESSION * pData), (hDevice, pData))                   \
    X(112, pfnCryptoSessionKeyExchange, PFND3DDDI_CRYPTOSESSIONKEYEXCHANGE,                        \
      (HANDLE hDevice, D3DDDIARG_CRYPTOSESSIONKEYEXCHANGE * pData), (hDevice, pData))              \
    X(113, pfnDestroyCryptoSession, PFND3DDDI_DESTROYCRYPTOSESSION,                                \
      (HANDLE hDevice, const D3DDDIARG_DESTROYCRYPTOSESSION* pData), (hDevice, pData))             \
    X(114, pfnEncryptionBlt, PFND3DDDI_ENCRYPTIONBLT,                                              \
      (HANDLE hDevice, const D3DDDIARG_ENCRYPTIONBLT* pData), (hDevice, pData))                    \
    X(115, pfnGetPitch, PFND3DDDI_GETPITCH, (HANDLE hDevice, D3DDDIARG_GETPITCH * pData),          \
      (hDevice, pData))                                                                            \
    X(116, pfnStartSessionKeyRefresh, PFND3DDDI_STARTSESSIONKEYREFRESH,                            \
      (HANDLE hDevice, const D3DDDIARG_STARTSESSIONKEYREFRESH* pData), (hDevice, pData))           \
    X(117, pfnFinishSessionKeyRefresh, PFND3DDDI_FINISHSESSIONKEYREFRESH,                          \
      (HANDLE hDevice, const D3DDDIARG_FINISHSESSIONKEYREFRESH* pData), (hDevice, pData))          \
    X(118, pfnGetEncryptionBltKey, PFND3DDDI_GETENCRYPTIONBLTKEY,                                  \
      (HANDLE hDevice, const D3DDDIARG_GETENCRYPTIONBLTKEY* pData), (hDevice, pData))              \
    X(119, pfnDecryptionBlt, PFND3DDDI_DECRYPTIONBLT,                                              \
      (HANDLE hDevice, const D3DDDIARG_DECRYPTIONBLT* pData), (hDevice, pData))                    \
    X(120, pfnResolveSharedResource, PFND3DDDI_RESOLVESHAREDRESOURCE,                              \
      (HANDLE hDevice, const D3DDDIARG_RESOLVESHAREDRESOURCE* pData), (hDevice, pData))

VESSA_DDI_DEVICEFUNCS(VESSA_DDI_PFN_TYPEDEF)

struct D3DDDI_DEVICEFUNCS {
    VESSA_DDI_DEVICEFUNCS(VESSA_DDI_TABLE_MEMBER)
};
VESSA_DDI_SIZE(D3DDDI_DEVICEFUNCS, 968);
#define VESSA_DDI_CHECK_DEVICEFUNCS_SLOT(slot, member, Pfn, params, args)                          \
    VESSA_DDI_CHECK_SLOT(D3DDDI_DEVICEFUNCS, slot, member);
VESSA_DDI_DEVICEFUNCS(VESSA_DDI_CHECK_DEVICEFUNCS_SLOT)
#undef VESSA_DDI_CHECK_DEVICEFUNCS_SLOT
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnDrawPrimitive, 80);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnCreateResource, 296);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnPresent, 320);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnBlt, 440);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnDestroyDevice, 728);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnOpenResource, 744);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnRename, 784);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnCreateVideoProcessor, 792);
VESSA_DDI_OFFSET(D3DDDI_DEVICEFUNCS, pfnResolveSharedResource, 960);

// ---- Runtime device callbacks (D3DDDI_DEVICECALLBACKS) ------------------------------------------
// The first parameter is the runtime's device handle, except for pfnEscapeCb, which takes the
// runtime's adapter handle.
#define VESSA_DDI_DEVICECALLBACKS(X)                                                               \
    X(0, pfnAllocateCb, PFND3DDDI_ALLOCATECB, (HANDLE hDevice, D3DDDICB_ALLOCATE * pData),         \
      (hDevice, pData))                                                                            \
    X(1, pfnDeallocateCb, PFND3DDDI_DEALLOCATECB,                                                  \
      (HANDLE hDevice, const D3DDDICB_DEALLOCATE* pData), (hDevice, pData))                        \
    X(2, pfnSetPriorityCb, PFND3DDDI_SETPRIORITYCB,                                                \
      (HANDLE hDevice, D3DDDICB_SETPRIORITY * pData), (hDevice, pData))                            \
    X(3, pfnQueryResidencyCb, PFND3DDDI_QUERYRESIDENCYCB,                                          \
      (HANDLE hDevice, const D3DDDICB_QUERYRESIDENCY* pData), (hDevice, pData))                    \
    X(4, pfnSetDisplayModeCb, PFND3DDDI_SETDISPLAYMODECB,                                          \
      (HANDLE hDevice, D3DDDICB_SETDISPLAYMODE * pData), (hDevice, pData))                         \
    X(5, pfnPresentCb, PFND3DDDI_PRESENTCB, (HANDLE hDevice, D3DDDICB_PRESENT * pData),            \
      (hDevice, pData))                                                                            \
    X(6, pfnRenderCb, PFND3DDDI_RENDERCB, (HANDLE hDevice, D3DDDICB_RENDER * pData),               \
      (hDevice, pData))                                                                            \
    X(7, pfnLockCb, PFND3DDDI_LOCKCB, (HANDLE hDevice, D3DDDICB_LOCK * pData), (hDevice, pData))   \
    X(8, pfnUnlockCb, PFND3DDDI_UNLOCKCB, (HANDLE hDevice, const D3DDDICB_UNLOCK* pData),          \
      (hDevice, pData))                                                                            \
    X(9, pfnEscapeCb, PFND3DDDI_ESCAPECB, (HANDLE hAdapter, const D3DDDICB_ESCAPE* pData),         \
      (hAdapter, pData))                                                                           \
    X(10, pfnCreateOverlayCb, PFND3DDDI_CREATEOVERLAYCB,                                           \
      (HANDLE hDevice, D3DDDICB_CREATEOVERLAY * pData), (hDevice, pData))                          \
    X(11, pfnUpdateOverlayCb, PFND3DDDI_UPDATEOVERLAYCB,                                           \
      (HANDLE hDevice, const D3DDDICB_UPDATEOVERLAY* pData), (hDevice, pData))                     \
    X(12, pfnFlipOverlayCb, PFND3DDDI_FLIPOVERLAYCB,                                               \
      (HANDLE hDevice, const D3DDDICB_FLIPOVERLAY* pData), (hDevice, pData))                       \
    X(13, pfnDestroyOverlayCb, PFND3DDDI_DESTROYOVERLAYCB,                                         \
      (HANDLE hDevice, const D3DDDICB_DESTROYOVERLAY* pData), (hDevice, pData))                    \
    X(14, pfnCreateContextCb, PFND3DDDI_CREATECONTEXTCB,                                           \
      (HANDLE hDevice, D3DDDICB_CREATECONTEXT * pData), (hDevice, pData))                          \
    X(15, pfnDestroyContextCb, PFND3DDDI_DESTROYCONTEXTCB,                                         \
      (HANDLE hDevice, const D3DDDICB_DESTROYCONTEXT* pData), (hDevice, pData))                    \
    X(16, pfnCreateSynchronizationObjectCb, PFND3DDDI_CREATESYNCHRONIZATIONOBJECTCB,               \
      (HANDLE hDevice, D3DDDICB_CREATESYNCHRONIZATIONOBJECT * pData), (hDevice, pData))            \
    X(17, pfnDestroySynchronizationObjectCb, PFND3DDDI_DESTROYSYNCHRONIZATIONOBJECTCB,             \
      (HANDLE hDevice, const D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT* pData), (hDevice, pData))      \
    X(18, pfnWaitForSynchronizationObjectCb, PFND3DDDI_WAITFORSYNCHRONIZATIONOBJECTCB,             \
      (HANDLE hDevice, const D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT* pData), (hDevice, pData))      \
    X(19, pfnSignalSynchronizationObjectCb, PFND3DDDI_SIGNALSYNCHRONIZATIONOBJECTCB,               \
      (HANDLE hDevice, const D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT* pData), (hDevice, pData))       \
    X(20, pfnSetAsyncCallbacksCb, PFND3DDDI_SETASYNCCALLBACKSCB, (HANDLE hDevice, BOOL Enable),    \
      (hDevice, Enable))                                                                           \
    X(21, pfnSetDisplayPrivateDriverFormatCb, PFND3DDDI_SETDISPLAYPRIVATEDRIVERFORMATCB,           \
      (HANDLE hDevice, const D3DDDICB_SETDISPLAYPRIVATEDRIVERFORMAT* pData), (hDevice, pData))

VESSA_DDI_DEVICECALLBACKS(VESSA_DDI_PFN_TYPEDEF)

struct D3DDDI_DEVICECALLBACKS {
    VESSA_DDI_DEVICECALLBACKS(VESSA_DDI_TABLE_MEMBER)
};
VESSA_DDI_SIZE(D3DDDI_DEVICECALLBACKS, 176);
#define VESSA_DDI_CHECK_DEVICECALLBACKS_SLOT(slot, member, Pfn, params, args)                      \
    VESSA_DDI_CHECK_SLOT(D3DDDI_DEVICECALLBACKS, slot, member);
VESSA_DDI_DEVICECALLBACKS(VESSA_DDI_CHECK_DEVICECALLBACKS_SLOT)
#undef VESSA_DDI_CHECK_DEVICECALLBACKS_SLOT

// ---- Runtime adapter callbacks (D3DDDI_ADAPTERCALLBACKS) ----------------------------------------
// The first parameter is the runtime's adapter handle.
#define VESSA_DDI_ADAPTERCALLBACKS(X)                                                              \
    X(0, pfnQueryAdapterInfoCb, PFND3DDDI_QUERYADAPTERINFOCB,                                      \
      (HANDLE hAdapter, const D3DDDICB_QUERYADAPTERINFO* pData), (hAdapter, pData))                \
    X(1, pfnGetMultisampleMethodListCb, PFND3DDDI_GETMULTISAMPLEMETHODLISTCB,                      \
      (HANDLE hAdapter, D3DDDICB_GETMULTISAMPLEMETHODLIST * pData), (hAdapter, pData))

VESSA_DDI_ADAPTERCALLBACKS(VESSA_DDI_PFN_TYPEDEF)

struct D3DDDI_ADAPTERCALLBACKS {
    VESSA_DDI_ADAPTERCALLBACKS(VESSA_DDI_TABLE_MEMBER)
};
VESSA_DDI_SIZE(D3DDDI_ADAPTERCALLBACKS, 16);
#define VESSA_DDI_CHECK_ADAPTERCALLBACKS_SLOT(slot, member, Pfn, params, args)                     \
    VESSA_DDI_CHECK_SLOT(D3DDDI_ADAPTERCALLBACKS, slot, member);
VESSA_DDI_ADAPTERCALLBACKS(VESSA_DDI_CHECK_ADAPTERCALLBACKS_SLOT)
#undef VESSA_DDI_CHECK_ADAPTERCALLBACKS_SLOT

// ---- Driver adapter entries (D3DDDI_ADAPTERFUNCS) -----------------------------------------------
// The first parameter is the driver's adapter handle.
#define VESSA_DDI_ADAPTERFUNCS(X)                                                                  \
    X(0, pfnGetCaps, PFND3DDDI_GETCAPS, (HANDLE hAdapter, const D3DDDIARG_GETCAPS* pData),         \
      (hAdapter, pData))                                                                           \
    X(1, pfnCreateDevice, PFND3DDDI_CREATEDEVICE,                                                  \
      (HANDLE hAdapter, D3DDDIARG_CREATEDEVICE * pCreateData), (hAdapter, pCreateData))            \
    X(2, pfnCloseAdapter, PFND3DDDI_CLOSEADAPTER, (HANDLE hAdapter), (hAdapter))

VESSA_DDI_ADAPTERFUNCS(VESSA_DDI_PFN_TYPEDEF)

struct D3DDDI_ADAPTERFUNCS {
    VESSA_DDI_ADAPTERFUNCS(VESSA_DDI_TABLE_MEMBER)
};
VESSA_DDI_SIZE(D3DDDI_ADAPTERFUNCS, 24);
#define VESSA_DDI_CHECK_ADAPTERFUNCS_SLOT(slot, member, Pfn, params, args)                         \
    VESSA_DDI_CHECK_SLOT(D3DDDI_ADAPTERFUNCS, slot, member);
VESSA_DDI_ADAPTERFUNCS(VESSA_DDI_CHECK_ADAPTERFUNCS_SLOT)
#undef VESSA_DDI_CHECK_ADAPTERFUNCS_SLOT

// ---- OpenAdapter --------------------------------------------------------------------------------
struct D3DDDIARG_OPENADAPTER {
    HANDLE hAdapter; // in: the runtime's adapter handle; out: the driver's
    UINT Interface;
    UINT Version;
    const D3DDDI_ADAPTERCALLBACKS* pAdapterCallbacks;
    D3DDDI_ADAPTERFUNCS* pAdapterFuncs; // filled by the driver
    UINT DriverVersion;                 // out: the interface version the driver was built for
};
VESSA_DDI_SIZE(D3DDDIARG_OPENADAPTER, 40);
VESSA_DDI_OFFSET(D3DDDIARG_OPENADAPTER, Interface, 8);
VESSA_DDI_OFFSET(D3DDDIARG_OPENADAPTER, Version, 12);
VESSA_DDI_OFFSET(D3DDDIARG_OPENADAPTER, pAdapterCallbacks, 16);
VESSA_DDI_OFFSET(D3DDDIARG_OPENADAPTER, pAdapterFuncs, 24);
VESSA_DDI_OFFSET(D3DDDIARG_OPENADAPTER, DriverVersion, 32);

// A user-mode driver's only export, "OpenAdapter" (undecorated on x64).
typedef HRESULT(APIENTRY* PFND3DDDI_OPENADAPTER)(D3DDDIARG_OPENADAPTER* pOpenData);
