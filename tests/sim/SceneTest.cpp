// The simulated application in direct mode: each scene rendered straight on one GPU's
// driver reaches that GPU's display exactly as the CPU oracle draws it (these frames are
// the reference for interposed runs), the journal shows the calls on that GPU, scripts come
// from scenario files, and several devices on several threads run side by side.
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using sim::app::AppPath;
using sim::app::AppScript;
using sim::app::RunReport;
using sim::app::SceneKind;
using sim::app::SceneRunner;

sim::Journal& journal() {
    return sim::Machine::instance().journal();
}

AppScript script(SceneKind scene, const char* gpu, uint32_t frames) {
    AppScript s;
    s.scene = scene;
    s.gpu = gpu;
    s.frames = frames;
    s.rate = 0;
    return s;
}

// Runs a script and compares every presented frame with the oracle.
void runAndCompare(const AppScript& s, RunReport& report) {
    uint32_t mismatches = 0;
    sim::Display::instance().clear();
    auto check = [&](uint32_t frame) {
        // The present is queued; the frame is compared once the GPU has shown it.
        ASSERT_TRUE(sim::Display::instance().waitForCount(report.displayGpu, report.vidPnSourceId,
                                                          frame + 1));
        sim::ScanOut shown;
        ASSERT_TRUE(sim::Display::instance().last(report.displayGpu, report.vidPnSourceId, shown));
        sim::Image expected;
        SceneRunner::expectedFrame(s, report, frame, expected);
        ASSERT_EQ(expected.width, shown.image.width);
        ASSERT_EQ(expected.height, shown.image.height);
        if (!sim::app::compareFrames(expected, shown.image).equal())
            ++mismatches;
    };
    // The report's geometry is known once the run starts; the observer reads it then.
    ASSERT_EQ(S_OK, SceneRunner::run(s, report, check)) << report.failure;
    EXPECT_EQ(0u, mismatches);
    EXPECT_EQ(s.frames, report.framesPresented);
}

struct DirectCase {
    const char* name;
    SceneKind scene;
    const char* gpu;
    int gpuIndex;
    const char* module;
};

/// Installs the machine with a monitor on every GPU: a direct run presents on the GPU it
/// renders on, which a GPU without a monitor cannot.
void installMonitorOnEveryGpu() {
    std::string error;
    ASSERT_TRUE(sim::installMachine(sim::presets::monitorOnEveryGpu(), &error)) << error;
}

class DirectModeTest : public ::testing::TestWithParam<DirectCase> {
protected:
    void SetUp() override { installMonitorOnEveryGpu(); }
};

TEST_P(DirectModeTest, FramesOnTheDisplayMatchTheOracle) {
    const DirectCase& c = GetParam();
    sim::Display::instance().clear();
    AppScript s = script(c.scene, c.gpu, 6);
    RunReport report;
    runAndCompare(s, report);
    EXPECT_EQ(c.gpuIndex, report.gpu);
    EXPECT_EQ(6u, sim::Display::instance().count(c.gpuIndex, 0));
    EXPECT_EQ(6u, journal().count("gdi32.dll", "D3DKMTPresent", c.gpuIndex));
    EXPECT_EQ(6u, journal().count(c.module, "Present", c.gpuIndex));
    EXPECT_GE(journal().count(c.module, "ColorFill", c.gpuIndex), 6u * 4);
    EXPECT_EQ(12u, journal().count(c.module, "Blt", c.gpuIndex));
    int other = 1 - c.gpuIndex;
    EXPECT_EQ(0u, journal().count("gdi32.dll", "D3DKMTPresent", other));
    // Everything the run created is gone again.
    EXPECT_EQ(0u, sim::Kernel::instance().counts().allocations);
}

INSTANTIATE_TEST_SUITE_P(
    DefaultMachine, DirectModeTest,
    ::testing::Values(DirectCase{"IntelFlip", SceneKind::Rectangles, "intel", 0,
                                 "simumd_intel.dll"},
                      DirectCase{"NvidiaFlip", SceneKind::Rectangles, "nvidia", 1, "simumd_nv.dll"},
                      DirectCase{"IntelWindowed", SceneKind::Windowed, "0", 0, "simumd_intel.dll"},
                      DirectCase{"NvidiaWindowed", SceneKind::Windowed, "1", 1, "simumd_nv.dll"}),
    [](const ::testing::TestParamInfo<DirectCase>& info) { return std::string(info.param.name); });

