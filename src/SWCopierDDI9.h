// SWCopierDDI9: the API copy. Moves a surface from the rendering GPU to the presenting GPU
// with nothing but the vendor drivers' own Direct3D 9 entries.
//
// Each resource that is copied gets one staging buffer: a block of process memory with a
// system-memory surface over it on each GPU. A Blt on the rendering GPU writes the
// resource into its surface, which puts the pixels into the block; a Blt on the presenting
// GPU reads the block through its own surface into the destination. A frame costs two Blts
// and no CPU copy.
//
// The two GPUs run their queues independently and later than the calls, and nothing in one
// GPU's queue waits for the other's. So the copier orders them from the CPU, through the
// drivers' own Lock: before the rendering GPU writes the block, a lock of the presenting
// GPU's surface waits until the previous frame has been read out of it; before the
// presenting GPU reads the block, a read-only lock of the rendering GPU's surface waits until
// the rendering Blt has written it. The presenting GPU's Blt is then flushed, so that it is
// queued before anyone who reads the destination looks.
#pragma once

#include "platform/win.h"

#include <stdint.h>

class Device;

/// What a staging surface is made for (the layout the interop staging buffers share).
struct SWStagingDesc {
    uint32_t m_width;
    uint32_t m_height;
    uint32_t m_depth;
    uint32_t m_bitsPerPixel;
    uint32_t m_multiSampleQuality;
    uint32_t m_multiSampleCount;
    uint32_t m_format;
};
static_assert(sizeof(SWStagingDesc) == 28, "seven 32-bit values");

/// One resource's staging buffer, made by the copier and kept by the resource.
struct SWStagingBuffer {
    uint64_t renderingSurface;  ///< system-memory surface on the rendering GPU (0: none)
    uint64_t presentingSurface; ///< system-memory surface on the presenting GPU (0: none)
    RECT rect;                  ///< (0, 0, width, height) of the staged surface
    void* pMemory;              ///< the block both surfaces use as their pSysMem
};

class SWCopierDDI9 {
public:
    explicit SWCopierDDI9(Device* pDevice) : m_pDevice(pDevice) {}
    SWCopierDDI9(const SWCopierDDI9&) = delete;
    SWCopierDDI9& operator=(const SWCopierDDI9&) = delete;

    virtual ~SWCopierDDI9();
    /// Blts surface `srcSub` of `hSrc` on `gpu` into the staging buffer's rendering surface,
    /// once the presenting GPU no longer reads the block. Nothing (S_OK) when the buffer has
    /// no rendering surface; the failed wait's status (no Blt) when the wait fails.
    virtual HRESULT CopyToStaging(HANDLE hSrc, UINT srcSub, unsigned gpu, SWStagingBuffer* sb);
    /// Blts the staging buffer's presenting surface on `gpu` into surface `dstSub` of `hDst`
    /// once the rendering GPU has written the block, and flushes `gpu`. Nothing (S_OK) when
    /// the buffer lacks either surface (nothing staged, or nothing to read from); the failed
    /// wait's status when the wait fails. The destination then keeps its previous content.
    virtual HRESULT CopyFromStaging(HANDLE hDst, UINT dstSub, unsigned gpu, SWStagingBuffer* sb);
    /// A system-memory surface over `pMemory` on `gpu`; 0 when the driver refused it.
    virtual uint64_t createStagingSurface(unsigned gpu, const SWStagingDesc& desc, void* pMemory);
    /// Destroys a staging surface on `gpu` (nothing for 0).
    virtual void destroyStagingSurface(unsigned gpu, uint64_t handle);

    /// A staging buffer for a resource made with `args` (surface 0's size, the format's bits
    /// per pixel). A size that does not fit the address space or a block that cannot be
    /// allocated is reported, and the buffer then has neither memory nor surfaces, so the
    /// copies do nothing. Null only when the buffer itself cannot be allocated.
    SWStagingBuffer* createStagingBuffer(const D3DDDIARG_CREATERESOURCE& args);
    /// Destroys both surfaces, then frees the block and the buffer.
    void releaseStagingBuffer(SWStagingBuffer* sb);

    /// Bytes of the block for `desc`: bits per pixel x height x width / 8, computed in 64
    /// bits. False when it does not fit in memory or a row's pitch does not fit 32 bits.
    static bool stagingSize(const SWStagingDesc& desc, uint64_t& bytes);
    /// Bytes of one row of the staging surface: whole bytes per pixel x width.
    static uint64_t stagingPitch(const SWStagingDesc& desc);

private:
    HANDLE deviceHandle(unsigned gpu) const;
    /// pfnBlt of `gpu` copying `rect` of one surface to the same rectangle of another.
    HRESULT wholeSurfaceBlt(unsigned gpu, HANDLE hSrc, UINT srcSub, HANDLE hDst, UINT dstSub,
                            const RECT& rect);
    /// Locks staging surface `handle` on `gpu` with `lockFlags` and unlocks it at once: the
    /// driver submits its pending work and the lock returns when `gpu` is done with the
    /// surface (only with its writes for a read-only lock). The lock's status.
    HRESULT waitForGpu(unsigned gpu, uint64_t handle, UINT lockFlags);

    Device* m_pDevice;
};
