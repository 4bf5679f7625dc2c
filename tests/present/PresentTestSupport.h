// A device of the interposed adapter whose two GPUs are fake drivers: GPU 0 presents, GPU 1
// renders. Every entry records the call (GPU, entry, handles) and answers as the test sets
// it up, so the swap chain and the routes can be held to what they ask of each GPU.
#pragma once

#include "../foundation/LogReader.h"
#include "Device9.h"
#include "DeviceFuncs_auto.h"
#include "FlipManager.h"
#include "OpenAdapter.h"
#include "ResourceDDI9.h"
#include "SwapChainDDI9.h"
#include "VessaIcon.h"

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace presenttest {

constexpr uint64_t kPresentingDevice = 0x5000;
constexpr uint64_t kRenderingDevice = 0x6000;

struct Call {
    int gpu;
    std::string entry;
    uint64_t h1; ///< the entry's (first) resource handle
    uint64_t h2; ///< its second resource handle, where it has one
    UINT sub;
    UINT flags;
    UINT interval;
};

struct FakeDriver {
    std::vector<Call> calls;
    /// "gpu:entry" -> answer; an answer armed by failOnce goes after its call.
    mutable std::map<std::string, HRESULT> results;
    mutable std::map<std::string, bool> once;
    uint64_t nextResource = 0x100;
    std::vector<D3DDDIARG_CREATERESOURCE> creates;

    HRESULT answer(int gpu, const char* entry) const {
        const std::string key = std::to_string(gpu) + ":" + entry;
        auto it = results.find(key);
        if (it == results.end())
            return S_OK;
        const HRESULT hr = it->second;
        if (once.erase(key))
            results.erase(it);
        return hr;
    }
    void fail(int gpu, const char* entry, HRESULT hr) {
        results[std::to_string(gpu) + ":" + entry] = hr;
    }
    void failOnce(int gpu, const char* entry, HRESULT hr) {
        fail(gpu, entry, hr);
        once[std::to_string(gpu) + ":" + entry] = true;
    }
    size_t count(int gpu, const std::string& entry) const {
        size_t n = 0;
        for (const Call& c : calls)
            n += c.gpu == gpu && c.entry == entry ? 1 : 0;
        return n;
    }
    const Call* last(int gpu, const std::string& entry) const {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->gpu == gpu && it->entry == entry)
                return &*it;
        return nullptr;
    }

    static FakeDriver* s_current;
};

inline FakeDriver* FakeDriver::s_current = nullptr;

inline uint64_t value(const void* handle) {
    return uint64_t(reinterpret_cast<uintptr_t>(handle));
}
inline HANDLE handle(uint64_t v) {
    return reinterpret_cast<HANDLE>(uintptr_t(v));
}

namespace entries {

inline FakeDriver& d() {
    return *FakeDriver::s_current;
}
inline int gpuOf(HANDLE hDevice) {
    return value(hDevice) == kRenderingDevice ? 1 : 0;
}
inline HRESULT record(HANDLE hDevice, const char* entry, uint64_t h1 = 0, uint64_t h2 = 0,
                      UINT sub = 0, UINT flags = 0, UINT interval = 0) {
    const int gpu = gpuOf(hDevice);
    d().calls.push_back({gpu, entry, h1, h2, sub, flags, interval});
    return d().answer(gpu, entry);
}

inline HRESULT APIENTRY createResource(HANDLE h, D3DDDIARG_CREATERESOURCE* p) {
    d().creates.push_back(*p);
    HRESULT hr = record(h, "CreateResource", value(p->hResource), 0, p->SurfCount, p->Flags.Value);
    if (SUCCEEDED(hr))
        p->hResource = handle(d().nextResource++);
    return hr;
}
inline HRESULT APIENTRY destroyResource(HANDLE h, HANDLE r) {
    return record(h, "DestroyResource", value(r));
}
inline HRESULT APIENTRY present(HANDLE h, const D3DDDIARG_PRESENT* p) {
    return record(h, "Present", value(p->hSrcResource), value(p->hDstResource),
                  p->SrcSubResourceIndex, p->Flags.Value, p->FlipInterval);
}
inline HRESULT APIENTRY blt(HANDLE h, const D3DDDIARG_BLT* p) {
    return record(h, "Blt", value(p->hSrcResource), value(p->hDstResource), p->SrcSubResourceIndex,
                  p->Flags.Value);
}
inline HRESULT APIENTRY setDisplayMode(HANDLE h, const D3DDDIARG_SETDISPLAYMODE* p) {
    return record(h, "SetDisplayMode", value(p->hResource), 0, p->SubResourceIndex);
}
inline HRESULT APIENTRY flush(HANDLE h) {
    return record(h, "Flush");
}
inline HRESULT APIENTRY drawPrimitive(HANDLE h, const D3DDDIARG_DRAWPRIMITIVE*, const UINT*) {
    return record(h, "DrawPrimitive");
}
inline HRESULT APIENTRY clear(HANDLE h, const D3DDDIARG_CLEAR*, UINT, const RECT*) {
    return record(h, "Clear");
}
inline HRESULT APIENTRY colorFill(HANDLE h, const D3DDDIARG_COLORFILL* p) {
    return record(h, "ColorFill", value(p->hResource));
}
inline HRESULT APIENTRY depthFill(HANDLE h, const D3DDDIARG_DEPTHFILL*) {
    return record(h, "DepthFill");
}
inline HRESULT APIENTRY setRenderTarget(HANDLE h, const D3DDDIARG_SETRENDERTARGET* p) {
    return record(h, "SetRenderTarget", value(p->hRenderTarget));
}
inline HRESULT APIENTRY texBlt(HANDLE h, const D3DDDIARG_TEXBLT* p) {
    return record(h, "TexBlt", value(p->hSrcResource), value(p->hDstResource));
}
inline HRESULT APIENTRY bufBlt(HANDLE h, const D3DDDIARG_BUFFERBLT*) {
    return record(h, "BufBlt");
}
inline HRESULT APIENTRY lock(HANDLE h, D3DDDIARG_LOCK* p) {
    return record(h, "Lock", value(p->hResource), 0, p->SubResourceIndex, p->Flags.Value);
}
inline HRESULT APIENTRY unlock(HANDLE h, const D3DDDIARG_UNLOCK* p) {
    return record(h, "Unlock", value(p->hResource), 0, p->SubResourceIndex);
}
inline HRESULT APIENTRY openResource(HANDLE h, D3DDDIARG_OPENRESOURCE* p) {
    HRESULT hr = record(h, "OpenResource");
    if (SUCCEEDED(hr))
        p->hResource = handle(d().nextResource++);
    return hr;
}

} // namespace entries

