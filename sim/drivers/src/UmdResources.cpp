// A simulated driver's resources: creation over pfnAllocateCb, shared surfaces opened by
// their allocations, locks through pfnLockCb, and the pixel operations, which copy whole
// rows wherever the formats allow it.
#include "UmdDevice.h"

#include "UmdAdapter.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/KernelStatus.h"
#include "sim/gpus/SimAllocation.h"

#include <algorithm>
#include <array>
#include <string.h>
#include <vector>

namespace sim {
namespace umd {

namespace {

constexpr uint32_t kMaxDimension = 16384;
constexpr uint32_t kMaxDepth = 2048;
constexpr uint32_t kMaxSurfaces = 6 * 16;
constexpr uint64_t kMaxSurfaceBytes = 1ull << 30;

uint32_t alignUp(uint32_t value, uint32_t alignment) {
    return alignment ? (value + alignment - 1) / alignment * alignment : value;
}

bool rectInside(const RECT& r, const Surface& s) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           uint32_t(r.right) <= s.width && uint32_t(r.bottom) <= s.height;
}

// A colour or depth surface whose pixels a fill or copy can address one by one.
bool pixelAddressable(const Resource& r) {
    return r.layout.bytesPerPixel > 0 && !r.layout.buffer;
}

UINT rawFormat(D3DDDIFORMAT format) {
    UINT value;
    memcpy(&value, &format, sizeof value);
    return value;
}

} // namespace

// The memory of an allocation as the GPU reaches it when it runs a command: straight from
// the kernel, without the runtime's lock. Null when the allocation is gone or smaller than
// the surface (the command then does nothing).
uint8_t* Device::gpuMemory(D3DKMT_HANDLE hAllocation, uint64_t size) {
    AllocationInfo info;
    if (!Kernel::instance().allocation(hAllocation, info) || !info.pMemory || info.size < size)
        return nullptr;
    return info.pMemory;
}

// A command may only name surfaces whose memory the kernel holds.
bool Device::gpuReachable(const Surface& surface) {
    AllocationInfo info;
    return Kernel::instance().allocation(surface.hAllocation, info) && info.pMemory &&
           info.size >= surface.size;
}

Resource* Device::findResource(HANDLE hResource) {
    auto it = m_resources.find(static_cast<Resource*>(hResource));
    if (it != m_resources.end())
        return it->second.get();
    if (hResource)
        DriverState::instance().noteForeignResource(*this, hResource);
    return nullptr;
}

HRESULT Device::checkSurface(HANDLE hResource, UINT subresource, Resource*& pResource,
                             Surface*& pSurface) {
    pResource = findResource(hResource);
    if (!pResource || subresource >= pResource->surfaces.size())
        return E_INVALIDARG;
    pSurface = &pResource->surfaces[subresource];
    return S_OK;
}

// ---- Creation and destruction --------------------------------------------------------------

HRESULT Device::createResource(D3DDDIARG_CREATERESOURCE& args) {
    std::unique_ptr<Resource> pResource(new Resource());
    Resource& r = *pResource;
    // The rotation is read from the runtime as a raw value: only the four members pass.
    if (!args.pSurfList || args.SurfCount == 0 || args.SurfCount > kMaxSurfaces ||
        !validRotation(rawValue(args.Rotation)))
        return E_INVALIDARG;
    if (!formatLayout(args.Format, r.layout))
        return E_INVALIDARG;
    UINT pool, msType;
    memcpy(&pool, &args.Pool, sizeof pool);
    memcpy(&msType, &args.MultisampleType, sizeof msType);
    if (pool < D3DDDIPOOL_SYSTEMMEM || pool > D3DDDIPOOL_NONLOCALVIDMEM || msType > 16)
        return E_INVALIDARG;
    if (msType >= 2 && !(m_adapter.profile().sampleCounts & (1u << (msType - 1))))
        return E_INVALIDARG;
    r.hRuntime = args.hResource;
    r.format = args.Format;
    r.pool = D3DDDI_POOL(pool);
    r.flags = args.Flags.Value;
    r.multisampleType = msType;
    r.mipLevels = args.MipLevels ? args.MipLevels : 1;
    r.vidPnSourceId = args.VidPnSourceId;
    bool volume = (r.flags & D3DDDI_RESOURCEFLAGS::Volume) != 0;
    bool primary = (r.flags & D3DDDI_RESOURCEFLAGS::Primary) != 0;

    std::vector<SimAllocationDesc> descs(args.SurfCount);
    std::vector<D3DDDI_ALLOCATIONINFO> infos(args.SurfCount);
    r.surfaces.resize(args.SurfCount);
    for (UINT i = 0; i < args.SurfCount; ++i) {
        const D3DDDI_SURFACEINFO& in = args.pSurfList[i];
        Surface& s = r.surfaces[i];
        uint32_t maxWidth = r.layout.buffer ? uint32_t(kMaxSurfaceBytes) : kMaxDimension;
        if (in.Width == 0 || in.Width > maxWidth || in.Height == 0 || in.Height > kMaxDimension)
            return E_INVALIDARG;
        s.width = in.Width;
        s.height = in.Height;
        s.depth = volume ? in.Depth : 1;
        if (s.depth == 0 || s.depth > kMaxDepth)
            return E_INVALIDARG;
        uint32_t row = rowBytes(r.layout, s.width);
        uint32_t rows = rowCount(r.layout, s.height);
        // System memory the runtime supplies keeps its own layout.
        bool caller = r.pool == D3DDDIPOOL_SYSTEMMEM && in.pSysMem;
        if (caller) {
            if (in.SysMemPitch < row)
                return E_INVALIDARG;
            s.pitch = in.SysMemPitch;
            s.pSysMem = in.pSysMem;
        } else {
            s.pitch = r.layout.buffer ? row : alignUp(row, m_adapter.profile().pitchAlignment);
        }
        s.slicePitch =
            (caller && volume && in.SysMemSlicePitch) ? in.SysMemSlicePitch : s.pitch * rows;
        if (uint64_t(s.slicePitch) < uint64_t(s.pitch) * rows)
            return E_INVALIDARG;
        s.size = uint64_t(s.slicePitch) * (s.depth - 1) + uint64_t(s.pitch) * rows;
        if (s.size > kMaxSurfaceBytes)
            return D3DERR_OUTOFVIDEOMEMORY;
        descs[i].width = s.width;
        descs[i].height = s.height;
        descs[i].format = rawFormat(r.format);
        descs[i].pitch = s.pitch;
        descs[i].size = s.size;
        descs[i].setOwner(m_adapter.profile().vendorId, gpu());
        infos[i].pSystemMem = s.pSysMem;
        infos[i].pPrivateDriverData = &descs[i];
        infos[i].PrivateDriverDataSize = sizeof(SimAllocationDesc);
        infos[i].VidPnSourceId = r.vidPnSourceId;
        infos[i].Flags.Value = primary ? D3DDDI_ALLOCATIONINFOFLAGS::Primary : 0;
    }

    D3DDDICB_ALLOCATE allocate = {};
    allocate.hResource = args.hResource;
    allocate.NumAllocations = args.SurfCount;
    allocate.pAllocationInfo = infos.data();
    HRESULT hr = m_callbacks.pfnAllocateCb(m_hRuntime, &allocate);
    if (FAILED(hr))
        return hr;
    r.hKMResource = allocate.hKMResource;
    std::vector<D3DKMT_HANDLE> made;
    for (UINT i = 0; i < args.SurfCount; ++i) {
        r.surfaces[i].hAllocation = infos[i].hAllocation;
        if (infos[i].hAllocation)
            made.push_back(infos[i].hAllocation);
    }
    if (made.size() != args.SurfCount) {
        // A callback that reports success without handing out every allocation: give back
        // what came and fail, rather than keep a surface without memory.
        if (!made.empty()) {
            D3DDDICB_DEALLOCATE deallocate = {nullptr, UINT(made.size()), made.data()};
            m_callbacks.pfnDeallocateCb(m_hRuntime, &deallocate);
        }
        return E_FAIL;
    }
    Resource* pKey = pResource.get();
    m_resources[pKey] = std::move(pResource);
    DriverState::instance().addResource(pKey, this);
    args.hResource = pKey;
    return S_OK;
}

HRESULT Device::openResource(D3DDDIARG_OPENRESOURCE& args) {
    if (args.NumAllocations == 0 || args.NumAllocations > kMaxSurfaces ||
        !args.pOpenAllocationInfo || !validRotation(rawValue(args.Rotation)))
        return E_INVALIDARG;
    std::unique_ptr<Resource> pResource(new Resource());
    Resource& r = *pResource;
    r.opened = true;
    r.hRuntime = args.hResource;
    r.hKMResource = args.hKMResource;
    r.flags = D3DDDI_RESOURCEFLAGS::SharedResource | D3DDDI_RESOURCEFLAGS::RenderTarget;
    r.surfaces.resize(args.NumAllocations);
    // The runtime opened the allocations on this device's kernel device (the one behind
    // the driver's context); an allocation of another device is not this driver's to use.
    ContextInfo context;
    D3DKMT_HANDLE hKernelDevice = 0;
    if (Kernel::instance().context(D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(m_hContext)), context))
        hKernelDevice = context.hDevice;
    for (UINT i = 0; i < args.NumAllocations; ++i) {
        // The creator's private data says how the shared allocation is laid out.
        const D3DDDI_OPENALLOCATIONINFO& info = args.pOpenAllocationInfo[i];
        SimAllocationDesc desc;
        AllocationInfo kernelInfo;
        if (!info.hAllocation || !info.pPrivateDriverData ||
            info.PrivateDriverDataSize < sizeof desc ||
            !Kernel::instance().allocation(info.hAllocation, kernelInfo) ||
            kernelInfo.hDevice != hKernelDevice)
            return E_INVALIDARG;
        memcpy(&desc, info.pPrivateDriverData, sizeof desc);
        D3DDDIFORMAT format = D3DDDIFORMAT(desc.format);
        FormatLayout layout;
        if (desc.magic != kSimAllocationMagic || !formatLayout(format, layout) || desc.width == 0 ||
            desc.height == 0 || desc.width > kMaxDimension || desc.height > kMaxDimension)
            return E_INVALIDARG;
        if (i == 0) {
            r.format = format;
            r.layout = layout;
        } else if (format != r.format) {
            return E_INVALIDARG;
        }
        Surface& s = r.surfaces[i];
        s.width = desc.width;
        s.height = desc.height;
        s.pitch = desc.pitch ? desc.pitch : rowBytes(layout, desc.width);
        s.slicePitch = s.pitch * rowCount(layout, desc.height);
        s.size = desc.size ? desc.size : s.slicePitch;
        if (s.pitch < rowBytes(layout, desc.width) || s.size < s.slicePitch)
            return E_INVALIDARG;
        s.hAllocation = info.hAllocation;
    }
    Resource* pKey = pResource.get();
    m_resources[pKey] = std::move(pResource);
    DriverState::instance().addResource(pKey, this);
    args.hResource = pKey;
    return S_OK;
}

