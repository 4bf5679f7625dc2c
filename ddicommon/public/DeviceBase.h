// DeviceBase: the per-GPU device state shared by the device, its resources and the
// presentation objects.
//
// A device exists once towards the runtime and once per GPU towards the vendor drivers. The
// base keeps what every part of the device interposition reads: the resource map, the
// device lock, the callback tables handed to the vendor drivers, the set-once context slots,
// the kernel call-through table the interop layer may replace, the staging-buffer slots and
// the worker thread's state.
#pragma once

#include "DdiObject.h"
#include "platform/win.h"

#include <atomic>
#include <map>
#include <stdint.h>

class Adapter;
class ResourceDDI9;
class StagingBuffer;
class SwapChainDDI9;

/// One entry of the kernel call-through table: (interop group id, GPU index, the D3DKMT_*
/// argument structure, the kernel thunk to call with it) returning the thunk's status. The
/// interop layer may install its own entries to see the kernel calls of a device's driver.
typedef NTSTATUS(APIENTRY* PFNVESSA_KERNELCALLTHROUGH)(UINT interopGroupId, UINT gpuIndex,
                                                       VOID* pKmtArgs, VOID* pfnThunk);

/// Positions in the kernel call-through table; 8, 9 and 11 are kept for the interop layer.
enum KernelCallThroughId : unsigned {
    kctCreateAllocation = 0,
    kctDestroyAllocation = 1,
    kctSetAllocationPriority = 2,
    kctLock = 3,
    kctUnlock = 4,
    kctEscape = 5,
    kctCreateContext = 6,
    kctDestroyContext = 7,
    kctReserved8 = 8,
    kctReserved9 = 9,
    kctRender = 10,
    kctReserved11 = 11,
    kctQueryAllocationResidency = 12,
    kctEntryCount = 13,
};

/// States of a device's worker thread. Written by the worker and by the thread that
/// destroys the device, so kept in an atomic.
enum WorkerState : uint32_t {
    kWorkerNone = 0,
    kWorkerRunning = 1,
    kWorkerStopRequested = 2,
    kWorkerExited = 3,
};

/// Number of 32-bit values in a staging buffer description: width, height, depth, bits per
/// pixel, multisample quality, multisample type, format.
constexpr unsigned kStagingDescSize = 7;

class DeviceBase : public DdiObject {
public:
    DeviceBase();
    ~DeviceBase() override;

    // ---- Resource map (used under the device lock) ---------------------------------------
    /// Maps `hResource` to `pResource`. A handle already present is reported (11031) and
    /// the new object replaces the old entry; the map never owns its objects.
    void addResource(uint64_t hResource, ResourceDDI9* pResource);
    /// The resource of `hResource`; null, reported (11032), for an unknown handle. A
    /// non-shared resource is checked to be the rendering GPU's handle (11033).
    ResourceDDI9* getResource(uint64_t hResource);
    /// Forgets `hResource`; an unknown handle is reported (11034).
    void removeResource(uint64_t hResource);
    size_t resourceCount() const { return m_resourceMap.size(); }
    const std::map<uint64_t, ResourceDDI9*>& resourceMap() const { return m_resourceMap; }

    // ---- Device lock ----------------------------------------------------------------------
    /// The lock of the wrapped device entries and the worker; recursive for its owner.
    void lock() { EnterCriticalSection(&m_deviceLock); }
    void unlock() { LeaveCriticalSection(&m_deviceLock); }
    /// Takes the lock only if no other thread holds it; true when taken.
    bool tryLock() { return TryEnterCriticalSection(&m_deviceLock) != FALSE; }

    // ---- Context slots --------------------------------------------------------------------
    /// Stores `contextHandle` in slot `index` only while that slot is still 0: the first
    /// node-0 context of a GPU is the one kept. Safe from any driver thread.
    void setContext(unsigned index, uint64_t contextHandle) override;
    /// Context slot `index` (0 when none was recorded or for an index out of range).
    virtual uint64_t getContext(unsigned index);

    // ---- Worker thread --------------------------------------------------------------------
    uint32_t workerState() const { return m_workerState.load(); }
    void setWorkerState(uint32_t state) { m_workerState.store(state); }
    /// Moves the state from `expected` to `desired`; false when it was something else.
    bool exchangeWorkerState(uint32_t expected, uint32_t desired) {
        return m_workerState.compare_exchange_strong(expected, desired);
    }
    DWORD workerThreadId() const { return m_workerThreadId; }
    HANDLE workerThread() const { return m_hWorkerThread; }
    void setWorkerThread(HANDLE hThread, DWORD threadId) {
        m_hWorkerThread = hThread;
        m_workerThreadId = threadId;
    }

