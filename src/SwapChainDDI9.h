// SwapChainDDI9: a device's memory of what the application presents, and the present paths.
//
// The device creates it with itself and deletes it with itself. It holds the primary the
// runtime created (on the rendering GPU; its copy on the presenting GPU is made at the first
// flip present), the back-buffer storage (the surfaces on the presenting GPU presented in
// turn) and the state of windowed presents. Every operation runs under the device lock: on
// the runtime's thread through the wrapped entries, and on the device's worker thread for
// presents whose transfer finished late (getPresentTarget, presentTransferred).
#pragma once

#include "SwapChainBase.h"
#include "platform/win.h"

#include <stdint.h>

class Device;
class ResourceDDI9;

class SwapChainDDI9 : public SwapChainBase {
public:
    /// The surfaces presented in turn: up to MAX_LEN (resource, surface index) pairs. A
    /// resource with several surfaces (a flip chain) fills several entries.
    class BBStorage {
    public:
        static constexpr int32_t MAX_LEN = 4;

        BBStorage() { clear(); }

        /// Empties the storage.
        void clear();
        /// Appends every surface of `pResource`; what does not fit is reported (11103) and
        /// dropped.
        void addEntry(ResourceDDI9* pResource);
        /// Closes the gap of `surfCount` entries at `indexToDelFrom`: later entries move down.
        /// The count is clamped to the filled entries, so the storage never counts below 0.
        void handleArrayGapOnRemoveEntry(int32_t indexToDelFrom, int32_t surfCount);
        /// Takes every entry of `pResource` out and closes the gaps. True when one was found;
        /// the next present then starts at entry 0.
        bool removeResource(const ResourceDDI9* pResource);

        ResourceDDI9* getCurrentBB() const;
        UINT getCurrentBBSubresource() const;
        /// The entry presented last (the one before the current, cyclically); null / 0 when
        /// the storage is empty.
        ResourceDDI9* getFrontBB() const;
        UINT getFrontBBSubresource() const;
        /// Moves on to the next entry after a presented new frame.
        void advance();
        /// True once a new frame was presented from the entries as they stand: the front
        /// entry then holds a frame (not a surface no frame ever reached).
        bool hasShownFrame() const { return m_bShownFrame; }

        ResourceDDI9* resource(int32_t index) const {
            return index >= 0 && index < MAX_LEN ? m_resources[index] : nullptr;
        }
        UINT subresource(int32_t index) const {
            return index >= 0 && index < MAX_LEN ? m_subresources[index] : 0;
        }

        ResourceDDI9* m_resources[MAX_LEN];
        UINT m_subresources[MAX_LEN];
        int32_t m_currentBBIndex;
        int32_t m_arrayLen;

    private:
        bool m_bShownFrame = false;

        /// The front buffer's index, reported as out of range with the given codes; -1 for
        /// none.
        int32_t frontIndex(int codeTooBig, int codeNegative) const;
    };

    explicit SwapChainDDI9(Device* pDevice);
    ~SwapChainDDI9() override = default;

    // The present paths.
    HRESULT presentFrame(const D3DDDIARG_PRESENT* pData, bool force, uint32_t interval) override;
    HRESULT repeatPresent(const D3DDDIARG_PRESENT* pData) override;
    bool isPresentSource(const ResourceDDI9* pResource) const override;
    void getPresentTarget(ResourceDDI9** ppResource, UINT* pSubResource) override;
    HRESULT presentTransferred(ResourceDDI9* pResource, UINT subResource) override;

    /// The application's Present before the pacing decision: presents the primary on the
    /// rendering GPU and keeps the primary, the storage and the windowed state up to date.
    /// Always S_OK: a failed rendering-GPU present is only reported.
    HRESULT present(const D3DDDIARG_PRESENT* pData);
    /// A Blt to the desktop compositor's shared surface: moves the source across and Blts
    /// it on the presenting GPU. The presenting GPU's result.
    HRESULT dwmBltPresent(const D3DDDIARG_BLT* pData);
    /// The handle that names `pResource` to the rendering GPU: its own there, or for a shared
    /// resource (which stands for the primary) the primary's. 0 when there is none.
    uint64_t getPresentHandle(ResourceDDI9* pResource);

