// The machine's clock: real time by default; on a scenario's virtual clock the performance
// counter, the tick counts and Sleep read and move one simulated time, so timing runs are
// fast and give the same numbers every time.
#include "GpuTestSupport.h"

#include "platform/sim/win32_api.h"
#include "sim/Clock.h"
#include "sim/gpus/ScenarioLoader.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

LONGLONG counter() {
    LARGE_INTEGER value;
    EXPECT_TRUE(QueryPerformanceCounter(&value));
    return value.QuadPart;
}

// Installs a scenario's machine and restores the default (real-time) machine afterwards.
class VirtualClockTest : public ::testing::Test {
protected:
    void install(const std::string& text) {
        sim::MachineDesc machine;
        std::string error;
        ASSERT_TRUE(sim::ScenarioLoader::loadText(text, "clock.scenario", machine, &error))
            << error;
        ASSERT_TRUE(sim::installMachine(machine, &error)) << error;
    }
    void TearDown() override { sim::installMachine(sim::presets::defaultMachine()); }
};

TEST_F(VirtualClockTest, RealTimeIsTheDefault) {
    install("[machine]\nbase = default\n");
    EXPECT_FALSE(sim::Clock::instance().isVirtual());
    LONGLONG before = counter();
    Sleep(2);
    EXPECT_GE(counter() - before, 20000); // 2 ms in 100 ns units, really waited
}

TEST_F(VirtualClockTest, CounterTicksAndSleepReadOneSimulatedTime) {
    install("[machine]\nbase = default\n[clock]\nmode = virtual\n");
    ASSERT_TRUE(sim::Clock::instance().isVirtual());
    LARGE_INTEGER frequency;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    // Time stands still until someone waits, and starts at the same moment every run.
    EXPECT_EQ(counter(), LONGLONG(sim::Clock::kVirtualEpochNs / 100));
    EXPECT_EQ(counter(), LONGLONG(sim::Clock::kVirtualEpochNs / 100));
    auto started = std::chrono::steady_clock::now();
    Sleep(5000); // five simulated seconds, no real wait
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(counter(), LONGLONG((sim::Clock::kVirtualEpochNs + 5000000000ull) / 100));
    EXPECT_EQ(GetTickCount(), DWORD(15000));
    EXPECT_EQ(GetTickCount64(), 15000u);
    EXPECT_EQ(timeGetTime(), DWORD(15000));
    Sleep(16);
    EXPECT_EQ(GetTickCount64(), 15016u);
    Sleep(0); // a yield: no time passes
    EXPECT_EQ(GetTickCount64(), 15016u);
}

TEST_F(VirtualClockTest, ConcurrentSleepersEachWakeAtTheLaterDeadlineAndTimeNeverGoesBack) {
    install("[machine]\nbase = default\n[clock]\nmode = virtual\n");
    sim::Clock& clock = sim::Clock::instance();
    uint64_t start = clock.nowNs();
    clock.sleepUntil(start + 1000);
    clock.sleepUntil(start + 500); // in the past: the clock stays
    EXPECT_EQ(clock.nowNs(), start + 1000);
    std::vector<std::thread> threads;
    for (int i = 1; i <= 4; ++i)
        threads.emplace_back([&clock, i] { clock.sleepFor(uint64_t(i) * 1000000); });
    for (std::thread& t : threads)
        t.join();
    // Each sleeper moved the clock at least its own sleep past the moment it read it.
    EXPECT_GE(clock.nowNs(), start + 1000 + 4000000);
    EXPECT_LE(clock.nowNs(), start + 1000 + 10000000);
}

TEST_F(VirtualClockTest, ScenarioClockSectionIsChecked) {
    sim::MachineDesc machine;
    std::string error;
    EXPECT_FALSE(
        sim::ScenarioLoader::loadText("[clock]\nmode = fast\n", "c.scenario", machine, &error));
    EXPECT_EQ(error, "c.scenario:2: unknown clock mode 'fast' (use virtual or real)");
    EXPECT_FALSE(
        sim::ScenarioLoader::loadText("[clock]\nspeed = 2\n", "c.scenario", machine, &error));
    EXPECT_EQ(error, "c.scenario:2: unknown clock key 'speed'");
    ASSERT_TRUE(sim::ScenarioLoader::loadText(
        "[machine]\nbase = default\n[gpu nvidia]\nrender-us = 4000\ncopy-us = 1500\n", "t", machine,
        &error))
        << error;
    EXPECT_FALSE(machine.virtualClock);
    EXPECT_EQ(machine.gpus[size_t(machine.findGpu("nvidia"))].renderTimeUs, 4000u);
    EXPECT_EQ(machine.gpus[size_t(machine.findGpu("nvidia"))].copyTimeUs, 1500u);
}

} // namespace
