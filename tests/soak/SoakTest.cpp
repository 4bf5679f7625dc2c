// The soak: a long interposed run on the default machine's virtual clock. The application
// goes through cycles of a few hundred frames; each cycle opens the adapter through
// vessad3d9u.dll, creates a device and its flip chain, changes the display mode halfway
// (a new flip chain of another size), and destroys everything at its end, so devices,
// surfaces and the library's per-device state are made and freed again and again.
//
// The heap's live bytes and the simulated kernel's live objects are sampled at the last
// frame of the cycle that completes the first 1,000 frames and at the last frame of the
// last cycle: the same point of the same cycle, with a device alive. They must not grow.
//
// VESSA_SOAK_FRAMES sets the length (default 3,000; `make soak` runs 100,000).
#include "platform/win.h"
#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"

#include "HeapUsage.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

using sim::app::AppPath;
using sim::app::AppScript;
using sim::app::RunReport;
using sim::app::SceneRunner;

constexpr uint32_t kCycleFrames = 500;   ///< frames from one device's creation to its end
constexpr uint32_t kWarmUpFrames = 1000; ///< the first sample follows these frames
constexpr uint32_t kDefaultFrames = 3000;

/// What is sampled: heap bytes in use and every kind of live kernel object.
struct Sample {
    size_t heapBytes = 0;
    size_t residentBytes = 0;
    sim::KernelCounts kernel;
    size_t kernelObjects() const {
        return kernel.adapters + kernel.devices + kernel.resources + kernel.allocations +
               kernel.contexts + kernel.syncObjects + kernel.deviceContexts;
    }
};

Sample takeSample() {
    Sample s;
    s.heapBytes = soak::heapBytesInUse();
    s.residentBytes = soak::residentBytes();
    s.kernel = sim::Kernel::instance().counts();
    return s;
}

uint32_t soakFrames() {
    const char* text = getenv("VESSA_SOAK_FRAMES");
    if (!text || !*text)
        return kDefaultFrames;
    char* end = nullptr;
    unsigned long frames = strtoul(text, &end, 10);
    if (*end || frames < 2 * kWarmUpFrames) {
        fprintf(stderr, "VESSA_SOAK_FRAMES=%s: a number of frames of at least %u expected\n", text,
                2 * kWarmUpFrames);
        return 0;
    }
    return uint32_t(frames);
}

void print(const char* when, uint32_t frames, const Sample& s) {
    printf("soak %-5s after %6u frames: heap %zu bytes, resident %zu KiB, kernel objects %zu "
           "(adapters %zu, devices %zu, resources %zu, allocations %zu, contexts %zu, sync "
           "objects %zu, display contexts %zu)\n",
           when, frames, s.heapBytes, s.residentBytes / 1024, s.kernelObjects(), s.kernel.adapters,
           s.kernel.devices, s.kernel.resources, s.kernel.allocations, s.kernel.contexts,
           s.kernel.syncObjects, s.kernel.deviceContexts);
}

class SoakTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::installMachine(sim::presets::defaultMachine(), &error)) << error;
        // The journal keeps every call: it alone would grow without bound.
        sim::Machine::instance().journal().setEnabled(false);
        sim::Clock::instance().setMode(sim::Clock::Mode::Virtual);
        sim::Display::instance().clear();
    }
    void TearDown() override {
        sim::Clock::instance().setMode(sim::Clock::Mode::Real);
        sim::Machine::instance().journal().setEnabled(true);
    }

    /// One cycle: the desktop mode for half of it, then the other mode of the Intel display.
    static AppScript cycle(bool startSmall) {
        AppScript s;
        s.name = "soak";
        s.path = AppPath::Interposed;
        s.frames = kCycleFrames;
        s.rate = 60.0;
        s.interval = 1;
        s.width = startSmall ? 1024 : 1280;
        s.height = startSmall ? 768 : 800;
        s.switchFrame = kCycleFrames / 2;
        s.switchWidth = startSmall ? 1280 : 1024;
        s.switchHeight = startSmall ? 800 : 768;
        return s;
    }
};

TEST_F(SoakTest, MemoryAndKernelObjectsStayFlatOverDeviceAndModeCycles) {
    const uint32_t frames = soakFrames();
    ASSERT_GT(frames, 0u);
    // An even number of cycles, so that the last one has the shape of the sampled first.
    const uint32_t cycles = ((frames + 2 * kCycleFrames - 1) / (2 * kCycleFrames)) * 2;
    const uint32_t warmUpCycles = kWarmUpFrames / kCycleFrames;

    Sample first, last;
    uint32_t presented = 0;
    for (uint32_t c = 0; c < cycles; ++c) {
        const bool sampled = c + 1 == warmUpCycles || c + 1 == cycles;
        const AppScript s = cycle(c % 2 == 1);
        RunReport report;
        auto observe = [&](uint32_t frame) {
            if (sampled && frame + 1 == s.frames)
                (c + 1 == cycles ? last : first) = takeSample();
        };
        ASSERT_EQ(S_OK, SceneRunner::run(s, report, observe))
            << "cycle " << c << ": " << report.failure;
        ASSERT_EQ(s.frames, report.framesPresented) << "cycle " << c;
        ASSERT_EQ(s.switchFrame, report.switchedFrame) << "cycle " << c;
        presented += report.framesPresented;
        // Every frame of the cycle reached the Intel display. The display's record keeps the
        // time of every scan-out, which is the machine's memory, not the system's: it
        // starts afresh with each cycle.
        ASSERT_EQ(s.frames, sim::Display::instance().count(0, report.vidPnSourceId))
            << "cycle " << c;
        sim::Display::instance().clear();
    }
    print("start", warmUpCycles * kCycleFrames, first);
    print("end", presented, last);

    // The same point of the same cycle: every kernel object of the first sample and no more.
    EXPECT_EQ(first.kernel.adapters, last.kernel.adapters);
    EXPECT_EQ(first.kernel.devices, last.kernel.devices);
    EXPECT_EQ(first.kernel.resources, last.kernel.resources);
    EXPECT_EQ(first.kernel.allocations, last.kernel.allocations);
    EXPECT_EQ(first.kernel.contexts, last.kernel.contexts);
    EXPECT_EQ(first.kernel.syncObjects, last.kernel.syncObjects);
    EXPECT_EQ(first.kernel.deviceContexts, last.kernel.deviceContexts);
    // Heap bytes in use may move a little with a container's growth or a message's length;
    // over the 198 cycles of `make soak` this slack lets less than 340 bytes per cycle pass.
    constexpr size_t kSlackBytes = 64 * 1024;
    EXPECT_LE(last.heapBytes, first.heapBytes + kSlackBytes)
        << "the heap grew by " << (last.heapBytes - first.heapBytes) << " bytes over "
        << (cycles - warmUpCycles) << " cycles";
}

} // namespace