HRESULT Device::releaseResource(Resource& resource) {
    // Commands that name the allocations go first: the kernel refuses a submission that
    // names a destroyed allocation.
    HRESULT hr = submit();
    if (resource.opened)
        return hr;
    // The allocations were made for the runtime's resource, so the runtime releases them
    // through it, as drivers do; only a resource the runtime gave no handle lists them.
    std::vector<D3DKMT_HANDLE> handles;
    D3DDDICB_DEALLOCATE deallocate = {};
    if (resource.hRuntime) {
        deallocate.hResource = resource.hRuntime;
    } else {
        for (const Surface& s : resource.surfaces)
            handles.push_back(s.hAllocation);
        deallocate.NumAllocations = UINT(handles.size());
        deallocate.HandleList = handles.data();
    }
    HRESULT released = m_callbacks.pfnDeallocateCb(m_hRuntime, &deallocate);
    return FAILED(released) ? released : hr;
}

HRESULT Device::destroyResource(HANDLE hResource) {
    if (!findResource(hResource))
        return E_INVALIDARG;
    auto it = m_resources.find(static_cast<Resource*>(hResource));
    Resource* pResource = it->second.get();
    if (m_pRenderTarget == pResource)
        m_pRenderTarget = nullptr;
    if (m_pDepthStencil == pResource)
        m_pDepthStencil = nullptr;
    HRESULT hr = releaseResource(*pResource);
    m_resources.erase(it);
    DriverState::instance().removeResource(pResource);
    return hr;
}

