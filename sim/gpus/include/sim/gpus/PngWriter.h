// PNG files of 32-bit frames, through libpng: frame dumps of the simulated display and
// the reference images of pixel comparisons.
#pragma once

#include "sim/Export.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace sim {

/// A frame in memory: rows of 32-bit pixels 0xAARRGGBB (byte order B, G, R, A, as
/// D3DDDIFMT_A8R8G8B8 lies in memory), tightly packed.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;

    uint32_t at(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

/// Writes and reads PNG files.
class SIM_API PngWriter {
public:
    /// Writes the image as an 8-bit RGB PNG, or RGBA when withAlpha is set (an X8R8G8B8
    /// frame has no meaningful alpha). False with a reason in error on any failure.
    static bool write(const std::string& path, const Image& image, bool withAlpha,
                      std::string* error = nullptr);
    /// Reads an 8-bit RGB or RGBA PNG into an image (alpha 0xFF when the file has none).
    static bool read(const std::string& path, Image& image, std::string* error = nullptr);
};

} // namespace sim
