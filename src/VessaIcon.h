// VessaIcon: the small picture drawn into a corner of every presented frame, to show that
// the frame was rendered through the system.
#pragma once

#include "platform/win.h"

#include <stdint.h>

/// Corners of the icon, as the device derives them from `vessa_icon_corner`.
enum IconCorner : uint32_t {
    kIconUpperLeft = 1,
    kIconUpperRight = 2,
    kIconLowerLeft = 3,
    kIconLowerRight = 4,
};

class VessaIcon {
public:
    /// Seconds a timed icon stays after its first draw.
    static constexpr int64_t kTimedDisplaySeconds = 8;

    VessaIcon(uint32_t corner, bool timed);
    virtual ~VessaIcon() = default;

    VessaIcon(const VessaIcon&) = delete;
    VessaIcon& operator=(const VessaIcon&) = delete;

    /// Draws the icon into subresource `dstSubResourceIndex` of `hDstResource` on GPU
    /// `gpuIndex`, whose size the last setBackBufferSize gave.
    virtual HRESULT draw(unsigned gpuIndex, HANDLE hDstResource, UINT dstSubResourceIndex) = 0;
    /// Creates the icon's texture on GPU `gpuIndex`.
    virtual HRESULT createResources(unsigned gpuIndex) = 0;
    /// Destroys what createResources made on GPU `gpuIndex`.
    virtual void destroyResources(unsigned gpuIndex) = 0;

    /// The corner code from `vessa_icon_corner` text: first character 'U' the upper row,
    /// anything else the lower; second character 'L' the left column, anything else the
    /// right (so "0", the default, is the lower-right corner).
    static uint32_t cornerFromText(const WCHAR* text);

    /// The size of the back buffer the next draw goes into; moves the icon to its corner
    /// there when the size changed (a mode switch).
    void setBackBufferSize(uint32_t width, uint32_t height);

    bool ready() const { return m_ready; }
    uint32_t corner() const { return m_corner; }
    bool timed() const { return m_timed; }
    bool expired() const { return m_expired; }
    /// Where the icon goes in the current back buffer.
    const RECT& rect() const { return m_rect; }
    /// False when the back buffer cannot hold the whole icon: nothing is drawn into it then.
    bool fitsBackBuffer() const;

protected:
    /// Whole seconds of the machine's monotonic counter.
    static int64_t nowSeconds();
    /// Ends a timed display once its time is over; true while the icon is still to be drawn.
    bool updateTimedDisplay();

    bool m_ready = false;
    uint32_t m_corner;
    bool m_timed;
    bool m_expired = false;
    /// Counter seconds of the first draw, 0 before it.
    int64_t m_startTime = 0;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    /// Each icon keeps its own rectangle: two devices may present back buffers of different
    /// sizes.
    RECT m_rect;
};
