// The simulated graphics kernel behind the D3DKMT thunks of gdi32.dll.
//
// It behaves like a careful kernel: handles are shaped like Windows' local D3DKMT handles
// (bits 30 and 31 set, multiples of 0x40, from one counter: 0xC0000040, 0xC0000080, ...;
// never reused while the machine runs), so a handle cut to fewer bits, or a pointer taken
// for a handle, names nothing; one lock guards all state,
// and every thunk checks all of its arguments before it changes anything, failing with the
// status the real kernel uses (STATUS_INVALID_PARAMETER for null pointers, unknown handles
// and bad sizes). The vendor-driver and runtime simulations reach the same objects through
// the query functions below.
#pragma once

#include "platform/win.h"
#include "sim/Export.h"
#include "sim/gpus/MachineDesc.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdint.h>
#include <string>
#include <vector>

namespace sim {

class GpuQueues;

/// What the kernel knows about one allocation. The memory stays valid until the
/// allocation is destroyed (or, for caller memory, as long as the caller keeps it).
struct AllocationInfo {
    D3DKMT_HANDLE handle = 0;
    D3DKMT_HANDLE hDevice = 0;
    D3DKMT_HANDLE hResource = 0; ///< kernel resource, 0 for a standalone allocation
    int gpu = -1;
    uint8_t* pMemory = nullptr;
    uint64_t size = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0;
    uint32_t pitch = 0;
    bool systemMemory = false; ///< backed by the caller's pSystemMem
    bool primary = false;
    uint32_t vidPnSourceId = 0;
    uint32_t priority = 0;
    uint32_t lockCount = 0;
};

/// What the kernel knows about one context (or a legacy device's own submission state).
struct ContextInfo {
    D3DKMT_HANDLE handle = 0;
    D3DKMT_HANDLE hDevice = 0;
    int gpu = -1;
    uint32_t nodeOrdinal = 0;
    uint64_t submissions = 0; ///< successful D3DKMTRender calls
    uint64_t submittedBytes = 0;
    std::vector<uint8_t> lastCommands; ///< the bytes of the newest submission
    std::vector<D3DKMT_HANDLE> lastAllocations;
};

/// What the kernel knows about one synchronisation object.
struct SyncObjectInfo {
    D3DKMT_HANDLE handle = 0;
    D3DKMT_HANDLE hDevice = 0;
    int gpu = -1;
    uint32_t type = 0; ///< D3DDDI_SYNCHRONIZATIONOBJECT_TYPE
    uint64_t waits = 0;
    uint64_t signals = 0;
};

/// Live kernel objects, for leak checks.
struct KernelCounts {
    size_t adapters = 0;
    size_t devices = 0;
    size_t resources = 0;
    size_t allocations = 0;
    size_t contexts = 0;
    size_t syncObjects = 0;
    size_t deviceContexts = 0;
};

/// Answers D3DKMTEscape for a GPU (the simulated kernel-mode driver's private escapes).
using EscapeHandler = std::function<NTSTATUS(int gpu, const D3DKMT_ESCAPE& escape)>;

/// The graphics kernel of the simulated machine.
class SIM_API Kernel {
public:
    /// Command buffer, allocation list and patch-location list sizes handed out.
    static constexpr uint32_t kCommandBufferSize = 64 * 1024;
    static constexpr uint32_t kAllocationListSize = 256;
    static constexpr uint32_t kPatchLocationListSize = 512;
    /// Bits every kernel handle has set, as Windows' local D3DKMT handles do.
    static constexpr D3DKMT_HANDLE kLocalHandleBits = 0xC0000000u;
    /// Largest single allocation the kernel backs with memory.
    static constexpr uint64_t kMaxAllocationSize = 256ull << 20;

    /// The machine's kernel.
    static Kernel& instance();

    /// Forgets every object and takes a new machine description (installMachine does it).
    /// Handles of the forgotten objects stay invalid.
    void reset(std::shared_ptr<const MachineDesc> pMachine);
    /// The description the kernel works on.
    std::shared_ptr<const MachineDesc> machine() const;

