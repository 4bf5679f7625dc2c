// A simulated driver's device: context, command stream, submission, presentation,
// state that the pixel operations read, and queries.
#include "UmdDevice.h"

#include "UmdAdapter.h"
#include "sim/Clock.h"
#include "sim/gpus/Kernel.h"

#include <string.h>

namespace sim {
namespace umd {

namespace {

uint64_t nowNs() {
    return Clock::instance().nowNs();
}

using CommandToken = GpuCommandToken;

} // namespace

Device::Device(Adapter& adapter, const D3DDDIARG_CREATEDEVICE& args)
    : m_adapter(adapter), m_hRuntime(args.hDevice), m_callbacks(*args.pCallbacks) {
    m_adapter.deviceCreated();
}

Device::~Device() {
    m_adapter.deviceDestroyed();
    if (m_adapter.closed() && m_adapter.deviceCount() == 0)
        delete &m_adapter;
}

int Device::gpu() const {
    return m_adapter.gpu();
}

const char* Device::module() const {
    return m_adapter.profile().module;
}

HRESULT Device::init() {
    D3DDDICB_CREATECONTEXT context = {};
    context.NodeOrdinal = 0;
    HRESULT hr = m_callbacks.pfnCreateContextCb(m_hRuntime, &context);
    if (FAILED(hr))
        return hr;
    if (!context.pCommandBuffer || context.CommandBufferSize < sizeof(CommandToken) ||
        !context.pAllocationList || context.AllocationListSize < 2) {
        // A context without buffers cannot take a single command.
        D3DDDICB_DESTROYCONTEXT destroy = {context.hContext};
        m_callbacks.pfnDestroyContextCb(m_hRuntime, &destroy);
        return E_FAIL;
    }
    m_hContext = context.hContext;
    m_submission.setOwner(m_adapter.profile().vendorId, gpu());
    m_pCommands = static_cast<uint8_t*>(context.pCommandBuffer);
    m_commandSize = context.CommandBufferSize;
    m_pAllocationList = context.pAllocationList;
    m_allocationListSize = context.AllocationListSize;
    return S_OK;
}

HRESULT Device::destroy() {
    HRESULT result = submit();
    while (!m_resources.empty()) {
        HRESULT hr = releaseResource(*m_resources.begin()->second);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
        DriverState::instance().removeResource(m_resources.begin()->first);
        m_resources.erase(m_resources.begin());
    }
    DriverState::instance().countQueries(-long(m_queries.size()));
    m_queries.clear();
    if (m_hContext) {
        D3DDDICB_DESTROYCONTEXT destroy = {m_hContext};
        HRESULT hr = m_callbacks.pfnDestroyContextCb(m_hRuntime, &destroy);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
        m_hContext = nullptr;
    }
    return result;
}

// ---- Command stream ------------------------------------------------------------------------

HRESULT Device::record(Op op, D3DKMT_HANDLE hRead, D3DKMT_HANDLE hWrite, GpuWork work,
                       GpuGate gate) {
    if (m_commandUsed + sizeof(CommandToken) > m_commandSize ||
        m_allocationsUsed + 2 > m_allocationListSize) {
        HRESULT hr = submit();
        if (FAILED(hr))
            return hr;
    }
    auto reference = [this](D3DKMT_HANDLE h, bool write) {
        if (!h)
            return;
        for (uint32_t i = 0; i < m_allocationsUsed; ++i) {
            if (m_pAllocationList[i].hAllocation == h) {
                if (write)
                    m_pAllocationList[i].Value |= D3DDDI_ALLOCATIONLIST::WriteOperation;
                return;
            }
        }
        m_pAllocationList[m_allocationsUsed].hAllocation = h;
        m_pAllocationList[m_allocationsUsed].Value =
            write ? D3DDDI_ALLOCATIONLIST::WriteOperation : 0;
        ++m_allocationsUsed;
    };
    reference(hRead, false);
    reference(hWrite, true);
    uint32_t id = 0;
    if (work) {
        D3DKMT_HANDLE hContext = D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(m_hContext));
        id = GpuWorkTable::instance().add(hContext, std::move(work), std::move(gate));
        m_recordedWork.push_back(id);
    }
    CommandToken token = {uint32_t(op), hRead, hWrite, id};
    memcpy(m_pCommands + m_commandUsed, &token, sizeof token);
    m_commandUsed += sizeof token;
    return S_OK;
}

HRESULT Device::submit() {
    if (m_commandUsed == 0)
        return S_OK;
    D3DDDICB_RENDER render = {};
    render.CommandLength = m_commandUsed;
    render.CommandOffset = 0;
    render.NumAllocations = m_allocationsUsed;
    render.hContext = m_hContext;
    render.pPrivateDriverData = &m_submission;
    render.PrivateDriverDataSize = sizeof m_submission;
    HRESULT hr = m_callbacks.pfnRenderCb(m_hRuntime, &render);
    // Whatever the outcome the commands are gone: a failed submission is lost work, as
    // after a device reset, and must not be sent twice.
    m_commandUsed = 0;
    m_allocationsUsed = 0;
    if (FAILED(hr)) {
        for (uint32_t id : m_recordedWork)
            GpuWorkTable::instance().drop(id);
    }
    m_recordedWork.clear();
    if (FAILED(hr))
        return hr;
    if (render.pNewCommandBuffer && render.NewCommandBufferSize >= sizeof(CommandToken)) {
        m_pCommands = static_cast<uint8_t*>(render.pNewCommandBuffer);
        m_commandSize = render.NewCommandBufferSize;
    }
    if (render.pNewAllocationList && render.NewAllocationListSize >= 2) {
        m_pAllocationList = render.pNewAllocationList;
        m_allocationListSize = render.NewAllocationListSize;
    }
    DriverState::instance().count(gpu(), &DriverStats::flushes);
    return S_OK;
}

HRESULT Device::flush() {
    return submit();
}

HRESULT Device::submitForeignWork(GpuOp op, D3DKMT_HANDLE hRead, D3DKMT_HANDLE hWrite, GpuWork work,
                                  GpuGate gate) {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    HRESULT hr = record(op, hRead, hWrite, std::move(work), std::move(gate));
    return FAILED(hr) ? hr : submit();
}

// ---- State and draws -----------------------------------------------------------------------

HRESULT Device::setRenderTarget(const D3DDDIARG_SETRENDERTARGET& args) {
    if (args.RenderTargetIndex >= 4)
        return E_INVALIDARG;
    if (!args.hRenderTarget) {
        // The first target cannot be unbound; the others can.
        if (args.RenderTargetIndex == 0)
            return E_INVALIDARG;
        return S_OK;
    }
    Resource* pResource = nullptr;
    Surface* pSurface = nullptr;
    HRESULT hr = checkSurface(args.hRenderTarget, args.SubResourceIndex, pResource, pSurface);
    if (FAILED(hr))
        return hr;
    if (pResource->layout.depth || pResource->layout.buffer || pResource->layout.blockBytes)
        return E_INVALIDARG;
    if (args.RenderTargetIndex == 0) {
        m_pRenderTarget = pResource;
        m_renderTargetSubresource = args.SubResourceIndex;
    }
    return S_OK;
}

HRESULT Device::setDepthStencil(HANDLE hZBuffer) {
    if (!hZBuffer) {
        m_pDepthStencil = nullptr;
        return S_OK;
    }
    Resource* pResource = findResource(hZBuffer);
    if (!pResource || !pResource->layout.depth)
        return E_INVALIDARG;
    m_pDepthStencil = pResource;
    return S_OK;
}

HRESULT Device::draw(UINT primitiveCount) {
    // The simulated rasteriser draws nothing; the draw is counted and enters the stream.
    DriverState::instance().count(gpu(), &DriverStats::primitives, primitiveCount);
    DriverState::instance().count(gpu(), &DriverStats::draws);
    D3DKMT_HANDLE hTarget = 0;
    if (m_pRenderTarget && m_renderTargetSubresource < m_pRenderTarget->surfaces.size())
        hTarget = m_pRenderTarget->surfaces[m_renderTargetSubresource].hAllocation;
    return record(Op::Draw, 0, hTarget);
}

// ---- Presentation --------------------------------------------------------------------------

HRESULT Device::present(const D3DDDIARG_PRESENT& args) {
    UINT flags = args.Flags.Value;
    if (!(flags &
          (D3DDDI_PRESENTFLAGS::Blt | D3DDDI_PRESENTFLAGS::ColorFill | D3DDDI_PRESENTFLAGS::Flip)))
        return E_INVALIDARG;
    Resource* pSrc = nullptr;
    Surface* pSrcSurface = nullptr;
    if (!(flags & D3DDDI_PRESENTFLAGS::ColorFill)) {
        HRESULT hr = checkSurface(args.hSrcResource, args.SrcSubResourceIndex, pSrc, pSrcSurface);
        if (FAILED(hr))
            return hr;
    }
    Resource* pDst = nullptr;
    Surface* pDstSurface = nullptr;
    if (args.hDstResource) {
        HRESULT hr = checkSurface(args.hDstResource, args.DstSubResourceIndex, pDst, pDstSurface);
        if (FAILED(hr))
            return hr;
    }
    if ((flags & D3DDDI_PRESENTFLAGS::Blt) && pSrc && pDst) {
        // A windowed present: the frame lands in the shared destination at its origin.
        RECT srcRect = {0, 0, LONG(pSrcSurface->width), LONG(pSrcSurface->height)};
        RECT dstRect = srcRect;
        if (dstRect.right > LONG(pDstSurface->width))
            srcRect.right = dstRect.right = LONG(pDstSurface->width);
        if (dstRect.bottom > LONG(pDstSurface->height))
            srcRect.bottom = dstRect.bottom = LONG(pDstSurface->height);
        GpuWork work;
        HRESULT hr = copyWork(*pSrc, *pSrcSurface, srcRect, *pDst, *pDstSurface, dstRect, 0, work);
        if (SUCCEEDED(hr))
            hr = record(Op::Copy, pSrcSurface->hAllocation, pDstSurface->hAllocation,
                        std::move(work));
        if (FAILED(hr))
            return hr;
    }
    // Everything drawn before the present must reach the GPU before it.
    HRESULT hr = submit();
    if (FAILED(hr))
        return hr;
    D3DDDICB_PRESENT present = {};
    present.hSrcAllocation = pSrcSurface ? pSrcSurface->hAllocation : 0;
    present.hDstAllocation = pDstSurface ? pDstSurface->hAllocation : 0;
    present.hContext = m_hContext;
    hr = m_callbacks.pfnPresentCb(m_hRuntime, &present);
    if (SUCCEEDED(hr))
        DriverState::instance().count(gpu(), &DriverStats::presents);
    return hr;
}

HRESULT Device::setDisplayMode(const D3DDDIARG_SETDISPLAYMODE& args) {
    Resource* pResource = nullptr;
    Surface* pSurface = nullptr;
    HRESULT hr = checkSurface(args.hResource, args.SubResourceIndex, pResource, pSurface);
    if (FAILED(hr))
        return hr;
    if (!(pResource->flags & D3DDDI_RESOURCEFLAGS::Primary))
        return E_INVALIDARG;
    if (!m_callbacks.pfnSetDisplayModeCb)
        return E_FAIL;
    D3DDDICB_SETDISPLAYMODE mode = {pSurface->hAllocation, 0};
    return m_callbacks.pfnSetDisplayModeCb(m_hRuntime, &mode);
}

// ---- Queries -------------------------------------------------------------------------------

HRESULT Device::createQuery(D3DDDIARG_CREATEQUERY& args) {
    UINT type;
    memcpy(&type, &args.QueryType, sizeof type);
    switch (type) {
    case D3DDDIQUERYTYPE_EVENT:
    case D3DDDIQUERYTYPE_OCCLUSION:
    case D3DDDIQUERYTYPE_TIMESTAMP:
    case D3DDDIQUERYTYPE_TIMESTAMPDISJOINT:
    case D3DDDIQUERYTYPE_TIMESTAMPFREQ:
        break;
    default:
        return D3DERR_NOTAVAILABLE;
    }
    std::unique_ptr<Query> pQuery(new Query());
    pQuery->type = type;
    Query* pKey = pQuery.get();
    m_queries[pKey] = std::move(pQuery);
    DriverState::instance().countQueries(1);
    args.hQuery = pKey;
    return S_OK;
}

HRESULT Device::destroyQuery(HANDLE hQuery) {
    auto it = m_queries.find(static_cast<Query*>(hQuery));
    if (it == m_queries.end())
        return E_INVALIDARG;
    m_queries.erase(it);
    DriverState::instance().countQueries(-1);
    return S_OK;
}

HRESULT Device::issueQuery(const D3DDDIARG_ISSUEQUERY& args) {
    auto it = m_queries.find(static_cast<Query*>(args.hQuery));
    if (it == m_queries.end())
        return E_INVALIDARG;
    Query& query = *it->second;
    // Begin only opens an occlusion interval; the answer is pending from End on.
    if (!(args.Flags.Value & D3DDDI_ISSUEQUERYFLAGS::End))
        return S_OK;
    DriverSettings settings = DriverState::instance().settings();
    query.issued = true;
    query.issuedAtNs = nowNs();
    query.pollsLeft = settings.eventQueryPolls;
    query.readyAtNs = query.issuedAtNs + uint64_t(settings.eventQueryDelayUs) * 1000;
    HRESULT hr = record(Op::Query, 0, 0);
    if (SUCCEEDED(hr))
        hr = submit();
    if (FAILED(hr))
        return hr;
    // The query is done when the context's queue has run the submission that carried it.
    ContextInfo info;
    D3DKMT_HANDLE hContext = D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(m_hContext));
    query.submission = Kernel::instance().context(hContext, info) ? info.submissions : 0;
    return S_OK;
}

