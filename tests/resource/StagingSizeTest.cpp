// The API copy's staging block size: computed in 64 bits, refused when it cannot exist.
#include "SWCopierDDI9.h"

#include <gtest/gtest.h>

namespace {

SWStagingDesc desc(uint32_t width, uint32_t height, uint32_t bits) {
    SWStagingDesc d = {};
    d.m_width = width;
    d.m_height = height;
    d.m_depth = 1;
    d.m_bitsPerPixel = bits;
    return d;
}

} // namespace

TEST(StagingSize, FrameSizes) {
    uint64_t bytes = 0;
    ASSERT_TRUE(SWCopierDDI9::stagingSize(desc(1280, 720, 32), bytes));
    EXPECT_EQ(3686400u, bytes);
    EXPECT_EQ(5120u, SWCopierDDI9::stagingPitch(desc(1280, 720, 32)));
    ASSERT_TRUE(SWCopierDDI9::stagingSize(desc(3840, 2160, 32), bytes));
    EXPECT_EQ(33177600u, bytes);
    ASSERT_TRUE(SWCopierDDI9::stagingSize(desc(16, 16, 4), bytes)); // DXT1
    EXPECT_EQ(128u, bytes);
    ASSERT_TRUE(SWCopierDDI9::stagingSize(desc(64, 64, 0), bytes)); // unknown format
    EXPECT_EQ(0u, bytes);
}

TEST(StagingSize, ProductsBeyond32BitsAreKept) {
    // 32768 x 32768 x 128 bits is 16 GiB: a 32-bit product would wrap to 0.
    uint64_t bytes = 0;
    ASSERT_TRUE(SWCopierDDI9::stagingSize(desc(32768, 32768, 128), bytes));
    EXPECT_EQ(uint64_t(32768) * 32768 * 16, bytes);
}

TEST(StagingSize, ImpossibleSizesAreRefused) {
    uint64_t bytes = 1;
    EXPECT_FALSE(SWCopierDDI9::stagingSize(desc(0xFFFFFFFFu, 0xFFFFFFFFu, 128), bytes));
    // A row whose pitch does not fit the surface description's 32 bits.
    EXPECT_FALSE(SWCopierDDI9::stagingSize(desc(0x80000000u, 1, 32), bytes));
}
