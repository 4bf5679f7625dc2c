// GpuServices: the process-wide services that move frames between the GPUs through the
// interop library's staging buffers.
//
// One object per process, created by the first device and shared by all. Each device
// starts the interop through it after creation; a device for which the interop cannot
// start uses the API copy instead. The staging-buffer transfer itself builds on the interop
// library; without it (and so far in every build) the interop start fails and every device
// runs on the API copy.
#pragma once

#include "platform/win.h"

#include <atomic>
#include <mutex>
#include <stdint.h>

class Device;
class ResourceDDI9;

class GpuServices {
public:
    /// The process-wide object, or null.
    static GpuServices* instance();
    /// Creates the process-wide object unless it exists; returns it (null when the
    /// allocation failed).
    static GpuServices* createInstance();
    /// The process-wide object with one more interop user counted, created when missing
    /// (another device's end may just have deleted it). The user is counted under the lock
    /// destroyInstanceIfUnused takes, so the object stays alive until that user's
    /// destroyGpuInterop. Null, with nothing counted, when it cannot be allocated.
    static GpuServices* acquireInteropUser();
    /// Deletes the process-wide object if no interop user is left. True when it was deleted
    /// (or did not exist).
    static bool destroyInstanceIfUnused();

    GpuServices();
    /// Ends the 1 ms timer period and unloads the interop library.
    virtual ~GpuServices();

    GpuServices(const GpuServices&) = delete;
    GpuServices& operator=(const GpuServices&) = delete;

    /// Starts the interop for a user acquireInteropUser counted (devices start theirs on
    /// their own threads). True when the interop library is usable.
    bool initInterop(bool asynchronous);
    /// Ends one user's interop: the count of live interops goes down by one.
    virtual void destroyGpuInterop();
    /// Told before a device registered with the interop library is destroyed.
    virtual HRESULT onBeforeDestroyDevice(uint32_t interopGroupId);
    /// Releases a device's staging buffers.
    virtual void destroyStagingBuffers(Device* pDevice);
    /// Number of devices whose interop was started and not yet ended.
    virtual uint32_t getUserCount() const { return s_interopUserCount.load(); }
    /// Moves surface `srcSub` of `pSrc` to surface `dstSub` of `pDst` on the presenting GPU
    /// through a staging buffer (`synchronous`: wait for the copy). True when a copy was made.
    virtual bool transfer(Device* pDevice, ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                          UINT srcSub, bool synchronous);
    /// One pass of a device's worker over its staging buffers (under the device lock).
    void workerPass(Device* pDevice);

    /// The partial-copy fraction, 0.0 to 1.0.
    double partialCopy() const { return m_partialCopy; }
    bool asynchronous() const { return m_asynchronous.load(); }
    uint32_t writeCount() const { return m_writeCount; }
    uint32_t readCount() const { return m_readCount; }

private:
    HMODULE m_hInteropModule;
    std::mutex m_moduleLock; // the interop library is loaded once, by the first device
    double m_partialCopy;
    uint32_t m_writeCount;
    uint32_t m_readCount;
    std::atomic<bool> m_asynchronous;

    static std::atomic<uint32_t> s_interopUserCount;
    static std::atomic<GpuServices*> s_pInstance;
    // Devices are created and destroyed on any of the application's threads.
    static std::mutex s_instanceLock;
};
