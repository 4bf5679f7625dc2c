// The interposer on the simulated hybrid machine: what the application sees through the
// hooked functions, what NVIDIA's own library sees, and when nothing is hooked.
#include "ConfigSceneFixture.h"
#include "Direct3D9Forwarder.h"
#include "GpuEnumerator.h"
#include "Imposer.h"
#include "PresentControls.h"
#include "sim/Machine.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/MachineDesc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {
bool s_failForwarderAllocation = false;
} // namespace

// Lets a test make the heap refuse the Direct3DCreate9 replacement's forwarder (and only
// that: it is the one allocation of its size), as an exhausted heap would.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (s_failForwarderAllocation && size == sizeof(Direct3D9Forwarder))
        return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using NvApiQueryInterface = void* (*)(unsigned int);
using CudaEnum = int (*)(void*, void*, void*, void*);
using NvApiEnum = BOOL (*)(DWORD, DISPLAY_DEVICEW*);
using Direct3DCreate9Function = IDirect3D9*(WINAPI*)(UINT);
using DriverLoadedStateFunction = int(WINAPI*)();

constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x8876086C);

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

    /// What an application gets from d3d9.dll's Direct3DCreate9.
    static IDirect3D9* createDirect3D9() {
        return exportOf<Direct3DCreate9Function>("d3d9.dll", "Direct3DCreate9")(D3D_SDK_VERSION);
    }

    static int liveDirect3D9Objects() {
        return exportOf<int (*)()>("d3d9.dll", "d3d9TestLiveObjects")();
    }

    static D3DADAPTER_IDENTIFIER9 identifierOf(IDirect3D9* d3d, UINT adapter, HRESULT* hr) {
        D3DADAPTER_IDENTIFIER9 identifier;
        memset(&identifier, 0, sizeof identifier);
        strcpy(identifier.Driver, "untouched");
        *hr = d3d9Table(d3d)->GetAdapterIdentifier(d3d, adapter, 0, &identifier);
        return identifier;
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

TEST_F(ImposerTest, FailedEnumerationIsLeftUnfilled) {
    install();
    DISPLAY_DEVICEW device;
    memset(&device, 0x5A, sizeof device);
    device.cb = sizeof device;
    EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 99, &device, 0));
    EXPECT_EQ(device.DeviceID[0], 0x5A5A); // no device, so nothing is corrected into it
    EXPECT_EQ(device.DeviceString[0], 0x5A5A);
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

TEST_F(ImposerTest, EveryModuleIsHookedWithoutReports) {
    install();
    for (int code : {11121, 11122, 11123, 11124})
        EXPECT_FALSE(reported("Warning", code, "Cannot")) << code;
    for (int code : {11156, 11157, 11158, 11159, 11160, 11161, 11162})
        EXPECT_FALSE(reported("Error", code, "Failed to Hook")) << code;
}

TEST_F(ImposerTest, ModulesThatCannotBeLoadedAreReportedAndTheRestIsHooked) {
    load();
    sim::Machine::instance().faults().failAlways("kernel32.dll", "LoadLibraryA",
                                                 ERROR_MOD_NOT_FOUND);
    Imposer::handleEnumDisplayDevices();
    sim::Machine::instance().faults().clear();
    EXPECT_TRUE(reported("Warning", 11122, "Cannot load library nvapi.dll"));
    EXPECT_TRUE(reported("Warning", 11122, "Cannot load library nvcpl.dll"));
    EXPECT_TRUE(reported("Error", 11160, "Failed to Hook Direct3DCreate9"));
    EXPECT_TRUE(reported("Warning", 11124, "Cannot get handle to VERSION.dll"));
    EXPECT_FALSE(reported("Error", 11156, "Failed to Hook"));
    EXPECT_FALSE(reported("Error", 11159, "Failed to Hook"));
    EXPECT_EQ(wide(deviceW(0).DeviceString), wide(rendering().displayDeviceW.DeviceString));
}

TEST_F(ImposerTest, Direct3DHandsOutTheForwarderNamingTheRenderingDriver) {
    load();
    IDirect3D9* direct = createDirect3D9();
    ASSERT_NE(direct, nullptr);
    HRESULT hr = 0;
    D3DADAPTER_IDENTIFIER9 real = identifierOf(direct, 0, &hr);
    ASSERT_EQ(hr, 0);
    EXPECT_STREQ(real.Driver, "simumd_intel.dll");
    UINT adapters = d3d9Table(direct)->GetAdapterCount(direct);
    EXPECT_GE(adapters, 1u);
    EXPECT_EQ(d3d9Table(direct)->Release(direct), 0u);

    Imposer::handleEnumDisplayDevices();
    IDirect3D9* d3d = createDirect3D9();
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d9Table(d3d), &Direct3D9Forwarder::s_vtable);
    D3DADAPTER_IDENTIFIER9 seen = identifierOf(d3d, 0, &hr);
    ASSERT_EQ(hr, 0);
    EXPECT_STREQ(seen.Driver, "simumd_nv.dll");
    EXPECT_STREQ(seen.Description, real.Description); // the rest is the runtime's own
    EXPECT_EQ(seen.VendorId, real.VendorId);
    EXPECT_EQ(seen.DeviceId, real.DeviceId);
    EXPECT_EQ(d3d9Table(d3d)->GetAdapterCount(d3d), adapters);

    // A failed query leaves the caller's structure as it was.
    D3DADAPTER_IDENTIFIER9 missing = identifierOf(d3d, 7, &hr);
    EXPECT_EQ(hr, kInvalidCall);
    EXPECT_STREQ(missing.Driver, "untouched");

    // Reference counts are the real object's; the last release frees both.
    EXPECT_EQ(d3d9Table(d3d)->AddRef(d3d), 2u);
    EXPECT_EQ(d3d9Table(d3d)->Release(d3d), 1u);
    EXPECT_EQ(d3d9Table(d3d)->Release(d3d), 0u);
    EXPECT_EQ(liveDirect3D9Objects(), 0);
}

