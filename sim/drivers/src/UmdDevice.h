// One device of a simulated vendor driver: its runtime callbacks and context, the command
// stream it submits, its resources (whose pixels live in kernel allocations reached
// through the runtime's lock callback) and its queries.
#pragma once

#include "DriverState.h"
#include "Formats.h"
#include "sim/gpus/GpuCommand.h"
#include "sim/gpus/SimSubmission.h"

#include <map>
#include <memory>
#include <mutex>
#include <stdint.h>
#include <vector>

namespace sim {
namespace umd {

class Adapter;

/// One subresource: its size, layout and the allocation that holds its pixels.
struct Surface {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 1;
    uint32_t pitch = 0;
    uint32_t slicePitch = 0;
    uint64_t size = 0;
    D3DKMT_HANDLE hAllocation = 0;
    const void* pSysMem = nullptr;
    uint32_t lockCount = 0;
};

/// A resource the driver created or opened.
struct Resource {
    HANDLE hRuntime = nullptr; ///< the runtime's handle given at creation (may be null)
    D3DDDIFORMAT format = D3DDDIFMT_UNKNOWN;
    D3DDDI_POOL pool = D3DDDIPOOL_VIDEOMEMORY;
    UINT flags = 0; ///< D3DDDI_RESOURCEFLAGS
    UINT multisampleType = 0;
    UINT mipLevels = 1;
    UINT vidPnSourceId = 0;
    D3DKMT_HANDLE hKMResource = 0;
    bool opened = false; ///< opened shared surface: the allocations are not ours
    FormatLayout layout;
    std::vector<Surface> surfaces;
};

/// A query the driver created.
struct Query {
    UINT type = 0;
    bool issued = false;
    uint64_t submission = 0; ///< the context's submission that carries the query's end
    uint32_t pollsLeft = 0;
    uint64_t readyAtNs = 0;
    uint64_t issuedAtNs = 0;
};

/// A device of a simulated driver. Entries lock `mutex()` for their whole duration.
class Device {
public:
    Device(Adapter& adapter, const D3DDDIARG_CREATEDEVICE& args);
    ~Device();

    /// Creates the device's context through pfnCreateContextCb.
    HRESULT init();
    /// Submits what is pending, releases every resource and query and the context.
    HRESULT destroy();

    std::recursive_mutex& mutex() { return m_mutex; }
    Adapter& adapter() { return m_adapter; }
    const Adapter& adapter() const { return m_adapter; }
    int gpu() const;
    const char* module() const;

    // ---- Resources ----
    HRESULT createResource(D3DDDIARG_CREATERESOURCE& args);
    HRESULT openResource(D3DDDIARG_OPENRESOURCE& args);
    HRESULT destroyResource(HANDLE hResource);
    HRESULT lock(D3DDDIARG_LOCK& args);
    HRESULT unlock(const D3DDDIARG_UNLOCK& args);
    /// The resource a driver handle names; null when this device has no such resource.
    Resource* findResource(HANDLE hResource);

    // ---- Pixel operations ----
    HRESULT blt(const D3DDDIARG_BLT& args);
    HRESULT colorFill(const D3DDDIARG_COLORFILL& args);
    HRESULT depthFill(const D3DDDIARG_DEPTHFILL& args);
    HRESULT clear(const D3DDDIARG_CLEAR& args, UINT rectCount, const RECT* pRects);
    HRESULT texBlt(const D3DDDIARG_TEXBLT& args);
    HRESULT bufBlt(const D3DDDIARG_BUFFERBLT& args);
    HRESULT volBlt(const D3DDDIARG_VOLUMEBLT& args);

    // ---- State, draws, submission, presentation ----
    HRESULT setRenderTarget(const D3DDDIARG_SETRENDERTARGET& args);
    HRESULT setDepthStencil(HANDLE hZBuffer);
    HRESULT draw(UINT primitiveCount);
    HRESULT flush();
    HRESULT present(const D3DDDIARG_PRESENT& args);
    HRESULT setDisplayMode(const D3DDDIARG_SETDISPLAYMODE& args);

    // ---- Queries ----
    HRESULT createQuery(D3DDDIARG_CREATEQUERY& args);
    HRESULT destroyQuery(HANDLE hQuery);
    HRESULT issueQuery(const D3DDDIARG_ISSUEQUERY& args);
    HRESULT getQueryData(const D3DDDIARG_GETQUERYDATA& args);

    /// Work of a component that moves pixels behind the driver's back (the simulated
    /// interop library), recorded behind the commands before it and submitted at once.
    HRESULT submitForeignWork(GpuOp op, D3DKMT_HANDLE hRead, D3DKMT_HANDLE hWrite, GpuWork work,
                              GpuGate gate);

private:
    using Op = GpuOp;

    static uint8_t* gpuMemory(D3DKMT_HANDLE hAllocation, uint64_t size);
    static bool gpuReachable(const Surface& surface);
    HRESULT checkSurface(HANDLE hResource, UINT subresource, Resource*& pResource,
                         Surface*& pSurface);
    static GpuWork fillWork(const Surface& surface, const RECT& rect, const uint8_t* pPixel,
                            uint32_t bytes);
    HRESULT copyWork(Resource& src, Surface& srcSurface, const RECT& srcRect, Resource& dst,
                     Surface& dstSurface, const RECT& dstRect, UINT flags, GpuWork& out);
    /// Writes a command with the work the GPU does for it.
    HRESULT record(Op op, D3DKMT_HANDLE hRead, D3DKMT_HANDLE hWrite, GpuWork work = GpuWork(),
                   GpuGate gate = GpuGate());
    HRESULT submit();
    HRESULT releaseResource(Resource& resource);
    HRESULT checkDwmPresentBlt(UINT flags, const Resource& dst) const;

    std::recursive_mutex m_mutex;
    Adapter& m_adapter;
    HANDLE m_hRuntime;
    D3DDDI_DEVICECALLBACKS m_callbacks;
    // Context and the buffers the kernel handed out for it.
    HANDLE m_hContext = nullptr;
    uint8_t* m_pCommands = nullptr;
    uint32_t m_commandSize = 0;
    uint32_t m_commandUsed = 0;
    D3DDDI_ALLOCATIONLIST* m_pAllocationList = nullptr;
    uint32_t m_allocationListSize = 0;
    uint32_t m_allocationsUsed = 0;
    std::vector<uint32_t> m_recordedWork; ///< work of the commands not yet submitted
    /// Handed with every submission: the commands are this vendor's, for this GPU.
    SimSubmissionDesc m_submission;
    std::map<Resource*, std::unique_ptr<Resource>> m_resources;
    std::map<Query*, std::unique_ptr<Query>> m_queries;
    /// A present to the desktop compositor is open: its first Blt (BeginPresentToDwm) came,
    /// its last (EndPresentToDwm) not yet.
    bool m_dwmPresentOpen = false;
    Resource* m_pRenderTarget = nullptr;
    UINT m_renderTargetSubresource = 0;
    Resource* m_pDepthStencil = nullptr;
};

} // namespace umd
} // namespace sim
