// The in-game icon on a fake presenting GPU: its texture, its corner, its clipping and its
// clean-up.
#include "ConfigProperty.h"
#include "Configuration.h"
#include "VessaIconDDi9.h"
#include "VessaIconImage.h"

#include "PacingTestSupport.h"

#include <gtest/gtest.h>

using pacingtest::FakeDevice;
using pacingtest::FakeGpu;

namespace {

constexpr unsigned kPresenting = 0;
const HANDLE kBackBuffer = reinterpret_cast<HANDLE>(uintptr_t(0x9000));

bool sameRect(const RECT& rect, LONG left, LONG top, LONG right, LONG bottom) {
    return rect.left == left && rect.top == top && rect.right == right && rect.bottom == bottom;
}

class IconTest : public ::testing::Test {
protected:
    std::unique_ptr<VessaIconDDi9> makeIcon(uint32_t corner, bool timed = false) {
        auto icon =
            std::make_unique<VessaIconDDi9>(corner, timed, m_device.get(), m_device.funcs());
        EXPECT_EQ(S_OK, icon->createResources(kPresenting));
        return icon;
    }
    const D3DDDIARG_BLT& lastBlt() { return m_gpu.blts.back(); }

    FakeGpu m_gpu;
    FakeDevice m_device{m_gpu};
};

TEST_F(IconTest, TextureIsTheOpaquePictureInVideoMemory) {
    auto icon = makeIcon(kIconUpperRight);
    ASSERT_TRUE(icon->ready());
    ASSERT_EQ(1u, m_gpu.creates.size());
    const D3DDDIARG_CREATERESOURCE& create = m_gpu.creates[0];
    EXPECT_EQ(D3DDDIFMT_A8R8G8B8, create.Format);
    EXPECT_EQ(D3DDDIPOOL_VIDEOMEMORY, create.Pool);
    EXPECT_EQ(D3DDDI_RESOURCEFLAGS::Texture, create.Flags.Value);
    EXPECT_EQ(1u, create.SurfCount);
    EXPECT_EQ(180u, m_gpu.createdSurfaces[0].Width);
    EXPECT_EQ(89u, m_gpu.createdSurfaces[0].Height);
    EXPECT_EQ(720u, m_gpu.createdSurfaces[0].SysMemPitch);
    // Every row lands at the driver's pitch; every pixel is opaque.
    for (unsigned row = 0; row < kVessaIconHeight; ++row) {
        const uint8_t* pRow = m_gpu.lockedMemory.data() + row * m_gpu.lockPitch;
        ASSERT_EQ(0, memcmp(pRow, kVessaIconImage + row * kVessaIconPitch, kVessaIconPitch));
        for (unsigned x = 0; x < kVessaIconWidth; ++x)
            ASSERT_EQ(0xff, pRow[x * 4 + 3]) << "row " << row << " column " << x;
    }
    EXPECT_EQ(1, m_gpu.unlocks);
    icon->destroyResources(kPresenting);
}

TEST_F(IconTest, UpperRightOf1280x720IsCopiedPointForPoint) {
    auto icon = makeIcon(kIconUpperRight);
    icon->setBackBufferSize(1280, 720);
    ASSERT_EQ(S_OK, icon->draw(kPresenting, kBackBuffer, 2));
    ASSERT_EQ(1u, m_gpu.blts.size());
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 1100, 0, 1280, 89));
    EXPECT_TRUE(sameRect(lastBlt().SrcRect, 0, 0, 180, 89));
    EXPECT_EQ(kBackBuffer, lastBlt().hDstResource);
    EXPECT_EQ(2u, lastBlt().DstSubResourceIndex);
    EXPECT_EQ(icon->resource(kPresenting), lastBlt().hSrcResource);
    EXPECT_EQ(D3DDDI_BLTFLAGS::Point, lastBlt().Flags.Value);
    icon->destroyResources(kPresenting);
}

TEST_F(IconTest, ModeSwitchMovesTheIconToTheNewCorner) {
    auto icon = makeIcon(kIconLowerRight);
    icon->setBackBufferSize(1280, 720);
    icon->draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 1100, 631, 1280, 720));
    icon->setBackBufferSize(800, 600);
    icon->draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 620, 511, 800, 600));
    icon->destroyResources(kPresenting);
}

TEST_F(IconTest, ASizeChangeInOneDimensionAloneStillMovesTheIcon) {
    auto icon = makeIcon(kIconLowerRight);
    icon->setBackBufferSize(1280, 720);
    icon->setBackBufferSize(1024, 720); // the width alone
    icon->draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 844, 631, 1024, 720));
    icon->setBackBufferSize(1024, 600); // the height alone
    icon->draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 844, 511, 1024, 600));
    icon->destroyResources(kPresenting);
}

TEST_F(IconTest, EachIconKeepsItsOwnRectangle) {
    auto large = makeIcon(kIconLowerLeft);
    auto small = makeIcon(kIconLowerLeft);
    large->setBackBufferSize(1920, 1080);
    small->setBackBufferSize(640, 480);
    large->draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 0, 991, 180, 1080));
    small->draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 0, 391, 180, 480));
    large->destroyResources(kPresenting);
    small->destroyResources(kPresenting);
}

