// SwapChainDDI9: the back-buffer storage, the primary, the transfer to the presenting GPU and
// the present paths.
#include "SwapChainDDI9.h"

#include "Device9.h"
#include "FlipManager.h"
#include "GpuServices.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "ResourceDDI9.h"
#include "VessaIcon.h"

#include <new>

namespace {

HANDLE toHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

uint64_t fromHandle(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

unsigned renderingGpu() {
    return static_cast<unsigned>(OpenAdapter::renderingGPU());
}

unsigned presentingGpu() {
    return static_cast<unsigned>(OpenAdapter::presentingGPU());
}

bool isBltPresent(const D3DDDIARG_PRESENT* pData) {
    return (pData->Flags.Value & D3DDDI_PRESENTFLAGS::Blt) != 0;
}

/// What a flip path answers for the presenting GPU's result: the flip paths hide a failed
/// present (the next one may succeed), but a removed device never comes back, and the
/// application has to hear of it to recreate its device.
HRESULT flipResult(HRESULT presented) {
    return presented == D3DDDIERR_DEVICEREMOVED ? presented : S_OK;
}

} // namespace

// ---- Back-buffer storage -------------------------------------------------------------------

void SwapChainDDI9::BBStorage::clear() {
    for (int32_t i = 0; i < MAX_LEN; ++i) {
        m_resources[i] = nullptr;
        m_subresources[i] = 0;
    }
    m_currentBBIndex = 0;
    m_arrayLen = 0;
    m_bShownFrame = false;
}

void SwapChainDDI9::BBStorage::addEntry(ResourceDDI9* pResource) {
    if (!VESSA_CHECK(Error, 0, pResource != nullptr, "addEntry without a resource"))
        return;
    const UINT count = pResource->surfaceCount();
    for (UINT i = 0; i < count; ++i) {
        if (!VESSA_CHECK(Error, 11103, m_arrayLen < MAX_LEN, "primary resources array is full"))
            return;
        m_resources[m_arrayLen] = pResource;
        m_subresources[m_arrayLen] = i;
        ++m_arrayLen;
    }
}

void SwapChainDDI9::BBStorage::handleArrayGapOnRemoveEntry(int32_t indexToDelFrom,
                                                           int32_t surfCount) {
    VESSA_CHECK(Error, 11110, m_arrayLen >= surfCount,
                "SwapChainDDI9::BBStorage::handleArrayGapOnRemoveEntry: m_arrayLen >= surfCount");
    VESSA_CHECK(Error, 11111, m_arrayLen >= indexToDelFrom + surfCount,
                "SwapChainDDI9::BBStorage::handleArrayGapOnRemoveEntry: m_arrayLen >= "
                "indexToDelFrom + surfCount");
    // Only filled entries can leave: the count never drops below zero, and nothing outside
    // the four entries is ever written.
    if (indexToDelFrom < 0 || indexToDelFrom >= m_arrayLen || surfCount <= 0)
        return;
    if (surfCount > m_arrayLen - indexToDelFrom)
        surfCount = m_arrayLen - indexToDelFrom;
    for (int32_t to = indexToDelFrom; to + surfCount < MAX_LEN; ++to) {
        m_resources[to] = m_resources[to + surfCount];
        m_subresources[to] = m_subresources[to + surfCount];
    }
    m_arrayLen -= surfCount;
    // The entries above the count are cleared: none keeps a resource that may be freed.
    for (int32_t i = m_arrayLen; i < MAX_LEN; ++i) {
        m_resources[i] = nullptr;
        m_subresources[i] = 0;
    }
}

bool SwapChainDDI9::BBStorage::removeResource(const ResourceDDI9* pResource) {
    if (!pResource)
        return false;
    bool found = false;
    for (int32_t i = 0; i < m_arrayLen;) {
        if (m_resources[i] != pResource) {
            ++i;
            continue;
        }
        int32_t run = 1;
        while (i + run < m_arrayLen && m_resources[i + run] == pResource)
            ++run;
        handleArrayGapOnRemoveEntry(i, run);
        found = true;
    }
    if (found) {
        m_currentBBIndex = 0;
        m_bShownFrame = false;
    }
    return found;
}

ResourceDDI9* SwapChainDDI9::BBStorage::getCurrentBB() const {
    if (!VESSA_CHECK(Error, 11112, m_currentBBIndex < MAX_LEN,
                     "SwapChainDDI9::BBStorage::getCurrentBB: m_currentBBIndex %d >= MAX_LEN",
                     int(m_currentBBIndex)))
        return nullptr;
    return m_currentBBIndex >= 0 ? m_resources[m_currentBBIndex] : nullptr;
}

UINT SwapChainDDI9::BBStorage::getCurrentBBSubresource() const {
    if (!VESSA_CHECK(Error, 11113, m_currentBBIndex < MAX_LEN,
                     "SwapChainDDI9::BBStorage::getCurrentBB: m_currentBBIndex %d >= MAX_LEN",
                     int(m_currentBBIndex)))
        return 0;
    return m_currentBBIndex >= 0 ? m_subresources[m_currentBBIndex] : 0;
}

int32_t SwapChainDDI9::BBStorage::frontIndex(int codeTooBig, int codeNegative) const {
    if (m_arrayLen <= 0)
        return -1;
    const int32_t fbIndex = (m_currentBBIndex + m_arrayLen - 1) % m_arrayLen;
    if (!VESSA_CHECK(Error, codeTooBig, fbIndex < MAX_LEN,
                     "SwapChainDDI9::BBStorage::getCurrentBB: m_currentBBIndex %d >= MAX_LEN",
                     int(m_currentBBIndex)))
        return -1;
    if (!VESSA_CHECK(Error, codeNegative, fbIndex >= 0,
                     "SwapChainDDI9::BBStorage::getCurrentBB: m_currentBBIndex %d < 0",
                     int(m_currentBBIndex)))
        return -1;
    return fbIndex;
}

ResourceDDI9* SwapChainDDI9::BBStorage::getFrontBB() const {
    const int32_t index = frontIndex(11140, 11141);
    return index >= 0 ? m_resources[index] : nullptr;
}

UINT SwapChainDDI9::BBStorage::getFrontBBSubresource() const {
    const int32_t index = frontIndex(11142, 11143);
    return index >= 0 ? m_subresources[index] : 0;
}

void SwapChainDDI9::BBStorage::advance() {
    if (m_arrayLen > 0) {
        m_currentBBIndex = (m_currentBBIndex + 1) % m_arrayLen;
        m_bShownFrame = true;
    }
}

// ---- Construction, the primary, removal ----------------------------------------------------

SwapChainDDI9::SwapChainDDI9(Device* pDevice)
    : SwapChainBase(pDevice), m_lastPresentedWindowedMode(nullptr),
      m_lastPresentedWindowedDst(nullptr), m_bWindowedMode(false), m_primaryResource(nullptr),
      m_pUnused(nullptr), m_bSharedPrimaryAdded(false) {}

HRESULT SwapChainDDI9::createPrimaryResource(D3DDDIARG_CREATERESOURCE* pData) {
    if (!VESSA_CHECK(Error, 0, pData != nullptr && m_pDevice != nullptr,
                     "createPrimaryResource without arguments or device"))
        return E_INVALIDARG;
    const unsigned rendering = renderingGpu();
    D3DDDIARG_CREATERESOURCE copy = *pData;
    copy.Flags.Value &= ~D3DDDI_RESOURCEFLAGS::Primary;
    // The rendering GPU's driver allocates through the kernel and must never see the
    // runtime's handle: its allocation callbacks would take it for one of ours.
    copy.hResource = nullptr;
    PFND3DDDI_CREATERESOURCE create = m_pDevice->deviceFuncs(rendering).pfnCreateResource;
    if (!VESSA_CHECK(Error, 0, create != nullptr, "no CreateResource on the rendering GPU"))
        return E_FAIL;
    const HRESULT hr = create(toHandle(m_pDevice->getUserHandle(rendering)), &copy);
    if (hr != S_OK)
        return hr;

    ResourceDDI9* res = new (std::nothrow) ResourceDDI9(m_pDevice, *pData, false);
    if (!VESSA_CHECK(Error, 0, res != nullptr, "no memory for the primary resource")) {
        PFND3DDDI_DESTROYRESOURCE destroy = m_pDevice->deviceFuncs(rendering).pfnDestroyResource;
        if (destroy)
            destroy(toHandle(m_pDevice->getUserHandle(rendering)), copy.hResource);
        return E_OUTOFMEMORY;
    }
    // The runtime's own handle is what the presenting GPU's copy is created under later.
    res->ddiHandles().setRuntimeHandle(fromHandle(pData->hResource), presentingGpu());
    res->setUserHandle(rendering, fromHandle(copy.hResource));
    m_pDevice->addResource(fromHandle(copy.hResource), res);
    VESSA_CHECK(Error, 10993, 0 == m_primaryResource,
                "Swap chain errror, NULL != pDevice->m_primaryResource when creating primary "
                "resource");
    m_primaryResource = res;
    pData->hResource = copy.hResource;
    return S_OK;
}

void SwapChainDDI9::removeResource(ResourceDDI9* pResource) {
    if (!pResource)
        return;
    // Every destroyed resource leaves the storage, whatever it was: a surface left there
    // would be presented after it is freed.
    m_storage.removeResource(pResource);
    if (pResource == m_primaryResource)
        m_primaryResource = nullptr;
    if (pResource == m_lastPresentedWindowedMode || pResource == m_lastPresentedWindowedDst) {
        m_lastPresentedWindowedMode = nullptr;
        m_lastPresentedWindowedDst = nullptr;
    }
}

bool SwapChainDDI9::isPresentSource(const ResourceDDI9* pResource) const {
    return pResource && (pResource->isSharedResource() || pResource == m_primaryResource);
}

// ---- Transfer ----------------------------------------------------------------------------

HRESULT SwapChainDDI9::downsampleToNonMultisampled(ResourceDDI9* pResource, UINT subResource) {
    const unsigned rendering = renderingGpu();
    ResourceDDI9* extra = pResource->extraBuffer();
    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = toHandle(pResource->getUserHandle(rendering));
    blt.SrcSubResourceIndex = subResource;
    blt.SrcRect = {0, 0, LONG(pResource->surfaceWidth(0)), LONG(pResource->surfaceHeight(0))};
    blt.hDstResource = extra ? toHandle(extra->getUserHandle(rendering)) : nullptr;
    blt.DstSubResourceIndex = 0;
    blt.DstRect = blt.SrcRect;
    PFND3DDDI_BLT bltEntry = m_pDevice->deviceFuncs(rendering).pfnBlt;
    const HRESULT res =
        bltEntry ? bltEntry(toHandle(m_pDevice->getUserHandle(rendering)), &blt) : E_FAIL;
    VESSA_CHECK(Error, 11078, res == ((HRESULT)0L),
                "Err: Failed to downsample to non-multisampled");
    return res;
}

bool SwapChainDDI9::transferToPresenting(ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                                         UINT srcSub, uint32_t unused, bool skipCopy) {
    (void)unused;
    if (!VESSA_CHECK(Error, 0, pDst != nullptr && pSrc != nullptr && m_pDevice != nullptr,
                     "transferToPresenting without %s", pDst ? "a source" : "a destination"))
        return false;
    // A surface whose copy on the presenting GPU could not be made has nothing to write to.
    if (!VESSA_CHECK(Warning, 0, pDst->userHandles().has(presentingGpu()),
                     "transferToPresenting: the destination is not on the presenting GPU"))
        return false;

    ResourceDDI9* pSource = pSrc;
    UINT sourceSub = srcSub;
    if (pSrc->isMultisampled()) {
        if (!pSrc->extraBuffer())
            pSrc->createNonMultisampledBuffer();
        ResourceDDI9* pSrcResource = pSrc->extraBuffer();
        if (pSrcResource && !pSrcResource->userHandles().has(renderingGpu()))
            pSrcResource = nullptr;
        // Without its twin (downsampling disabled, or its creation failed) the surface goes
        // across as it is: the copy then takes its first sample, never a null source.
        if (VESSA_CHECK(Error, 11079, 0 != pSrcResource,
                        "Err: Failed to create non-multisampled")) {
            if (!skipCopy)
                downsampleToNonMultisampled(pSrc, srcSub);
            pSource = pSrcResource;
            sourceSub = 0;
        }
    }
    const bool copied =
        !skipCopy && m_pDevice->execution().transfer(pDst, dstSub, pSource, sourceSub);
    // The interop's staging buffers complete what earlier transfers started, also on a
    // repeated frame, which copies nothing itself.
    if (!m_pDevice->execution().useApiCopy()) {
        if (GpuServices* services = static_cast<GpuServices*>(m_pDevice->gpuServices()))
            services->completionStep(m_pDevice, pDst, dstSub, pSource, sourceSub);
    }
    return copied;
}

// ---- Present steps -------------------------------------------------------------------------

ResourceDDI9* SwapChainDDI9::lookup(HANDLE handle) {
    return m_pDevice->getResource(fromHandle(handle));
}

HRESULT SwapChainDDI9::presentOnRendering(D3DDDIARG_PRESENT* pData, ResourceDDI9* pResource) {
    if (!VESSA_CHECK(Error, 11094, pData, "null pData"))
        return E_INVALIDARG;
    if (!VESSA_CHECK(Error, 11095, pResource, "null pResourceSrc"))
        return E_INVALIDARG;
    pData->hSrcResource = toHandle(pResource->getUserHandle(renderingGpu()));
    const HRESULT retVal = m_pDevice->execution().present(pData, int(renderingGpu()));
    VESSA_CHECK(Error, 11096, ((HRESULT)0L) == retVal, "Present retVal != S_OK");
    return retVal;
}

HRESULT SwapChainDDI9::presentOnPresenting(const D3DDDIARG_PRESENT* pData, ResourceDDI9* pResource,
                                           UINT subResource, int failureCode, const char* failure) {
    if (!VESSA_CHECK(Error, 11097, pData, "null pData"))
        return E_INVALIDARG;
    if (!VESSA_CHECK(Error, 11098, pResource, "null pResourceSrc"))
        return E_INVALIDARG;
    const uint64_t hSource = pResource->getUserHandle(presentingGpu());
    if (!VESSA_CHECK(Warning, 0, hSource != 0,
                     "the presented surface is not on the presenting GPU"))
        return E_FAIL;
    D3DDDIARG_PRESENT args = *pData;
    args.hSrcResource = toHandle(hSource);
    args.SrcSubResourceIndex = subResource;
    const HRESULT retVal = m_pDevice->execution().present(&args, int(presentingGpu()));
    VESSA_CHECK(Error, failureCode, ((HRESULT)0L) == retVal, "%s", failure);
    return retVal;
}

void SwapChainDDI9::drawIcon(ResourceDDI9* pResource, UINT subResource) {
    VessaIcon* icon = m_pDevice->m_pVessaIcon;
    if (!icon || !pResource)
        return;
    const uint64_t hTarget = pResource->getUserHandle(presentingGpu());
    if (!hTarget)
        return;
    icon->setBackBufferSize(pResource->surfaceWidth(0), pResource->surfaceHeight(0));
    icon->draw(presentingGpu(), toHandle(hTarget), subResource);
}

D3DDDIARG_PRESENT SwapChainDDI9::windowedArguments(const D3DDDIARG_PRESENT* pData,
                                                   ResourceDDI9* pSource,
                                                   ResourceDDI9** ppDestination) {
    D3DDDIARG_PRESENT args = *pData;
    ResourceDDI9* pResourceDst = nullptr;
    if (pData->hDstResource) {
        pResourceDst = lookup(pData->hDstResource);
        if (pResourceDst) {
            VESSA_CHECK(Error, 11083, true == pResourceDst->isSharedResource(),
                        "non shared resource in destination");
            args.hDstResource = toHandle(pResourceDst->getUserHandle(presentingGpu()));
        } else {
            args.hDstResource = nullptr; // never a rendering-GPU handle to the presenting GPU
        }
    }
    args.hSrcResource = toHandle(pSource->getUserHandle(presentingGpu()));
    if (ppDestination)
        *ppDestination = pResourceDst;
    return args;
}

// ---- Present handling --------------------------------------------------------------------

HRESULT SwapChainDDI9::present(const D3DDDIARG_PRESENT* pData) {
    if (!VESSA_CHECK(Error, 0, pData != nullptr, "Present without arguments"))
        return S_OK;
    if (!isBltPresent(pData)) {
        VESSA_CHECK(Error, 11085, m_primaryResource, "NULL m_primaryResource");
        if (m_primaryResource) {
            D3DDDIARG_PRESENT copy = *pData;
            const HRESULT retVal = presentOnRendering(&copy, m_primaryResource);
            VESSA_CHECK(Error, 11117, retVal == ((HRESULT)0L), "failed to present on rendering");
        }
    }

    ResourceDDI9* pResourceSrc = lookup(pData->hSrcResource);
    if (isBltPresent(pData)) {
        if (!VESSA_CHECK(Warning, 11081, pResourceSrc, "NULL pResourceSrc"))
            return S_OK;
        noteWindowedSource(pResourceSrc);
        return S_OK;
    }
    if (!pResourceSrc)
        return S_OK; // reported by the look-up
    noteFlipSource(pResourceSrc);
    return S_OK;
}

void SwapChainDDI9::noteWindowedSource(ResourceDDI9* pSource) {
    if (!pSource->createOnPresentingGPU())
        return;
    m_lastPresentedWindowedMode = nullptr;
    m_lastPresentedWindowedDst = nullptr;
    m_storage.clear();
    m_bWindowedMode = true;
}

void SwapChainDDI9::noteFlipSource(ResourceDDI9* pSource) {
    if (!pSource->isSharedResource()) {
        VESSA_CHECK(Error, 11080, pSource == m_primaryResource, "assumed primary resource");
        const bool created = pSource->createOnPresentingGPU();
        setDisplayMode(pSource, created);
        if (created) {
            if (pSource->surfaceCount() >= 2)
                m_storage.clear();
            m_storage.addEntry(pSource);
            m_bWindowedMode = false;
        }
        return;
    }
    if (m_bSharedPrimaryAdded)
        return;
    if (!VESSA_CHECK(Error, 11114, m_primaryResource, "NULL m_primaryResource"))
        return;
    D3DDDIARG_CREATERESOURCE args = m_primaryResource->creationArgs();
    args.SurfCount = 1;
    pSource->setCreationArgs(args);
    m_storage.addEntry(pSource);
    m_bSharedPrimaryAdded = true;
}

HRESULT SwapChainDDI9::presentFrame(const D3DDDIARG_PRESENT* pData, bool force, uint32_t interval) {
    if (!VESSA_CHECK(Error, 0, pData != nullptr, "presentFrame without arguments"))
        return E_INVALIDARG;
    if (isBltPresent(pData)) {
        VESSA_CHECK(Warning, 11081, pData->SrcSubResourceIndex == 0,
                    "info: pData->SrcSubResourceIndex > 0");
        ResourceDDI9* pResourceSrc = lookup(pData->hSrcResource);
        if (!pResourceSrc)
            return S_OK;
        VESSA_CHECK(Error, 11082, false == pResourceSrc->isSharedResource(),
                    "SharedResource in windowed mode");
        const UINT sub = pData->SrcSubResourceIndex;
        // Across before the present, as for a flip (below).
        const bool copied = transferFinished(pResourceSrc, sub, pResourceSrc, sub);
        drawIcon(pResourceSrc, sub);
        ResourceDDI9* pResourceDst = nullptr;
        const D3DDDIARG_PRESENT args = windowedArguments(pData, pResourceSrc, &pResourceDst);
        m_lastPresentedWindowedMode = pResourceSrc;
        m_lastPresentedWindowedDst = pResourceDst;
        SetbPerformPresentAndFlipInterval(0, copied ? interval : 0, copied ? force : true);
        if (!VESSA_CHECK(Warning, 0, args.hSrcResource != nullptr,
                         "the windowed source is not on the presenting GPU"))
            return E_FAIL;
        const HRESULT retVal = m_pDevice->execution().present(&args, int(presentingGpu()));
        VESSA_CHECK(Error, 11084, ((HRESULT)0L) == retVal, "present on Presenting failed");
        return retVal;
    }

    ResourceDDI9* presentResource = m_storage.getCurrentBB();
    UINT subresource = m_storage.getCurrentBBSubresource();
    // The frame is across before the flip, also when its staging buffer was busy: a present
    // of the worker pass would come from outside the application's present, where the
    // runtime has none to carry it.
    const bool copied = presentResource && m_primaryResource &&
                        transferFinished(presentResource, subresource, m_primaryResource,
                                         pData->SrcSubResourceIndex);
    if (copied) {
        drawIcon(presentResource, subresource);
    } else if (!m_storage.hasShownFrame()) {
        // Nothing crossed, and no frame ever did: the front surface holds no frame, and the
        // display keeps what it shows.
        return S_OK;
    } else {
        // Nothing new crossed: the surface shown last is shown again.
        presentResource = m_storage.getFrontBB();
        subresource = m_storage.getFrontBBSubresource();
    }
    VESSA_CHECK(Error, 11115, presentResource, "NULL presentResource");
    VESSA_CHECK(Error, 11116, m_primaryResource, "NULL m_primaryResource");
    // Without a primary no frame was ever rendered: there is nothing to show.
    if (!presentResource || !m_primaryResource)
        return S_OK;
    SetbPerformPresentAndFlipInterval(0, copied ? interval : 0, copied ? force : true);
    const HRESULT retVal = presentOnPresenting(pData, presentResource, subresource, 11099,
                                               "Present on OpenAdapter::presentingGPU() failed");
    if (copied)
        m_storage.advance();
    return flipResult(retVal);
}

HRESULT SwapChainDDI9::repeatPresent(const D3DDDIARG_PRESENT* pData) {
    if (!VESSA_CHECK(Error, 0, pData != nullptr, "repeatPresent without arguments"))
        return E_INVALIDARG;
    if (isBltPresent(pData)) {
        VESSA_CHECK(Warning, 11146, pData->SrcSubResourceIndex == 0,
                    "info: pData->SrcSubResourceIndex > 0");
        ResourceDDI9* pResourceSrc = m_lastPresentedWindowedMode;
        if (!VESSA_CHECK(Warning, 11147, 0 != pResourceSrc, "m_lastPresentedWindowedMode is NULL"))
            return S_OK;
        VESSA_CHECK(Error, 11148, false == pResourceSrc->isSharedResource(),
                    "SharedResource in windowed mode");
        const UINT sub = pData->SrcSubResourceIndex;
        transferToPresenting(pResourceSrc, sub, pResourceSrc, sub, 0, true);
        drawIcon(pResourceSrc, sub);
        const D3DDDIARG_PRESENT args = windowedArguments(pData, pResourceSrc, nullptr);
        if (!VESSA_CHECK(Warning, 0, args.hSrcResource != nullptr,
                         "the windowed source is not on the presenting GPU"))
            return E_FAIL;
        const HRESULT retVal = m_pDevice->execution().present(&args, int(presentingGpu()));
        VESSA_CHECK(Error, 11149, ((HRESULT)0L) == retVal, "present on Presenting failed");
        return retVal;
    }

    ResourceDDI9* presentResource = m_storage.getCurrentBB();
    const UINT subresource = m_storage.getCurrentBBSubresource();
    VESSA_CHECK(Error, 11144, presentResource, "NULL presentResource");
    VESSA_CHECK(Error, 11145, m_primaryResource, "NULL m_primaryResource");
    if (presentResource && m_primaryResource)
        transferToPresenting(presentResource, subresource, m_primaryResource,
                             pData->SrcSubResourceIndex, 0, true);
    SetbPerformPresentAndFlipInterval(0, 0, true);
    ResourceDDI9* front = m_storage.getFrontBB();
    if (!front || !m_primaryResource)
        return S_OK;
    return flipResult(presentOnPresenting(pData, front, m_storage.getFrontBBSubresource(), 11099,
                                          "Present on OpenAdapter::presentingGPU() failed"));
}

void SwapChainDDI9::getPresentTarget(ResourceDDI9** ppResource, UINT* pSubResource) {
    if (!ppResource || !pSubResource)
        return;
    if (m_bWindowedMode) {
        *ppResource = m_lastPresentedWindowedMode;
        *pSubResource = 0;
    } else if (m_storage.m_arrayLen > 0) {
        *ppResource = m_storage.getCurrentBB();
        *pSubResource = m_storage.getCurrentBBSubresource();
    }
}

HRESULT SwapChainDDI9::presentTransferred(ResourceDDI9* pResource, UINT subResource) {
    D3DDDIARG_PRESENT args = {};
    if (m_bWindowedMode) {
        args.Flags.Value = D3DDDI_PRESENTFLAGS::Blt;
        if (m_lastPresentedWindowedDst)
            args.hDstResource =
                toHandle(m_lastPresentedWindowedDst->getUserHandle(presentingGpu()));
    } else {
        args.Flags.Value = D3DDDI_PRESENTFLAGS::Flip;
    }
    if (!VESSA_CHECK(Error, 11115, pResource, "NULL presentResource"))
        return E_INVALIDARG;
    drawIcon(pResource, subResource);
    const int32_t interval =
        m_pDevice->m_pFlipManager ? m_pDevice->m_pFlipManager->m_presentInterval : 1;
    // Before the first Present the flip manager knows no interval (-1): one vblank then.
    SetbPerformPresentAndFlipInterval(0, interval >= 0 ? uint32_t(interval) : 1u, true);
    const HRESULT result = presentOnPresenting(&args, pResource, subResource, 11099,
                                               "Present on OpenAdapter::presentingGPU() failed");
    if (!m_bWindowedMode)
        m_storage.advance();
    return result;
}

// ---- Compositor Blts, handles, display modes ---------------------------------------------

void SwapChainDDI9::transferToCompositorSource(ResourceDDI9* pResource, UINT sub) {
    // The Blt below reads the presenting GPU's copy at once, and the compositor shows what it
    // read; no present of the worker pass follows to carry a frame the staging buffers still
    // hold.
    transferFinished(pResource, sub, pResource, sub);
}

bool SwapChainDDI9::transferFinished(ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                                     UINT srcSub) {
    // With the interop's synchronous copies the frame must be across before the caller shows
    // it: whatever is left in the buffers is copied out first (so the new frame finds one
    // free), and the new frame right after its injection.
    GpuServices* services = m_pDevice->execution().useApiCopy()
                                ? nullptr
                                : static_cast<GpuServices*>(m_pDevice->gpuServices());
    const bool finish = services && !services->asynchronous();
    if (finish)
        services->finishTransfers(m_pDevice, pDst, dstSub);
    const bool copied = transferToPresenting(pDst, dstSub, pSrc, srcSub, 0, false);
    if (finish && !copied)
        return services->finishTransfers(m_pDevice, pDst, dstSub);
    return copied;
}

HRESULT SwapChainDDI9::dwmBltPresent(const D3DDDIARG_BLT* pData) {
    if (!VESSA_CHECK(Error, 0, pData != nullptr, "dwmBltPresent without arguments"))
        return E_INVALIDARG;
    const UINT flags = pData->Flags.Value;
    const bool begin = (flags & D3DDDI_BLTFLAGS::BeginPresentToDwm) != 0;
    const bool cont = (flags & D3DDDI_BLTFLAGS::ContinuePresentToDwm) != 0;
    const bool end = (flags & D3DDDI_BLTFLAGS::EndPresentToDwm) != 0;
    if (!(begin && !cont && end))
        VESSA_REPORT(Error, 11086,
                     "(1 == pData->Flags.BeginPresentToDwm) && (0 == "
                     "pData->Flags.ContinuePresentToDwm) && (1 == pData->Flags.EndPresentToDwm)",
                     "%s", "");
    VESSA_CHECK(Warning, 11087, pData->SrcSubResourceIndex == 0,
                "Info: pData->SrcSubResourceIndex > 0");
    ResourceDDI9* pResourceSrc = lookup(pData->hSrcResource);
    if (!pResourceSrc)
        return E_FAIL;
    VESSA_CHECK(Error, 11089, false == pResourceSrc->isSharedResource(), "Shared resource in src");
    if (pResourceSrc->createOnPresentingGPU()) {
        m_lastPresentedWindowedMode = nullptr;
        m_lastPresentedWindowedDst = nullptr;
        m_bWindowedMode = false;
        m_storage.clear();
    }
    const UINT sub = pData->SrcSubResourceIndex;
    transferToCompositorSource(pResourceSrc, sub);
    drawIcon(pResourceSrc, sub);

    D3DDDIARG_BLT args = *pData;
    args.hSrcResource = toHandle(pResourceSrc->getUserHandle(presentingGpu()));
    const bool hasSource = VESSA_CHECK(Error, 11090, args.hSrcResource, "NULL args.hSrcResource");
    ResourceDDI9* pResourceDst = lookup(pData->hDstResource);
    if (!pResourceDst)
        return E_FAIL;
    // The compositor's surface is either one this device opened or one the application
    // made to share with it.
    const bool sharedDestination =
        pResourceDst->isSharedResource() ||
        (pResourceDst->creationArgs().Flags.Value & D3DDDI_RESOURCEFLAGS::SharedResource) != 0;
    VESSA_CHECK(Error, 11091, sharedDestination, "blt should be performed to shared resource");
    args.hDstResource = toHandle(pResourceDst->getUserHandle(presentingGpu()));
    const bool hasDestination =
        VESSA_CHECK(Error, 11092, args.hDstResource, "NULL args.hDstResource");
    // A Blt naming no surface on the presenting GPU would reach its driver with handle 0.
    if (!hasSource || !hasDestination)
        return E_FAIL;
    PFND3DDDI_BLT blt = m_pDevice->deviceFuncs(presentingGpu()).pfnBlt;
    if (!blt)
        return E_FAIL;
    return blt(toHandle(m_pDevice->getUserHandle(presentingGpu())), &args);
}

uint64_t SwapChainDDI9::getPresentHandle(ResourceDDI9* pResource) {
    if (!pResource)
        return 0;
    if (!pResource->isSharedResource())
        return pResource->getUserHandle(renderingGpu());
    if (!VESSA_CHECK(Error, 11002, 0 != m_primaryResource, "NULL m_primaryResource"))
        return 0;
    return m_primaryResource->getUserHandle(renderingGpu());
}

void SwapChainDDI9::setDisplayMode(ResourceDDI9* pResource, bool force) {
    if (!force && !m_bDisplayModePending)
        return;
    if (!pResource)
        return;
    // Without a copy on the presenting GPU there is nothing to show the mode with; the
    // request stays pending for the next flip present.
    if (!VESSA_CHECK(Error, 11100, 0 != pResource->getUserHandle(OpenAdapter::presentingGPU()),
                     "Trying to SetDisplayMode on NULL resource"))
        return;
    const HRESULT retVal = setDisplayModeOnGpu(pResource, 0, presentingGpu());
    VESSA_CHECK(Error, 11010, ((HRESULT)0L) == retVal, "Failed to perform SetDisplaymode");
    m_bDisplayModePending = false;
}

HRESULT SwapChainDDI9::setDisplayModeOnGpu(ResourceDDI9* pResource, UINT subResource,
                                           unsigned gpu) {
    D3DDDIARG_SETDISPLAYMODE args = {};
    args.hResource = toHandle(pResource->getUserHandle(gpu));
    args.SubResourceIndex = subResource;
    PFND3DDDI_SETDISPLAYMODE entry = m_pDevice->deviceFuncs(gpu).pfnSetDisplayMode;
    const HRESULT res = entry ? entry(toHandle(m_pDevice->getUserHandle(gpu)), &args) : E_FAIL;
    VESSA_CHECK(Warning, 11101, ((HRESULT)0L) == res, "Could not SetDisplayMode on GPU (%d)",
                int(gpu));
    return res;
}
