// The device interposition end to end on the simulated machine: the simulated runtime opens
// the display through vessad3d9u.dll, creates a device and uses it as an application would;
// the journal shows which GPU every call reached.
#include "../adapter/AdapterTestSupport.h"

#include "platform/win.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using adaptertest::machine;
using adaptertest::reports;
using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;

namespace {

constexpr int kIntel = 0; // GPU indexes of the default machine
constexpr int kNvidia = 1;
constexpr unsigned kWrappedSlots[] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 21, 37,
                                      38, 39, 40, 41, 55, 56, 57, 62, 91, 93};
constexpr unsigned kDeviceFuncSlots = sizeof(D3DDDI_DEVICEFUNCS) / sizeof(void*);

AdapterSource source(const char* library, const char* entry) {
    AdapterSource s;
    s.library = library;
    s.entry = entry;
    return s;
}

const AdapterSource kIntelExport = source("vessad3d9u.dll", "OpenAdapter9DetourIntel");

size_t calls(const char* module, const char* entry, int gpu) {
    return machine().journal().count(module, entry, gpu);
}

// Position of the first journal entry of `module`!`entry` on `gpu`; SIZE_MAX when none.
size_t positionOf(const std::vector<sim::JournalEntry>& entries, const char* module,
                  const char* entry, int gpu) {
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].module == module && entries[i].entry == entry && entries[i].gpu == gpu)
            return i;
    }
    return SIZE_MAX;
}

const void* slot(const D3DDDI_DEVICEFUNCS& funcs, unsigned index) {
    const void* const* slots = reinterpret_cast<const void* const*>(&funcs);
    return slots[index];
}

bool isWrapped(unsigned index) {
    for (unsigned wrapped : kWrappedSlots) {
        if (wrapped == index)
            return true;
    }
    return false;
}

class DeviceInterposition : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::installMachine(sim::presets::defaultMachine(), &error)) << error;
        adaptertest::clearLog();
        ASSERT_EQ(S_OK, RuntimeAdapter::openDisplay("", kIntelExport, m_adapter));
        m_baseline = sim::Kernel::instance().counts();
        machine().journal().clear();
    }
    void TearDown() override {
        machine().faults().clear();
        m_device.reset();
        if (m_adapter)
            m_adapter->close();
    }

    HANDLE renderTarget() {
        sim::rt::SurfaceDesc desc;
        desc.width = 64;
        desc.height = 64;
        HANDLE h = nullptr;
        EXPECT_EQ(S_OK, m_device->createResource(desc, h));
        return h;
    }

    std::unique_ptr<RuntimeAdapter> m_adapter;
    std::unique_ptr<RuntimeDevice> m_device;
    sim::KernelCounts m_baseline;
};

} // namespace

TEST_F(DeviceInterposition, DrawsOfTheApplicationReachOnlyTheRenderingGpu) {
    ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
    // Both drivers made a device: the display's with the runtime's callbacks, the NVIDIA
    // driver's over a kernel device of the library's own.
    EXPECT_EQ(1u, calls("simumd_intel.dll", "CreateDevice", kIntel));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "CreateDevice", kNvidia));
    EXPECT_EQ(1u, calls("gdi32.dll", "D3DKMTCreateDevice", kNvidia));

    machine().journal().clear();
    sim::umd::resetStats();
    HANDLE target = renderTarget();
    ASSERT_EQ(S_OK, m_device->setRenderTarget(target, 0));
    ASSERT_EQ(S_OK, m_device->clear(0xFF204080));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(S_OK, m_device->drawPrimitive(2));
    ASSERT_EQ(S_OK, m_device->flush());

    EXPECT_EQ(3u, calls("simumd_nv.dll", "DrawPrimitive", kNvidia));
    EXPECT_EQ(0u, machine().journal().count("simumd_intel.dll", "DrawPrimitive"));
    EXPECT_EQ(3u, sim::umd::stats(kNvidia).draws);
    EXPECT_EQ(0u, sim::umd::stats(kIntel).draws);
    // The NVIDIA driver's command buffers went to the kernel through the library's
    // callbacks, never through the runtime, which knows only the Intel GPU.
    EXPECT_LE(1u, calls("gdi32.dll", "D3DKMTRender", kNvidia));
    EXPECT_EQ(0u, calls("d3d9.dll", "RenderCb", kNvidia));

    EXPECT_EQ(S_OK, m_device->destroyResource(target));
    EXPECT_EQ(S_OK, m_device->destroy());
}

