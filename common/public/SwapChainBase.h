// SwapChainBase: what every swap chain shares, whatever the Direct3D version: the owning
// device, the pending display mode, and the three process-wide present controls a present
// writes before it reaches the kernel.
//
// The controls live in the library's own module and are reached through its "getInterval"
// export, looked up by module name: a swap chain compiled into another module (a test, a
// tool) then finds none, and its presents set nothing.
#pragma once

#include "platform/win.h"

#include <stdint.h>

class Device;
class ResourceDDI9;

class SwapChainBase {
public:
    /// Stores the device and looks up the present controls of the loaded "vessad3d9u.dll".
    explicit SwapChainBase(Device* pDevice);
    virtual ~SwapChainBase() = default;

    SwapChainBase(const SwapChainBase&) = delete;
    SwapChainBase& operator=(const SwapChainBase&) = delete;

    /// Shows a new frame: moves it to the presenting GPU and presents it there.
    virtual HRESULT presentFrame(const D3DDDIARG_PRESENT* pData, bool force, uint32_t interval) = 0;
    /// Shows the last frame again, without moving anything across.
    virtual HRESULT repeatPresent(const D3DDDIARG_PRESENT* pData) = 0;
    /// True when `pResource` is a surface presents are made from (the primary, a shared one).
    virtual bool isPresentSource(const ResourceDDI9* pResource) const = 0;
    /// The surface a transfer finished later is presented into; outputs unchanged if none.
    virtual void getPresentTarget(ResourceDDI9** ppResource, UINT* pSubResource) = 0;
    /// Presents surface `subResource` of `pResource` once its transfer has completed.
    virtual HRESULT presentTransferred(ResourceDDI9* pResource, UINT subResource) = 0;

    /// Writes the present controls: `interval`, perform present (always true) and `force`.
    /// A missing control is reported and skipped.
    void SetbPerformPresentAndFlipInterval(uint64_t unused, uint32_t interval, bool force);

    Device* device() const { return m_pDevice; }
    /// True when the three present controls were found.
    bool hasPresentControls() const {
        return m_pKmtVsyncInterval && m_pbKmtPerformPresent && m_pbKmtForceVsyncInterval;
    }

    /// A display mode the application set waits for the next flip present.
    bool m_bDisplayModePending;

protected:
    Device* m_pDevice;
    uint32_t* m_pKmtVsyncInterval;
    bool* m_pbKmtPerformPresent;
    bool* m_pbKmtForceVsyncInterval;
};