// ---- Lock and unlock -----------------------------------------------------------------------

HRESULT Device::lock(D3DDDIARG_LOCK& args) {
    Resource* pResource = nullptr;
    Surface* pSurface = nullptr;
    HRESULT hr = checkSurface(args.hResource, args.SubResourceIndex, pResource, pSurface);
    if (FAILED(hr))
        return hr;
    Surface& s = *pSurface;
    UINT flags = args.Flags.Value;
    uint64_t offset = 0;
    if (flags & D3DDDI_LOCKFLAGS::AreaValid) {
        if (!rectInside(args.Area, s) || pResource->layout.buffer)
            return E_INVALIDARG;
        uint32_t rows = uint32_t(args.Area.top);
        uint32_t columns = uint32_t(args.Area.left);
        if (pResource->layout.blockBytes) {
            // Block formats lock whole blocks only.
            if ((rows | columns) & 3)
                return E_INVALIDARG;
            offset =
                uint64_t(rows / 4) * s.pitch + uint64_t(columns / 4) * pResource->layout.blockBytes;
        } else {
            offset = uint64_t(rows) * s.pitch + uint64_t(columns) * pResource->layout.bytesPerPixel;
        }
    } else if (flags & D3DDDI_LOCKFLAGS::RangeValid) {
        if (uint64_t(args.Range.Offset) + args.Range.Size > s.size)
            return E_INVALIDARG;
        offset = args.Range.Offset;
    } else if (flags & D3DDDI_LOCKFLAGS::BoxValid) {
        const D3DDDIBOX& b = args.Box;
        if (b.Left >= b.Right || b.Top >= b.Bottom || b.Front >= b.Back || b.Right > s.width ||
            b.Bottom > s.height || b.Back > s.depth || pResource->layout.blockBytes)
            return E_INVALIDARG;
        offset = uint64_t(b.Front) * s.slicePitch + uint64_t(b.Top) * s.pitch +
                 uint64_t(b.Left) * pResource->layout.bytesPerPixel;
    }
    if (pResource->flags & D3DDDI_RESOURCEFLAGS::NotLockable)
        return E_INVALIDARG;

    D3DDDICB_LOCK lock = {};
    lock.hAllocation = s.hAllocation;
    UINT kernelFlags = 0;
    if (flags & D3DDDI_LOCKFLAGS::ReadOnly)
        kernelFlags |= D3DDDICB_LOCKFLAGS::ReadOnly;
    if (flags & D3DDDI_LOCKFLAGS::WriteOnly)
        kernelFlags |= D3DDDICB_LOCKFLAGS::WriteOnly;
    if (flags & D3DDDI_LOCKFLAGS::Discard)
        kernelFlags |= D3DDDICB_LOCKFLAGS::Discard;
    if (flags & D3DDDI_LOCKFLAGS::DoNotWait)
        kernelFlags |= D3DDDICB_LOCKFLAGS::DonotWait;
    lock.Flags.Value = kernelFlags;
    // Pending commands may write the surface; they reach the GPU before the CPU looks.
    hr = submit();
    if (FAILED(hr))
        return hr;
    hr = m_callbacks.pfnLockCb(m_hRuntime, &lock);
    if (FAILED(hr))
        return hr;
    if (!lock.pData) {
        D3DDDICB_UNLOCK unlock = {1, &s.hAllocation};
        m_callbacks.pfnUnlockCb(m_hRuntime, &unlock);
        return E_FAIL;
    }
    ++s.lockCount;
    args.pSurfData = static_cast<uint8_t*>(lock.pData) + offset;
    args.Pitch = s.pitch;
    args.SlicePitch = s.slicePitch;
    return S_OK;
}

