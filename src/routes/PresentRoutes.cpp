// Routes of the wrapped entries that present, flush and change the display mode.
//
// With two GPUs a Present goes to the swap chain (which presents the primary on the
// rendering GPU and keeps its storage) and then to the flip manager, which shows a new frame
// or the last one again on the presenting GPU. A Blt to the desktop compositor is a windowed
// present of its own. With one GPU everything goes to that GPU's driver.
#include "DeviceRoute.h"

namespace DeviceFuncs {

namespace {

constexpr const char* kSourceFile = "DeviceFuncs_auto.cpp";

/// Windowed presents aim at least 5 frames per second above the refresh rate.
constexpr uint32_t kWindowedMargin = 5;

uint32_t targetRate(const FlipManager& flip, bool windowed) {
    if (windowed && flip.m_margin < kWindowedMargin)
        return flip.m_refreshRate + kWindowedMargin;
    return flip.m_refreshRate + flip.m_margin;
}

bool isCompositorBlt(const D3DDDIARG_BLT* pData) {
    return (pData->Flags.Value &
            (D3DDDI_BLTFLAGS::BeginPresentToDwm | D3DDDI_BLTFLAGS::ContinuePresentToDwm |
             D3DDDI_BLTFLAGS::EndPresentToDwm)) != 0;
}

} // namespace

HRESULT Present(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_PRESENT* pData) {
    (void)hDevice;
    if (!VESSA_CHECK(Error, 0, pData != nullptr, "Present without arguments"))
        return E_INVALIDARG;
    if (!isHybrid())
        return pDevice->execution().present(pData, OpenAdapter::renderingGPU());

    FlipManager* flip = pDevice->m_pFlipManager;
    if (flip) {
        flip->m_vsyncRequested = pData->FlipInterval != 0;
        flip->m_presentInterval =
            !flip->m_vsyncRequested && flip->zari() ? 1 : int32_t(pData->FlipInterval);
        flip->m_targetRate =
            targetRate(*flip, (pData->Flags.Value & D3DDDI_PRESENTFLAGS::Blt) != 0);
    }
    SwapChainDDI9* swapChain = pDevice->m_pSwapChain;
    if (!VESSA_CHECK(Error, 0, swapChain != nullptr, "Present without a swap chain"))
        return E_FAIL;
    const HRESULT retVal = swapChain->present(pData);
    if (retVal != S_OK)
        reportAssertion(ReportLevel::Error, 11068, kSourceFile, 295, "((HRESULT)0L) == retVal",
                        "to present on Rendering GPU");
    if (!flip) {
        reportAssertion(ReportLevel::Error, 11069, kSourceFile, 297, "0 != pDevice->m_pFlipManager",
                        "pDevice->m_pFlipManager is NULL");
        // Unpaced, but shown: every Present is a new frame.
        return swapChain->presentFrame(pData, false, 1);
    }
    return flip->onPresent(pData);
}

HRESULT Blt(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, const D3DDDIARG_BLT* pData) {
    if (!pData || !isHybrid())
        return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnBlt, "Blt", hDevice, pData);
    if (isCompositorBlt(pData)) {
        if (FlipManager* flip = pDevice->m_pFlipManager)
            flip->m_targetRate = targetRate(*flip, true);
        if (!VESSA_CHECK(Error, 0, pDevice->m_pSwapChain != nullptr, "Blt without a swap chain"))
            return E_FAIL;
        const HRESULT hr = pDevice->m_pSwapChain->dwmBltPresent(pData);
        // The compositor goes on with its next frame whatever one Blt did; only a removed
        // device is worth its hearing.
        return hr == D3DDDIERR_DEVICEREMOVED ? hr : S_OK;
    }
    D3DDDIARG_BLT args = *pData;
    if (!exchangeForPresentHandle(pDevice, &args.hSrcResource) ||
        !exchangeForPresentHandle(pDevice, &args.hDstResource))
        return E_FAIL;
    return forwardUnlessDropped(pDevice, &D3DDDI_DEVICEFUNCS::pfnBlt, "Blt", hDevice,
                                static_cast<const D3DDDIARG_BLT*>(&args));
}

HRESULT Flush(Device* pDevice, DeviceLockGuard&, HANDLE hDevice) {
    const HRESULT res1 =
        forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnFlush, "Flush", hDevice);
    if (res1 != S_OK)
        reportAssertion(ReportLevel::Warning, 0, kSourceFile, 179, "((HRESULT)0L) == res1",
                        "flush failed on OpenAdapter::renderingGPU()");
    const unsigned presenting = presentingIndex();
    if (isHybrid() && pDevice->userHandles().has(presenting)) {
        PFND3DDDI_FLUSH flush = pDevice->deviceFuncs(presenting).pfnFlush;
        const HRESULT res2 = flush ? flush(pDevice->gpuHandle(presenting)) : E_FAIL;
        if (res2 != S_OK)
            reportAssertion(ReportLevel::Warning, 0, kSourceFile, 182, "((HRESULT)0L) == res2",
                            "flush failed on OpenAdapter::presentingGPU()");
    }
    return res1;
}

HRESULT SetDisplayMode(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                       const D3DDDIARG_SETDISPLAYMODE* pData) {
    const HRESULT res1 = forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnSetDisplayMode,
                                            "SetDisplayMode", hDevice, pData);
    if (res1 != S_OK)
        reportAssertion(ReportLevel::Warning, 11066, kSourceFile, 264, "((HRESULT)0L) == res1",
                        "Could not SetDisplayMode on OpenAdapter::renderingGPU()");
    if (!pDevice->m_pSwapChain)
        return res1;
    // The presenting GPU shows the mode with the primary's copy there, at the next flip.
    pDevice->m_pSwapChain->m_bDisplayModePending = true;
    // With two GPUs the rendering GPU's copy of the primary is an ordinary surface on a GPU
    // without a display, whose driver may well refuse a mode for it; that refusal must not
    // fail the application's mode change, which the presenting GPU carries out.
    return isHybrid() ? S_OK : res1;
}

} // namespace DeviceFuncs