    // ---- The thunks. Each sets gpu to the GPU the call reached (-1 when none). ----
#define SIM_KERNEL_THUNK(Name, NAME, qualifier)                                                    \
    NTSTATUS Name(qualifier D3DKMT_##NAME* pArgs, int& gpu);
    VESSA_D3DKMT_THUNKS(SIM_KERNEL_THUNK)
#undef SIM_KERNEL_THUNK

    // ---- GDI device contexts of display devices (CreateDCA / DeleteDC) ----
    /// A device context for an attached display device (empty name: the primary one);
    /// null when the device does not exist or is not attached to the desktop.
    HDC createDisplayContext(const std::string& deviceName);
    /// False when the context is unknown.
    bool deleteDisplayContext(HDC hdc);

    // ---- Queries for the driver and runtime simulations and for tests ----
    bool allocation(D3DKMT_HANDLE hAllocation, AllocationInfo& out) const;
    std::vector<D3DKMT_HANDLE> allocationsOf(D3DKMT_HANDLE hDevice) const;
    /// The allocations of a kernel resource, in creation order.
    std::vector<D3DKMT_HANDLE> resourceAllocations(D3DKMT_HANDLE hResource) const;
    /// GPU of an open adapter, device or context handle; -1 when unknown.
    int adapterGpu(D3DKMT_HANDLE hAdapter) const;
    int deviceGpu(D3DKMT_HANDLE hDevice) const;
    bool context(D3DKMT_HANDLE hContext, ContextInfo& out) const;
    bool syncObject(D3DKMT_HANDLE hSyncObject, SyncObjectInfo& out) const;
    KernelCounts counts() const;
    /// The GPU of any live kernel handle (adapter, device, context, allocation, resource,
    /// synchronisation object); -1 when unknown. Handles are unique across kinds.
    int gpuOfHandle(D3DKMT_HANDLE handle) const;
    /// The GPU an adapter interface name, a GDI display name or a display context names.
    int gpuOfInterfaceName(const WCHAR* name) const;
    int gpuOfDisplayName(const WCHAR* name, size_t capacity) const;
    int gpuOfDisplayContext(HDC hdc) const;
    /// The GPU index a machine LUID names; -1 when none.
    int gpuOfLuid(const LUID& luid) const;
    /// The mode a video present source scans out in: the display's desktop mode, or the one
    /// its exclusive owner set with D3DKMTSetDisplayMode. Zero-sized when the GPU has no
    /// monitor on that source.
    DisplayMode currentMode(int gpu, uint32_t vidPnSourceId) const;
    /// The device owning a video present source (0: none) and its D3DKMT_VIDPNSOURCEOWNER_TYPE.
    D3DKMT_HANDLE sourceOwner(int gpu, uint32_t vidPnSourceId, uint32_t* pType = nullptr) const;

    // ---- The GPUs' queues (docs/simulated-machine.md, "Deferred execution") ----
    /// Runs every queued GPU item whose time has come.
    void settleGpus();
    /// Runs the GPUs (waiting, or on the virtual clock moving time) until `done` holds;
    /// false when no GPU work could run for a while (reported as a stall).
    bool waitForGpus(const std::function<bool()>& done);
    /// Whether the context's (or legacy device's) queue has run submission `number`
    /// (ContextInfo::submissions after it). A "no" costs a poll's time on the virtual clock.
    bool submissionDone(D3DKMT_HANDLE hContext, uint64_t number);
    /// Whether queued GPU work still reads or writes the allocation.
    bool allocationBusy(D3DKMT_HANDLE hAllocation);

    /// Installs the escape handler (none: every well-formed escape succeeds). It stays
    /// installed when a new machine is installed.
    void setEscapeHandler(EscapeHandler handler);

    /// Fault mode of a careless kernel: a multisample method list query that passes a list
    /// succeeds with a MethodCount `extra` methods more than that list holds (the list is
    /// filled as far as it reaches). 0, the default, is the careful kernel; installing a
    /// machine turns the fault off.
    void setMethodCountOverReport(UINT extra);

private:
    struct CommandBuffers {
        std::unique_ptr<uint8_t[]> pCommands;
        uint32_t commandSize = 0;
        std::unique_ptr<D3DDDI_ALLOCATIONLIST[]> pAllocations;
        uint32_t allocationCount = 0;
        std::unique_ptr<D3DDDI_PATCHLOCATIONLIST[]> pPatches;
        uint32_t patchCount = 0;
    };
    struct Adapter {
        int gpu = -1;
    };
    struct Device {
        int gpu = -1;
        D3DKMT_HANDLE hAdapter = 0;
        uint32_t flags = 0;
        CommandBuffers buffers;
        ContextInfo submission;
    };
    struct Resource {
        D3DKMT_HANDLE hDevice = 0;
        std::vector<D3DKMT_HANDLE> allocations;
        std::vector<uint8_t> privateData;
        D3DKMT_HANDLE hGlobalShare = 0; ///< set when it was created shared
    };
    struct Allocation {
        AllocationInfo info;
        /// Video memory; shared by the allocations of every device that opened the resource,
        /// so that it lives as long as the last of them.
        std::shared_ptr<uint8_t[]> pStorage;
        /// The CPU's copy while locked (video memory only); written back and freed at the
        /// last unlock, so a pointer kept past it is a use after free.
        std::unique_ptr<uint8_t[]> pLockCopy;
        bool lockWrites = false;
        std::vector<uint8_t> privateData;
    };
    struct Context {
        ContextInfo info;
        CommandBuffers buffers;
    };
    struct SyncObject {
        SyncObjectInfo info;
        D3DDDI_SYNCHRONIZATIONOBJECTINFO desc;
        uint32_t count = 0; ///< semaphore count, or 1 while a mutex is owned
    };
    struct DisplayContext {
        int display = -1; ///< index into the machine's display devices
    };
    /// A video present source: (GPU, source id).
    using SourceKey = std::pair<int, uint32_t>;
    struct SourceOwner {
        D3DKMT_HANDLE hDevice = 0;
        uint32_t type = 0; ///< D3DKMT_VIDPNSOURCEOWNER_TYPE
    };

    Kernel();
    ~Kernel();
    /// The next local handle: the counter in bits 6 to 29, bits 30 and 31 set. 2^24 handles
    /// outlast any run of the machine.
    D3DKMT_HANDLE newHandle() {
        return kLocalHandleBits | ((m_nextHandle++ & 0x00FFFFFFu) << 6);
    }
    const GpuDesc* gpuOf(int gpu) const;
    Device* findDevice(D3DKMT_HANDLE h);
    Context* findContext(D3DKMT_HANDLE h);
    Allocation* findAllocation(D3DKMT_HANDLE h, D3DKMT_HANDLE hDevice);
    NTSTATUS openAdapter(int gpu, D3DKMT_HANDLE& hAdapter, LUID& luid);
    NTSTATUS collectAllocations(D3DKMT_HANDLE hDevice, D3DKMT_HANDLE hResource,
                                const D3DKMT_HANDLE* pList, UINT count,
                                std::vector<D3DKMT_HANDLE>& out);
    /// collectAllocations for a request naming a device, a resource and an allocation
    /// list; finding the device sets `gpu`.
    template <class Request>
    NTSTATUS collectRequestAllocations(const Request& request, int& gpu,
                                       std::vector<D3DKMT_HANDLE>& out);
    NTSTATUS queryAdapterInfoLocked(int gpu, const D3DKMT_QUERYADAPTERINFO& query);
    static bool newBuffers(CommandBuffers& buffers, uint32_t commandSize, uint32_t allocationCount,
                           uint32_t patchCount);
    void destroyAllocationLocked(D3DKMT_HANDLE h);
    /// The resource a global share handle names, for a device of the same GPU; null when
    /// the handle names none (or its creator destroyed it) or the GPU differs.
    const Resource* sharedResourceFor(D3DKMT_HANDLE hGlobalShare, int deviceGpu);
    void destroyDeviceLocked(D3DKMT_HANDLE h);
    DisplayMode currentModeLocked(int gpu, uint32_t vidPnSourceId) const;
    /// Gives up a device's ownership of one source (all sources when `all`); a source whose
    /// exclusive owner leaves returns to the desktop mode.
    void releaseSourcesLocked(D3DKMT_HANDLE hDevice, bool all, SourceKey only = SourceKey());
    void scanOut(int gpu, const D3DKMT_PRESENT& present, D3DKMT_HANDLE hSource, uint64_t timeNs);
    void waitForAllocationIdle(D3DKMT_HANDLE hAllocation);
    void queueSubmission(D3DKMT_HANDLE hQueue, int gpu, D3DKMT_HANDLE hDevice,
                         const uint8_t* pCommands, uint32_t length);

    mutable std::recursive_mutex m_lock;
    std::shared_ptr<const MachineDesc> m_pMachine;
    D3DKMT_HANDLE m_nextHandle = 1;
    uintptr_t m_nextDc = 1;
    std::map<D3DKMT_HANDLE, Adapter> m_adapters;
    std::map<D3DKMT_HANDLE, Device> m_devices;
    std::map<D3DKMT_HANDLE, Resource> m_resources;
    /// Global share handles of shared resources -> the resource that was created shared.
    std::map<D3DKMT_HANDLE, D3DKMT_HANDLE> m_shares;
    std::map<D3DKMT_HANDLE, Allocation> m_allocations;
    std::map<D3DKMT_HANDLE, Context> m_contexts;
    std::map<D3DKMT_HANDLE, SyncObject> m_syncObjects;
    std::map<uintptr_t, DisplayContext> m_displayContexts;
    std::map<SourceKey, SourceOwner> m_sourceOwners;
    std::map<SourceKey, DisplayMode> m_modes; ///< modes set by exclusive owners
    EscapeHandler m_escapeHandler;
    UINT m_methodCountOverReport = 0;
    std::unique_ptr<GpuQueues> m_pQueues;
};

} // namespace sim
