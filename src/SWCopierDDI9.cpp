// SWCopierDDI9: staging buffers over process memory and the two Blts of an API copy.
#include "SWCopierDDI9.h"

#include "Device9.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "ResourceDxgiFormat_auto.h"

#include <new>
#include <stdint.h>
#include <string.h>

namespace {

// Resource flags of a staging surface: a row (height 1, width above 1) is made like a
// buffer, anything else like a dynamic texture.
constexpr UINT kRowSurfaceFlags = 0x90000;
constexpr UINT kSurfaceFlags = 0x10004;

// The block is page-aligned: drivers lock system memory by pages.
constexpr size_t kBlockAlignment = 4096;

HANDLE toHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

uint64_t fromHandle(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

void freeBlock(void* pMemory) {
    ::operator delete[](pMemory, std::align_val_t(kBlockAlignment));
}

} // namespace

SWCopierDDI9::~SWCopierDDI9() = default;

HANDLE SWCopierDDI9::deviceHandle(unsigned gpu) const {
    return toHandle(m_pDevice->getUserHandle(gpu));
}

uint64_t SWCopierDDI9::stagingPitch(const SWStagingDesc& desc) {
    return uint64_t(desc.m_bitsPerPixel / 8) * desc.m_width;
}

bool SWCopierDDI9::stagingSize(const SWStagingDesc& desc, uint64_t& bytes) {
    // Each factor is below 2^32, so width x height fits; the bits per pixel may not.
    uint64_t pixels = uint64_t(desc.m_width) * desc.m_height;
    uint64_t bits = 0;
    bytes = 0;
    if (__builtin_mul_overflow(pixels, uint64_t(desc.m_bitsPerPixel), &bits))
        return false;
    bytes = bits >> 3;
    return bytes <= uint64_t(SIZE_MAX) && stagingPitch(desc) <= UINT32_MAX;
}

SWStagingBuffer* SWCopierDDI9::createStagingBuffer(const D3DDDIARG_CREATERESOURCE& args) {
    SWStagingDesc desc = {};
    if (args.pSurfList && args.SurfCount) {
        desc.m_width = args.pSurfList[0].Width;
        desc.m_height = args.pSurfList[0].Height;
        desc.m_depth = args.pSurfList[0].Depth;
    }
    desc.m_bitsPerPixel = formatBitsPerPixel(args.Format);
    desc.m_multiSampleQuality = args.MultisampleQuality;
    memcpy(&desc.m_multiSampleCount, &args.MultisampleType, sizeof desc.m_multiSampleCount);
    memcpy(&desc.m_format, &args.Format, sizeof desc.m_format);

    SWStagingBuffer* sb = new (std::nothrow) SWStagingBuffer();
    if (!sb) {
        VESSA_REPORT(Error, 0, "sb != 0", "SWCopierDDI9 failed an allocation of %u bytes",
                     unsigned(sizeof(SWStagingBuffer)));
        return nullptr;
    }
    sb->rect = RECT{0, 0, LONG(desc.m_width), LONG(desc.m_height)};

    uint64_t size = 0;
    if (!stagingSize(desc, size)) {
        VESSA_REPORT(Error, 0, "stagingSize(desc, size)",
                     "SWCopierDDI9 staging buffer too large: width=%u, height=%u, bpp=%u",
                     desc.m_width, desc.m_height, desc.m_bitsPerPixel);
        return sb;
    }
    // An empty block (an unknown format) still gets its surfaces asked for: the drivers
    // refuse them, which is reported there, and both copies then do nothing.
    sb->pMemory =
        ::operator new[](size_t(size ? size : 1), std::align_val_t(kBlockAlignment), std::nothrow);
    if (!sb->pMemory) {
        VESSA_REPORT(Error, 0, "sb->pMemory != 0",
                     "SWCopierDDI9 failed an allocation of %llu bytes",
                     static_cast<unsigned long long>(size));
        return sb;
    }
    // The presenting GPU shows the block if the first copy into it fails: black, not
    // whatever the heap held.
    memset(sb->pMemory, 0, size_t(size ? size : 1));

    sb->renderingSurface =
        createStagingSurface(unsigned(OpenAdapter::renderingGPU()), desc, sb->pMemory);
    sb->presentingSurface =
        createStagingSurface(unsigned(OpenAdapter::presentingGPU()), desc, sb->pMemory);
    return sb;
}

void SWCopierDDI9::releaseStagingBuffer(SWStagingBuffer* sb) {
    if (!sb)
        return;
    // The surfaces use the block as their memory: both go first.
    destroyStagingSurface(unsigned(OpenAdapter::renderingGPU()), sb->renderingSurface);
    destroyStagingSurface(unsigned(OpenAdapter::presentingGPU()), sb->presentingSurface);
    sb->renderingSurface = 0;
    sb->presentingSurface = 0;
    if (sb->pMemory)
        freeBlock(sb->pMemory);
    delete sb;
}

uint64_t SWCopierDDI9::createStagingSurface(unsigned gpu, const SWStagingDesc& sbDesc,
                                            void* pMemory) {
    if (sbDesc.m_multiSampleCount >= 2)
        VESSA_REPORT(Error, 11026, "sbDesc.m_multiSampleCount < 2",
                     "Trying to create an API copy staging buffer which is multisampled!");
    D3DDDI_SURFACEINFO surface = {};
    surface.Width = sbDesc.m_width;
    surface.Height = sbDesc.m_height;
    surface.Depth = 1;
    surface.pSysMem = pMemory;
    surface.SysMemPitch = UINT(stagingPitch(sbDesc));
    surface.SysMemSlicePitch = 0;

    D3DDDIARG_CREATERESOURCE args = {};
    memcpy(&args.Format, &sbDesc.m_format, sizeof args.Format);
    args.Pool = D3DDDIPOOL_SYSTEMMEM;
    args.MultisampleType = D3DDDIMULTISAMPLE_NONE;
    args.MultisampleQuality = 0;
    args.pSurfList = &surface;
    args.SurfCount = 1;
    args.MipLevels = 1;
    args.Fvf = 0;
    args.VidPnSourceId = 0;
    args.RefreshRate = D3DDDI_RATIONAL{0, 0};
    args.hResource = nullptr;
    args.Flags.Value =
        (sbDesc.m_height == 1 && sbDesc.m_width != 1) ? kRowSurfaceFlags : kSurfaceFlags;
    args.Rotation = D3DDDI_ROTATION_IDENTITY;

    HRESULT hr = E_FAIL;
    PFND3DDDI_CREATERESOURCE create = m_pDevice->deviceFuncs(gpu).pfnCreateResource;
    if (create)
        hr = create(deviceHandle(gpu), &args);
    if (hr != S_OK) {
        VESSA_REPORT(Error, 11027, "hr == ((HRESULT)0L)",
                     "SWCopierDDI9 failed on pfnCreateResource : width=%d, height=%d, format=%d, "
                     "hr = %d",
                     int(sbDesc.m_width), int(sbDesc.m_height), int(sbDesc.m_format), int(hr));
        // A failing driver leaves its output alone; 0 is what it was given.
        return 0;
    }
    return fromHandle(args.hResource);
}

void SWCopierDDI9::destroyStagingSurface(unsigned gpu, uint64_t handle) {
    if (handle == 0)
        return;
    HRESULT hr = E_FAIL;
    PFND3DDDI_DESTROYRESOURCE destroy = m_pDevice->deviceFuncs(gpu).pfnDestroyResource;
    if (destroy)
        hr = destroy(deviceHandle(gpu), toHandle(handle));
    if (hr != S_OK)
        VESSA_REPORT(Error, 11028, "hr == ((HRESULT)0L)",
                     "SWCopierDDI9 failed on pfnDestroyResource, hr = %d", int(hr));
}

HRESULT SWCopierDDI9::wholeSurfaceBlt(unsigned gpu, HANDLE hSrc, UINT srcSub, HANDLE hDst,
                                      UINT dstSub, const RECT& rect) {
    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = hSrc;
    blt.SrcSubResourceIndex = srcSub;
    blt.SrcRect = rect;
    blt.hDstResource = hDst;
    blt.DstSubResourceIndex = dstSub;
    blt.DstRect = rect;
    blt.ColorKey = 0;
    blt.Flags.Value = 0;
    PFND3DDDI_BLT bltEntry = m_pDevice->deviceFuncs(gpu).pfnBlt;
    return bltEntry ? bltEntry(deviceHandle(gpu), &blt) : E_FAIL;
}

HRESULT SWCopierDDI9::waitForGpu(unsigned gpu, uint64_t handle, UINT lockFlags) {
    PFND3DDDI_LOCK lockEntry = m_pDevice->deviceFuncs(gpu).pfnLock;
    PFND3DDDI_UNLOCK unlockEntry = m_pDevice->deviceFuncs(gpu).pfnUnlock;
    if (!lockEntry || !unlockEntry)
        return E_FAIL;
    D3DDDIARG_LOCK lock = {};
    lock.hResource = toHandle(handle);
    lock.SubResourceIndex = 0;
    lock.Flags.Value = lockFlags;
    HRESULT hr = lockEntry(deviceHandle(gpu), &lock);
    if (FAILED(hr))
        return hr;
    D3DDDIARG_UNLOCK unlock = {};
    unlock.hResource = toHandle(handle);
    unlock.SubResourceIndex = 0;
    HRESULT unlocked = unlockEntry(deviceHandle(gpu), &unlock);
    if (FAILED(unlocked))
        VESSA_REPORT(Error, 0, "SUCCEEDED(unlocked)",
                     "SWCopierDDI9 failed to unlock a staging surface on gpu:%u, hr = %d", gpu,
                     int(unlocked));
    return S_OK;
}

HRESULT SWCopierDDI9::CopyToStaging(HANDLE hSrc, UINT srcSub, unsigned gpu, SWStagingBuffer* sb) {
    if (!sb || sb->renderingSurface == 0)
        return S_OK;
    // The presenting GPU may still be reading the previous frame out of the block; writing
    // it now would tear that frame.
    if (sb->presentingSurface != 0) {
        const unsigned presenting = unsigned(OpenAdapter::presentingGPU());
        HRESULT waited = waitForGpu(presenting, sb->presentingSurface, 0);
        if (FAILED(waited)) {
            VESSA_REPORT(Error, 0, "SUCCEEDED(waited)",
                         "SWCopierDDI9 could not wait for gpu:%u to read the staging buffer, "
                         "hr = %d",
                         presenting, int(waited));
            return waited;
        }
    }
    HRESULT hr = wholeSurfaceBlt(gpu, hSrc, srcSub, toHandle(sb->renderingSurface), 0, sb->rect);
    if (hr != S_OK)
        VESSA_REPORT(Error, 11029, "hr == ((HRESULT)0L)",
                     "SWCopierDDI9 failed on pfnBlt (CopyToStaging), hr = %d", int(hr));
    return hr;
}

HRESULT SWCopierDDI9::CopyFromStaging(HANDLE hDst, UINT dstSub, unsigned gpu, SWStagingBuffer* sb) {
    // The Blt reads the presenting GPU's surface, so that one must exist; and without the
    // rendering GPU's surface nothing was staged, so the destination keeps its last frame.
    if (!sb || sb->presentingSurface == 0 || sb->renderingSurface == 0)
        return S_OK;
    // The rendering GPU's Blt into the block has to have ended before the presenting GPU
    // reads it: a read-only lock submits it and returns when the GPU no longer writes there.
    const unsigned rendering = unsigned(OpenAdapter::renderingGPU());
    HRESULT waited = waitForGpu(rendering, sb->renderingSurface, D3DDDI_LOCKFLAGS::ReadOnly);
    if (FAILED(waited)) {
        VESSA_REPORT(Error, 0, "SUCCEEDED(waited)",
                     "SWCopierDDI9 could not wait for gpu:%u to write the staging buffer, hr = %d",
                     rendering, int(waited));
        return waited;
    }
    HRESULT hr = wholeSurfaceBlt(gpu, toHandle(sb->presentingSurface), 0, hDst, dstSub, sb->rect);
    if (hr != S_OK) {
        VESSA_REPORT(Error, 11030, "hr == ((HRESULT)0L)",
                     "SWCopierDDI9 failed on pfnBlt (CopyFromStaging), hr = %d", int(hr));
        return hr;
    }
    // Queued now, the copy comes before any later work on that GPU and any lock of the
    // destination waits for it.
    return m_pDevice->flushGpu(gpu);
}
