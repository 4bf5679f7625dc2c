// A device of the simulated Direct3D 9 runtime: the driver device it created, the kernel
// device behind the device callbacks it serves (allocations, locks, contexts, command
// submission, present, display modes, synchronisation objects, escapes), and helpers
// that drive the device as an application's Direct3D 9 calls would.
#pragma once

#include "platform/win.h"
#include "sim/Export.h"
#include "sim/runtime/RuntimeAdapter.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <stdint.h>
#include <vector>

namespace sim {
namespace rt {

/// A surface or buffer to create.
struct SurfaceDesc {
    UINT width = 0;
    UINT height = 0;
    D3DDDIFORMAT format = D3DDDIFMT_X8R8G8B8;
    D3DDDI_POOL pool = D3DDDIPOOL_VIDEOMEMORY;
    UINT multisampleType = 0;
    UINT flags = D3DDDI_RESOURCEFLAGS::RenderTarget; ///< D3DDDI_RESOURCEFLAGS
    UINT surfaceCount = 1;
    const void* pSysMem = nullptr; ///< system-memory pool: the caller's pixels
    UINT sysMemPitch = 0;
};

/// A device created by the runtime. Every member is thread-safe.
class SIM_API RuntimeDevice {
public:
    ~RuntimeDevice();
    RuntimeDevice(const RuntimeDevice&) = delete;
    RuntimeDevice& operator=(const RuntimeDevice&) = delete;

    /// The driver's device table and handle, for calls the helpers do not cover.
    const D3DDDI_DEVICEFUNCS& funcs() const { return m_funcs; }
    HANDLE driverDevice() const { return m_hDriverDevice; }
    D3DKMT_HANDLE kernelDevice() const { return m_hKernelDevice; }
    RuntimeAdapter& adapter() { return m_adapter; }

    // ---- Resources; out is the driver's handle ----
    HRESULT createResource(const SurfaceDesc& desc, HANDLE& hResource);
    /// A flip chain: `count` primary surfaces of the display's source.
    HRESULT createFlipChain(UINT width, UINT height, D3DDDIFORMAT format, UINT count,
                            HANDLE& hPrimary);
    /// The shared destination of windowed presents: a primary surface of the display,
    /// created by the runtime in the kernel and opened on the driver.
    HRESULT openSharedPrimary(UINT width, UINT height, HANDLE& hResource);
    HRESULT destroyResource(HANDLE hResource);
    /// A surface other devices of the adapter can open (the application's window surface
    /// the desktop compositor reads): created through the driver with the SharedResource
    /// flag; hGlobalShare is the kernel's share handle.
    HRESULT createSharedSurface(UINT width, UINT height, HANDLE& hResource,
                                D3DKMT_HANDLE& hGlobalShare);
    /// Opens a surface another device of the adapter shared: the kernel's resource, then
    /// the driver's (pfnOpenResource).
    HRESULT openSharedSurface(D3DKMT_HANDLE hGlobalShare, HANDLE& hResource);
    /// The kernel's share handle of a shared resource this device created; 0 for others.
    D3DKMT_HANDLE globalShare(HANDLE hResource) const;

    // ---- Operations ----
    HRESULT colorFill(HANDLE hResource, UINT subresource, const RECT& rect, D3DCOLOR color);
    HRESULT blt(HANDLE hSrc, UINT srcSub, const RECT& srcRect, HANDLE hDst, UINT dstSub,
                const RECT& dstRect, UINT flags = 0);
    HRESULT setRenderTarget(HANDLE hResource, UINT subresource);
    HRESULT clear(D3DCOLOR color, UINT rectCount = 0, const RECT* pRects = nullptr);
    HRESULT drawPrimitive(UINT primitiveCount);
    HRESULT lock(HANDLE hResource, UINT subresource, void*& pBits, UINT& pitch, UINT flags = 0);
    HRESULT unlock(HANDLE hResource, UINT subresource);
    HRESULT flush();
    /// A flip present of surface `sub` of a flip chain, or a Blt present of `hSrc` into
    /// a shared destination (hDst non-null).
    HRESULT present(HANDLE hSrc, UINT srcSub, HANDLE hDst, UINT dstSub, UINT flags,
                    UINT interval = D3DDDI_FLIPINTERVAL_ONE);
    HRESULT setDisplayMode(HANDLE hPrimary, UINT subresource);
    /// A windowed present with the desktop compositor: Blts of `rects` of hSrc into the
    /// compositor's shared surface, the first flagged BeginPresentToDwm, the last
    /// EndPresentToDwm, any between ContinuePresentToDwm (`flagsOverride`, when non-zero,
    /// replaces those flags on every Blt).
    HRESULT presentToCompositor(HANDLE hSrc, HANDLE hShared, const std::vector<RECT>& rects,
                                UINT flagsOverride = 0);
    /// Issues an event query and polls it until it completes; polls counts the polls.
    HRESULT waitForIdle(UINT* pPolls = nullptr);
    /// pfnDestroyDevice of the driver, then the kernel device. Returns the driver's result.
    HRESULT destroy();