TEST_F(DeviceInterposition, RuntimeTableIsTheRenderingDriversWithTheWrappedEntriesReplaced) {
    ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
    // The NVIDIA driver's own table, as a runtime opening that GPU directly receives it.
    std::unique_ptr<RuntimeAdapter> direct;
    ASSERT_EQ(S_OK,
              RuntimeAdapter::openGpu(kNvidia, source("simumd_nv.dll", "OpenAdapter"), direct));
    std::unique_ptr<RuntimeDevice> directDevice;
    ASSERT_EQ(S_OK, direct->createDevice(directDevice));

    const D3DDDI_DEVICEFUNCS& ours = m_device->funcs();
    const D3DDDI_DEVICEFUNCS& drivers = directDevice->funcs();
    unsigned differing = 0;
    for (unsigned i = 0; i < kDeviceFuncSlots; ++i) {
        if (i >= 99) {
            EXPECT_EQ(nullptr, slot(ours, i)) << "slot " << i;
            continue;
        }
        if (isWrapped(i)) {
            EXPECT_NE(slot(drivers, i), slot(ours, i)) << "slot " << i;
            EXPECT_NE(nullptr, slot(ours, i)) << "slot " << i;
            ++differing;
        } else {
            EXPECT_EQ(slot(drivers, i), slot(ours, i)) << "slot " << i;
        }
    }
    EXPECT_EQ(21u, differing);
    // The runtime holds the NVIDIA driver's device handle.
    EXPECT_NE(nullptr, m_device->driverDevice());

    directDevice.reset();
    direct->close();
}

TEST_F(DeviceInterposition, DestructionGoesPresentingGpuFirstAndReleasesTheKernelDevice) {
    ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
    EXPECT_EQ(m_baseline.devices + 2, sim::Kernel::instance().counts().devices);
    HANDLE hDevice = m_device->driverDevice();
    const D3DDDI_DEVICEFUNCS funcs = m_device->funcs();
    machine().journal().clear();

    EXPECT_EQ(S_OK, m_device->destroy());
    const std::vector<sim::JournalEntry> entries = machine().journal().entries();
    const size_t intel = positionOf(entries, "simumd_intel.dll", "DestroyDevice", kIntel);
    const size_t nvidia = positionOf(entries, "simumd_nv.dll", "DestroyDevice", kNvidia);
    const size_t kernel = positionOf(entries, "gdi32.dll", "D3DKMTDestroyDevice", kNvidia);
    ASSERT_NE(SIZE_MAX, intel);
    ASSERT_NE(SIZE_MAX, nvidia);
    ASSERT_NE(SIZE_MAX, kernel);
    EXPECT_LT(intel, nvidia);
    EXPECT_LT(nvidia, kernel);
    EXPECT_EQ(m_baseline.devices, sim::Kernel::instance().counts().devices);
    EXPECT_EQ(0u, sim::umd::counts().devices);

    // The handle left the registry: a late call is refused before any driver sees it.
    machine().journal().clear();
    EXPECT_EQ(E_FAIL, funcs.pfnFlush(hDevice));
    EXPECT_EQ(1, reports("Error", 10884, "Could not find Device"));
    EXPECT_EQ(0u, machine().journal().count("simumd_nv.dll", "Flush"));
}

