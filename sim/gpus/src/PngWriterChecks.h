// What both PNG writers (libpng's natively, the stored-block encoder on Windows) check and
// report the same way.
#pragma once

#include "sim/gpus/PngWriter.h"

#include <string>

namespace sim::pngcheck {

inline void setError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
}

/// False, with the reason, for an image with no pixels or fewer or more than its size says:
/// either would have the encoder read past the pixels or write a truncated file.
inline bool hasWritablePixels(const Image& image, std::string* error) {
    if (image.width != 0 && image.height != 0 &&
        image.pixels.size() == size_t(image.width) * image.height)
        return true;
    setError(error, "image has no pixels or a pixel count that does not match its size");
    return false;
}

} // namespace sim::pngcheck
