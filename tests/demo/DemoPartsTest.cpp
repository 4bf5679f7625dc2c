// The demo's judgement of a run: which application frame each scan-out shows (new, repeated,
// mismatched, or gone before it was looked at, with the icon's rectangle left out), the
// pacing figures drawn from that, the transfer path read from the journal, and the run
// summary's crossing from the run's process to the report.
#include "DemoReport.h"
#include "RunJournal.h"
#include "RunSummary.h"
#include "ScanOutChecker.h"

#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/Presets.h"

#include <gtest/gtest.h>

namespace {

using demo::ShownFrame;
using Kind = demo::ShownFrame::Kind;

class ScanOutCheckerTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Display::instance().clear();
        sim::Display::instance().setKeepLimit(16);
        m_script.scene = sim::app::SceneKind::Rectangles;
        m_report.displayGpu = 0;
        m_report.vidPnSourceId = 0;
        m_report.width = m_report.displayWidth = 320;
        m_report.height = m_report.displayHeight = 200;
    }
    void TearDown() override {
        sim::Display::instance().clear();
        sim::Display::instance().setKeepLimit(16);
    }

    sim::Image frame(uint32_t n) const {
        sim::Image image;
        sim::app::SceneRunner::expectedFrame(m_script, m_report, n, image);
        return image;
    }
    void show(const sim::Image& image, uint64_t timeNs) {
        sim::ScanOut s;
        s.gpu = 0;
        s.vidPnSourceId = 0;
        s.timeNs = timeNs;
        s.image = image;
        sim::Display::instance().record(s);
    }

    sim::app::AppScript m_script;
    sim::app::RunReport m_report;
};

TEST_F(ScanOutCheckerTest, TellsNewRepeatedAndMismatchedFramesApartOutsideTheIcon) {
    demo::ScanOutChecker checker(m_script);
    checker.setIconCorner("UR");
    show(frame(0), 1'000'000);
    show(frame(0), 17'000'000); // the same frame again
    checker.check(m_report, 1);
    show(frame(2), 33'000'000); // frame 1 was dropped
    sim::Image withIcon = frame(3);
    for (uint32_t y = 0; y < 89; ++y)
        withIcon.pixels[size_t(y) * 320 + 319 - y] = 0xFF123456u; // inside the icon
    show(withIcon, 50'000'000);
    sim::Image damaged = frame(4);
    damaged.pixels[size_t(150) * 320 + 10] ^= 0x00FFFFFFu;
    show(damaged, 67'000'000);
    checker.check(m_report, 4);

    const std::vector<ShownFrame>& shown = checker.shown();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].kind, Kind::New);
    EXPECT_EQ(shown[1].kind, Kind::Repeated);
    EXPECT_EQ(shown[1].frame, 0);
    EXPECT_EQ(shown[2].kind, Kind::New);
    EXPECT_EQ(shown[2].frame, 2);
    EXPECT_EQ(shown[3].kind, Kind::New);
    EXPECT_EQ(shown[3].frame, 3);
    EXPECT_EQ(shown[4].kind, Kind::Mismatched);
    EXPECT_NE(checker.firstDifference().find("at (10,150)"), std::string::npos)
        << checker.firstDifference();
    EXPECT_EQ(checker.iconFrames(), 1u); // frame 3 carried something in the icon's corner

    demo::RunSummary s;
    demo::summariseShown(shown, s);
    EXPECT_EQ(s.scanOuts, 5u);
    EXPECT_EQ(s.compared, 5u);
    EXPECT_EQ(s.newFrames, 3u);
    EXPECT_EQ(s.repeated, 1u);
    EXPECT_EQ(s.exact, 4u);
    EXPECT_EQ(s.mismatched, 1u);
    // New frames at 1, 33 and 50 ms: intervals 32 and 17 ms.
    EXPECT_DOUBLE_EQ(s.worstNewIntervalMs, 32.0);
    EXPECT_DOUBLE_EQ(s.meanNewIntervalMs, 24.5);
    EXPECT_FALSE(s.allExact());
}

