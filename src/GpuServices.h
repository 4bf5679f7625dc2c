// GpuServices: the process-wide services that move frames from the rendering GPU to the
// presenting GPU through the interop library's staging buffers.
//
// One object per process, created by the first device and shared by all. Each device starts
// the interop through it after creation; a device for which the interop cannot start uses
// the API copy instead. A transfer is two halves: the rendering GPU copies the source into
// one of the device's four staging buffers (injection), then the presenting GPU copies the
// buffer into the destination (transfer from buffer). In synchronous mode the system waits
// between the halves, and a buffer still busy is finished by the device's worker thread; in
// asynchronous mode the library orders the halves and nobody waits.
//
// Every wait here is bounded: a library or driver that never answers costs a late or
// repeated frame, never a hung application.
#pragma once

#include "DeviceBase.h"
#include "StagingBuffer.h"
#include "VessaInterop.h"
#include "platform/win.h"

#include <atomic>
#include <mutex>
#include <stdint.h>

class Device;
class DeviceBase;
class ResourceDDI9;

/// A resource to map on a GPU: state 1, `pointer` is the ResourceDDI9; state 2, `pointer`
/// is the mapped cell (an 8-byte cell holding the library's handle).
struct MappingRequest {
    void* pointer;
    uint32_t state;
};

class GpuServices {
public:
    /// A wait the algorithm would make without limit gives up after this long.
    static constexpr int kUnboundedWaitMs = 2000;
    /// The wait for a presenting query before its staging buffer is destroyed.
    static constexpr int kDestroyWaitMs = 1000;

    /// The process-wide object, or null.
    static GpuServices* instance();
    /// Creates the process-wide object unless it exists; returns it (null when the
    /// allocation failed).
    static GpuServices* createInstance();
    /// Deletes the process-wide object if no interop user is left and no device holds it.
    /// True when it was deleted (or did not exist).
    static bool destroyInstanceIfUnused();
    /// A device takes hold of the process-wide object (creating it when missing) for its
    /// life, so that no other device's teardown deletes it under it. False when there is
    /// none (the allocation failed).
    static bool acquire();
    /// A device lets go of the object; the last holder deletes it once no interop is left.
    static void release();
    /// The partial-copy fraction a property text gives: clamped to 0.0..1.0, 1.0 when the
    /// text holds no number.
    static double fractionFromText(const WCHAR* text);
    /// The rect a transfer of a `width` x `height` source copies with `fraction` of each row.
    static RECT partialRect(uint32_t width, uint32_t height, double fraction);
    /// Frees a mapped cell without the library (the library is gone).
    static void freeMappedCell(void* pCell);

    GpuServices();
    /// Ends the 1 ms timer period.
    virtual ~GpuServices();

    GpuServices(const GpuServices&) = delete;
    GpuServices& operator=(const GpuServices&) = delete;

    /// Starts the interop for one more user. True when the interop library is usable.
    bool initInterop(bool asynchronous);
    /// Ends one user's interop; the last one destroys the library's objects.
    virtual void destroyGpuInterop();
    /// Registers the device with the library, once. True when it is registered.
    virtual bool onAfterCreateDevice(Device* pDevice) = 0;
    /// Told before a device registered with the interop library is destroyed.
    virtual bool onBeforeDestroyDevice(uint32_t interopGroupId);
    /// Releases a device's four staging buffers. True when the last token went without error.
    virtual bool destroyStagingBuffers(DeviceBase* pDevice);
    /// Releases a mapped cell (and frees it in every case). True when the library unmapped it.
    virtual bool unmapResource(void* pCell);
    /// Number of interop starts not yet ended.
    virtual uint32_t getUserCount() const { return s_interopUserCount.load(); }
    /// The staging description of surface `sub` of `pResource`.
    virtual void describeResource(ResourceDDI9* pResource, unsigned sub,
                                  uint32_t desc[kStagingDescSize]);
    /// Makes one staging buffer record (its token and CPU notification).
    virtual StagingBuffer* createStagingBuffer(unsigned renderingGpu, unsigned presentingGpu,
                                               const uint32_t desc[kStagingDescSize],
                                               uint32_t groupId);
    /// Times a staging buffer's missing token or notification is asked for again.
    static constexpr uint32_t kStagingRepairs = 4;
    /// A token or notification the library failed to make (reported then) is asked for again
    /// before the buffer takes its next frame, up to kStagingRepairs times: a passing failure
    /// then costs one frame rather than every fourth frame for the device's life.
    void repairStagingBuffer(Device* pDevice, StagingBuffer* rec);
    /// Asks the root for the library's objects.
    virtual VI_STATUS createInterop(ViObject* pRoot, UINT kind, UINT version,
                                    ViObject** ppGpuInterop) = 0;
    /// Resolves a mapping request for `gpu`. False when the resource cannot be mapped.
    virtual bool getMappedResource(Device* pDevice, unsigned gpu, MappingRequest& request);
    virtual VI_STATUS injectBufferedSurfaceTransfer(Device* pDevice, void* pSrcCell, UINT srcSub,
                                                    const RECT& srcRect, void* pDstCell,
                                                    UINT dstSub, const RECT& dstRect,
                                                    uint64_t token, uint64_t notification);
    virtual void* mapResource(unsigned gpu, uint64_t hResource, UINT width, UINT height,
                              UINT format, UINT bitsPerPixel, uint32_t groupId) = 0;
    virtual void* mapMultiResource(unsigned gpu, uint64_t hResource, UINT count, const UINT* pSizes,
                                   UINT format, UINT bitsPerPixel, uint32_t groupId) = 0;
    /// Copies a filled staging buffer into the destination; a buffer that holds no injected
    /// frame is skipped and answers kViStatusNotSignalled (the destination keeps what it held).
    virtual VI_STATUS transferFromBufSurface(Device* pDevice, uint64_t token, void* pDstCell,
                                             UINT dstSub);
    virtual VI_STATUS destroyInteropObjects(ViObject* pRoot, ViObject* pGpuInterop);
    /// Whether an event query on `gpu` has completed; a driver error other than "still
    /// drawing" counts as completed.
    virtual bool isQueryDone(Device* pDevice, unsigned gpu, uint64_t query) = 0;
    virtual uint64_t createEventQuery(Device* pDevice, unsigned gpu) = 0;
    virtual void destroyQuery(Device* pDevice, unsigned gpu, uint64_t query) = 0;