HRESULT Device::unlock(const D3DDDIARG_UNLOCK& args) {
    Resource* pResource = nullptr;
    Surface* pSurface = nullptr;
    HRESULT hr = checkSurface(args.hResource, args.SubResourceIndex, pResource, pSurface);
    if (FAILED(hr))
        return hr;
    if (pSurface->lockCount == 0)
        return E_INVALIDARG;
    D3DDDICB_UNLOCK unlock = {1, &pSurface->hAllocation};
    hr = m_callbacks.pfnUnlockCb(m_hRuntime, &unlock);
    if (FAILED(hr))
        return hr;
    --pSurface->lockCount;
    return S_OK;
}

// ---- Pixel operations ----------------------------------------------------------------------
// Each operation is checked when the application calls it and recorded with its work: what
// the GPU does when the kernel's queue reaches the command. The work keeps copies of what it
// needs (never a driver object, which may be gone by then).

GpuWork Device::fillWork(const Surface& surface, const RECT& rect, const uint8_t* pPixel,
                         uint32_t bytes) {
    std::array<uint8_t, 16> pixel;
    memcpy(pixel.data(), pPixel, bytes);
    D3DKMT_HANDLE h = surface.hAllocation;
    uint64_t size = surface.size;
    uint32_t pitch = surface.pitch;
    return [h, size, pitch, rect, pixel, bytes] {
        uint8_t* pBits = gpuMemory(h, size);
        if (!pBits)
            return;
        uint32_t width = uint32_t(rect.right - rect.left);
        uint32_t rowLength = width * bytes;
        uint8_t* pFirst = pBits + size_t(rect.top) * pitch + size_t(rect.left) * bytes;
        // One row pixel by pixel, then whole rows.
        for (uint32_t x = 0; x < width; ++x)
            memcpy(pFirst + size_t(x) * bytes, pixel.data(), bytes);
        for (LONG y = rect.top + 1; y < rect.bottom; ++y)
            memcpy(pBits + size_t(y) * pitch + size_t(rect.left) * bytes, pFirst, rowLength);
    };
}

