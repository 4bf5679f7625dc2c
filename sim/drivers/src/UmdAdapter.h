// One adapter opened through a simulated driver's OpenAdapter: the runtime's handle and
// callbacks, the GPU it drives, and the adapter entries' work (capabilities, devices).
#pragma once

#include "DriverState.h"

#include <stdint.h>

namespace sim {
namespace umd {

/// An open adapter of one simulated vendor driver.
class Adapter {
public:
    Adapter(int profileIndex, int gpu, const D3DDDIARG_OPENADAPTER& args);

    const VendorProfile& profile() const { return umd::profile(m_profileIndex); }
    int profileIndex() const { return m_profileIndex; }
    int gpu() const { return m_gpu; }
    HANDLE runtimeHandle() const { return m_hRuntime; }
    const D3DDDI_ADAPTERCALLBACKS& callbacks() const { return m_callbacks; }

    /// D3DDDI_ADAPTERFUNCS::pfnGetCaps: answers every capability type.
    HRESULT getCaps(const D3DDDIARG_GETCAPS& args);
    /// Live devices created on this adapter.
    uint32_t deviceCount() const { return m_devices; }
    void deviceCreated() { ++m_devices; }
    void deviceDestroyed() { --m_devices; }
    /// CloseAdapter came while devices were open: the last device deletes the adapter.
    void markClosed() { m_closed = true; }
    bool closed() const { return m_closed; }

private:
    HRESULT formatCaps(const D3DDDIARG_GETCAPS& args);
    HRESULT multisampleQualityLevels(const D3DDDIARG_GETCAPS& args);

    int m_profileIndex;
    int m_gpu;
    HANDLE m_hRuntime;
    D3DDDI_ADAPTERCALLBACKS m_callbacks;
    uint32_t m_devices = 0;
    bool m_closed = false;
};

/// The format table a vendor's driver reports.
std::vector<FORMATOP> formatTable(const VendorProfile& profile);

} // namespace umd
} // namespace sim
