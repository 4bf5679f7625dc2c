// The PNG writer of the Windows harness build (uncompressed deflate, no libpng): what it
// writes must be read back by libpng pixel for pixel, with and without alpha, including
// images whose data spans several stored blocks.
#include "sim/gpus/PngWriter.h"

#include <gtest/gtest.h>
#include <png.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

sim::Image pattern(uint32_t width, uint32_t height) {
    sim::Image image;
    image.width = width;
    image.height = height;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            image.pixels.push_back(0x10000000u * (x % 16) + (x * 7u << 16) + (y * 13u << 8) +
                                   ((x ^ y) & 0xFFu));
    return image;
}

// Reads a PNG with libpng as 0xAARRGGBB words (alpha 0xFF when the file has none).
bool readWithLibpng(const std::string& path, sim::Image& out) {
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    png.format = PNG_FORMAT_BGRA;
    out.width = png.width;
    out.height = png.height;
    out.pixels.assign(size_t(png.width) * png.height, 0);
    bool ok = png_image_finish_read(&png, nullptr, out.pixels.data(), 0, nullptr) != 0;
    png_image_free(&png);
    return ok;
}

std::string tempPath(const char* name) {
    return std::string("/tmp/vessa-png-") + std::to_string(getpid()) + "-" + name;
}

TEST(PngWriterStoredTest, LibpngReadsBackEveryPixelWithAndWithoutAlpha) {
    // 300x120 RGBA is 144120 bytes of rows: three stored blocks.
    const sim::Image image = pattern(300, 120);
    for (bool alpha : {true, false}) {
        std::string path = tempPath(alpha ? "rgba.png" : "rgb.png");
        std::string error;
        ASSERT_TRUE(sim::PngWriter::write(path, image, alpha, &error)) << error;
        sim::Image back;
        ASSERT_TRUE(readWithLibpng(path, back)) << path;
        remove(path.c_str());
        ASSERT_EQ(image.width, back.width);
        ASSERT_EQ(image.height, back.height);
        for (size_t i = 0; i < image.pixels.size(); ++i) {
            uint32_t expected = alpha ? image.pixels[i] : (image.pixels[i] | 0xFF000000u);
            ASSERT_EQ(expected, back.pixels[i]) << "pixel " << i << (alpha ? " RGBA" : " RGB");
        }
    }
}

TEST(PngWriterStoredTest, RefusesImagesWithoutPixelsOrWithTheWrongCount) {
    sim::Image empty;
    std::string error;
    EXPECT_FALSE(sim::PngWriter::write(tempPath("empty.png"), empty, true, &error));
    EXPECT_FALSE(error.empty());
    sim::Image wrong = pattern(4, 4);
    wrong.pixels.pop_back();
    EXPECT_FALSE(sim::PngWriter::write(tempPath("wrong.png"), wrong, true, &error));
    EXPECT_FALSE(sim::PngWriter::write("/nonexistent-folder/x.png", pattern(2, 2), true, &error));
}

} // namespace