HRESULT Device::copyWork(Resource& src, Surface& srcSurface, const RECT& srcRect, Resource& dst,
                         Surface& dstSurface, const RECT& dstRect, UINT flags, GpuWork& out) {
    uint32_t srcBytes = src.layout.bytesPerPixel;
    uint32_t dstBytes = dst.layout.bytesPerPixel;
    bool same = sameLayout(src.format, dst.format) && srcBytes == dstBytes;
    if (!same) {
        uint8_t probeIn[16] = {}, probeOut[16] = {};
        if (!convertPixel(src.format, probeIn, dst.format, probeOut))
            return E_INVALIDARG;
    }
    if (!gpuReachable(srcSurface) || !gpuReachable(dstSurface))
        return E_INVALIDARG;
    uint32_t dstW = uint32_t(dstRect.right - dstRect.left),
             dstH = uint32_t(dstRect.bottom - dstRect.top);
    DriverState::instance().count(gpu(), &DriverStats::blts);
    DriverState::instance().count(gpu(), &DriverStats::bytesCopied,
                                  uint64_t(dstW) * dstH * dstBytes);
    struct Side {
        D3DKMT_HANDLE h;
        uint64_t size;
        uint32_t pitch;
        D3DDDIFORMAT format;
        RECT rect;
    };
    Side in = {srcSurface.hAllocation, srcSurface.size, srcSurface.pitch, src.format, srcRect};
    Side to = {dstSurface.hAllocation, dstSurface.size, dstSurface.pitch, dst.format, dstRect};
    out = [in, to, srcBytes, dstBytes, same, flags] {
        uint8_t* pDst = gpuMemory(to.h, to.size);
        const uint8_t* pSrc = gpuMemory(in.h, in.size);
        if (!pDst || !pSrc)
            return;
        uint32_t srcW = uint32_t(in.rect.right - in.rect.left),
                 srcH = uint32_t(in.rect.bottom - in.rect.top);
        uint32_t dstW = uint32_t(to.rect.right - to.rect.left),
                 dstH = uint32_t(to.rect.bottom - to.rect.top);
        bool mirrorX = (flags & D3DDDI_BLTFLAGS::MirrorLeftRight) != 0;
        bool mirrorY = (flags & D3DDDI_BLTFLAGS::MirrorUpDown) != 0;
        size_t srcPitch = in.pitch;
        const uint8_t* pSrcBase =
            pSrc + size_t(in.rect.top) * srcPitch + size_t(in.rect.left) * srcBytes;
        std::vector<uint8_t> staging;
        if (in.h == to.h) {
            // Source and destination share memory: read from a copy of the source rectangle.
            staging.resize(size_t(srcW) * srcBytes * srcH);
            for (uint32_t y = 0; y < srcH; ++y)
                memcpy(&staging[size_t(y) * srcW * srcBytes], pSrcBase + size_t(y) * srcPitch,
                       size_t(srcW) * srcBytes);
            pSrcBase = staging.data();
            srcPitch = size_t(srcW) * srcBytes;
        }
        uint8_t* pDstBase = pDst + size_t(to.rect.top) * to.pitch + size_t(to.rect.left) * dstBytes;
        bool stretch = srcW != dstW || srcH != dstH || mirrorX;
        for (uint32_t y = 0; y < dstH; ++y) {
            uint32_t sy = uint32_t(uint64_t(y) * srcH / dstH);
            if (mirrorY)
                sy = srcH - 1 - sy;
            const uint8_t* pSrcRow = pSrcBase + size_t(sy) * srcPitch;
            uint8_t* pDstRow = pDstBase + size_t(y) * to.pitch;
            if (!stretch && same) {
                memcpy(pDstRow, pSrcRow, size_t(dstW) * dstBytes);
                continue;
            }
            for (uint32_t x = 0; x < dstW; ++x) {
                uint32_t sx = uint32_t(uint64_t(x) * srcW / dstW);
                if (mirrorX)
                    sx = srcW - 1 - sx;
                const uint8_t* pIn = pSrcRow + size_t(sx) * srcBytes;
                uint8_t* pOut = pDstRow + size_t(x) * dstBytes;
                if (same)
                    memcpy(pOut, pIn, dstBytes);
                else
                    convertPixel(in.format, pIn, to.format, pOut);
            }
        }
    };
    return S_OK;
}

// A present to the desktop compositor is a run of Blts into a shared surface: the first
// flagged BeginPresentToDwm, the last EndPresentToDwm (one Blt may carry both), any between
// ContinuePresentToDwm. A flag out of that order, or a destination the compositor cannot
// have opened, is refused.
HRESULT Device::checkDwmPresentBlt(UINT flags, const Resource& dst) const {
    const UINT begin = D3DDDI_BLTFLAGS::BeginPresentToDwm;
    const UINT next = D3DDDI_BLTFLAGS::ContinuePresentToDwm;
    const UINT end = D3DDDI_BLTFLAGS::EndPresentToDwm;
    if (!(flags & (begin | next | end)))
        return S_OK;
    bool shared = dst.opened || (dst.flags & D3DDDI_RESOURCEFLAGS::SharedResource);
    if (!shared || ((flags & next) && (flags & (begin | end))))
        return E_INVALIDARG;
    if ((flags & begin) ? m_dwmPresentOpen : !m_dwmPresentOpen)
        return E_INVALIDARG;
    return S_OK;
}