TEST_F(ScanOutCheckerTest, WithoutAnIconEveryPixelCountsAndAnOlderFrameIsNoRepeat) {
    demo::ScanOutChecker checker(m_script);
    sim::Image withIcon = frame(1);
    withIcon.pixels[319] = 0xFF000000u; // upper right corner
    show(frame(2), 1);
    show(withIcon, 2);
    checker.check(m_report, 2);
    ASSERT_EQ(checker.shown().size(), 2u);
    EXPECT_EQ(checker.shown()[0].kind, Kind::New);
    EXPECT_EQ(checker.shown()[1].kind, Kind::Mismatched);
}

TEST_F(ScanOutCheckerTest, FramesGoneFromTheDisplaysMemoryAreCountedAsUnchecked) {
    sim::Display::instance().setKeepLimit(2);
    demo::ScanOutChecker checker(m_script);
    for (uint32_t n = 0; n < 4; ++n)
        show(frame(n), 1000 * (n + 1));
    checker.check(m_report, 3);
    ASSERT_EQ(checker.shown().size(), 4u);
    EXPECT_EQ(checker.shown()[0].kind, Kind::Unchecked);
    EXPECT_EQ(checker.shown()[1].kind, Kind::Unchecked);
    EXPECT_EQ(checker.shown()[1].timeNs, 2000u);
    EXPECT_EQ(checker.shown()[2].kind, Kind::New);
    EXPECT_EQ(checker.shown()[3].kind, Kind::New);
    demo::RunSummary s;
    s.ok = true;
    demo::summariseShown(checker.shown(), s);
    EXPECT_EQ(s.scanOuts, 4u);
    EXPECT_EQ(s.compared, 2u);
    EXPECT_FALSE(s.allExact()); // not every shown frame was seen
}

TEST(IconRectanglesTest, SitInTheirCornerAndAreClippedToTheSurface) {
    auto r = demo::iconRectangles("UR", 1280, 720);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].left, 1100);
    EXPECT_EQ(r[0].top, 0);
    EXPECT_EQ(r[0].right, 1280);
    EXPECT_EQ(r[0].bottom, 89);
    r = demo::iconRectangles("LL", 100, 50);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].left, 0);
    EXPECT_EQ(r[0].top, 0);
    EXPECT_EQ(r[0].right, 100);
    EXPECT_EQ(r[0].bottom, 50);
    EXPECT_TRUE(demo::iconRectangles("", 1280, 720).empty());
}

sim::JournalEntry entry(const char* module, const char* name, int gpu, uint64_t timeNs,
                        const char* arguments = "") {
    sim::JournalEntry e;
    e.module = module;
    e.entry = name;
    e.gpu = gpu;
    e.timeNs = timeNs;
    e.arguments = arguments;
    return e;
}

TEST(RunJournalTest, TellsTheTransferPathAndTimesTheStages) {
    sim::MachineDesc machine = sim::presets::defaultMachine(); // 0 Intel, 1 NVIDIA
    std::vector<sim::JournalEntry> sharedBlock = {
        entry("gdi32.dll", "D3DKMTCreateAllocation", 1, 1, "[0 primary=0 source=0 sysmem=0x7f10]"),
        entry("gdi32.dll", "D3DKMTCreateAllocation", 0, 2, "[0 primary=0 source=0 sysmem=0x7f10]"),
        entry("simumd_intel.dll", "Blt", 0, 30),
        entry("simumd_intel.dll", "Present", 0, 40),
        entry("simumd_intel.dll", "Present", 0, 50),
    };
    demo::JournalStages stages = demo::readStages(sharedBlock, machine, 1, 0, true);
    EXPECT_NE(stages.transferPath.find("shared by both GPUs"), std::string::npos);
    EXPECT_EQ(stages.transfers, std::vector<uint64_t>({30}));
    EXPECT_EQ(stages.presentingPresents, std::vector<uint64_t>({40, 50}));

    std::vector<sim::JournalEntry> apiCopy = {
        entry("gdi32.dll", "D3DKMTCreateAllocation", 1, 1, "[0 primary=0 source=0 sysmem=0x7f10]"),
        entry("gdi32.dll", "D3DKMTCreateAllocation", 0, 2, "[0 primary=0 source=0 sysmem=0x8f10]"),
        entry("SIMUMD_NV.dll", "Lock", 1, 20),
        entry("simumd_intel.dll", "Lock", 0, 30),
    };
    stages = demo::readStages(apiCopy, machine, 1, 0, true);
    EXPECT_NE(stages.transferPath.find("API copy"), std::string::npos) << stages.transferPath;
    EXPECT_EQ(stages.transfers, std::vector<uint64_t>({20, 30}));

    sim::JournalEntry refused = entry("simumd_intel.dll", "Present", 0, 60);
    refused.result = -2147024809; // E_INVALIDARG: nothing was presented
    stages = demo::readStages({refused}, machine, 1, 0, true);
    EXPECT_TRUE(stages.presentingPresents.empty());
    EXPECT_NE(stages.transferPath.find("none seen"), std::string::npos);

    stages = demo::readStages(apiCopy, machine, -1, 0, true);
    EXPECT_NE(stages.transferPath.find("nothing was rendered"), std::string::npos);
    stages = demo::readStages(apiCopy, machine, 0, 0, false);
    EXPECT_NE(stages.transferPath.find("none (rendered and shown on one GPU)"), std::string::npos);
    EXPECT_TRUE(stages.transfers.empty());
}