TEST_F(DeviceInterposition, FailedRenderingGpuDeviceFailsTheCreationAndLeavesNothing) {
    machine().faults().failNth("simumd_nv.dll", "CreateDevice", 1, E_OUTOFMEMORY);
    EXPECT_EQ(E_FAIL, m_adapter->createDevice(m_device));
    EXPECT_EQ(1, reports("Error", 1000, "create a device over the user mode driver failed",
                         "Device9.cpp:183"));
    // What GPU 0 made is gone again, and so is the library's kernel device.
    EXPECT_EQ(1u, calls("simumd_intel.dll", "DestroyDevice", kIntel));
    EXPECT_EQ(1u, calls("gdi32.dll", "D3DKMTDestroyDevice", kNvidia));
    EXPECT_EQ(0u, sim::umd::counts().devices);
    EXPECT_EQ(m_baseline.devices, sim::Kernel::instance().counts().devices);
}

TEST_F(DeviceInterposition, FailedKernelDeviceFailsTheCreationWithoutCallingTheDriver) {
    machine().faults().failNth("gdi32.dll", "D3DKMTCreateDevice", 1, int32_t(0xC0000017u), 1,
                               kNvidia);
    EXPECT_EQ(E_FAIL, m_adapter->createDevice(m_device));
    EXPECT_EQ(1, reports("Error", 11152, "creating a kernel-mode device context failed",
                         "Device9.cpp:174"));
    EXPECT_EQ(0u, machine().journal().count("simumd_nv.dll", "CreateDevice"));
    EXPECT_EQ(1u, calls("simumd_intel.dll", "DestroyDevice", kIntel));
    EXPECT_EQ(0u, sim::umd::counts().devices);
    EXPECT_EQ(m_baseline.devices, sim::Kernel::instance().counts().devices);
}

TEST_F(DeviceInterposition, FailedPresentingGpuDeviceReachesTheRuntimeAndTouchesNoOtherGpu) {
    machine().faults().failNth("simumd_intel.dll", "CreateDevice", 1, E_OUTOFMEMORY);
    EXPECT_EQ(E_FAIL, m_adapter->createDevice(m_device));
    EXPECT_EQ(0u, machine().journal().count("simumd_nv.dll", "CreateDevice"));
    EXPECT_EQ(0u, calls("gdi32.dll", "D3DKMTCreateDevice", kNvidia));
}

TEST_F(DeviceInterposition, PresentingGpuAnsweringSFalseCountsAsCreated) {
    // The driver answers S_FALSE; the device goes on to the rendering GPU and serves draws.
    machine().faults().failNth("simumd_intel.dll", "CreateDevice", 1, S_FALSE);
    ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "CreateDevice", kNvidia));
    machine().journal().clear();
    HANDLE target = renderTarget();
    ASSERT_EQ(S_OK, m_device->setRenderTarget(target, 0));
    EXPECT_EQ(S_OK, m_device->drawPrimitive(1));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "DrawPrimitive", kNvidia));
    EXPECT_EQ(S_OK, m_device->destroyResource(target));
    m_device->destroy();
}

TEST_F(DeviceInterposition, FailedDestroyOnTheRenderingGpuIsReportedAndReturned) {
    ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
    machine().faults().failNth("simumd_nv.dll", "DestroyDevice", 1, E_FAIL);
    EXPECT_EQ(E_FAIL, m_device->destroy());
    EXPECT_EQ(1, reports("Warning", 10972, "Could not destroy device on gpu:1",
                         "DeviceFuncs_auto.cpp:542"));
    EXPECT_EQ(0, reports("Warning", 10972, "Could not destroy device on gpu:0"));
    // The kernel device goes all the same.
    EXPECT_EQ(m_baseline.devices, sim::Kernel::instance().counts().devices);
}