HRESULT Device::blt(const D3DDDIARG_BLT& args) {
    Resource *pSrc = nullptr, *pDst = nullptr;
    Surface *pSrcSurface = nullptr, *pDstSurface = nullptr;
    HRESULT hr = checkSurface(args.hSrcResource, args.SrcSubResourceIndex, pSrc, pSrcSurface);
    if (FAILED(hr))
        return hr;
    hr = checkSurface(args.hDstResource, args.DstSubResourceIndex, pDst, pDstSurface);
    if (FAILED(hr))
        return hr;
    const UINT dwmFlags = D3DDDI_BLTFLAGS::BeginPresentToDwm |
                          D3DDDI_BLTFLAGS::ContinuePresentToDwm | D3DDDI_BLTFLAGS::EndPresentToDwm;
    UINT dwm = args.Flags.Value & dwmFlags;
    hr = checkDwmPresentBlt(dwm, *pDst);
    if (FAILED(hr))
        return hr;
    if (!pixelAddressable(*pSrc) || !pixelAddressable(*pDst) ||
        !rectInside(args.SrcRect, *pSrcSurface) || !rectInside(args.DstRect, *pDstSurface))
        return E_INVALIDARG;
    // Depth surfaces copy only into their own format and size.
    if ((pSrc->layout.depth || pDst->layout.depth) &&
        (pSrc->format != pDst->format ||
         args.SrcRect.right - args.SrcRect.left != args.DstRect.right - args.DstRect.left ||
         args.SrcRect.bottom - args.SrcRect.top != args.DstRect.bottom - args.DstRect.top))
        return E_INVALIDARG;
    GpuWork work;
    hr = copyWork(*pSrc, *pSrcSurface, args.SrcRect, *pDst, *pDstSurface, args.DstRect,
                  args.Flags.Value & ~dwmFlags, work);
    if (FAILED(hr))
        return hr;
    hr = record(Op::Blt, pSrcSurface->hAllocation, pDstSurface->hAllocation, std::move(work));
    if (FAILED(hr) || !dwm)
        return hr;
    m_dwmPresentOpen = !(dwm & D3DDDI_BLTFLAGS::EndPresentToDwm);
    // The compositor reads the frame on its own device: the present's last Blt goes to the
    // GPU at once, as a present does.
    return m_dwmPresentOpen ? S_OK : submit();
}

HRESULT Device::colorFill(const D3DDDIARG_COLORFILL& args) {
    Resource* pResource = nullptr;
    Surface* pSurface = nullptr;
    HRESULT hr = checkSurface(args.hResource, args.SubResourceIndex, pResource, pSurface);
    if (FAILED(hr))
        return hr;
    uint8_t pixel[16];
    uint32_t bytes = 0;
    if (!pixelAddressable(*pResource) || pResource->layout.depth ||
        !rectInside(args.DstRect, *pSurface) ||
        !packColor(pResource->format, args.Color, pixel, bytes) || !gpuReachable(*pSurface))
        return E_INVALIDARG;
    DriverState::instance().count(gpu(), &DriverStats::fills);
    return record(Op::Fill, 0, pSurface->hAllocation,
                  fillWork(*pSurface, args.DstRect, pixel, bytes));
}

HRESULT Device::depthFill(const D3DDDIARG_DEPTHFILL& args) {
    Resource* pResource = nullptr;
    Surface* pSurface = nullptr;
    HRESULT hr = checkSurface(args.hResource, args.SubResourceIndex, pResource, pSurface);
    if (FAILED(hr))
        return hr;
    if (!pResource->layout.depth || !rectInside(args.DstRect, *pSurface) ||
        !gpuReachable(*pSurface))
        return E_INVALIDARG;
    // The value is already in the format's encoding.
    uint8_t pixel[4];
    uint32_t bytes = pResource->layout.bytesPerPixel;
    for (uint32_t i = 0; i < bytes; ++i)
        pixel[i] = uint8_t(args.Depth >> (8 * i));
    DriverState::instance().count(gpu(), &DriverStats::fills);
    return record(Op::Fill, 0, pSurface->hAllocation,
                  fillWork(*pSurface, args.DstRect, pixel, bytes));
}

