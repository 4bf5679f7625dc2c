// Probes of the simulated machine's strictness: each calls the kernel, a vendor driver or
// the runtime as a faulty product would, and expects the answer Windows gives, so that a
// product fault of that kind fails here rather than on a user's machine.
#include "GpuTestSupport.h"

#include "sim/drivers/DriverControl.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <string>
#include <vector>

namespace {

using namespace simtest;
using sim::kStatusInvalidParameter;
using sim::kStatusSuccess;
using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;
using sim::rt::SurfaceDesc;

constexpr int kIntel = 0;
constexpr int kNvidia = 1;

sim::Journal& journal() {
    return sim::Machine::instance().journal();
}

bool localHandleShape(D3DKMT_HANDLE h) {
    return (h & 0xC0000000u) == 0xC0000000u && (h & 0x3Fu) == 0;
}

// ---- Kernel handles ----------------------------------------------------------------------

TEST(StrictHandles, EveryKernelHandleIsShapedLikeAWindowsLocalHandle) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    D3DKMT_CREATECONTEXT context = {};
    context.hDevice = hDevice;
    ASSERT_EQ(D3DKMTCreateContext(&context), kStatusSuccess);
    sim::SimAllocationDesc desc = surfaceDesc(hDevice, 4, 4);
    D3DDDI_ALLOCATIONINFO info = {};
    info.pPrivateDriverData = &desc;
    info.PrivateDriverDataSize = sizeof desc;
    D3DKMT_CREATEALLOCATION create = {};
    create.hDevice = hDevice;
    create.NumAllocations = 1;
    create.pAllocationInfo = &info;
    create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::CreateResource;
    ASSERT_EQ(D3DKMTCreateAllocation(&create), kStatusSuccess);
    D3DKMT_CREATESYNCHRONIZATIONOBJECT sync = {};
    sync.hDevice = hDevice;
    sync.Info.Type = D3DDDI_SYNCHRONIZATION_MUTEX;
    ASSERT_EQ(D3DKMTCreateSynchronizationObject(&sync), kStatusSuccess);

    std::vector<D3DKMT_HANDLE> handles = {hAdapter,         hDevice,          context.hContext,
                                          create.hResource, info.hAllocation, sync.hSyncObject};
    for (D3DKMT_HANDLE h : handles)
        EXPECT_TRUE(localHandleShape(h)) << std::hex << h;
    // Consecutive objects are 0x40 apart, as Windows hands them out.
    EXPECT_EQ(hDevice, hAdapter + 0x40);

    // A handle cut to 16 bits, or a pointer taken for a handle, names nothing.
    D3DKMT_LOCK lock = {};
    lock.hDevice = hDevice & 0xFFFFu;
    lock.hAllocation = info.hAllocation;
    EXPECT_EQ(D3DKMTLock(&lock), kStatusInvalidParameter);
    int object = 0;
    lock.hDevice = D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(&object));
    EXPECT_EQ(D3DKMTLock(&lock), kStatusInvalidParameter);

    D3DKMT_DESTROYDEVICE destroy = {hDevice};
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
}

TEST(StrictKernel, AllocationDataWrittenForAnotherGpuIsRefused) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    D3DKMT_HANDLE hIntel = openGpu(kIntel);
    D3DKMT_HANDLE hIntelDevice = createDevice(hIntel);
    // The Intel driver's description handed to the NVIDIA device.
    sim::SimAllocationDesc desc = surfaceDesc(hIntelDevice, 4, 4);
    D3DDDI_ALLOCATIONINFO info = {};
    info.pPrivateDriverData = &desc;
    info.PrivateDriverDataSize = sizeof desc;
    D3DKMT_CREATEALLOCATION create = {};
    create.hDevice = hDevice;
    create.NumAllocations = 1;
    create.pAllocationInfo = &info;
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter);
    // Unmarked data (no vendor, no GPU) is no driver's either.
    desc = sim::SimAllocationDesc();
    desc.width = desc.height = 4;
    desc.format = D3DDDIFMT_X8R8G8B8;
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter);
    desc = surfaceDesc(hDevice, 4, 4);
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusSuccess);
    for (D3DKMT_HANDLE h : {hDevice, hIntelDevice}) {
        D3DKMT_DESTROYDEVICE destroy = {h};
        D3DKMTDestroyDevice(&destroy);
    }
    for (D3DKMT_HANDLE h : {hAdapter, hIntel}) {
        D3DKMT_CLOSEADAPTER close = {h};
        D3DKMTCloseAdapter(&close);
    }
}

