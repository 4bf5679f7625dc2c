// The adapter and device entries of the simulated drivers. Each driver module gets its own
// instantiation (its profile index is a template argument), so the journal names the
// module a call was made to even when the handle is unknown. Each entry only checks its
// arguments' presence and hands the work to the adapter or device object.
#include "DdiTables.h"

#include "DeviceCall.h"
#include "UmdAdapter.h"
#include "UmdDevice.h"

#include "sim/gpus/KernelStatus.h"

#include <string.h>

namespace sim {
namespace umd {

namespace {

// ---- Adapter entries -------------------------------------------------------------------------
template <int P> struct AdapterEntries {
    static HRESULT APIENTRY GetCaps(HANDLE hAdapter, const D3DDDIARG_GETCAPS* pData) {
        Adapter* pAdapter = DriverState::instance().findAdapter(P, hAdapter);
        Call call(profile(P).module, "GetCaps", pAdapter ? pAdapter->gpu() : kNoGpu);
        if (pData)
            call.args("hAdapter=%p Type=%u DataSize=%u", hAdapter, rawValue(pData->Type),
                      pData->DataSize);
        if (!pAdapter || !pData)
            return call.finish(E_INVALIDARG);
        if (call.faulted())
            return call.finish(HRESULT(call.faultStatus()));
        return call.finish(guarded([&] { return pAdapter->getCaps(*pData); }));
    }

    static HRESULT APIENTRY CreateDevice(HANDLE hAdapter, D3DDDIARG_CREATEDEVICE* pData) {
        Adapter* pAdapter = DriverState::instance().findAdapter(P, hAdapter);
        Call call(profile(P).module, "CreateDevice", pAdapter ? pAdapter->gpu() : kNoGpu);
        if (pData)
            call.args("hAdapter=%p hDevice=%p Interface=%u", hAdapter, pData->hDevice,
                      pData->Interface);
        if (!pAdapter || !pData || !pData->pCallbacks || !pData->pDeviceFuncs)
            return call.finish(E_INVALIDARG);
        if (call.faulted())
            return call.finish(HRESULT(call.faultStatus()));
        const D3DDDI_DEVICECALLBACKS& cb = *pData->pCallbacks;
        if (!cb.pfnAllocateCb || !cb.pfnDeallocateCb || !cb.pfnLockCb || !cb.pfnUnlockCb ||
            !cb.pfnRenderCb || !cb.pfnPresentCb || !cb.pfnCreateContextCb ||
            !cb.pfnDestroyContextCb)
            return call.finish(E_INVALIDARG);
        return call.finish(guarded([&] {
            std::unique_ptr<Device> pDevice(new Device(*pAdapter, *pData));
            DriverState::instance().addDevice(pDevice.get());
            HRESULT hr = pDevice->init();
            if (FAILED(hr)) {
                DriverState::instance().removeDevice(pDevice.get());
                return hr;
            }
            fillDeviceFuncs(P, *pData->pDeviceFuncs);
            pData->hDevice = pDevice.release();
            return S_OK;
        }));
    }

    static HRESULT APIENTRY CloseAdapter(HANDLE hAdapter) {
        Adapter* pAdapter = DriverState::instance().findAdapter(P, hAdapter);
        Call call(profile(P).module, "CloseAdapter", pAdapter ? pAdapter->gpu() : kNoGpu);
        call.args("hAdapter=%p", hAdapter);
        if (!pAdapter)
            return call.finish(E_INVALIDARG);
        if (call.faulted())
            return call.finish(HRESULT(call.faultStatus()));
        // Devices still open keep the adapter object alive; its handle is gone at once.
        DriverState::instance().removeAdapter(pAdapter);
        if (pAdapter->deviceCount() == 0)
            delete pAdapter;
        else
            pAdapter->markClosed();
        return call.finish(S_OK);
    }
};

// ---- Device entries --------------------------------------------------------------------------
template <int P> struct DeviceEntries {
    static HRESULT APIENTRY CreateResource(HANDLE hDevice, D3DDDIARG_CREATERESOURCE* pData) {
        DeviceCall c(P, "CreateResource", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("Format=%u Pool=%u Ms=%u SurfCount=%u Flags=0x%x hResource=%p %ux%u",
                      rawValue(pData->Format), rawValue(pData->Pool),
                      rawValue(pData->MultisampleType), pData->SurfCount, pData->Flags.Value,
                      pData->hResource, pData->pSurfList ? pData->pSurfList[0].Width : 0,
                      pData->pSurfList ? pData->pSurfList[0].Height : 0);
        return c.finish(guarded([&] { return c.device().createResource(*pData); }));
    }

    static HRESULT APIENTRY OpenResource(HANDLE hDevice, D3DDDIARG_OPENRESOURCE* pData) {
        DeviceCall c(P, "OpenResource", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("NumAllocations=%u hKMResource=0x%x hResource=%p", pData->NumAllocations,
                      pData->hKMResource, pData->hResource);
        return c.finish(guarded([&] { return c.device().openResource(*pData); }));
    }

    static HRESULT APIENTRY DestroyResource(HANDLE hDevice, HANDLE hResource) {
        DeviceCall c(P, "DestroyResource", hDevice);
        if (!c.ready())
            return c.result();
        c.call().args("hResource=%p", hResource);
        return c.finish(guarded([&] { return c.device().destroyResource(hResource); }));
    }

    static HRESULT APIENTRY Lock(HANDLE hDevice, D3DDDIARG_LOCK* pData) {
        DeviceCall c(P, "Lock", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hResource=%p Sub=%u Flags=0x%x", pData->hResource, pData->SubResourceIndex,
                      pData->Flags.Value);
        return c.finish(guarded([&] { return c.device().lock(*pData); }));
    }

    static HRESULT APIENTRY Unlock(HANDLE hDevice, const D3DDDIARG_UNLOCK* pData) {
        DeviceCall c(P, "Unlock", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hResource=%p Sub=%u", pData->hResource, pData->SubResourceIndex);
        return c.finish(guarded([&] { return c.device().unlock(*pData); }));
    }

    static HRESULT APIENTRY Blt(HANDLE hDevice, const D3DDDIARG_BLT* pData) {
        DeviceCall c(P, "Blt", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hSrc=%p/%u (%ld,%ld,%ld,%ld) hDst=%p/%u (%ld,%ld,%ld,%ld) Flags=0x%x",
                      pData->hSrcResource, pData->SrcSubResourceIndex, long(pData->SrcRect.left),
                      long(pData->SrcRect.top), long(pData->SrcRect.right),
                      long(pData->SrcRect.bottom), pData->hDstResource, pData->DstSubResourceIndex,
                      long(pData->DstRect.left), long(pData->DstRect.top),
                      long(pData->DstRect.right), long(pData->DstRect.bottom), pData->Flags.Value);
        return c.finish(guarded([&] { return c.device().blt(*pData); }));
    }

    static HRESULT APIENTRY ColorFill(HANDLE hDevice, const D3DDDIARG_COLORFILL* pData) {
        DeviceCall c(P, "ColorFill", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hResource=%p/%u (%ld,%ld,%ld,%ld) Color=0x%08x", pData->hResource,
                      pData->SubResourceIndex, long(pData->DstRect.left), long(pData->DstRect.top),
                      long(pData->DstRect.right), long(pData->DstRect.bottom),
                      rawValue(pData->Color));
        return c.finish(guarded([&] { return c.device().colorFill(*pData); }));
    }

    static HRESULT APIENTRY DepthFill(HANDLE hDevice, const D3DDDIARG_DEPTHFILL* pData) {
        DeviceCall c(P, "DepthFill", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hResource=%p/%u Depth=0x%x", pData->hResource, pData->SubResourceIndex,
                      pData->Depth);
        return c.finish(guarded([&] { return c.device().depthFill(*pData); }));
    }

    static HRESULT APIENTRY Clear(HANDLE hDevice, const D3DDDIARG_CLEAR* pData, UINT NumRect,
                                  const RECT* pRect) {
        DeviceCall c(P, "Clear", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData || (NumRect && !pRect))
            return c.finish(E_INVALIDARG);
        c.call().args("Flags=0x%x Color=0x%08x Depth=%g Stencil=%u NumRect=%u", pData->Flags,
                      pData->FillColor, double(pData->FillDepth), pData->FillStencil, NumRect);
        return c.finish(guarded([&] { return c.device().clear(*pData, NumRect, pRect); }));
    }

    static HRESULT APIENTRY TexBlt(HANDLE hDevice, const D3DDDIARG_TEXBLT* pData) {
        DeviceCall c(P, "TexBlt", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hSrc=%p hDst=%p Face=%u", pData->hSrcResource, pData->hDstResource,
                      pData->CubeMapFace);
        return c.finish(guarded([&] { return c.device().texBlt(*pData); }));
    }

    static HRESULT APIENTRY BufBlt(HANDLE hDevice, const D3DDDIARG_BUFFERBLT* pData) {
        DeviceCall c(P, "BufBlt", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hSrc=%p hDst=%p Offset=%u Range=%u+%u", pData->hSrcResource,
                      pData->hDstResource, pData->Offset, pData->SrcRange.Offset,
                      pData->SrcRange.Size);
        return c.finish(guarded([&] { return c.device().bufBlt(*pData); }));
    }

    static HRESULT APIENTRY VolBlt(HANDLE hDevice, const D3DDDIARG_VOLUMEBLT* pData) {
        DeviceCall c(P, "VolBlt", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hSrc=%p hDst=%p", pData->hSrcResource, pData->hDstResource);
        return c.finish(guarded([&] { return c.device().volBlt(*pData); }));
    }

    static HRESULT APIENTRY SetRenderTarget(HANDLE hDevice,
                                            const D3DDDIARG_SETRENDERTARGET* pData) {
        DeviceCall c(P, "SetRenderTarget", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("Index=%u hRenderTarget=%p Sub=%u", pData->RenderTargetIndex,
                      pData->hRenderTarget, pData->SubResourceIndex);
        return c.finish(guarded([&] { return c.device().setRenderTarget(*pData); }));
    }

    static HRESULT APIENTRY SetDepthStencil(HANDLE hDevice,
                                            const D3DDDIARG_SETDEPTHSTENCIL* pData) {
        DeviceCall c(P, "SetDepthStencil", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        // The record holds the depth-stencil surface's handle alone.
        HANDLE hZBuffer;
        memcpy(&hZBuffer, static_cast<const void*>(pData), sizeof hZBuffer);
        c.call().args("hZBuffer=%p", hZBuffer);
        return c.finish(guarded([&] { return c.device().setDepthStencil(hZBuffer); }));
    }

    static HRESULT APIENTRY DrawPrimitive(HANDLE hDevice, const D3DDDIARG_DRAWPRIMITIVE* pData,
                                          const UINT*) {
        return draw(hDevice, "DrawPrimitive", pData, pData ? pData->PrimitiveCount : 0);
    }
    static HRESULT APIENTRY DrawIndexedPrimitive(HANDLE hDevice,
                                                 const D3DDDIARG_DRAWINDEXEDPRIMITIVE* pData) {
        return draw(hDevice, "DrawIndexedPrimitive", pData, pData ? pData->PrimitiveCount : 0);
    }
    static HRESULT APIENTRY DrawRectPatch(HANDLE hDevice, const D3DDDIARG_DRAWRECTPATCH* pData,
                                          const D3DDDIRECTPATCH_INFO*, const FLOAT*) {
        return draw(hDevice, "DrawRectPatch", pData, 1);
    }
    static HRESULT APIENTRY DrawTriPatch(HANDLE hDevice, const D3DDDIARG_DRAWTRIPATCH* pData,
                                         const D3DDDITRIPATCH_INFO*, const FLOAT*) {
        return draw(hDevice, "DrawTriPatch", pData, 1);
    }
    static HRESULT APIENTRY DrawPrimitive2(HANDLE hDevice, const D3DDDIARG_DRAWPRIMITIVE2* pData) {
        return draw(hDevice, "DrawPrimitive2", pData, pData ? pData->PrimitiveCount : 0);
    }
    static HRESULT APIENTRY DrawIndexedPrimitive2(HANDLE hDevice,
                                                  const D3DDDIARG_DRAWINDEXEDPRIMITIVE2* pData,
                                                  UINT, const VOID*, const UINT*) {
        return draw(hDevice, "DrawIndexedPrimitive2", pData, pData ? pData->PrimitiveCount : 0);
    }
    static HRESULT draw(HANDLE hDevice, const char* entry, const void* pData, UINT primitives) {
        DeviceCall c(P, entry, hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("PrimitiveCount=%u", primitives);
        return c.finish(guarded([&] { return c.device().draw(primitives); }));
    }

    static HRESULT APIENTRY Flush(HANDLE hDevice) {
        DeviceCall c(P, "Flush", hDevice);
        if (!c.ready())
            return c.result();
        return c.finish(guarded([&] { return c.device().flush(); }));
    }

    static HRESULT APIENTRY Present(HANDLE hDevice, const D3DDDIARG_PRESENT* pData) {
        DeviceCall c(P, "Present", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hSrc=%p/%u hDst=%p/%u Flags=0x%x Interval=%u", pData->hSrcResource,
                      pData->SrcSubResourceIndex, pData->hDstResource, pData->DstSubResourceIndex,
                      pData->Flags.Value, rawValue(pData->FlipInterval));
        return c.finish(guarded([&] { return c.device().present(*pData); }));
    }

    static HRESULT APIENTRY SetDisplayMode(HANDLE hDevice, const D3DDDIARG_SETDISPLAYMODE* pData) {
        DeviceCall c(P, "SetDisplayMode", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hResource=%p Sub=%u", pData->hResource, pData->SubResourceIndex);
        return c.finish(guarded([&] { return c.device().setDisplayMode(*pData); }));
    }

    static HRESULT APIENTRY CreateQuery(HANDLE hDevice, D3DDDIARG_CREATEQUERY* pData) {
        DeviceCall c(P, "CreateQuery", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("QueryType=%u", rawValue(pData->QueryType));
        return c.finish(guarded([&] { return c.device().createQuery(*pData); }));
    }

    static HRESULT APIENTRY DestroyQuery(HANDLE hDevice, HANDLE hQuery) {
        DeviceCall c(P, "DestroyQuery", hDevice);
        if (!c.ready())
            return c.result();
        c.call().args("hQuery=%p", hQuery);
        return c.finish(guarded([&] { return c.device().destroyQuery(hQuery); }));
    }

    static HRESULT APIENTRY IssueQuery(HANDLE hDevice, const D3DDDIARG_ISSUEQUERY* pData) {
        DeviceCall c(P, "IssueQuery", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hQuery=%p Flags=0x%x", pData->hQuery, pData->Flags.Value);
        return c.finish(guarded([&] { return c.device().issueQuery(*pData); }));
    }

    static HRESULT APIENTRY GetQueryData(HANDLE hDevice, const D3DDDIARG_GETQUERYDATA* pData) {
        DeviceCall c(P, "GetQueryData", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData)
            return c.finish(E_INVALIDARG);
        c.call().args("hQuery=%p", pData->hQuery);
        return c.finish(guarded([&] { return c.device().getQueryData(*pData); }));
    }

    static HRESULT APIENTRY ResolveSharedResource(HANDLE hDevice,
                                                  const D3DDDIARG_RESOLVESHAREDRESOURCE* pData) {
        DeviceCall c(P, "ResolveSharedResource", hDevice);
        if (!c.ready())
            return c.result();
        if (!pData || !c.device().findResource(pData->hResource))
            return c.finish(E_INVALIDARG);
        c.call().args("hResource=%p", pData->hResource);
        // Rendering is finished when an entry returns, so a shared surface is always
        // resolved.
        return c.finish(S_OK);
    }

    static HRESULT APIENTRY DestroyDevice(HANDLE hDevice) {
        HRESULT hr;
        Device* pDevice = nullptr;
        {
            DeviceCall c(P, "DestroyDevice", hDevice);
            if (!c.ready())
                return c.result();
            pDevice = &c.device();
            hr = guarded([&] { return pDevice->destroy(); });
            DriverState::instance().removeDevice(pDevice);
            c.finish(hr);
        }
        // The entry's lock is released: nothing can reach the device any more.
        delete pDevice;
        return hr;
    }

    // Entries without a real implementation: the handle is still checked, the call
    // journalled and counted, and the answer is the one a real driver gives for a feature
    // it leaves alone.
#define SIMUMD_STUB(slot, member, Pfn, params, args)                                               \
    static HRESULT APIENTRY stub_##member params {                                                 \
        DeviceCall c(P, #member + 3, hDevice);                                                     \
        if (!c.ready())                                                                            \
            return c.result();                                                                     \
        DriverState::instance().count(c.device().gpu(), &DriverStats::unimplemented);              \
        DriverState::instance().noteUnimplemented(#member + 3);                                    \
        return c.finish(unimplementedResult(slot));                                                \
    }
    VESSA_DDI_DEVICEFUNCS(SIMUMD_STUB)
#undef SIMUMD_STUB

    static void fill(D3DDDI_DEVICEFUNCS& t) {
#define SIMUMD_FILL_STUB(slot, member, Pfn, params, args) t.member = &stub_##member;
        VESSA_DDI_DEVICEFUNCS(SIMUMD_FILL_STUB)
#undef SIMUMD_FILL_STUB
        t.pfnDrawPrimitive = &DrawPrimitive;
        t.pfnDrawIndexedPrimitive = &DrawIndexedPrimitive;
        t.pfnDrawRectPatch = &DrawRectPatch;
        t.pfnDrawTriPatch = &DrawTriPatch;
        t.pfnDrawPrimitive2 = &DrawPrimitive2;
        t.pfnDrawIndexedPrimitive2 = &DrawIndexedPrimitive2;
        t.pfnVolBlt = &VolBlt;
        t.pfnBufBlt = &BufBlt;
        t.pfnTexBlt = &TexBlt;
        t.pfnClear = &Clear;
        t.pfnLock = &Lock;
        t.pfnUnlock = &Unlock;
        t.pfnCreateResource = &CreateResource;
        t.pfnDestroyResource = &DestroyResource;
        t.pfnSetDisplayMode = &SetDisplayMode;
        t.pfnPresent = &Present;
        t.pfnFlush = &Flush;
        t.pfnBlt = &Blt;
        t.pfnColorFill = &ColorFill;
        t.pfnDepthFill = &DepthFill;
        t.pfnCreateQuery = &CreateQuery;
        t.pfnDestroyQuery = &DestroyQuery;
        t.pfnIssueQuery = &IssueQuery;
        t.pfnGetQueryData = &GetQueryData;
        t.pfnSetRenderTarget = &SetRenderTarget;
        t.pfnSetDepthStencil = &SetDepthStencil;
        t.pfnDestroyDevice = &DestroyDevice;
        t.pfnOpenResource = &OpenResource;
        t.pfnResolveSharedResource = &ResolveSharedResource;
    }
};

template <int P> void fillAdapter(D3DDDI_ADAPTERFUNCS& table) {
    table.pfnGetCaps = &AdapterEntries<P>::GetCaps;
    table.pfnCreateDevice = &AdapterEntries<P>::CreateDevice;
    table.pfnCloseAdapter = &AdapterEntries<P>::CloseAdapter;
}

// Slots whose callers expect an answer the simulation cannot give (an object handle, a
// pitch, a mapped pointer): they fail with E_NOTIMPL rather than succeed with nothing.
bool expectsAnswer(unsigned slot) {
    switch (slot) {
    case 2:  // ValidateDevice
    case 19: // StateSet
    case 31: // CreateLight
    case 34: // GetInfo
    case 42: // CreateVertexShaderFunc
    case 45: // CreateVertexShaderDecl
    case 54: // ComposeRects
    case 67: // CreatePixelShader
    case 92: // QueryResourceResidency
        return true;
    default:
        // Decode, video processing, extensions, overlays, capture, asynchronous locks,
        // renames, DXVA-HD, authenticated channels and crypto sessions.
        return (slot >= 69 && slot <= 90) || (slot >= 94 && slot <= 119);
    }
}

} // namespace

HRESULT unimplementedResult(unsigned slot) {
    return expectsAnswer(slot) ? E_NOTIMPL : S_OK;
}

void fillAdapterFuncs(int profileIndex, D3DDDI_ADAPTERFUNCS& table) {
    switch (profileIndex) {
    case kProfileNvidia:
        fillAdapter<kProfileNvidia>(table);
        break;
    case kProfileAti:
        fillAdapter<kProfileAti>(table);
        break;
    default:
        fillAdapter<kProfileIntel>(table);
        break;
    }
}

void fillDeviceFuncs(int profileIndex, D3DDDI_DEVICEFUNCS& table) {
    switch (profileIndex) {
    case kProfileNvidia:
        DeviceEntries<kProfileNvidia>::fill(table);
        break;
    case kProfileAti:
        DeviceEntries<kProfileAti>::fill(table);
        break;
    default:
        DeviceEntries<kProfileIntel>::fill(table);
        break;
    }
}

} // namespace umd
} // namespace sim