HRESULT Device::clear(const D3DDDIARG_CLEAR& args, UINT rectCount, const RECT* pRects) {
    constexpr UINT kTarget = 0x1, kZBuffer = 0x2, kStencil = 0x4;
    struct Job {
        Resource* pResource;
        Surface* pSurface;
        uint8_t pixel[16];
        uint32_t bytes;
    };
    std::vector<Job> jobs;
    if (args.Flags & kTarget) {
        if (!m_pRenderTarget)
            return E_INVALIDARG;
        Job job = {m_pRenderTarget, &m_pRenderTarget->surfaces[m_renderTargetSubresource], {}, 0};
        if (!packColor(m_pRenderTarget->format, args.FillColor, job.pixel, job.bytes))
            return E_INVALIDARG;
        jobs.push_back(job);
    }
    if (args.Flags & (kZBuffer | kStencil)) {
        if (!m_pDepthStencil)
            return E_INVALIDARG;
        Job job = {m_pDepthStencil, &m_pDepthStencil->surfaces[0], {}, 0};
        if (!packDepth(m_pDepthStencil->format, args.FillDepth, args.FillStencil, job.pixel,
                       job.bytes))
            return E_INVALIDARG;
        jobs.push_back(job);
    }
    for (const Job& job : jobs) {
        if (!gpuReachable(*job.pSurface))
            return E_INVALIDARG;
    }
    for (Job& job : jobs) {
        RECT whole = {0, 0, LONG(job.pSurface->width), LONG(job.pSurface->height)};
        UINT count = rectCount ? rectCount : 1;
        std::vector<GpuWork> fills;
        for (UINT i = 0; i < count; ++i) {
            // Clear rectangles are clipped to the surface, as to the viewport.
            RECT r = rectCount ? pRects[i] : whole;
            r.left = std::max(r.left, whole.left);
            r.top = std::max(r.top, whole.top);
            r.right = std::min(r.right, whole.right);
            r.bottom = std::min(r.bottom, whole.bottom);
            if (r.left >= r.right || r.top >= r.bottom)
                continue;
            fills.push_back(fillWork(*job.pSurface, r, job.pixel, job.bytes));
            DriverState::instance().count(gpu(), &DriverStats::fills);
        }
        GpuWork work = [fills] {
            for (const GpuWork& fill : fills)
                fill();
        };
        HRESULT hr = record(Op::Clear, 0, job.pSurface->hAllocation, std::move(work));
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT Device::texBlt(const D3DDDIARG_TEXBLT& args) {
    Resource* pSrc = findResource(args.hSrcResource);
    Resource* pDst = findResource(args.hDstResource);
    if (!pSrc || !pDst || !pixelAddressable(*pSrc) || !pixelAddressable(*pDst))
        return E_INVALIDARG;
    bool cube = (pSrc->flags & D3DDDI_RESOURCEFLAGS::CubeMap) != 0;
    if (cube && args.CubeMapFace >= 6)
        return E_INVALIDARG;
    uint32_t srcLevels = cube ? pSrc->mipLevels : uint32_t(pSrc->surfaces.size());
    uint32_t dstLevels = (pDst->flags & D3DDDI_RESOURCEFLAGS::CubeMap)
                             ? pDst->mipLevels
                             : uint32_t(pDst->surfaces.size());
    uint32_t srcFirst = cube ? args.CubeMapFace * pSrc->mipLevels : 0;
    uint32_t dstFirst =
        (pDst->flags & D3DDDI_RESOURCEFLAGS::CubeMap) ? args.CubeMapFace * pDst->mipLevels : 0;
    if (srcFirst >= pSrc->surfaces.size() || dstFirst >= pDst->surfaces.size())
        return E_INVALIDARG;
    const Surface& top = pSrc->surfaces[srcFirst];
    const RECT& r = args.SrcRect;
    if (!rectInside(r, top) || args.DstPoint.x < 0 || args.DstPoint.y < 0 ||
        uint64_t(args.DstPoint.x) + uint64_t(r.right - r.left) > pDst->surfaces[dstFirst].width ||
        uint64_t(args.DstPoint.y) + uint64_t(r.bottom - r.top) > pDst->surfaces[dstFirst].height)
        return E_INVALIDARG;
    // Every level both textures have, the rectangle shrinking with the level.
    uint32_t levels = std::min(srcLevels, dstLevels);
    for (uint32_t level = 0; level < levels; ++level) {
        if (srcFirst + level >= pSrc->surfaces.size() || dstFirst + level >= pDst->surfaces.size())
            break;
        Surface& ss = pSrc->surfaces[srcFirst + level];
        Surface& ds = pDst->surfaces[dstFirst + level];
        RECT sr = {r.left >> level, r.top >> level,
                   std::max(r.right >> level, (r.left >> level) + 1),
                   std::max(r.bottom >> level, (r.top >> level) + 1)};
        LONG w = sr.right - sr.left, h = sr.bottom - sr.top;
        RECT dr = {args.DstPoint.x >> level, args.DstPoint.y >> level, 0, 0};
        dr.right = dr.left + w;
        dr.bottom = dr.top + h;
        if (!rectInside(sr, ss) || !rectInside(dr, ds))
            break;
        GpuWork work;
        HRESULT hr = copyWork(*pSrc, ss, sr, *pDst, ds, dr, 0, work);
        if (FAILED(hr))
            return hr;
        hr = record(Op::Copy, ss.hAllocation, ds.hAllocation, std::move(work));
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT Device::bufBlt(const D3DDDIARG_BUFFERBLT& args) {
    Resource* pSrc = findResource(args.hSrcResource);
    Resource* pDst = findResource(args.hDstResource);
    if (!pSrc || !pDst)
        return E_INVALIDARG;
    Surface& ss = pSrc->surfaces[0];
    Surface& ds = pDst->surfaces[0];
    uint64_t size = args.SrcRange.Size;
    if (size == 0 || uint64_t(args.SrcRange.Offset) + size > ss.size ||
        uint64_t(args.Offset) + size > ds.size || !gpuReachable(ss) || !gpuReachable(ds))
        return E_INVALIDARG;
    DriverState::instance().count(gpu(), &DriverStats::blts);
    DriverState::instance().count(gpu(), &DriverStats::bytesCopied, size);
    D3DKMT_HANDLE hSrc = ss.hAllocation, hDst = ds.hAllocation;
    uint64_t srcSize = ss.size, dstSize = ds.size;
    uint64_t from = args.SrcRange.Offset, to = args.Offset;
    GpuWork work = [hSrc, hDst, srcSize, dstSize, from, to, size] {
        uint8_t* pDst = gpuMemory(hDst, dstSize);
        const uint8_t* pSrc = gpuMemory(hSrc, srcSize);
        if (pDst && pSrc)
            memmove(pDst + to, pSrc + from, size_t(size)); // the same buffer may overlap
    };
    return record(Op::Copy, hSrc, hDst, std::move(work));
}

HRESULT Device::volBlt(const D3DDDIARG_VOLUMEBLT& args) {
    Resource* pSrc = findResource(args.hSrcResource);
    Resource* pDst = findResource(args.hDstResource);
    if (!pSrc || !pDst || !pixelAddressable(*pSrc) || !pixelAddressable(*pDst) ||
        !sameLayout(pSrc->format, pDst->format) ||
        pSrc->layout.bytesPerPixel != pDst->layout.bytesPerPixel)
        return E_INVALIDARG;
    Surface& ss = pSrc->surfaces[0];
    Surface& ds = pDst->surfaces[0];
    const D3DDDIBOX& b = args.SrcBox;
    if (b.Left >= b.Right || b.Top >= b.Bottom || b.Front >= b.Back || b.Right > ss.width ||
        b.Bottom > ss.height || b.Back > ss.depth ||
        uint64_t(args.DstX) + (b.Right - b.Left) > ds.width ||
        uint64_t(args.DstY) + (b.Bottom - b.Top) > ds.height ||
        uint64_t(args.DstZ) + (b.Back - b.Front) > ds.depth || ss.hAllocation == ds.hAllocation ||
        !gpuReachable(ss) || !gpuReachable(ds))
        return E_INVALIDARG;
    uint32_t bytes = pSrc->layout.bytesPerPixel;
    size_t rowLength = size_t(b.Right - b.Left) * bytes;
    DriverState::instance().count(gpu(), &DriverStats::blts);
    DriverState::instance().count(gpu(), &DriverStats::bytesCopied,
                                  uint64_t(rowLength) * (b.Bottom - b.Top) * (b.Back - b.Front));
    Surface in = ss, to = ds;
    UINT dstX = args.DstX, dstY = args.DstY, dstZ = args.DstZ;
    GpuWork work = [in, to, b, bytes, rowLength, dstX, dstY, dstZ] {
        uint8_t* pDst = gpuMemory(to.hAllocation, to.size);
        const uint8_t* pSrc = gpuMemory(in.hAllocation, in.size);
        if (!pDst || !pSrc)
            return;
        for (uint32_t z = 0; z < b.Back - b.Front; ++z) {
            for (uint32_t y = 0; y < b.Bottom - b.Top; ++y) {
                const uint8_t* pIn = pSrc + size_t(b.Front + z) * in.slicePitch +
                                     size_t(b.Top + y) * in.pitch + size_t(b.Left) * bytes;
                uint8_t* pOut = pDst + size_t(dstZ + z) * to.slicePitch +
                                size_t(dstY + y) * to.pitch + size_t(dstX) * bytes;
                memcpy(pOut, pIn, rowLength);
            }
        }
    };
    return record(Op::Copy, ss.hAllocation, ds.hAllocation, std::move(work));
}

} // namespace umd
} // namespace sim