    /// Creates the runtime's primary on the rendering GPU (as an ordinary resource) and
    /// remembers it. The driver's HRESULT; S_OK hands the runtime the rendering GPU's handle.
    HRESULT createPrimaryResource(D3DDDIARG_CREATERESOURCE* pData);
    /// Forgets `pResource` wherever the swap chain refers to it (a resource being destroyed).
    void removeResource(ResourceDDI9* pResource);

    /// Sets the pending display mode (or, with `force`, the mode anyway) on the presenting
    /// GPU with `pResource`'s copy there.
    void setDisplayMode(ResourceDDI9* pResource, bool force);
    HRESULT setDisplayModeOnGpu(ResourceDDI9* pResource, UINT subResource, unsigned gpu);

    /// Blts surface `subResource` of multisampled `pResource` into its non-multisampled twin,
    /// on the rendering GPU.
    HRESULT downsampleToNonMultisampled(ResourceDDI9* pResource, UINT subResource);
    /// Moves surface `srcSub` of `pSrc` (rendering GPU) into surface `dstSub` of `pDst`
    /// (presenting GPU); `skipCopy` moves nothing. True when a copy was made now.
    bool transferToPresenting(ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc, UINT srcSub,
                              uint32_t unused, bool skipCopy);
    /// The transfer of a compositor Blt's source into its own presenting-GPU copy, finished
    /// before the Blt reads it.
    void transferToCompositorSource(ResourceDDI9* pResource, UINT sub);
    /// transferToPresenting, and with the interop's synchronous copies the frame also copied
    /// out of its staging buffer before returning; true when the destination got a new frame.
    bool transferFinished(ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc, UINT srcSub);

    const BBStorage& storage() const { return m_storage; }
    ResourceDDI9* primaryResource() const { return m_primaryResource; }
    bool windowedMode() const { return m_bWindowedMode; }
    ResourceDDI9* lastPresentedWindowedMode() const { return m_lastPresentedWindowedMode; }
    ResourceDDI9* lastPresentedWindowedDst() const { return m_lastPresentedWindowedDst; }

private:
    HRESULT presentOnRendering(D3DDDIARG_PRESENT* pData, ResourceDDI9* pResource);
    HRESULT presentOnPresenting(const D3DDDIARG_PRESENT* pData, ResourceDDI9* pResource,
                                UINT subResource, int failureCode, const char* failure);
    /// Lets the icon draw into surface `subResource` of `pResource` on the presenting GPU.
    void drawIcon(ResourceDDI9* pResource, UINT subResource);
    /// The present arguments of a windowed present of `pSource` (presenting-GPU handles).
    D3DDDIARG_PRESENT windowedArguments(const D3DDDIARG_PRESENT* pData, ResourceDDI9* pSource,
                                        ResourceDDI9** ppDestination);
    /// The device's resource of runtime handle `handle`; null (reported) when unknown.
    ResourceDDI9* lookup(HANDLE handle);
    /// The present bookkeeping of a windowed present.
    void noteWindowedSource(ResourceDDI9* pSource);
    /// The present bookkeeping of a flip present.
    void noteFlipSource(ResourceDDI9* pSource);

    BBStorage m_storage;
    ResourceDDI9* m_lastPresentedWindowedMode;
    ResourceDDI9* m_lastPresentedWindowedDst;
    bool m_bWindowedMode;
    ResourceDDI9* m_primaryResource;
    void* m_pUnused;

public:
    /// The shared primary has been added to the back-buffer storage.
    bool m_bSharedPrimaryAdded;
};