    // ---- Callback tables ------------------------------------------------------------------
    /// The runtime's own callbacks, saved at creation (only element 0 is filled).
    const D3DDDI_DEVICECALLBACKS& runtimeCallbacks(unsigned index = 0) const {
        return m_runtimeCallbacks[index < kGpuSlots ? index : 0];
    }
    void saveRuntimeCallbacks(const D3DDDI_DEVICECALLBACKS& callbacks) {
        m_runtimeCallbacks[0] = callbacks;
    }
    /// The table GPU 0's driver receives: the wrappers of the runtime's callbacks.
    const D3DDDI_DEVICECALLBACKS* deviceCallbacks() const { return &m_deviceCallbacks; }
    /// The table an auxiliary GPU's driver receives: the callbacks on the kernel thunks.
    const D3DDDI_DEVICECALLBACKS* auxDeviceCallbacks() const { return &m_auxDeviceCallbacks; }

    // ---- Kernel call-through table --------------------------------------------------------
    void* kernelCallThroughTable() override { return m_kernelCallThrough; }
    PFNVESSA_KERNELCALLTHROUGH kernelCallThrough(unsigned id) const {
        return id < kctEntryCount ? m_kernelCallThrough[id] : nullptr;
    }

    // ---- Interop --------------------------------------------------------------------------
    uint32_t interopGroupId() override { return m_interopGroupId; }
    void setInteropGroupId(uint32_t groupId) { m_interopGroupId = groupId; }
    bool interopRegistered() const { return m_interopRegistered; }
    void setInteropRegistered(bool registered) { m_interopRegistered = registered; }
    StagingBuffer*& stagingBuffer(unsigned index) { return m_stagingBuffers[index & 3]; }
    uint32_t* stagingDesc() { return m_stagingDesc; }
    /// Injections started on this device's ring; (count mod 4) picks the next buffer.
    uint32_t& stagingWriteCount() { return m_stagingWriteCount; }
    /// Transfers from buffer done on this device's ring; the worker starts its scan there.
    uint32_t& stagingReadCount() { return m_stagingReadCount; }

    Adapter* adapter() const { return m_pAdapter; }

    /// A screen resource slot of the device; nothing fills it, the destructor checks it.
    DdiObject m_auxScreenResource;

protected:
    void setAdapter(Adapter* pAdapter) { m_pAdapter = pAdapter; }
    D3DDDI_DEVICECALLBACKS& deviceCallbacksToFill() { return m_deviceCallbacks; }
    D3DDDI_DEVICECALLBACKS& auxDeviceCallbacksToFill() { return m_auxDeviceCallbacks; }

private:
    std::atomic<uint32_t> m_workerState;

public:
    /// Owned by the device: created by the Device constructor, deleted by its destructor.
    SwapChainDDI9* m_pSwapChain;

private:
    DWORD m_workerThreadId;
    // Kept so that teardown can wait for the thread to end and close its handle.
    HANDLE m_hWorkerThread;
    std::atomic<uint64_t> m_contexts[kGpuSlots];
    D3DDDI_DEVICECALLBACKS m_runtimeCallbacks[kGpuSlots];
    PFNVESSA_KERNELCALLTHROUGH m_kernelCallThrough[kctEntryCount];
    D3DDDI_DEVICECALLBACKS m_deviceCallbacks;
    D3DDDI_DEVICECALLBACKS m_auxDeviceCallbacks;
    Adapter* m_pAdapter;
    StagingBuffer* m_stagingBuffers[kGpuSlots];
    uint32_t m_stagingDesc[kStagingDescSize];
    // Each device counts its own ring: counts shared by devices on several threads would
    // shift one device's ring under another.
    uint32_t m_stagingWriteCount;
    uint32_t m_stagingReadCount;
    CRITICAL_SECTION m_deviceLock;
    std::map<uint64_t, ResourceDDI9*> m_resourceMap;
    uint32_t m_interopGroupId;
    bool m_interopRegistered;
};

/// Holds a device's lock for a scope; every wrapped device entry takes one. A holder may
/// let go early (unlock) and take it again (relock); the destructor releases only what is
/// still held.
class DeviceLockGuard {
public:
    explicit DeviceLockGuard(DeviceBase* pDevice) : m_pDevice(pDevice), m_held(true) {
        m_pDevice->lock();
    }
    ~DeviceLockGuard() { unlock(); }
    DeviceLockGuard(const DeviceLockGuard&) = delete;
    DeviceLockGuard& operator=(const DeviceLockGuard&) = delete;

    void unlock() {
        if (m_held)
            m_pDevice->unlock();
        m_held = false;
    }
    void relock() {
        if (!m_held)
            m_pDevice->lock();
        m_held = true;
    }
    bool held() const { return m_held; }

private:
    DeviceBase* m_pDevice;
    bool m_held;
};