TEST(DirectMode, ChosenSizeAndBackBuffersAreHonoured) {
    AppScript s = script(SceneKind::Rectangles, "", 4);
    // A full-screen size is one of the display's modes, which the run switches to.
    s.width = 640;
    s.height = 480;
    s.backBuffers = 3;
    RunReport report;
    runAndCompare(s, report);
    EXPECT_EQ(0, report.gpu); // the primary display's GPU
    EXPECT_EQ(640u, report.width);
}

// A game that changes resolution mid-run: a new flip chain, a new display mode; every frame,
// before and after, is the oracle's at its size, and the display scans out in the new mode.
TEST(DirectMode, AModeSwitchMidRunChangesTheScanOutAndTheOracle) {
    installMonitorOnEveryGpu();
    AppScript s = script(SceneKind::Rectangles, "intel", 8);
    s.switchFrame = 4;
    s.switchWidth = 1024;
    s.switchHeight = 768;
    RunReport report;
    uint32_t shownWidth = 0;
    auto check = [&](uint32_t frame) {
        ASSERT_TRUE(sim::Display::instance().waitForCount(report.displayGpu, report.vidPnSourceId,
                                                          frame + 1));
        sim::ScanOut shown;
        ASSERT_TRUE(sim::Display::instance().last(report.displayGpu, report.vidPnSourceId, shown));
        sim::Image expected;
        SceneRunner::expectedFrame(s, report, frame, expected);
        EXPECT_TRUE(sim::app::compareFrames(expected, shown.image).equal()) << frame;
        EXPECT_EQ(shown.image.width, frame < 4 ? 1280u : 1024u) << frame;
        if (frame == 7) {
            sim::DisplayMode mode = sim::Kernel::instance().currentMode(0, 0);
            shownWidth = mode.width;
        }
    };
    sim::Display::instance().clear();
    ASSERT_EQ(S_OK, SceneRunner::run(s, report, check)) << report.failure;
    EXPECT_EQ(report.switchedFrame, 4u);
    EXPECT_EQ(shownWidth, 1024u); // the kernel's mode while the run owned the display
}

TEST(DirectMode, PacedRunTakesAboutItsFrameTime) {
    AppScript s = script(SceneKind::Rectangles, "intel", 5);
    s.rate = 100;
    s.width = 640;
    s.height = 480;
    RunReport report;
    ASSERT_EQ(S_OK, SceneRunner::run(s, report));
    // Five frames at 100 Hz cannot end before the fifth period began.
    EXPECT_GE(report.seconds, 0.04);
}

TEST(DirectMode, AFailingDriverEntryStopsTheRunWithItsStatus) {
    sim::Machine::instance().faults().failNth("simumd_intel.dll", "Present", 3,
                                              int64_t(D3DERR_DEVICELOST));
    AppScript s = script(SceneKind::Rectangles, "intel", 10);
    s.width = 640;
    s.height = 480;
    RunReport report;
    EXPECT_EQ(D3DERR_DEVICELOST, SceneRunner::run(s, report));
    EXPECT_EQ(2u, report.framesPresented);
    EXPECT_EQ("render and present a frame", report.failure);
    EXPECT_EQ(0u, sim::Kernel::instance().counts().allocations);
}

