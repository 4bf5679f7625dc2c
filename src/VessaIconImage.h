// The in-game icon's picture: 180 x 89 pixels in D3DFMT_A8R8G8B8 memory order (blue, green,
// red, alpha; every alpha 255), rows top to bottom, no header. Drawn by tools/icon/make-icon.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr unsigned kVessaIconWidth = 180;
constexpr unsigned kVessaIconHeight = 89;
constexpr unsigned kVessaIconPitch = kVessaIconWidth * 4;
constexpr size_t kVessaIconImageSize = size_t(kVessaIconPitch) * kVessaIconHeight;
static_assert(kVessaIconImageSize == 64080, "the icon is 64080 bytes");

extern const uint8_t kVessaIconImage[kVessaIconImageSize];
