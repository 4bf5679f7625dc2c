// VessaIcon: the corner code, the rectangle and the timed display.
#include "VessaIcon.h"

#include "Report.h"
#include "VessaIconImage.h"

VessaIcon::VessaIcon(uint32_t corner, bool timed) : m_corner(corner), m_timed(timed) {
    m_rect = {0, 0, LONG(kVessaIconWidth), LONG(kVessaIconHeight)};
}

uint32_t VessaIcon::cornerFromText(const WCHAR* text) {
    const bool upper = text && text[0] == 'U';
    const bool left = text && text[0] && text[1] == 'L';
    if (upper)
        return left ? kIconUpperLeft : kIconUpperRight;
    return left ? kIconLowerLeft : kIconLowerRight;
}

void VessaIcon::setBackBufferSize(uint32_t width, uint32_t height) {
    if (width == m_width && height == m_height)
        return;
    m_width = width;
    m_height = height;
    const LONG w = LONG(kVessaIconWidth), h = LONG(kVessaIconHeight);
    const LONG right = LONG(width), bottom = LONG(height);
    switch (m_corner) {
    case kIconUpperLeft:
        m_rect = {0, 0, w, h};
        break;
    case kIconUpperRight:
        m_rect = {right - w, 0, right, h};
        break;
    case kIconLowerLeft:
        m_rect = {0, bottom - h, w, bottom};
        break;
    case kIconLowerRight:
        m_rect = {right - w, bottom - h, right, bottom};
        break;
    default:
        VESSA_REPORT(Error, 10882, "false", "unknown corner to put vessa-icon");
        break;
    }
}

bool VessaIcon::fitsBackBuffer() const {
    return m_width >= kVessaIconWidth && m_height >= kVessaIconHeight && m_rect.left >= 0 &&
           m_rect.top >= 0 && m_rect.right <= LONG(m_width) && m_rect.bottom <= LONG(m_height);
}

int64_t VessaIcon::nowSeconds() {
    LARGE_INTEGER frequency = {}, counter = {};
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
        !QueryPerformanceCounter(&counter))
        return 0;
    return counter.QuadPart / frequency.QuadPart;
}

bool VessaIcon::updateTimedDisplay() {
    if (!m_ready || m_expired)
        return false;
    // The icon is still drawn on the present that finds its time over: it goes with the
    // next one.
    if (m_timed && m_startTime != 0 && nowSeconds() - m_startTime > kTimedDisplaySeconds)
        m_expired = true;
    return true;
}