TEST(StrictKernel, JournalRecordsAllocationKindsAndEscapeContexts) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kIntel);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    sim::SimAllocationDesc desc = surfaceDesc(hDevice, 4, 4);
    std::vector<uint32_t> memory(16);
    D3DDDI_ALLOCATIONINFO infos[2] = {};
    for (D3DDDI_ALLOCATIONINFO& info : infos) {
        info.pPrivateDriverData = &desc;
        info.PrivateDriverDataSize = sizeof desc;
    }
    infos[0].Flags.Value = D3DDDI_ALLOCATIONINFOFLAGS::Primary;
    infos[0].VidPnSourceId = 1;
    infos[1].pSystemMem = memory.data();
    D3DKMT_CREATEALLOCATION create = {};
    create.hDevice = hDevice;
    create.NumAllocations = 2;
    create.pAllocationInfo = infos;
    ASSERT_EQ(D3DKMTCreateAllocation(&create), kStatusSuccess);
    sim::JournalEntry entry;
    ASSERT_TRUE(journal().last("gdi32.dll", "D3DKMTCreateAllocation", entry));
    EXPECT_NE(entry.arguments.find("[0 primary=1 source=1 sysmem=(nil)]"), std::string::npos)
        << entry.arguments;
    char sysmem[64];
    snprintf(sysmem, sizeof sysmem, "[1 primary=0 source=0 sysmem=%p]",
             static_cast<void*>(memory.data()));
    EXPECT_NE(entry.arguments.find(sysmem), std::string::npos) << entry.arguments;

    D3DKMT_CREATECONTEXT context = {};
    context.hDevice = hDevice;
    ASSERT_EQ(D3DKMTCreateContext(&context), kStatusSuccess);
    uint32_t payload = 0;
    D3DKMT_ESCAPE escape = {};
    escape.hAdapter = hAdapter;
    escape.hDevice = hDevice;
    escape.hContext = context.hContext;
    escape.pPrivateDriverData = &payload;
    escape.PrivateDriverDataSize = sizeof payload;
    ASSERT_EQ(D3DKMTEscape(&escape), kStatusSuccess);
    ASSERT_TRUE(journal().last("gdi32.dll", "D3DKMTEscape", entry));
    char expected[32];
    snprintf(expected, sizeof expected, "hContext=0x%x", context.hContext);
    EXPECT_NE(entry.arguments.find(expected), std::string::npos) << entry.arguments;

    D3DKMT_DESTROYDEVICE destroy = {hDevice};
    D3DKMTDestroyDevice(&destroy);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    D3DKMTCloseAdapter(&close);
}

// ---- Vendor driver ownership -----------------------------------------------------------------

/// A device on the Intel GPU and one on the NVIDIA GPU, each through its own driver.
class StrictDrivers : public ::testing::Test {
protected:
    void SetUp() override {
        install(sim::presets::defaultMachine());
        ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(kIntel, AdapterSource(), m_pIntel));
        ASSERT_EQ(S_OK, m_pIntel->createDevice(m_pIntelDevice));
        ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(kNvidia, AdapterSource(), m_pNvidia));
        ASSERT_EQ(S_OK, m_pNvidia->createDevice(m_pNvidiaDevice));
    }

    HANDLE surface(RuntimeDevice& device) {
        SurfaceDesc desc;
        desc.width = desc.height = 8;
        HANDLE h = nullptr;
        EXPECT_EQ(S_OK, device.createResource(desc, h));
        return h;
    }

    /// The newest "ForeignHandle" note of a driver module; empty when there is none.
    std::string foreignNote(const char* module, int& gpu) {
        sim::JournalEntry entry;
        if (!journal().last(module, "ForeignHandle", entry))
            return "";
        gpu = entry.gpu;
        return entry.arguments;
    }

    std::unique_ptr<RuntimeAdapter> m_pIntel, m_pNvidia;
    std::unique_ptr<RuntimeDevice> m_pIntelDevice, m_pNvidiaDevice;
};

TEST_F(StrictDrivers, ADriverRefusesAnotherDriversDeviceAndSaysWhoseItIs) {
    journal().clear();
    const D3DDDI_DEVICEFUNCS& intel = m_pIntelDevice->funcs();
    // The NVIDIA driver's device handed to the Intel driver's entry.
    EXPECT_EQ(E_INVALIDARG, intel.pfnFlush(m_pNvidiaDevice->driverDevice()));
    int gpu = -1;
    std::string note = foreignNote("simumd_intel.dll", gpu);
    EXPECT_NE(note.find("belongs to simumd_nv.dll"), std::string::npos) << note;
    EXPECT_EQ(gpu, kNvidia);
    // The device it was meant for still works.
    EXPECT_EQ(S_OK, intel.pfnFlush(m_pIntelDevice->driverDevice()));
}

TEST_F(StrictDrivers, ADriverRefusesAnotherDriversAdapter) {
    journal().clear();
    D3DDDIARG_GETCAPS caps = {};
    UINT count = 0;
    caps.Type = D3DDDICAPS_GETFORMATCOUNT;
    caps.pData = &count;
    caps.DataSize = sizeof count;
    EXPECT_EQ(E_INVALIDARG, m_pIntel->funcs().pfnGetCaps(m_pNvidia->driverAdapter(), &caps));
    int gpu = -1;
    EXPECT_NE(foreignNote("simumd_intel.dll", gpu).find("hAdapter="), std::string::npos);
    EXPECT_EQ(gpu, kNvidia);
    EXPECT_EQ(S_OK, m_pIntel->funcs().pfnGetCaps(m_pIntel->driverAdapter(), &caps));
}

TEST_F(StrictDrivers, ADeviceRefusesAnotherDevicesResource) {
    HANDLE onNvidia = surface(*m_pNvidiaDevice);
    HANDLE onIntel = surface(*m_pIntelDevice);
    journal().clear();
    RECT r = {0, 0, 8, 8};
    EXPECT_EQ(E_INVALIDARG, m_pIntelDevice->blt(onNvidia, 0, r, onIntel, 0, r));
    int gpu = -1;
    std::string note = foreignNote("simumd_intel.dll", gpu);
    EXPECT_NE(note.find("hResource="), std::string::npos) << note;
    EXPECT_NE(note.find("simumd_nv.dll"), std::string::npos) << note;
    EXPECT_EQ(gpu, kNvidia);
    EXPECT_EQ(E_INVALIDARG, m_pIntelDevice->destroyResource(onNvidia));
    EXPECT_EQ(S_OK, m_pNvidiaDevice->destroyResource(onNvidia));
    EXPECT_EQ(S_OK, m_pIntelDevice->destroyResource(onIntel));
}

} // namespace