/// The device, registered under the rendering GPU's handle as the runtime sees it, with
/// both GPUs' tables pointing at the fake driver and no icon (tests that want one make it).
class FakeHybridDevice {
public:
    explicit FakeHybridDevice(FakeDriver& driver) : m_device(new Device(handle(0x77), nullptr)) {
        FakeDriver::s_current = &driver;
        OpenAdapter::setGpuRoles(1, 0);
        delete m_device->m_pVessaIcon;
        m_device->m_pVessaIcon = nullptr;
        m_device->setUserHandle(0, kPresentingDevice);
        m_device->setUserHandle(1, kRenderingDevice);
        for (unsigned gpu = 0; gpu < 2; ++gpu) {
            D3DDDI_DEVICEFUNCS& f = m_device->deviceFuncsArray()[gpu];
            f.pfnCreateResource = &entries::createResource;
            f.pfnDestroyResource = &entries::destroyResource;
            f.pfnPresent = &entries::present;
            f.pfnBlt = &entries::blt;
            f.pfnSetDisplayMode = &entries::setDisplayMode;
            f.pfnFlush = &entries::flush;
            f.pfnDrawPrimitive = &entries::drawPrimitive;
            f.pfnClear = &entries::clear;
            f.pfnColorFill = &entries::colorFill;
            f.pfnDepthFill = &entries::depthFill;
            f.pfnSetRenderTarget = &entries::setRenderTarget;
            f.pfnTexBlt = &entries::texBlt;
            f.pfnBufBlt = &entries::bufBlt;
            f.pfnOpenResource = &entries::openResource;
            // The API copy locks its system-memory surfaces to wait for the GPUs.
            f.pfnLock = &entries::lock;
            f.pfnUnlock = &entries::unlock;
        }
        // Frames cross by the API copy's path through the resource; the fakes hold no
        // memory, so the transfer is what the test observes, not pixels.
        m_device->execution().setUseApiCopy(true);
        OpenAdapter::addDevice(handle(kRenderingDevice), m_device);
    }
    ~FakeHybridDevice() {
        // The runtime destroys what it made; so does the test, through the route.
        while (!m_device->resourceMap().empty()) {
            const uint64_t first = m_device->resourceMap().begin()->first;
            DeviceFuncs::pfnDestroyResource(handle(kRenderingDevice), handle(first));
            if (!m_device->resourceMap().empty() && m_device->resourceMap().begin()->first == first)
                break;
        }
        OpenAdapter::removeDevice(handle(kRenderingDevice));
        m_device->setUserHandle(0, 0);
        m_device->setUserHandle(1, 0);
        delete m_device;
        FakeDriver::s_current = nullptr;
    }

    Device* get() { return m_device; }
    SwapChainDDI9& swapChain() { return *m_device->m_pSwapChain; }
    HANDLE hDevice() const { return handle(kRenderingDevice); }

private:
    Device* m_device;
};

/// Surface list of `count` surfaces of `width` x `height`.
inline std::vector<D3DDDI_SURFACEINFO> surfaces(UINT count, UINT width = 64, UINT height = 32) {
    std::vector<D3DDDI_SURFACEINFO> list(count);
    for (D3DDDI_SURFACEINFO& s : list) {
        s.Width = width;
        s.Height = height;
    }
    return list;
}

/// Creation arguments over `list`.
inline D3DDDIARG_CREATERESOURCE createArgs(std::vector<D3DDDI_SURFACEINFO>& list, UINT flags = 0) {
    D3DDDIARG_CREATERESOURCE args = {};
    args.Format = D3DDDIFMT_X8R8G8B8;
    args.pSurfList = list.data();
    args.SurfCount = UINT(list.size());
    args.Flags.Value = flags;
    return args;
}

/// True when no thread holds the device lock (asked from another thread: the lock is
/// recursive for its owner).
inline bool lockIsFree(Device* pDevice) {
    bool taken = false;
    std::thread probe([&] {
        taken = pDevice->tryLock();
        if (taken)
            pDevice->unlock();
    });
    probe.join();
    return taken;
}

/// Number of reports of `level` ("Error", "Warning") and `code` in the log.
inline int reportCount(const std::string& level, int code) {
    const std::string text = testlog::readLog();
    const std::string needle = level + " code: " + std::to_string(code) + "\r";
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace presenttest
