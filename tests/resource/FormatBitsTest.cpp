// The bits-per-pixel table: the documented figures, the report for an unknown format, and
// agreement with the storage layout the simulated drivers give each format they create.
#include "ResourceDxgiFormat_auto.h"

#include "../foundation/LogReader.h"

#include <gtest/gtest.h>

#include <string>

#ifdef VESSA_TEST_DRIVER_FORMATS
#include "Formats.h"
#endif

namespace {

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

D3DDDIFORMAT fourcc(const char* code) {
    return D3DDDIFORMAT(uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
                        uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24);
}

} // namespace

TEST(FormatBits, DocumentedFormats) {
    testlog::writeLog("");
    EXPECT_EQ(32u, formatBitsPerPixel(D3DDDIFMT_A8R8G8B8));
    EXPECT_EQ(24u, formatBitsPerPixel(D3DDDIFMT_R8G8B8));
    EXPECT_EQ(16u, formatBitsPerPixel(D3DDDIFMT_R5G6B5));
    EXPECT_EQ(1u, formatBitsPerPixel(D3DDDIFMT_A1));
    EXPECT_EQ(128u, formatBitsPerPixel(D3DDDIFMT_A32B32G32R32F));
    EXPECT_EQ(64u, formatBitsPerPixel(D3DDDIFMT_G32R32F));
    // Index data counts a byte per "pixel", whatever the index size.
    EXPECT_EQ(8u, formatBitsPerPixel(D3DDDIFMT_INDEX16));
    EXPECT_EQ(8u, formatBitsPerPixel(D3DDDIFMT_INDEX32));
    EXPECT_EQ(0u, occurrences(testlog::readLog(), "code: 1171"));
}

TEST(FormatBits, FourCharacterCodesAreReadLittleEndian) {
    EXPECT_EQ(4u, formatBitsPerPixel(fourcc("DXT1")));
    EXPECT_EQ(8u, formatBitsPerPixel(fourcc("DXT5")));
    EXPECT_EQ(8u, formatBitsPerPixel(fourcc("ATI2")));
    EXPECT_EQ(16u, formatBitsPerPixel(fourcc("UYVY")));
    EXPECT_EQ(16u, formatBitsPerPixel(fourcc("DF16")));
    EXPECT_EQ(24u, formatBitsPerPixel(fourcc("DF24")));
    EXPECT_EQ(32u, formatBitsPerPixel(fourcc("YUY2"))); // listed with the 32-bit formats
    EXPECT_EQ(32u, formatBitsPerPixel(fourcc("INTZ")));
    EXPECT_EQ(32u, formatBitsPerPixel(fourcc("MET1")));
}

TEST(FormatBits, UnknownFormatIsReportedAndCountsZero) {
    testlog::writeLog("");
    EXPECT_EQ(0u, formatBitsPerPixel(D3DDDIFMT_UNKNOWN));
    EXPECT_EQ(0u, formatBitsPerPixel(D3DDDIFORMAT(0xFFFFFFFFu)));
    const std::string log = testlog::readLog();
    EXPECT_EQ(2u, occurrences(log, "Error code: 1171"));
    EXPECT_EQ(2u, occurrences(log, "undocumented texture format format"));
    EXPECT_NE(std::string::npos, log.find("ResourceDxgiFormat_auto.cpp:244"));
}

#ifdef VESSA_TEST_DRIVER_FORMATS
// Every format a simulated driver can create must size a staging surface exactly as the
// driver lays the surface out: a row of `width` pixels spans width * bits / 8 bytes.
// Binary buffers are the drivers' own extension and are never staged.
TEST(FormatBits, AgreesWithTheSimulatedDriversLayouts) {
    testlog::writeLog("");
    int checked = 0;
    for (uint32_t value = 0; value < 256; ++value) {
        sim::umd::FormatLayout layout;
        if (!sim::umd::formatLayout(D3DDDIFORMAT(value), layout) || value == D3DDDIFMT_BINARYBUFFER)
            continue;
        EXPECT_EQ(layout.bytesPerPixel * 8, formatBitsPerPixel(D3DDDIFORMAT(value)))
            << "format " << value;
        ++checked;
    }
    for (const char* code : {"DXT1", "DXT2", "DXT3", "DXT4", "DXT5"}) {
        D3DDDIFORMAT format = fourcc(code);
        sim::umd::FormatLayout layout;
        ASSERT_TRUE(sim::umd::formatLayout(format, layout)) << code;
        // A 4x4 block of 16 pixels.
        EXPECT_EQ(layout.blockBytes * 8 / 16, formatBitsPerPixel(format)) << code;
        ++checked;
    }
    EXPECT_GT(checked, 50);
    EXPECT_EQ(0u, occurrences(testlog::readLog(), "code: 1171"));
}
#endif