HRESULT Device::getQueryData(const D3DDDIARG_GETQUERYDATA& args) {
    auto it = m_queries.find(static_cast<Query*>(args.hQuery));
    if (it == m_queries.end())
        return E_INVALIDARG;
    Query& query = *it->second;
    D3DKMT_HANDLE hContext = D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(m_hContext));
    bool reached = !query.issued || query.submission == 0 ||
                   Kernel::instance().submissionDone(hContext, query.submission);
    if (!reached)
        return D3DERR_WASSTILLDRAWING;
    if (query.issued && (query.pollsLeft > 0 || nowNs() < query.readyAtNs)) {
        if (query.pollsLeft > 0)
            --query.pollsLeft;
        return D3DERR_WASSTILLDRAWING;
    }
    if (!args.pData)
        return S_OK;
    switch (query.type) {
    case D3DDDIQUERYTYPE_EVENT: {
        BOOL done = TRUE;
        memcpy(args.pData, &done, sizeof done);
        break;
    }
    case D3DDDIQUERYTYPE_OCCLUSION: {
        UINT pixels = 0; // the simulated rasteriser draws nothing
        memcpy(args.pData, &pixels, sizeof pixels);
        break;
    }
    case D3DDDIQUERYTYPE_TIMESTAMP:
        memcpy(args.pData, &query.issuedAtNs, sizeof query.issuedAtNs);
        break;
    case D3DDDIQUERYTYPE_TIMESTAMPDISJOINT: {
        BOOL disjoint = FALSE;
        memcpy(args.pData, &disjoint, sizeof disjoint);
        break;
    }
    case D3DDDIQUERYTYPE_TIMESTAMPFREQ: {
        uint64_t frequency = 1000000000ull;
        memcpy(args.pData, &frequency, sizeof frequency);
        break;
    }
    default:
        break;
    }
    return S_OK;
}

} // namespace umd
} // namespace sim
