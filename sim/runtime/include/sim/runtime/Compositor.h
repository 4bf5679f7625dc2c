// The desktop compositor of a display: a Direct3D application of its own on the display's
// adapter that opens the shared window surfaces of applications (a share reaches only
// devices of the same adapter), copies each into its desktop surface at the window's
// position and presents the desktop to the display.
#pragma once

#include "platform/win.h"
#include "sim/Export.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <memory>
#include <mutex>
#include <stdint.h>
#include <string>
#include <vector>

namespace sim {
namespace rt {

/// The compositor. Every member is thread-safe.
class SIM_API Compositor {
public:
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    /// Starts the compositor of a display device (empty: the primary display) in its
    /// current mode, through the display GPU's own driver.
    static HRESULT start(const std::string& display, std::unique_ptr<Compositor>& out);

    /// Opens an application's shared window surface (its kernel share handle) of the given
    /// size, shown with its upper left corner at (x, y) of the desktop. id names it later.
    HRESULT addWindow(D3DKMT_HANDLE hGlobalShare, UINT width, UINT height, LONG x, LONG y, int& id);
    /// Closes a window's surface; false when no window has that id.
    bool removeWindow(int id);

    /// Copies every window into the desktop (clipped to it) and presents the desktop.
    HRESULT compose();

    UINT width() const { return m_width; }
    UINT height() const { return m_height; }
    int gpu() const { return m_pAdapter->gpu(); }
    UINT vidPnSourceId() const { return m_pAdapter->vidPnSourceId(); }
    uint64_t compositions() const;

private:
    Compositor() = default;
    struct Window {
        int id = 0;
        HANDLE hSurface = nullptr;
        UINT width = 0;
        UINT height = 0;
        LONG x = 0;
        LONG y = 0;
    };

    mutable std::mutex m_lock;
    std::unique_ptr<RuntimeAdapter> m_pAdapter;
    std::unique_ptr<RuntimeDevice> m_pDevice;
    HANDLE m_hDesktop = nullptr; ///< composition target
    HANDLE m_hPrimary = nullptr; ///< the display's primary, the desktop's present destination
    UINT m_width = 0;
    UINT m_height = 0;
    std::vector<Window> m_windows;
    int m_nextId = 1;
    uint64_t m_compositions = 0;
};

} // namespace rt
} // namespace sim
