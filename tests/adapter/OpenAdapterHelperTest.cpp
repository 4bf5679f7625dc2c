// Finding a GPU's vendor OpenAdapter through the kernel's driver file name.
#include "OpenAdapterHelper.h"
#include "GpuEnumerator.h"

#include "AdapterTestSupport.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"

#include <gtest/gtest.h>

using adaptertest::reports;

namespace {

class VendorDriverLookup : public ::testing::Test {
protected:
    void SetUp() override { adaptertest::clearLog(); }
};

PFND3DDDI_OPENADAPTER exportOf(const char16_t* module) {
    HMODULE driver = GetModuleHandleW(text::w(module));
    return driver ? reinterpret_cast<PFND3DDDI_OPENADAPTER>(
                        reinterpret_cast<void (*)(void)>(GetProcAddress(driver, "OpenAdapter")))
                  : nullptr;
}

} // namespace

TEST_F(VendorDriverLookup, EachGpuGetsItsOwnDriversExport) {
    PFND3DDDI_OPENADAPTER display = getOpenAdapterFuncPtr(0);
    PFND3DDDI_OPENADAPTER rendering = getOpenAdapterFuncPtr(1);
    ASSERT_NE(nullptr, display);
    ASSERT_NE(nullptr, rendering);
    EXPECT_EQ(exportOf(u"simumd_intel.dll"), display);
    EXPECT_EQ(exportOf(u"simumd_nv.dll"), rendering);
    EXPECT_EQ("", adaptertest::log());
}

TEST_F(VendorDriverLookup, BadIndexesAreReportedAndGiveNothing) {
    EXPECT_EQ(nullptr, getOpenAdapterFuncPtr(-1));
    EXPECT_EQ(1, reports("Error", 11167, "Bad device index", "OpenAdapterHelper.cpp:28"));
    EXPECT_EQ(nullptr, getOpenAdapterFuncPtr(2)); // the default machine has two GPUs
    EXPECT_EQ(nullptr, getOpenAdapterFuncPtr(4)); // the first index beyond the table
    EXPECT_EQ(nullptr, getOpenAdapterFuncPtr(7));
    EXPECT_EQ(3, reports("Error", 11168, "Device key for primary was not found",
                         "OpenAdapterHelper.cpp:31"));
}

TEST_F(VendorDriverLookup, FailedDriverNameQueryLeavesNoKernelAdapterOpen) {
    GpuEnumerator::getInstance(); // its own queries are done before the fault is armed
    adaptertest::machine().journal().clear();
    const size_t openBefore = sim::Kernel::instance().counts().adapters;
    adaptertest::machine().faults().failNth("gdi32.dll", "D3DKMTQueryAdapterInfo", 1,
                                            int32_t(0xC000000Du));
    EXPECT_EQ(nullptr, getOpenAdapterFuncPtr(1));
    adaptertest::machine().faults().clear();
    EXPECT_EQ(1, reports("Error", 0, "No user-mode driver name for GPU 1"));
    EXPECT_EQ(1u, adaptertest::machine().journal().count("gdi32.dll", "D3DKMTCloseAdapter", 1));
    EXPECT_EQ(openBefore, sim::Kernel::instance().counts().adapters);
}

TEST_F(VendorDriverLookup, DriverWithoutTheExportIsReported) {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.gpus[1].umdFileName = "gdi32.dll"; // loads, but is no user-mode driver
    std::string error;
    ASSERT_TRUE(sim::installMachine(desc, &error)) << error;
    EXPECT_EQ(nullptr, getOpenAdapterFuncPtr(1));
    EXPECT_EQ(1, reports("Error", 0, "User-mode driver gdi32.dll of GPU 1 has no OpenAdapter"));
}
