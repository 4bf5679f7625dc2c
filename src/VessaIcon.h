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
    VessaIcon(uint32_t corner, bool timed) : m_corner(corner), m_timed(timed) {}
    virtual ~VessaIcon() = default;

    VessaIcon(const VessaIcon&) = delete;
    VessaIcon& operator=(const VessaIcon&) = delete;

    /// Draws the icon into subresource `dstSubResourceIndex` of `hDstResource` on GPU
    /// `gpuIndex`.
    virtual HRESULT draw(unsigned gpuIndex, HANDLE hDstResource, UINT dstSubResourceIndex) = 0;
    /// Creates the icon's texture on GPU `gpuIndex`.
    virtual HRESULT createResources(unsigned gpuIndex) = 0;
    /// Destroys what createResources made on GPU `gpuIndex`.
    virtual void destroyResources(unsigned gpuIndex) = 0;

    /// The corner code from `vessa_icon_corner` text: first character 'U' the upper row,
    /// anything else the lower; second character 'L' the left column, anything else the
    /// right (so "0", the default, is the lower-right corner).
    static uint32_t cornerFromText(const WCHAR* text);

    bool ready() const { return m_ready; }
    uint32_t corner() const { return m_corner; }
    bool timed() const { return m_timed; }

protected:
    bool m_ready = false;
    uint32_t m_corner;
    bool m_timed;
    bool m_expired = false;
    int64_t m_startTime = 0;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
};
