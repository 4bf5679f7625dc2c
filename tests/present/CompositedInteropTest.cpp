// Windowed presents through the desktop compositor on an interposed device whose frames cross
// by the interop library: the compositor reads the window's surface right after the
// application's Blt into it, so every composition must show the frame just presented, also
// after the staging buffers have gone round several times. The same holds for a window
// presented by Blt without the compositor: no later present carries a frame left behind.
#include "../interop/InteropFixture.h"

#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using sim::app::AppScript;
using sim::app::SceneRunner;

struct CopyCase {
    const char* name;
    const char* syncCopy;
    bool withInterop;
    sim::app::SceneKind scene = sim::app::SceneKind::Composited;
};

void PrintTo(const CopyCase& c, std::ostream* os) {
    *os << c.name;
}

class CompositedInteropTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CompositedInteropTest, EveryCompositionShowsTheFrameJustPresented) {
    const CopyCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(interoptest::installMachine(
        interoptest::virtualMachine(), {{"use_orr_dx9", "1"}, {"should_umd_sync_copy", c.syncCopy}},
        c.withInterop));
    sim::Display::instance().clear();

    AppScript s;
    s.name = "composited";
    s.scene = c.scene;
    s.path = sim::app::AppPath::Interposed;
    s.frames = 14; // more than three rounds of the four staging buffers
    s.rate = 60.0;
    sim::app::RunReport report;
    uint32_t compared = 0;
    std::string wrong;
    auto check = [&](uint32_t frame) {
        ASSERT_TRUE(sim::Display::instance().waitForCount(interoptest::kIntel, report.vidPnSourceId,
                                                          frame + 1));
        sim::ScanOut shown;
        ASSERT_TRUE(
            sim::Display::instance().last(interoptest::kIntel, report.vidPnSourceId, shown));
        sim::Image expected;
        SceneRunner::expectedFrame(s, report, frame, expected);
        ASSERT_EQ(expected.width, shown.image.width);
        const RECT icon = {0, 0, 180, 89};
        ++compared;
        if (!sim::app::compareFrames(expected, shown.image, {icon}).equal())
            wrong += " " + std::to_string(frame);
    };
    ASSERT_EQ(S_OK, SceneRunner::run(s, report, check)) << report.failure;
    EXPECT_EQ(14u, compared);
    EXPECT_EQ("", wrong) << "frames the compositor showed stale";
}

INSTANTIATE_TEST_SUITE_P(Copies, CompositedInteropTest,
                         ::testing::Values(CopyCase{"SynchronousInterop", "1", true},
                                           CopyCase{"ApiCopy", "1", false},
                                           CopyCase{"WindowedSynchronousInterop", "1", true,
                                                    sim::app::SceneKind::Windowed}),
                         [](const ::testing::TestParamInfo<CopyCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
