// The interposer on the simulated hybrid machine: what the application sees through the
// hooked functions, what NVIDIA's own library sees, and when nothing is hooked.
#include "ConfigSceneFixture.h"
#include "GpuEnumerator.h"
#include "Imposer.h"
#include "PresentControls.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using NvApiQueryInterface = void* (*)(unsigned int);
using CudaEnum = int (*)(void*, void*, void*, void*);
using NvApiEnum = BOOL (*)(DWORD, DISPLAY_DEVICEW*);

template <class Function> Function exportOf(const char* module, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA(module), name)));
}

DISPLAY_DEVICEW deviceW(DWORD index, DWORD cb = sizeof(DISPLAY_DEVICEW), BOOL* found = nullptr) {
    DISPLAY_DEVICEW device;
    memset(&device, 0, sizeof device);
    device.cb = cb;
    BOOL result = EnumDisplayDevicesW(nullptr, index, &device, 0);
    if (found)
        *found = result;
    return device;
}

std::u16string wide(const WCHAR* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

class ImposerTest : public configtest::ConfigStoreTest {
protected:
    void install() {
        load();
        Imposer::handleEnumDisplayDevices();
    }

    static const DeviceProp& rendering() {
        return *GpuEnumerator::getInstance()->m_pDevicePropArray[1];
    }
};

TEST_F(ImposerTest, ApplicationSeesTheRenderingGpuOnEveryDevice) {
    load();
    DISPLAY_DEVICEW first = deviceW(0);
    Imposer::handleEnumDisplayDevices();
    int devices = 0;
    BOOL found = TRUE;
    for (DWORD i = 0; found; ++i) {
        DISPLAY_DEVICEW device = deviceW(i, sizeof(DISPLAY_DEVICEW), &found);
        if (!found)
            break;
        ++devices;
        EXPECT_EQ(wide(device.DeviceString), wide(rendering().displayDeviceW.DeviceString)) << i;
        EXPECT_EQ(wide(device.DeviceID), wide(rendering().displayDeviceW.DeviceID)) << i;
    }
    EXPECT_GE(devices, 2);
    EXPECT_EQ(wide(deviceW(0).DeviceName), wide(first.DeviceName)); // names stay real
    EXPECT_NE(wide(first.DeviceString), wide(rendering().displayDeviceW.DeviceString));

    DISPLAY_DEVICEA narrow;
    memset(&narrow, 0, sizeof narrow);
    narrow.cb = sizeof narrow;
    ASSERT_TRUE(EnumDisplayDevicesA(nullptr, 0, &narrow, 0));
    EXPECT_STREQ(narrow.DeviceString, rendering().displayDeviceA.DeviceString);
    EXPECT_STREQ(narrow.DeviceID, rendering().displayDeviceA.DeviceID);
}

TEST_F(ImposerTest, NvidiasLibrarySeesTheRealDevices) {
    load();
    DISPLAY_DEVICEW real = deviceW(0);
    Imposer::handleEnumDisplayDevices();
    auto enumerate = exportOf<NvApiEnum>("nvapi.dll", "nvapiTestEnumDisplayDevicesW");
    ASSERT_NE(enumerate, nullptr);
    DISPLAY_DEVICEW seen;
    memset(&seen, 0, sizeof seen);
    seen.cb = sizeof seen;
    ASSERT_TRUE(enumerate(0, &seen));
    EXPECT_EQ(wide(seen.DeviceString), wide(real.DeviceString));
    EXPECT_EQ(wide(seen.DeviceID), wide(real.DeviceID));
}

TEST_F(ImposerTest, ShortStructureIsLeftAsTheSystemFilledIt) {
    load();
    DISPLAY_DEVICEW before = deviceW(0, 420);
    Imposer::handleEnumDisplayDevices();
    DISPLAY_DEVICEW after = deviceW(0, 420);
    EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
}

TEST_F(ImposerTest, DisabledByConfigurationHooksNothing) {
    m_scene.database = configtest::database({{"disable_handle_enum_display_devices", "1"}});
    load();
    DISPLAY_DEVICEW before = deviceW(0);
    Imposer::handleEnumDisplayDevices();
    EXPECT_EQ(wide(deviceW(0).DeviceString), wide(before.DeviceString));
    EXPECT_TRUE(reported("Warning", 11153,
                         "Imposer is disabled! either intel is not primary, or "
                         "enumDisplayDevice handling is disabled"));
}

TEST_F(ImposerTest, DiscreteGpuOwningTheDisplayHooksNothing) {
    m_scene.gpus = "nv_intel";
    load();
    DISPLAY_DEVICEW before = deviceW(0);
    Imposer::handleEnumDisplayDevices();
    EXPECT_EQ(wide(deviceW(0).DeviceString), wide(before.DeviceString));
    EXPECT_TRUE(reported("Warning", 11153, "Imposer is disabled!"));
}

TEST_F(ImposerTest, MissingModulesAreReportedAndTheRestIsHooked) {
    install();
    EXPECT_TRUE(reported("Warning", 11122, "Cannot load library nvcpl.dll"));
    EXPECT_TRUE(reported("Error", 11160, "Failed to Hook Direct3DCreate9"));
    EXPECT_TRUE(reported("Warning", 11124, "Cannot get handle to VERSION.dll"));
    EXPECT_FALSE(reported("Error", 11156, "Failed to Hook"));
    EXPECT_FALSE(reported("Error", 11159, "Failed to Hook"));
}

TEST_F(ImposerTest, SecondStartHooksNothingAgain) {
    install();
    Imposer::handleEnumDisplayDevices();
    // A second hook of the replacement would make it call itself for ever.
    EXPECT_EQ(wide(deviceW(0).DeviceString), wide(rendering().displayDeviceW.DeviceString));
}

TEST_F(ImposerTest, PresentIsSkippedWithSuccessWhenPerformPresentIsOff) {
    install();
    using PresentFunction = NTSTATUS(APIENTRY*)(D3DKMT_PRESENT*);
    auto kernelPresent = exportOf<PresentFunction>("gdi32.dll", "D3DKMTPresent");
    ASSERT_NE(kernelPresent, nullptr);
    uint32_t* interval = nullptr;
    bool* perform = nullptr;
    bool* force = nullptr;
    ASSERT_TRUE(getInterval(&interval, &perform, &force));
    D3DKMT_PRESENT args = {};
    sim::Machine::instance().journal().clear();
    *perform = false;
    EXPECT_EQ(kernelPresent(&args), 0);
    EXPECT_EQ(sim::Machine::instance().journal().count("gdi32.dll", "D3DKMTPresent"), 0u);
    *perform = true;
    *interval = 2;
    EXPECT_NE(kernelPresent(&args), 0); // no context: the kernel refuses it
    EXPECT_EQ(sim::Machine::instance().journal().count("gdi32.dll", "D3DKMTPresent"), 1u);
    EXPECT_EQ(static_cast<int>(args.FlipInterval), 2); // forced before the kernel saw it
}

TEST_F(ImposerTest, ComputeCapableGpuEntryIsCorrectedOnlyOnSuccess) {
    install();
    auto query = exportOf<NvApiQueryInterface>("nvapi.dll", "nvapi_QueryInterface");
    ASSERT_NE(query, nullptr);
    auto entry = reinterpret_cast<CudaEnum>(query(Imposer::kCudaEnumComputeCapableGpusId));
    ASSERT_NE(entry, nullptr);
    int32_t gpus[8] = {};
    EXPECT_EQ(entry(gpus, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(gpus[0], 1);
    EXPECT_EQ(gpus[3], 11);
    EXPECT_EQ(entry(nullptr, nullptr, nullptr, nullptr), -1); // the real failure, no write
    auto other = reinterpret_cast<int (*)()>(query(1));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other(), 77);
}

TEST_F(ImposerTest, NoComputeCapableGpuEntryWhenTheRealOneIsMissing) {
    exportOf<void (*)(int)>("nvapi.dll", "nvapiTestSetCudaEntryAvailable")(0);
    install();
    auto query = exportOf<NvApiQueryInterface>("nvapi.dll", "nvapi_QueryInterface");
    EXPECT_EQ(query(Imposer::kCudaEnumComputeCapableGpusId), nullptr);
}

} // namespace
