// The rate the pacing aims at: the display's refresh rate, as the simulated display reports
// it, and 60 where it reports only the hardware's default.
#include "FlipManager.h"

#include "PacingTestSupport.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <gtest/gtest.h>

using pacingtest::FakeDevice;
using pacingtest::FakeGpu;

namespace {

/// The refresh rate a flip manager reads when every display runs at `hz`.
uint32_t refreshRateOnDisplaysAt(uint32_t hz) {
    sim::MachineDesc machine = sim::presets::defaultMachine();
    for (sim::DisplayDeviceDesc& display : machine.displays)
        display.currentMode.refreshRate = hz;
    std::string error;
    EXPECT_TRUE(sim::installMachine(machine, &error)) << error;
    FakeGpu gpu;
    FakeDevice device(gpu);
    FlipManager flip(device.get(), device.get()->m_pSwapChain, true);
    EXPECT_EQ(flip.m_refreshRate, flip.m_targetRate);
    return flip.m_refreshRate;
}

TEST(PacingDisplayRate, TargetIsTheDisplaysRefreshRate) {
    EXPECT_EQ(75u, refreshRateOnDisplaysAt(75));
    EXPECT_EQ(144u, refreshRateOnDisplaysAt(144));
}

TEST(PacingDisplayRate, HardwareDefaultRateKeeps60) {
    EXPECT_EQ(60u, refreshRateOnDisplaysAt(0));
    EXPECT_EQ(60u, refreshRateOnDisplaysAt(1));
}

} // namespace