TEST_F(ImposerTest, Direct3DReadsTheRenderingDriversVersionForThePrimaryDriver) {
    sim::FileVersion intel, nvidia;
    intel.fileVersion[0] = 8, intel.fileVersion[1] = 15, intel.fileVersion[3] = 2000;
    nvidia.fileVersion[0] = 8, nvidia.fileVersion[1] = 17, nvidia.fileVersion[3] = 5000;
    sim::Machine::instance().fileVersions().set(u"simumd_intel.dll", intel);
    sim::Machine::instance().fileVersions().set(u"simumd_nv.dll", nvidia);
    install();
    ASSERT_NE(LoadLibraryA("simumd_intel.dll"), nullptr); // the primary driver, as loaded
    IDirect3D9* d3d = createDirect3D9();
    ASSERT_NE(d3d, nullptr);
    HRESULT hr = 0;
    D3DADAPTER_IDENTIFIER9 seen = identifierOf(d3d, 0, &hr);
    ASSERT_EQ(hr, 0);
    EXPECT_EQ(uint64_t(seen.DriverVersion.QuadPart), (uint64_t(8 << 16 | 17) << 32) | 5000u);
    d3d9Table(d3d)->Release(d3d);

    // Outside d3d9.dll the same query gets the file's own version.
    auto sizeOf =
        exportOf<decltype(&GetFileVersionInfoSizeA)>("version.dll", "GetFileVersionInfoSizeA");
    auto infoOf = exportOf<decltype(&GetFileVersionInfoA)>("version.dll", "GetFileVersionInfoA");
    auto query = exportOf<decltype(&VerQueryValueW)>("version.dll", "VerQueryValueW");
    DWORD handle = 0;
    DWORD size = sizeOf("simumd_intel.dll", &handle);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(infoOf("simumd_intel.dll", handle, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), u"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (8u << 16) | 15u);
}

TEST_F(ImposerTest, NoRealDirect3DGivesNone) {
    install();
    sim::Machine::instance().faults().failNth("d3d9.dll", "Direct3DCreate9", 1, 0);
    EXPECT_EQ(createDirect3D9(), nullptr);
    EXPECT_EQ(liveDirect3D9Objects(), 0);
}

TEST_F(ImposerTest, ForwarderThatCannotBeAllocatedReleasesTheRealObject) {
    install();
    s_failForwarderAllocation = true;
    IDirect3D9* d3d = createDirect3D9();
    s_failForwarderAllocation = false;
    EXPECT_EQ(d3d, nullptr);
    EXPECT_EQ(liveDirect3D9Objects(), 0);
}

TEST_F(ImposerTest, DriverLoadedStateAnswersZero) {
    load();
    auto state = exportOf<DriverLoadedStateFunction>("nvcpl.dll", "NvCplApiGetDriverLoadedState");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state(), 1);
    Imposer::handleEnumDisplayDevices();
    EXPECT_EQ(state(), 0);
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

TEST_F(ImposerTest, DirectDrawGetsTheRenderingAdapterAndTheDisplaysIsClosed) {
    install();
    using OpenFromHdc = NTSTATUS (*)(D3DKMT_OPENADAPTERFROMHDC*);
    auto ddrawOpen = exportOf<OpenFromHdc>("ddraw.dll", "ddrawTestOpenAdapterFromHdc");
    ASSERT_NE(ddrawOpen, nullptr);
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    ASSERT_NE(display, nullptr);
    auto openFromHdc = exportOf<OpenFromHdc>("gdi32.dll", "D3DKMTOpenAdapterFromHdc");
    auto close =
        exportOf<NTSTATUS (*)(const D3DKMT_CLOSEADAPTER*)>("gdi32.dll", "D3DKMTCloseAdapter");
    std::shared_ptr<const sim::MachineDesc> machine = sim::installedMachine();
    const sim::GpuDesc& intel = machine->gpus[0];
    const sim::GpuDesc& nvidia = machine->gpus[1];

    // Anyone else gets the display's adapter.
    D3DKMT_OPENADAPTERFROMHDC own = {};
    own.hDc = display;
    ASSERT_EQ(openFromHdc(&own), 0);
    EXPECT_EQ(own.AdapterLuid.LowPart, intel.luidLow);
    D3DKMT_CLOSEADAPTER closeOwn = {own.hAdapter};
    EXPECT_EQ(close(&closeOwn), 0);

    sim::Machine::instance().journal().clear();
    D3DKMT_OPENADAPTERFROMHDC args = {};
    args.hDc = display;
    ASSERT_EQ(ddrawOpen(&args), 0);
    EXPECT_EQ(args.AdapterLuid.LowPart, nvidia.luidLow);
    EXPECT_EQ(args.AdapterLuid.HighPart, nvidia.luidHigh);
    // The display's adapter that ddraw.dll never saw was closed, on the display's GPU.
    sim::JournalEntry closed;
    ASSERT_TRUE(sim::Machine::instance().journal().last("gdi32.dll", "D3DKMTCloseAdapter", closed));
    EXPECT_EQ(closed.gpu, 0);
    EXPECT_EQ(closed.result, 0);
    D3DKMT_CLOSEADAPTER closeRendering = {args.hAdapter};
    EXPECT_EQ(close(&closeRendering), 0);
    DeleteDC(display);
}