TEST_F(IconTest, BackBufferSmallerThanTheIconIsLeftAlone) {
    auto icon = makeIcon(kIconLowerRight);
    for (auto size : {std::pair<uint32_t, uint32_t>{179, 600}, {640, 88}, {100, 50}}) {
        icon->setBackBufferSize(size.first, size.second);
        EXPECT_EQ(S_OK, icon->draw(kPresenting, kBackBuffer, 0));
    }
    EXPECT_TRUE(m_gpu.blts.empty());
    // Exactly the icon's size takes it whole.
    icon->setBackBufferSize(180, 89);
    icon->draw(kPresenting, kBackBuffer, 0);
    ASSERT_EQ(1u, m_gpu.blts.size());
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 0, 0, 180, 89));
    icon->destroyResources(kPresenting);
}

TEST_F(IconTest, UnknownCornerKeepsTheRectangle) {
    auto icon = makeIcon(7);
    icon->setBackBufferSize(1280, 720);
    icon->draw(kPresenting, kBackBuffer, 0);
    ASSERT_EQ(1u, m_gpu.blts.size());
    EXPECT_TRUE(sameRect(lastBlt().DstRect, 0, 0, 180, 89));
    icon->destroyResources(kPresenting);
}

TEST_F(IconTest, FailedCreationDrawsNothingAndNeverDestroysHandleZero) {
    m_gpu.createResult = E_OUTOFMEMORY;
    VessaIconDDi9 icon(kIconUpperLeft, false, m_device.get(), m_device.funcs());
    EXPECT_EQ(E_OUTOFMEMORY, icon.createResources(kPresenting));
    EXPECT_FALSE(icon.ready());
    icon.setBackBufferSize(1280, 720);
    icon.draw(kPresenting, kBackBuffer, 0);
    icon.destroyResources(kPresenting);
    EXPECT_TRUE(m_gpu.blts.empty());
    EXPECT_TRUE(m_gpu.destroyed.empty());
}

TEST_F(IconTest, FailedLockHidesTheIconButFreesItsTexture) {
    m_gpu.lockResult = E_FAIL;
    VessaIconDDi9 icon(kIconUpperLeft, false, m_device.get(), m_device.funcs());
    EXPECT_EQ(E_FAIL, icon.createResources(kPresenting));
    EXPECT_FALSE(icon.ready());
    const HANDLE texture = icon.resource(kPresenting);
    ASSERT_NE(nullptr, texture);
    icon.destroyResources(kPresenting);
    ASSERT_EQ(1u, m_gpu.destroyed.size());
    EXPECT_EQ(texture, m_gpu.destroyed[0]);
    EXPECT_EQ(nullptr, icon.resource(kPresenting));
}

TEST_F(IconTest, NullBackBufferIsReportedAndSkipped) {
    auto icon = makeIcon(kIconUpperLeft);
    icon->setBackBufferSize(1280, 720);
    EXPECT_EQ(E_INVALIDARG, icon->draw(kPresenting, nullptr, 0));
    EXPECT_TRUE(m_gpu.blts.empty());
    icon->destroyResources(kPresenting);
}

TEST_F(IconTest, HiddenIconCreatesNoTexture) {
    Configuration::getInstance()->setProperty(ConfigProperty::hide_vessa_icon, 1);
    VessaIconDDi9 icon(kIconUpperLeft, false, m_device.get(), m_device.funcs());
    icon.createResources(kPresenting);
    Configuration::getInstance()->setProperty(ConfigProperty::hide_vessa_icon, 0);
    EXPECT_FALSE(icon.ready());
    EXPECT_TRUE(m_gpu.creates.empty());
    icon.setBackBufferSize(1280, 720);
    icon.draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(m_gpu.blts.empty());
}

} // namespace
#include "sim/Clock.h"

namespace {

TEST_F(IconTest, TimedIconShowsForItsFirstEightSecondsOnly) {
    sim::Clock& clock = sim::Clock::instance();
    clock.setMode(sim::Clock::Mode::Virtual);
    auto icon = makeIcon(kIconUpperLeft, true);
    icon->setBackBufferSize(1280, 720);
    const uint64_t second = 1000000000ull;
    icon->draw(kPresenting, kBackBuffer, 0); // starts the display
    clock.sleepFor(8 * second);
    icon->draw(kPresenting, kBackBuffer, 0);
    EXPECT_EQ(2u, m_gpu.blts.size());
    EXPECT_FALSE(icon->expired());
    clock.sleepFor(second); // more than 8 s: drawn this once more, then gone
    icon->draw(kPresenting, kBackBuffer, 0);
    EXPECT_TRUE(icon->expired());
    icon->draw(kPresenting, kBackBuffer, 0);
    clock.sleepFor(100 * second);
    icon->draw(kPresenting, kBackBuffer, 0);
    EXPECT_EQ(3u, m_gpu.blts.size());
    icon->destroyResources(kPresenting);
    clock.setMode(sim::Clock::Mode::Real);
}

} // namespace
