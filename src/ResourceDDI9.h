// ResourceDDI9: one Direct3D 9 resource of a Device, on the GPUs that hold it.
//
// An ordinary resource lives on the rendering GPU only: the runtime's handle for it is the
// rendering driver's own. The present paths add a copy on the presenting GPU (the primary),
// a non-multisampled twin on the rendering GPU for downsampling, or move its pixels across
// through the API-copy copier. A shared resource (one the application opened) lives on
// GPU 0 alone. Deleting the object destroys it on every GPU that holds it.
//
// Slot usage of the base: user handle i is the hResource GPU i's driver returned; the
// runtime handle (DDI slot 0) is the runtime's own hResource, which the presenting GPU's
// driver receives when the resource is created there, so that its callbacks to the runtime
// name the runtime's resource.
#pragma once

#include "DdiObject.h"
#include "platform/win.h"

#include <stdint.h>

class Device;
struct SWStagingBuffer;

class ResourceDDI9 : public DdiObject {
public:
    /// Records the creation arguments and, unless the resource is shared (whose arguments
    /// carry no surface list), a copy of the surface list that m_creationArgs points to.
    ResourceDDI9(Device* pDevice, const D3DDDIARG_CREATERESOURCE& args, bool shared);
    /// Destroys the resource on the presenting, then the rendering GPU, releases its API-copy
    /// staging buffer, its mapped cells and its extra buffer.
    ~ResourceDDI9() override;

    // Queries of the per-GPU base. A surface index outside the list (a shared resource has
    // none) answers 0.
    uint32_t surfaceWidth(unsigned surfaceIndex) override;
    uint32_t surfaceHeight(unsigned surfaceIndex) override;
    uint32_t surfaceDepth(unsigned surfaceIndex) override;
    uint32_t multisampleType() override;
    uint32_t multisampleQuality() override;
    /// 32 whatever the format: the interop staging description is made for 32-bit frames.
    uint32_t bitsPerPixel() override;
    uint32_t format() override;

    /// Creates a non-multisampled copy on the presenting GPU under the runtime's handle.
    /// True only when the copy was made in this call: false when one exists already or the
    /// driver failed (reported; the next call tries again).
    virtual bool createOnPresentingGPU();
    /// Moves surface `srcSub` from the rendering GPU into surface `dstSub` of `hDst` (a
    /// presenting-GPU handle) through the API copy; the staging buffer is made on first use.
    /// S_OK, or the first driver failure of the two copies.
    virtual HRESULT copyToPresenting(UINT srcSub, HANDLE hDst, UINT dstSub);
    virtual UINT surfaceCount();
    /// Writes Width and Height of the first `count` surfaces as pairs into `pSizes`.
    virtual void surfaceSizes(uint32_t* pSizes, UINT count);
    virtual bool isMultisampled();

    /// Makes the extra buffer: a single-surface, non-multisampled, lockable twin of surface
    /// 0 on the rendering GPU (not entered in the device's resource map).
    void createNonMultisampledBuffer();
    /// Replaces the creation arguments and the surface list copy.
    void setCreationArgs(const D3DDDIARG_CREATERESOURCE& args);
    bool isSharedResource() const { return m_bIsResourceShared; }

    const D3DDDIARG_CREATERESOURCE& creationArgs() const { return m_creationArgs; }
    ResourceDDI9* extraBuffer() const { return m_pExtraBuffer; }
    SWStagingBuffer* apiCopyStagingBuffer() const { return m_pSWStagingBuffer; }
    Device* device() const { return m_pDevice; }

    /// The interop library's mapped cell of GPU `index`, kept by the GPU services.
    void* mappedCell(unsigned index) const {
        return index < kGpuSlots ? m_mappedCells[index] : nullptr;
    }
    void setMappedCell(unsigned index, void* pCell) {
        if (index < kGpuSlots)
            m_mappedCells[index] = pCell;
    }

    /// Times the API copy's staging buffer of a resource is made before its copies give up.
    static constexpr unsigned kApiCopyStagingAttempts = 4;

private:
    /// Makes the API copy's staging buffer at the first copy, and again when a surface of it
    /// could not be made (up to kApiCopyStagingAttempts times). S_OK when both surfaces exist.
    HRESULT ensureApiCopyStaging();
    /// Gives the interop library's mapped cells back (and frees them).
    void releaseMappedCells();
    /// Destroys the resource on `gpu` if it holds a handle there, and clears the slot.
    /// `line` is the stable report line of that GPU's failure.
    void destroyOnGpu(int gpu, int line, const char* message);
    /// Entry `surfaceIndex` of the surface list copy; null outside it.
    const D3DDDI_SURFACEINFO* surface(unsigned surfaceIndex) const;
    void copySurfaceList();
    void freeSurfaceList();

    Device* m_pDevice;
    bool m_bIsResourceShared;
    SWStagingBuffer* m_pSWStagingBuffer;
    unsigned m_apiCopyStagingAttempts = 0;
    void* m_mappedCells[kGpuSlots];
    D3DDDIARG_CREATERESOURCE m_creationArgs;
    D3DDDI_SURFACEINFO* m_pSurfList;
    ResourceDDI9* m_pExtraBuffer;
    bool m_bDisableDownsampling;
};