    // ---- What the runtime saw ----
    uint64_t presentCallbacks() const;
    uint64_t renderCallbacks() const;
    bool displayModeSet() const;

    /// The device a runtime device handle names; null when it names none.
    static RuntimeDevice* fromHandle(HANDLE hDevice);
    /// The callback table the runtime hands to drivers (the first argument of each entry
    /// is the runtime device handle, this object; pfnEscapeCb takes the runtime adapter).
    static const D3DDDI_DEVICECALLBACKS& callbacks();

    // ---- Device callbacks (D3DDDI_DEVICECALLBACKS), served on the kernel thunks ----
    HRESULT allocateCb(D3DDDICB_ALLOCATE& args);
    HRESULT deallocateCb(const D3DDDICB_DEALLOCATE& args);
    HRESULT setPriorityCb(D3DDDICB_SETPRIORITY& args);
    HRESULT queryResidencyCb(const D3DDDICB_QUERYRESIDENCY& args);
    HRESULT setDisplayModeCb(D3DDDICB_SETDISPLAYMODE& args);
    HRESULT presentCb(D3DDDICB_PRESENT& args);
    HRESULT renderCb(D3DDDICB_RENDER& args);
    HRESULT lockCb(D3DDDICB_LOCK& args);
    HRESULT unlockCb(const D3DDDICB_UNLOCK& args);
    HRESULT createContextCb(D3DDDICB_CREATECONTEXT& args);
    HRESULT destroyContextCb(const D3DDDICB_DESTROYCONTEXT& args);
    HRESULT createSyncObjectCb(D3DDDICB_CREATESYNCHRONIZATIONOBJECT& args);
    HRESULT destroySyncObjectCb(const D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT& args);
    HRESULT waitForSyncObjectCb(const D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT& args);
    HRESULT signalSyncObjectCb(const D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT& args);

private:
    friend class RuntimeAdapter;
    RuntimeDevice(RuntimeAdapter& adapter);
    HRESULT create(const DeviceOptions* pOptions);
    HANDLE newRuntimeHandle();
    /// Opens a kernel resource on the driver under a new runtime handle; if the driver refuses,
    /// the kernel resource is destroyed so nothing is left behind.
    HRESULT openKernelResource(D3DKMT_HANDLE hKMResource, UINT numAllocations,
                               D3DDDI_OPENALLOCATIONINFO* pAllocations, HANDLE& hResource);
    void setCreatingResource(HANDLE hRuntime);

    // The device lock of the application's calls, held across driver calls as d3d9's is;
    // callbacks never take it (a driver may call back from another thread while an
    // application call waits for that thread), they take the state lock alone.
    mutable std::recursive_mutex m_mutex;
    mutable std::mutex m_stateMutex;
    RuntimeAdapter& m_adapter;
    D3DKMT_HANDLE m_hKernelDevice = 0;
    HANDLE m_hDriverDevice = nullptr;
    D3DDDI_DEVICEFUNCS m_funcs = {};
    bool m_destroyed = false;
    uintptr_t m_nextRuntimeHandle = 0x10000;
    /// Runtime resource handles given to the driver and the kernel resources behind them.
    std::map<HANDLE, D3DKMT_HANDLE> m_kernelResources;
    /// Runtime resource handles of the driver's live resources.
    std::set<HANDLE> m_runtimeResources;
    /// The driver's handle of each such resource -> the runtime's.
    std::map<HANDLE, HANDLE> m_driverToRuntime;
    /// The runtime handle of the resource the driver is creating (pfnCreateResource is
    /// running); the only one pfnAllocateCb accepts besides none.
    HANDLE m_creatingResource = nullptr;
    /// The resource being created is shared: its kernel resource is created shared.
    bool m_creatingShared = false;
    /// Runtime handle -> the kernel's share handle, for shared resources.
    std::map<HANDLE, D3DKMT_HANDLE> m_globalShares;
    /// Resources opened from another device's share: driver handle -> kernel resource.
    std::map<HANDLE, D3DKMT_HANDLE> m_openedShares;
    /// Shared primaries the runtime made itself: driver handle -> kernel resource.
    std::map<HANDLE, D3DKMT_HANDLE> m_sharedPrimaries;
    std::atomic<UINT> m_pendingInterval{D3DDDI_FLIPINTERVAL_ONE};
    /// D3DDDI_PRESENTFLAGS of the application's present in progress (0: none).
    std::atomic<UINT> m_pendingFlags{0};
    uint64_t m_presentCallbacks = 0;
    uint64_t m_renderCallbacks = 0;
    bool m_displayModeSet = false;
};

} // namespace rt
} // namespace sim
