// ResourceDDI9: creation arguments, the copies on the presenting GPU and the twin on the
// rendering GPU, the API copy, and destruction on every GPU.
#include "ResourceDDI9.h"

#include "ConfigProperty.h"
#include "Configuration.h"
#include "Device9.h"
#include "GpuServices.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "SWCopierDDI9.h"

#include <atomic>
#include <string.h>

namespace {

// The downsampling warning is written once per process, by the first resource.
std::atomic<bool> s_downsamplingChecked{false};

// Flags a downsampling twin must not inherit: it is an ordinary lockable surface, never a
// primary (NotLockable, Primary, MatchGdiPrimary cleared).
constexpr UINT kExtraBufferFlagsMask = 0xF7FF7F7Fu;

HANDLE toHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

uint64_t fromHandle(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

} // namespace

ResourceDDI9::ResourceDDI9(Device* pDevice, const D3DDDIARG_CREATERESOURCE& args, bool shared)
    : DdiObject(kDdiObjectResource), m_pDevice(pDevice), m_bIsResourceShared(shared),
      m_pSWStagingBuffer(nullptr), m_mappedCells(), m_creationArgs(args), m_pSurfList(nullptr),
      m_pExtraBuffer(nullptr), m_bDisableDownsampling(false) {
    if (!m_bIsResourceShared)
        copySurfaceList();
    m_bDisableDownsampling = Configuration::getInstance()->getIntProperty(
                                 ConfigProperty::disable_bb_downsample_dx9) == 1;
    if (!s_downsamplingChecked.exchange(true))
        VESSA_CHECK_AT(51, Warning, 0, m_bDisableDownsampling == false,
                       "ResourceDDI9: Backbuffer Downsampling Was Disabled !!!");
}

ResourceDDI9::~ResourceDDI9() {
    releaseMappedCells();
    destroyOnGpu(OpenAdapter::presentingGPU(), 64, "Could not destroy resource on presenting gpu");
    destroyOnGpu(OpenAdapter::renderingGPU(), 72, "Could not destroy resource on rendering gpu");
    // The staging surfaces use the block as their memory: both go before it does.
    if (m_pSWStagingBuffer && m_pDevice)
        m_pDevice->swCopier().releaseStagingBuffer(m_pSWStagingBuffer);
    m_pSWStagingBuffer = nullptr;
    delete m_pExtraBuffer;
    m_pExtraBuffer = nullptr;
    freeSurfaceList();
}

void ResourceDDI9::releaseMappedCells() {
    // The library forgets its mappings while the resource still exists on the GPUs.
    GpuServices* services = GpuServices::instance();
    for (unsigned i = 0; i < kGpuSlots; ++i) {
        if (!m_mappedCells[i])
            continue;
        if (services)
            services->unmapResource(m_mappedCells[i]);
        else
            GpuServices::freeMappedCell(m_mappedCells[i]);
        m_mappedCells[i] = nullptr;
    }
}

void ResourceDDI9::destroyOnGpu(int gpu, int line, const char* message) {
    if (gpu < 0 || !userHandles().has(unsigned(gpu)))
        return;
    HRESULT res = E_FAIL;
    if (m_pDevice) {
        HANDLE hDevice = toHandle(m_pDevice->getUserHandle(unsigned(gpu)));
        PFND3DDDI_DESTROYRESOURCE destroy =
            m_pDevice->deviceFuncs(unsigned(gpu)).pfnDestroyResource;
        if (destroy)
            res = destroy(hDevice, toHandle(getUserHandle(unsigned(gpu))));
    }
    setUserHandle(unsigned(gpu), 0);
    VESSA_CHECK_AT(line, Warning, 0, res == ((HRESULT)0L), "%s", message);
}

void ResourceDDI9::copySurfaceList() {
    m_pSurfList = nullptr;
    const D3DDDI_SURFACEINFO* pSource = m_creationArgs.pSurfList;
    if (pSource && m_creationArgs.SurfCount) {
        m_pSurfList = new D3DDDI_SURFACEINFO[m_creationArgs.SurfCount];
        memcpy(m_pSurfList, pSource, sizeof(D3DDDI_SURFACEINFO) * m_creationArgs.SurfCount);
    }
    // Never keep the caller's list: it is gone once its call returns.
    m_creationArgs.pSurfList = m_pSurfList;
    if (!m_pSurfList)
        m_creationArgs.SurfCount = pSource ? 0 : m_creationArgs.SurfCount;
}

void ResourceDDI9::freeSurfaceList() {
    delete[] m_pSurfList;
    m_pSurfList = nullptr;
    m_creationArgs.pSurfList = nullptr;
}

void ResourceDDI9::setCreationArgs(const D3DDDIARG_CREATERESOURCE& args) {
    D3DDDI_SURFACEINFO* pOld = m_pSurfList;
    m_creationArgs = args;
    copySurfaceList(); // before the old list goes: args may point into it
    delete[] pOld;
}

const D3DDDI_SURFACEINFO* ResourceDDI9::surface(unsigned surfaceIndex) const {
    return m_pSurfList && surfaceIndex < m_creationArgs.SurfCount ? &m_pSurfList[surfaceIndex]
                                                                  : nullptr;
}

uint32_t ResourceDDI9::surfaceWidth(unsigned surfaceIndex) {
    const D3DDDI_SURFACEINFO* s = surface(surfaceIndex);
    return s ? s->Width : 0;
}

uint32_t ResourceDDI9::surfaceHeight(unsigned surfaceIndex) {
    const D3DDDI_SURFACEINFO* s = surface(surfaceIndex);
    return s ? s->Height : 0;
}

uint32_t ResourceDDI9::surfaceDepth(unsigned surfaceIndex) {
    const D3DDDI_SURFACEINFO* s = surface(surfaceIndex);
    return s ? s->Depth : 0;
}

uint32_t ResourceDDI9::multisampleType() {
    uint32_t value;
    memcpy(&value, &m_creationArgs.MultisampleType, sizeof value);
    return value;
}

uint32_t ResourceDDI9::multisampleQuality() {
    return m_creationArgs.MultisampleQuality;
}

uint32_t ResourceDDI9::bitsPerPixel() {
    return 32;
}

uint32_t ResourceDDI9::format() {
    uint32_t value;
    memcpy(&value, &m_creationArgs.Format, sizeof value);
    return value;
}

UINT ResourceDDI9::surfaceCount() {
    return m_creationArgs.SurfCount;
}

void ResourceDDI9::surfaceSizes(uint32_t* pSizes, UINT count) {
    if (!pSizes)
        return;
    for (UINT i = 0; i < count; ++i) {
        pSizes[2 * i] = surfaceWidth(i);
        pSizes[2 * i + 1] = surfaceHeight(i);
    }
}

bool ResourceDDI9::isMultisampled() {
    return multisampleType() != 0;
}

bool ResourceDDI9::createOnPresentingGPU() {
    const int presenting = OpenAdapter::presentingGPU();
    if (presenting < 0 || userHandles().has(unsigned(presenting)))
        return false;
    VESSA_CHECK_AT(150, Warning, 11076, false == m_bIsResourceShared, "%s", "");
    D3DDDIARG_CREATERESOURCE args = m_creationArgs;
    // The presenting GPU always gets a non-multisampled copy.
    args.MultisampleType = D3DDDIMULTISAMPLE_NONE;
    args.MultisampleQuality = 0;
    args.hResource = toHandle(ddiHandles().getRuntimeHandle(unsigned(presenting)));
    HRESULT retVal = E_FAIL;
    if (m_pDevice) {
        PFND3DDDI_CREATERESOURCE create =
            m_pDevice->deviceFuncs(unsigned(presenting)).pfnCreateResource;
        if (create)
            retVal = create(toHandle(m_pDevice->getUserHandle(unsigned(presenting))), &args);
    }
    if (retVal != S_OK) {
        VESSA_REPORT_AT(160, Error, 11077, "((HRESULT)0L) == retVal",
                        "Could Not create Primary on Presenting");
        // A failing driver normally leaves 0 here, so the slot stays empty; the runtime's
        // own handle must never pass for the driver's.
        if (args.hResource == toHandle(ddiHandles().getRuntimeHandle(unsigned(presenting))))
            args.hResource = nullptr;
    }
    setUserHandle(unsigned(presenting), fromHandle(args.hResource));
    // True means "made now": the present paths then fill their storage with it.
    return retVal == S_OK && args.hResource != nullptr;
}

void ResourceDDI9::createNonMultisampledBuffer() {
    if (m_bDisableDownsampling)
        return;
    delete m_pExtraBuffer;
    m_pExtraBuffer = nullptr;
    if (!m_pDevice || !m_pSurfList || m_creationArgs.SurfCount == 0)
        return;
    const unsigned rendering = unsigned(OpenAdapter::renderingGPU());
    HANDLE hDevice = toHandle(m_pDevice->getUserHandle(rendering));

    D3DDDI_SURFACEINFO surface = m_pSurfList[0];
    D3DDDIARG_CREATERESOURCE args = m_creationArgs;
    args.pSurfList = &surface;
    args.SurfCount = 1;
    args.MultisampleType = D3DDDIMULTISAMPLE_NONE;
    args.MultisampleQuality = 0;
    args.hResource = nullptr;
    args.Flags.Value &= kExtraBufferFlagsMask;

    HRESULT retVal = E_FAIL;
    PFND3DDDI_CREATERESOURCE create = m_pDevice->deviceFuncs(rendering).pfnCreateResource;
    if (create)
        retVal = create(hDevice, &args);
    if (retVal != S_OK) {
        VESSA_REPORT_AT(124, Error, 10988, "retVal == ((HRESULT)0L)",
                        "ResourceDDI9, Could Not Create NON-Multisampled Extra buffer");
    }
    HANDLE hCreated = args.hResource;
    args.hResource = nullptr;
    m_pExtraBuffer = new ResourceDDI9(m_pDevice, args, false);
    m_pExtraBuffer->setUserHandle(rendering, retVal == S_OK ? fromHandle(hCreated) : 0);
}

HRESULT ResourceDDI9::ensureApiCopyStaging() {
    SWCopierDDI9& copier = m_pDevice->swCopier();
    if (m_pSWStagingBuffer && m_pSWStagingBuffer->renderingSurface &&
        m_pSWStagingBuffer->presentingSurface)
        return S_OK;
    // A buffer or surface that could not be made (reported then) is asked for again at the
    // next copies, a few times: a passing failure then costs one frame rather than every
    // frame after it, and one that can never be made is not reported at every frame.
    if (m_apiCopyStagingAttempts >= kApiCopyStagingAttempts)
        return E_FAIL;
    if (m_pSWStagingBuffer) {
        copier.releaseStagingBuffer(m_pSWStagingBuffer);
        m_pSWStagingBuffer = nullptr;
    }
    ++m_apiCopyStagingAttempts;
    D3DDDIARG_CREATERESOURCE args = m_creationArgs;
    VESSA_CHECK_AT(174, Warning, 10992, m_creationArgs.MultisampleType == D3DDDIMULTISAMPLE_NONE,
                   "ResourceDDI9 Warning: Force Non-Multisampled SWStagingBuffer creation");
    args.MultisampleType = D3DDDIMULTISAMPLE_NONE;
    m_pSWStagingBuffer = copier.createStagingBuffer(args);
    if (!m_pSWStagingBuffer)
        return E_OUTOFMEMORY;
    if (!m_pSWStagingBuffer->renderingSurface || !m_pSWStagingBuffer->presentingSurface)
        return E_FAIL;
    return S_OK;
}

HRESULT ResourceDDI9::copyToPresenting(UINT srcSub, HANDLE hDst, UINT dstSub) {
    if (m_bIsResourceShared)
        VESSA_REPORT_AT(167, Error, 10991, "false == m_bIsResourceShared",
                        "Trying to copy to shared resource");
    if (!m_pDevice)
        return E_FAIL;
    SWCopierDDI9& copier = m_pDevice->swCopier();
    // Without both staging surfaces no frame can cross: the caller must not show the
    // destination as this frame.
    const HRESULT ready = ensureApiCopyStaging();
    if (FAILED(ready))
        return ready;
    const unsigned rendering = unsigned(OpenAdapter::renderingGPU());
    const unsigned presenting = unsigned(OpenAdapter::presentingGPU());
    HANDLE hSrc = toHandle(getUserHandle(rendering));
    HRESULT toStaging = copier.CopyToStaging(hSrc, srcSub, rendering, m_pSWStagingBuffer);
    // The staging surface still holds an earlier frame when this one did not reach it.
    if (FAILED(toStaging))
        return toStaging;
    return copier.CopyFromStaging(hDst, dstSub, presenting, m_pSWStagingBuffer);
}
