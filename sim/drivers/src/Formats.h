// Storage layout of the surface formats the simulated drivers keep in memory, and the
// conversion of a fill colour into a format's pixel.
#pragma once

#include "platform/win.h"

#include <stdint.h>

namespace sim {
namespace umd {

/// How one format lies in memory.
struct FormatLayout {
    uint32_t bytesPerPixel = 0; ///< bytes of one pixel (0 for block formats)
    uint32_t blockBytes = 0;    ///< bytes of one 4x4 block (block-compressed formats only)
    bool depth = false;         ///< a depth or stencil format
    bool buffer = false;        ///< vertex, index or raw data: Width counts bytes
};

/// The layout of a format; false when the drivers do not support it.
bool formatLayout(D3DDDIFORMAT format, FormatLayout& out);

/// Bytes of one row of `width` pixels (or of the 4x4 blocks covering them).
uint32_t rowBytes(const FormatLayout& layout, uint32_t width);
/// Number of rows a surface of `height` pixels occupies (block rows for block formats).
uint32_t rowCount(const FormatLayout& layout, uint32_t height);

/// The pixel value of an A8R8G8B8 colour in a colour format, in the format's byte count
/// (1, 2, 4 or 8 bytes written to pOut). False for formats a fill cannot produce.
bool packColor(D3DDDIFORMAT format, D3DCOLOR color, uint8_t* pOut, uint32_t& bytes);

/// The pixel value of a depth (0..1) and stencil in a depth format.
bool packDepth(D3DDDIFORMAT format, float depth, uint32_t stencil, uint8_t* pOut, uint32_t& bytes);

/// True when a pixel of `from` can be copied into `to` byte for byte (the same layout,
/// or X8R8G8B8 and A8R8G8B8, whose unused byte the display ignores).
bool sameLayout(D3DDDIFORMAT from, D3DDDIFORMAT to);

/// Converts one pixel between the colour formats the display and the scenes use
/// (A8R8G8B8, X8R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5); false for other pairs.
bool convertPixel(D3DDDIFORMAT from, const uint8_t* pIn, D3DDDIFORMAT to, uint8_t* pOut);

} // namespace umd
} // namespace sim