    /// Moves surface `srcSub` of `pSrc` (rendering GPU) to surface `dstSub` of `pDst`
    /// (presenting GPU) through a staging buffer: the partial-copy fraction of each row.
    /// True when the frame reached the destination (or was queued to, asynchronously).
    virtual bool transfer(Device* pDevice, ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                          UINT srcSub, bool unused);
    /// The staged transfer of `rect` on both sides.
    bool stagedTransfer(Device* pDevice, ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                        UINT srcSub, const RECT& rect);
    /// Run by the swap chain after each transfer step.
    void completionStep(Device* pDevice, ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                        UINT srcSub);
    /// One pass of a device's worker over its staging buffers (under the device lock).
    void workerPass(Device* pDevice);
    /// Synchronous copies: waits for every frame still in a staging buffer and copies them,
    /// oldest first, into surface `dstSub` of `pDst` now, for a present that uses its surface
    /// at once and has no later worker present to carry the frame. True when one arrived.
    bool finishTransfers(Device* pDevice, ResourceDDI9* pDst, UINT dstSub);
    /// Waits up to `timeoutMs` (negative: the bounded "no limit") for `query` on `gpu`: the
    /// CPU notification on the rendering GPU, an event query elsewhere (destroyed and
    /// cleared once done). True when done.
    bool waitForQuery(Device* pDevice, unsigned gpu, uint64_t& query, int timeoutMs);
    /// Recreates the device's staging buffers when `pSrc`'s description changed.
    void ensureStagingBuffers(Device* pDevice, ResourceDDI9* pSrc, UINT srcSub);

    /// The partial-copy fraction, 0.0 to 1.0.
    double partialCopy() const { return m_partialCopy; }
    bool asynchronous() const { return m_asynchronous; }
    /// The rect a transfer of a `width` x `height` source copies.
    RECT partialRect(uint32_t width, uint32_t height) const;

protected:
    static ViObject* gpuInterop() { return s_pGpuInterop.load(); }
    static ViObject* ddi9Interop() { return s_pDdi9Interop.load(); }
    static void setDdi9Interop(ViObject* pObject) { s_pDdi9Interop.store(pObject); }
    static PFNVI_GETNEXTGROUPID nextGroupIdFunction() { return s_pfnGetNextGroupId.load(); }

private:
    /// Whether `rec` holds a frame ready to copy out, waiting up to `timeoutMs` for its
    /// injection to finish.
    bool readyToCopyOut(Device* pDevice, StagingBuffer* rec, int timeoutMs);
    /// Copies `rec`'s frame into surface `sub` of `pTarget`; false when it cannot be mapped.
    /// `moved` tells whether the target got the frame (the buffer is done with either way).
    bool copyOut(Device* pDevice, StagingBuffer* rec, ResourceDDI9* pTarget, UINT sub, bool& moved);
    /// Leaves `rec` transferred, with the presenting GPU's query that frees it for reuse.
    void markTransferred(Device* pDevice, StagingBuffer* rec);
    /// One test of `query` on `gpu`.
    bool queryDone(Device* pDevice, unsigned gpu, uint64_t query);
    /// Loads the library and makes its objects; the user count is already raised.
    bool startLibrary(bool asynchronous);
    /// A staging buffer token of `desc` (0 when the library refused, reported).
    static uint64_t createStagingToken(unsigned renderingGpu, unsigned presentingGpu,
                                       const uint32_t desc[kStagingDescSize], uint32_t groupId);
    /// A CPU notification for injections on `renderingGpu` (0 when refused, reported).
    static uint64_t createCpuNotification(unsigned renderingGpu, uint32_t groupId);
    /// The description staging buffers of a `desc` source are made with: never multisampled.
    static void creationDesc(const uint32_t desc[kStagingDescSize],
                             uint32_t made[kStagingDescSize]);

    HMODULE m_hInteropModule;
    double m_partialCopy;
    bool m_asynchronous;

    static std::atomic<uint32_t> s_interopUserCount;
    static uint32_t s_holders; // under s_instanceLock
    static std::atomic<GpuServices*> s_pInstance;
    static std::atomic<ViObject*> s_pRoot;
    static std::atomic<ViObject*> s_pGpuInterop;
    static std::atomic<ViObject*> s_pDdi9Interop;
    static std::atomic<PFNVI_GETNEXTGROUPID> s_pfnGetNextGroupId;
    // Devices are created and destroyed on any of the application's threads.
    static std::recursive_mutex s_instanceLock;
};