TEST(DirectMode, DevicesOnTwoThreadsRenderSideBySide) {
    installMonitorOnEveryGpu();
    sim::Display::instance().clear();
    RunReport reports[2];
    HRESULT results[2] = {E_FAIL, E_FAIL};
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([i, &reports, &results] {
            AppScript s = script(SceneKind::Rectangles, i == 0 ? "intel" : "nvidia", 20);
            s.width = 640;
            s.height = 480;
            results[i] = SceneRunner::run(s, reports[i]);
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(S_OK, results[i]) << reports[i].failure;
        EXPECT_EQ(20u, sim::Display::instance().count(i, 0));
        sim::ScanOut shown;
        ASSERT_TRUE(sim::Display::instance().last(i, 0, shown));
        sim::Image expected;
        SceneRunner::expectedFrame(script(SceneKind::Rectangles, "", 20), reports[i], 19, expected);
        EXPECT_TRUE(expected.pixels == shown.image.pixels) << "GPU " << i;
    }
}

TEST(FrameCompare, IgnoredRectanglesAndSizesAreHonoured) {
    sim::Image a, b;
    a.width = b.width = 4;
    a.height = b.height = 2;
    a.pixels.assign(8, 1);
    b.pixels = a.pixels;
    EXPECT_TRUE(sim::app::compareFrames(a, b).equal());
    b.pixels[6] = 7; // (2,1)
    b.pixels[7] = 7; // (3,1)
    sim::app::FrameDifference d = sim::app::compareFrames(a, b);
    EXPECT_EQ(2u, d.differing);
    EXPECT_EQ(2u, d.firstX);
    EXPECT_EQ(1u, d.firstY);
    EXPECT_EQ(7u, d.actual);
    EXPECT_TRUE(sim::app::compareFrames(a, b, {{2, 1, 4, 2}}).equal());
    EXPECT_EQ(1u, sim::app::compareFrames(a, b, {{3, 0, 4, 2}}).differing);
    b.width = 8;
    b.height = 1;
    EXPECT_FALSE(sim::app::compareFrames(a, b).sameSize);
}

TEST(AppScripts, ScenarioSectionsBecomeScripts) {
    const char* text = "[machine]\n"
                       "base = default\n"
                       "[app first]\n"
                       "scene = windowed\n"
                       "frames = 3\n"
                       "rate = 0\n"
                       "gpu = nvidia\n"
                       "size = 320x240\n"
                       "[app second]\n"
                       "path = interposed\n"
                       "export = OpenAdapter9DetourIntel\n";
    sim::MachineDesc machine;
    std::vector<AppScript> scripts;
    std::string error;
    ASSERT_TRUE(sim::app::loadScenarioText(text, "t.scenario", machine, scripts, &error)) << error;
    ASSERT_EQ(2u, scripts.size());
    EXPECT_EQ("first", scripts[0].name);
    EXPECT_EQ(SceneKind::Windowed, scripts[0].scene);
    EXPECT_EQ(3u, scripts[0].frames);
    EXPECT_EQ(0.0, scripts[0].rate);
    EXPECT_EQ(1, sim::app::scriptGpu(scripts[0], machine));
    EXPECT_EQ(320u, scripts[0].width);
    EXPECT_EQ(AppPath::Interposed, scripts[1].path);
    EXPECT_EQ("vessad3d9u.dll", scripts[1].library);
    EXPECT_EQ(0, sim::app::scriptGpu(scripts[1], machine));
}

TEST(AppScripts, BadKeysAndValuesNameTheLine) {
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"colour = red", "unknown app key 'colour'"}, {"frames = 0", "bad value '0'"},
        {"rate = fast", "bad value 'fast'"},          {"path = sideways", "bad value 'sideways'"},
        {"size = 10x10", "bad value '10x10'"},        {"scene = teapot", "bad value 'teapot'"},
        {"icon-corner = top", "bad value 'top'"},     {"exe = ", "bad value ''"},
        {"mode-switch = 10", "bad value '10'"},       {"mode-switch = 0 1024x768", "bad value"}};
    for (const Case& c : cases) {
        std::string text = std::string("[machine]\nbase = default\n[app x]\n") + c.line + "\n";
        sim::MachineDesc machine;
        std::vector<AppScript> scripts;
        std::string error;
        EXPECT_FALSE(sim::app::loadScenarioText(text, "bad.scenario", machine, scripts, &error));
        EXPECT_NE(std::string::npos, error.find("bad.scenario:4")) << error;
        EXPECT_NE(std::string::npos, error.find(c.message)) << error;
    }
}

TEST(AppScripts, ExampleScenarioFilesLoad) {
    for (const char* name : {"demo-direct.scenario", "demo-interposed.scenario"}) {
        sim::MachineDesc machine;
        std::vector<AppScript> scripts;
        std::string error;
        EXPECT_TRUE(sim::app::loadScenario(std::string(SIM_SCENARIO_DIR) + "/" + name, machine,
                                           scripts, &error))
            << error;
        EXPECT_FALSE(scripts.empty()) << name;
    }
}

} // namespace