TEST_F(DeviceInterposition, ResourcesLeftByTheRuntimeAreReportedAndDestroyedWithTheDevice) {
    const size_t resources = sim::umd::counts().resources;
    ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
    renderTarget();
    machine().journal().clear();
    EXPECT_EQ(S_OK, m_device->destroy());
    EXPECT_EQ(
        1, reports("Warning", 10976, "Not all device resources were destroy!", "Device9.cpp:244"));
    const std::vector<sim::JournalEntry> entries = machine().journal().entries();
    const size_t resource = positionOf(entries, "simumd_nv.dll", "DestroyResource", kNvidia);
    const size_t device = positionOf(entries, "simumd_nv.dll", "DestroyDevice", kNvidia);
    ASSERT_NE(SIZE_MAX, resource);
    EXPECT_LT(resource, device);
    EXPECT_EQ(resources, sim::umd::counts().resources);
}

TEST_F(DeviceInterposition, ThousandCreateDestroyCyclesLeaveNoKernelOrDriverObjects) {
    // A first device loads the configuration; its reports do not concern this test.
    ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
    ASSERT_EQ(S_OK, m_device->destroy());
    adaptertest::clearLog();
    const size_t driverDevices = sim::umd::counts().devices;
    machine().journal().setEnabled(false);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(S_OK, m_adapter->createDevice(m_device)) << "cycle " << i;
        ASSERT_EQ(S_OK, m_device->destroy()) << "cycle " << i;
        m_device.reset();
    }
    machine().journal().setEnabled(true);
    const sim::KernelCounts after = sim::Kernel::instance().counts();
    EXPECT_EQ(m_baseline.devices, after.devices);
    EXPECT_EQ(m_baseline.contexts, after.contexts);
    EXPECT_EQ(m_baseline.allocations, after.allocations);
    EXPECT_EQ(m_baseline.syncObjects, after.syncObjects);
    EXPECT_EQ(driverDevices, sim::umd::counts().devices);
    EXPECT_EQ(std::string::npos, adaptertest::log().find("code:")) << adaptertest::log();
}

// An entry finds its device, then waits for the device's lock; a DestroyDevice that got the
// lock first must not leave it waiting on freed memory (the address sanitizer would report
// it) nor let it reach the destroyed device's drivers.
TEST_F(DeviceInterposition, EntryWaitingForTheLockOfADeviceBeingDestroyedFailsSafely) {
    auto holdLock = reinterpret_cast<BOOL (*)(HANDLE, BOOL)>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleW(WSTR("vessad3d9u.dll")), "vessaProbeHoldDeviceLock")));
    ASSERT_NE(nullptr, holdLock);
    int flushesRefused = 0;
    // Which waiting thread gets the lock first is up to the scheduler: enough rounds see
    // both orders.
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(S_OK, m_adapter->createDevice(m_device));
        const HANDLE hDevice = m_device->driverDevice();
        const PFND3DDDI_FLUSH flush = m_device->funcs().pfnFlush;
        ASSERT_TRUE(holdLock(hDevice, TRUE));
        HRESULT destroyed = E_NOTIMPL, flushed = E_NOTIMPL;
        std::thread destroyer([&] { destroyed = m_device->destroy(); });
        std::thread flusher([&] { flushed = flush(hDevice); });
        // Both threads find the device and wait for its lock.
        Sleep(50);
        ASSERT_TRUE(holdLock(hDevice, FALSE));
        destroyer.join();
        flusher.join();
        EXPECT_EQ(S_OK, destroyed);
        EXPECT_TRUE(flushed == S_OK || flushed == E_FAIL) << flushed;
        flushesRefused += flushed == E_FAIL;
        m_device.reset();
    }
    // A flush that came after the destruction reached no driver: the NVIDIA driver saw only
    // the flushes that were answered S_OK.
    EXPECT_EQ(20u - size_t(flushesRefused), calls("simumd_nv.dll", "Flush", kNvidia));
    EXPECT_EQ(m_baseline.devices, sim::Kernel::instance().counts().devices);
}
