// The pacing decision on the machine's virtual clock: ORR drops in proportion to the excess
// over the target rate, ZARI waits for the presenting GPU's event query without ever waiting.
#include "FlipManager.h"

#include "PacingTestSupport.h"
#include "sim/Clock.h"

#include <gtest/gtest.h>

using pacingtest::FakeDevice;
using pacingtest::FakeGpu;

namespace {

constexpr uint64_t kSecondNs = 1000000000ull;

class PacingTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Clock::instance().setMode(sim::Clock::Mode::Virtual);
        m_flip = std::make_unique<FlipManager>(m_device.get(), m_device.get()->m_pSwapChain, true);
        // The display the pacing aims at: 60 Hz, no margin.
        m_flip->m_refreshRate = 60;
        m_flip->m_targetRate = 60;
    }
    void TearDown() override { sim::Clock::instance().setMode(sim::Clock::Mode::Real); }

    /// One Present of an application running at `fps`: true when it repeats. As the Present
    /// route does, the decision is read (twice: the drop check reads it too) and then
    /// released for the next Present.
    bool present(double fps) {
        sim::Clock::instance().sleepFor(uint64_t(double(kSecondNs) / fps));
        const bool repeat = m_flip->shouldRepeat();
        EXPECT_EQ(repeat, m_flip->shouldRepeat()) << "decided twice in one Present";
        m_flip->m_decisionPending = true;
        return repeat;
    }
    int repeatsOf(int presents, double fps) {
        int repeats = 0;
        for (int i = 0; i < presents; ++i)
            repeats += present(fps) ? 1 : 0;
        return repeats;
    }

    FakeGpu m_gpu;
    FakeDevice m_device{m_gpu};
    std::unique_ptr<FlipManager> m_flip;
};

TEST_F(PacingTest, StartsWithTheDocumentedState) {
    EXPECT_FALSE(m_flip->m_decision);
    EXPECT_TRUE(m_flip->m_decisionPending);
    EXPECT_FALSE(m_flip->m_frameDropped);
    EXPECT_EQ(-1, m_flip->m_presentInterval);
    EXPECT_EQ(0.0f, m_flip->m_measuredRate);
    EXPECT_EQ(nullptr, m_flip->pendingQuery());
    // The simulated display runs at a real rate, which the pacing takes as its refresh.
    FlipManager fresh(m_device.get(), m_device.get()->m_pSwapChain, true);
    EXPECT_GT(fresh.m_refreshRate, 1u);
    EXPECT_EQ(fresh.m_refreshRate, fresh.m_targetRate);
}

TEST_F(PacingTest, FirstFivePresentsMeasureNothingAndDropNothing) {
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(present(3000.0)) << "present " << i;
        EXPECT_EQ(0.0f, m_flip->m_measuredRate);
        EXPECT_EQ(0.0f, m_flip->m_dropAccumulator);
    }
    present(3000.0);
    EXPECT_NEAR(3000.0f, m_flip->m_measuredRate, 1.0f);
}

TEST_F(PacingTest, At120FpsOn60HzEverySecondPresentRepeats) {
    repeatsOf(12, 120.0); // the rate is known from the sixth present on
    bool previous = present(120.0);
    for (int i = 0; i < 200; ++i) {
        const bool repeat = present(120.0);
        ASSERT_NE(previous, repeat) << "present " << i;
        previous = repeat;
    }
}

TEST_F(PacingTest, At3000FpsAbout97Of100Repeat) {
    repeatsOf(12, 3000.0);
    const int repeats = repeatsOf(1000, 3000.0);
    EXPECT_GE(repeats, 965);
    EXPECT_LE(repeats, 975);
}

TEST_F(PacingTest, BelowTheTargetNothingIsDropped) {
    EXPECT_EQ(0, repeatsOf(300, 59.0));
}

TEST_F(PacingTest, VsyncRequestedDropsNothingAndKeepsTheAccumulator) {
    repeatsOf(20, 3000.0);
    const float accumulator = m_flip->m_dropAccumulator;
    m_flip->m_vsyncRequested = true;
    EXPECT_EQ(0, repeatsOf(300, 3000.0));
    EXPECT_EQ(accumulator, m_flip->m_dropAccumulator);
}

TEST_F(PacingTest, WithoutOrrNothingIsDropped) {
    FlipManager plain(m_device.get(), m_device.get()->m_pSwapChain, false);
    for (int i = 0; i < 100; ++i) {
        sim::Clock::instance().sleepFor(kSecondNs / 3000);
        ASSERT_FALSE(plain.shouldRepeat());
        plain.m_decisionPending = true;
    }
}

TEST_F(PacingTest, ResetForgetsTheMeasuredRate) {
    repeatsOf(30, 3000.0);
    m_flip->resetPacing();
    EXPECT_EQ(0.0f, m_flip->m_measuredRate);
    EXPECT_EQ(0.0f, m_flip->m_dropAccumulator);
    EXPECT_EQ(0, repeatsOf(5, 3000.0));
}

TEST_F(PacingTest, ZariRepeatsWhileTheQueryIsPendingThenShowsANewFrame) {
    m_flip->setZari(true);
    m_gpu.busyPolls = 3;
    EXPECT_FALSE(present(1000.0)); // a new frame, and a query behind it
    EXPECT_EQ(1, m_gpu.queriesIssued);
    EXPECT_NE(nullptr, m_flip->pendingQuery());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(present(1000.0)) << "poll " << i;
    EXPECT_FALSE(present(1000.0)); // done: destroyed, and the next frame's query issued
    EXPECT_EQ(1, m_gpu.queriesDestroyed);
    EXPECT_EQ(2, m_gpu.queriesIssued);
    EXPECT_EQ(1, m_gpu.mostLiveQueries);
    // One poll per Present, however often the decision is read.
    EXPECT_EQ(4, m_gpu.queryPolls);
}

TEST_F(PacingTest, ZariTakesAQueryErrorAsDone) {
    m_flip->setZari(true);
    m_gpu.busyPolls = 1000;
    EXPECT_FALSE(present(1000.0));
    EXPECT_TRUE(present(1000.0));
    m_gpu.queryError = D3DERR_DEVICELOST; // a lost device never finishes its query
    EXPECT_FALSE(present(1000.0));
    EXPECT_FALSE(m_flip->shouldRepeat());
}

TEST_F(PacingTest, ZariWithoutQueriesShowsEveryFrame) {
    m_flip->setZari(true);
    m_device.funcs()[0].pfnCreateQuery = nullptr;
    EXPECT_EQ(0, repeatsOf(20, 1000.0));
    m_device.funcs()[0].pfnCreateQuery = &pacingtest::entries::createQuery;
    m_gpu.createQueryResult = E_OUTOFMEMORY;
    EXPECT_EQ(0, repeatsOf(20, 1000.0));
    EXPECT_EQ(nullptr, m_flip->pendingQuery());
}

TEST_F(PacingTest, ZariWithoutAPresentingDeviceShowsEveryFrame) {
    m_flip->setZari(true);
    m_device.get()->setUserHandle(0, 0);
    EXPECT_EQ(0, repeatsOf(10, 1000.0));
    EXPECT_EQ(0, m_gpu.queriesCreated);
}

} // namespace
