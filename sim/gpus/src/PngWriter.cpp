// PNG reading and writing with libpng's simplified API, which handles the format
// conversions and reports errors as text instead of through longjmp.
#include "sim/gpus/PngWriter.h"

#include "PngWriterChecks.h"

#include <png.h>
#include <string.h>

namespace sim {

using pngcheck::setError;

bool PngWriter::write(const std::string& path, const Image& image, bool withAlpha,
                      std::string* error) {
    if (!pngcheck::hasWritablePixels(image, error))
        return false;
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    const void* source = image.pixels.data();
    std::vector<uint8_t> packed;
    if (withAlpha) {
        // 0xAARRGGBB words lie in memory as B, G, R, A on a little-endian machine.
        png.format = PNG_FORMAT_BGRA;
    } else {
        png.format = PNG_FORMAT_BGR;
        packed.resize(image.pixels.size() * 3);
        for (size_t i = 0; i < image.pixels.size(); ++i) {
            uint32_t p = image.pixels[i];
            packed[i * 3 + 0] = uint8_t(p);
            packed[i * 3 + 1] = uint8_t(p >> 8);
            packed[i * 3 + 2] = uint8_t(p >> 16);
        }
        source = packed.data();
    }
    if (!png_image_write_to_file(&png, path.c_str(), 0, source, 0, nullptr)) {
        setError(error, "cannot write " + path + ": " + png.message);
        png_image_free(&png);
        return false;
    }
    return true;
}

bool PngWriter::read(const std::string& path, Image& image, std::string* error) {
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        setError(error, "cannot read " + path + ": " + png.message);
        return false;
    }
    png.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> pixels(size_t(png.width) * png.height);
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
        setError(error, "cannot decode " + path + ": " + png.message);
        png_image_free(&png);
        return false;
    }
    image.width = png.width;
    image.height = png.height;
    image.pixels.swap(pixels);
    return true;
}

} // namespace sim
