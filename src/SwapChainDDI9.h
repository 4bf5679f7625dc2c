// SwapChainDDI9: a device's memory of what the application presents.
//
// The device creates it with itself and deletes it with itself. The present paths and the
// back-buffer storage build on it; until they exist it holds the state the device routing
// sets (the pending display mode, the shared-primary mark) and knows no presented surface.
#pragma once

#include <stdint.h>

class Device;
class ResourceDDI9;

class SwapChainDDI9 {
public:
    explicit SwapChainDDI9(Device* pDevice);
    virtual ~SwapChainDDI9() = default;

    SwapChainDDI9(const SwapChainDDI9&) = delete;
    SwapChainDDI9& operator=(const SwapChainDDI9&) = delete;

    Device* device() const { return m_pDevice; }

    /// Forgets `pResource` wherever the swap chain refers to it (a resource being destroyed).
    void removeResource(ResourceDDI9* pResource);
    /// True when `pResource` is a surface the swap chain presents from.
    bool isPresentSource(const ResourceDDI9* pResource) const;

    /// The surface a frame the worker finishes is copied into and presented from (null and
    /// 0 when there is none).
    virtual void getPresentTarget(ResourceDDI9*& pResource, unsigned& subresource);
    /// Presents a frame the worker copied into `pResource` on the presenting GPU.
    virtual void presentTransferred(ResourceDDI9* pResource, unsigned subresource);

    /// A display mode the application set waits for the next flip present.
    bool m_bDisplayModePending;
    /// The shared primary has been added to the back-buffer storage.
    bool m_bSharedPrimaryAdded;

private:
    Device* m_pDevice;
};
