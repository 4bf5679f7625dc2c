// Frames through the library on the default machine: the simulated runtime opens the Intel
// display's adapter through vessad3d9u.dll, the scene renders on the NVIDIA GPU, and every
// frame the Intel display shows equals the frame the same scene renders directly (outside
// the icon's rectangle).
#include "platform/win.h"
#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sim::app::AppPath;
using sim::app::AppScript;
using sim::app::RunReport;
using sim::app::SceneKind;
using sim::app::SceneRunner;

constexpr int kIntel = 0;
constexpr int kNvidia = 1;

std::string log() {
    std::string contents;
    sim::Machine::instance().root().readFile(u"c:\\vessa.log", contents);
    return contents;
}

size_t calls(const char* module, const char* entry, int gpu) {
    return sim::Machine::instance().journal().count(module, entry, gpu);
}

class InterposedPresentTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::installMachine(sim::presets::defaultMachine(), &error)) << error;
        sim::Clock::instance().setMode(sim::Clock::Mode::Virtual);
        sim::Display::instance().clear();
    }
    void TearDown() override { sim::Clock::instance().setMode(sim::Clock::Mode::Real); }

    static AppScript interposedFlip(uint32_t frames) {
        AppScript s;
        s.name = "interposed-flip";
        s.path = AppPath::Interposed;
        s.frames = frames;
        s.rate = 60.0;
        s.interval = 1; // vsync: the pacing shows every frame
        return s;
    }
};

/// Runs `s` and counts the frames the Intel display showed that differ from the oracle
/// outside the icon (without user settings it is shown in the upper left corner).
void runAndCompare(const AppScript& s, RunReport& report, uint32_t& compared, uint32_t& mismatches,
                   std::string& firstMismatch) {
    auto check = [&](uint32_t frame) {
        ASSERT_TRUE(sim::Display::instance().waitForCount(kIntel, report.vidPnSourceId, frame + 1))
            << "frame " << frame << " never reached the Intel display";
        sim::ScanOut shown;
        ASSERT_TRUE(sim::Display::instance().last(kIntel, report.vidPnSourceId, shown));
        sim::Image expected;
        SceneRunner::expectedFrame(s, report, frame, expected);
        ASSERT_EQ(expected.width, shown.image.width);
        ASSERT_EQ(expected.height, shown.image.height);
        const RECT icon = {0, 0, 180, 89};
        const sim::app::FrameDifference d = sim::app::compareFrames(expected, shown.image, {icon});
        ++compared;
        if (!d.equal() && mismatches++ == 0)
            firstMismatch = "frame " + std::to_string(frame) + " at (" + std::to_string(d.firstX) +
                            "," + std::to_string(d.firstY) + ")";
    };
    ASSERT_EQ(S_OK, SceneRunner::run(s, report, check)) << report.failure << "\n" << log();
}

TEST_F(InterposedPresentTest, FlipScenarioIsPixelExactOnTheIntelDisplay) {
    const AppScript s = interposedFlip(300);
    RunReport report;
    uint32_t compared = 0, mismatches = 0;
    std::string firstMismatch;
    ASSERT_NO_FATAL_FAILURE(runAndCompare(s, report, compared, mismatches, firstMismatch));
    EXPECT_EQ(kIntel, report.displayGpu);
    EXPECT_EQ(300u, compared);
    EXPECT_EQ(0u, mismatches) << firstMismatch;
    // Rendered on the NVIDIA GPU, shown on the Intel GPU: nothing reaches a display of the
    // NVIDIA GPU, and every Present reaches the Intel driver.
    EXPECT_EQ(0u, sim::Display::instance().count(kNvidia, 0));
    EXPECT_EQ(300u, calls("simumd_intel.dll", "Present", kIntel));
    EXPECT_GT(calls("simumd_nv.dll", "DrawPrimitive", kNvidia) +
                  calls("simumd_nv.dll", "Blt", kNvidia),
              0u);
}

TEST_F(InterposedPresentTest, WindowedScenarioIsPixelExactOnTheIntelDisplay) {
    AppScript s = interposedFlip(120);
    s.name = "interposed-windowed";
    s.scene = SceneKind::Windowed;
    RunReport report;
    uint32_t compared = 0, mismatches = 0;
    std::string firstMismatch;
    ASSERT_NO_FATAL_FAILURE(runAndCompare(s, report, compared, mismatches, firstMismatch));
    EXPECT_EQ(120u, compared);
    EXPECT_EQ(0u, mismatches) << firstMismatch;
    EXPECT_EQ(0u, sim::Display::instance().count(kNvidia, 0));
}

} // namespace