TEST(RunSummaryTest, CrossesBetweenProcessesWhole) {
    demo::RunSummary s;
    s.name = "flip-orr";
    s.ok = true;
    s.result = "ok";
    s.gpu = 0;
    s.displayGpu = 0;
    s.framesPresented = 180;
    s.scanOuts = 91;
    s.newFrames = 90;
    s.repeated = 1;
    s.meanNewIntervalMs = 16.666666666666668;
    s.firstDifference = "two\nlines";
    s.pngs = {"a.png", "b.png"};
    s.counts = {"x!y on GPU 0: 3"};
    demo::RunSummary back;
    ASSERT_TRUE(back.parse(s.serialize()));
    EXPECT_EQ(back.name, "flip-orr");
    EXPECT_TRUE(back.ok);
    EXPECT_EQ(back.framesPresented, 180u);
    EXPECT_EQ(back.scanOuts, 91u);
    EXPECT_EQ(back.newFrames, 90u);
    EXPECT_EQ(back.repeated, 1u);
    EXPECT_DOUBLE_EQ(back.meanNewIntervalMs, s.meanNewIntervalMs);
    EXPECT_EQ(back.firstDifference, "two lines");
    EXPECT_EQ(back.pngs, s.pngs);
    EXPECT_EQ(back.counts, s.counts);
    EXPECT_FALSE(demo::RunSummary().parse("no fields here"));
}

TEST(DemoReportTest, SummaryJsonEscapesTextsAndGroupsRunsByMachine) {
    demo::DemoReport report;
    report.beginMachine("demo \"one\".scenario", sim::presets::defaultMachine());
    demo::RunSummary r;
    r.name = "a\\b";
    r.result = "0x80070057 create the swap chain";
    report.add(r);
    std::string json = report.json();
    EXPECT_NE(json.find("\"name\": \"a\\\\b\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"machine\": \"demo \\\"one\\\".scenario\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"ok\": false"), std::string::npos);
    EXPECT_NE(report.markdown().find("0x80070057 create the swap chain"), std::string::npos);
}

} // namespace

TEST(RunJournalTest, FramesCopiedOutByTheInteropLibraryAreItsTransfers) {
    sim::MachineDesc machine = sim::presets::defaultMachine();
    std::vector<sim::JournalEntry> interop = {
        entry("vessaInterop.dll", "injectBufferedSurfaceTransfer", sim::kNoGpu, 20),
        entry("vessaInterop.dll", "transferFromBufSurface", sim::kNoGpu, 30),
        entry("simumd_intel.dll", "Present", 0, 40),
    };
    interop.push_back(entry("vessaInterop.dll", "transferFromBufSurface", sim::kNoGpu, 45));
    interop.back().result = 0x00040100; // a refused copy brings no frame
    demo::JournalStages stages = demo::readStages(interop, machine, 1, 0, true);
    EXPECT_NE(stages.transferPath.find("vessaInterop.dll"), std::string::npos);
    EXPECT_EQ(stages.transfers, std::vector<uint64_t>({30}));
    EXPECT_EQ(stages.presentingPresents, std::vector<uint64_t>({40}));
}
