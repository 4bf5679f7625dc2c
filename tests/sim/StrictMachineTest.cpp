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

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr))

sim::Journal& journal() {
    return sim::Machine::instance().journal();
}

/// One allocation request of an X8R8G8B8 surface on a device, with the private data its GPU's
/// driver writes. A test changes members between calls, as a faulty caller would.
struct OneAllocation {
    sim::SimAllocationDesc desc;
    D3DDDI_ALLOCATIONINFO info = {};
    D3DKMT_CREATEALLOCATION create = {};

    OneAllocation(D3DKMT_HANDLE hDevice, UINT width, UINT height, UINT infoFlags = 0)
        : desc(surfaceDesc(hDevice, width, height)) {
        info.pPrivateDriverData = &desc;
        info.PrivateDriverDataSize = sizeof desc;
        info.Flags.Value = infoFlags;
        create.hDevice = hDevice;
        create.NumAllocations = 1;
        create.pAllocationInfo = &info;
    }
    OneAllocation(const OneAllocation&) = delete;
    OneAllocation& operator=(const OneAllocation&) = delete;

    NTSTATUS run() { return D3DKMTCreateAllocation(&create); }
    D3DKMT_HANDLE handle() const { return info.hAllocation; }
};

/// Destroys kernel devices, then closes kernel adapters.
void release(std::initializer_list<D3DKMT_HANDLE> devices,
             std::initializer_list<D3DKMT_HANDLE> adapters) {
    for (D3DKMT_HANDLE h : devices) {
        D3DKMT_DESTROYDEVICE destroy = {h};
        EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
    }
    for (D3DKMT_HANDLE h : adapters) {
        D3DKMT_CLOSEADAPTER close = {h};
        EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    }
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
    OneAllocation surface(hDevice, 4, 4);
    surface.create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::CreateResource;
    ASSERT_EQ(surface.run(), kStatusSuccess);
    D3DKMT_CREATESYNCHRONIZATIONOBJECT sync = {};
    sync.hDevice = hDevice;
    sync.Info.Type = D3DDDI_SYNCHRONIZATION_MUTEX;
    ASSERT_EQ(D3DKMTCreateSynchronizationObject(&sync), kStatusSuccess);

    std::vector<D3DKMT_HANDLE> handles = {hAdapter,         hDevice,
                                          context.hContext, surface.create.hResource,
                                          surface.handle(), sync.hSyncObject};
    for (D3DKMT_HANDLE h : handles)
        EXPECT_TRUE(localHandleShape(h)) << std::hex << h;
    // Consecutive objects are 0x40 apart, as Windows hands them out.
    EXPECT_EQ(hDevice, hAdapter + 0x40);

    // A handle cut to 16 bits, or a pointer taken for a handle, names nothing.
    D3DKMT_LOCK lock = {};
    lock.hDevice = hDevice & 0xFFFFu;
    lock.hAllocation = surface.handle();
    EXPECT_EQ(D3DKMTLock(&lock), kStatusInvalidParameter);
    int object = 0;
    lock.hDevice = D3DKMT_HANDLE(reinterpret_cast<uintptr_t>(&object));
    EXPECT_EQ(D3DKMTLock(&lock), kStatusInvalidParameter);

    release({hDevice}, {hAdapter});
}

TEST(StrictKernel, AllocationDataWrittenForAnotherGpuIsRefused) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    D3DKMT_HANDLE hIntel = openGpu(kIntel);
    D3DKMT_HANDLE hIntelDevice = createDevice(hIntel);
    // The Intel driver's description handed to the NVIDIA device.
    OneAllocation surface(hDevice, 4, 4);
    surface.desc = surfaceDesc(hIntelDevice, 4, 4);
    EXPECT_EQ(surface.run(), kStatusInvalidParameter);
    // Unmarked data (no vendor, no GPU) is no driver's either.
    surface.desc = sim::SimAllocationDesc();
    surface.desc.width = surface.desc.height = 4;
    surface.desc.format = D3DDDIFMT_X8R8G8B8;
    EXPECT_EQ(surface.run(), kStatusInvalidParameter);
    surface.desc = surfaceDesc(hDevice, 4, 4);
    EXPECT_EQ(surface.run(), kStatusSuccess);
    release({hDevice, hIntelDevice}, {hAdapter, hIntel});
}

TEST(StrictKernel, CommandsWrittenForAnotherGpuAreRefused) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hIntel = openGpu(kIntel);
    D3DKMT_HANDLE hIntelDevice = createDevice(hIntel);
    D3DKMT_HANDLE hNvidia = openGpu(kNvidia);
    D3DKMT_HANDLE hNvidiaDevice = createDevice(hNvidia);
    D3DKMT_CREATECONTEXT context = {};
    context.hDevice = hIntelDevice;
    ASSERT_EQ(D3DKMTCreateContext(&context), kStatusSuccess);
    D3DKMT_RENDER render = {};
    render.hContext = context.hContext;
    render.CommandLength = 16;
    EXPECT_EQ(D3DKMTRender(&render), kStatusInvalidParameter); // no driver's commands
    sim::SimSubmissionDesc stamp = submissionDesc(hNvidiaDevice);
    render.pPrivateDriverData = &stamp;
    render.PrivateDriverDataSize = sizeof stamp;
    EXPECT_EQ(D3DKMTRender(&render), kStatusInvalidParameter); // the NVIDIA driver's
    stamp = submissionDesc(hIntelDevice);
    EXPECT_EQ(D3DKMTRender(&render), kStatusSuccess);
    // An empty submission carries no commands to check.
    render.CommandLength = 0;
    render.pPrivateDriverData = nullptr;
    render.PrivateDriverDataSize = 0;
    EXPECT_EQ(D3DKMTRender(&render), kStatusSuccess);
    release({hIntelDevice, hNvidiaDevice}, {hIntel, hNvidia});
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

    release({hDevice}, {hAdapter});
}

TEST(StrictSources, ARenderGpuWithoutAMonitorHasNoVideoPresentSource) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    D3DKMT_GETDISPLAYMODELIST modes = {};
    modes.hAdapter = hAdapter;
    EXPECT_EQ(D3DKMTGetDisplayModeList(&modes), kStatusInvalidParameter);
    D3DKMT_WAITFORVERTICALBLANKEVENT vblank = {hAdapter, hDevice, 0};
    EXPECT_EQ(D3DKMTWaitForVerticalBlankEvent(&vblank), kStatusInvalidParameter);
    D3DKMT_GETSCANLINE line = {};
    line.hAdapter = hAdapter;
    EXPECT_EQ(D3DKMTGetScanLine(&line), kStatusInvalidParameter);
    // No primary, so no flip, and no present of any kind reaches a display.
    OneAllocation surface(hDevice, 4, 4, D3DDDI_ALLOCATIONINFOFLAGS::Primary);
    EXPECT_EQ(surface.run(), kStatusInvalidParameter);
    surface.info.Flags.Value = 0;
    ASSERT_EQ(surface.run(), kStatusSuccess);
    D3DKMT_PRESENT present = {};
    present.hDevice = hDevice;
    present.hSource = surface.handle();
    present.Flags.Value = D3DKMT_PRESENTFLAGS::Blt;
    EXPECT_EQ(D3DKMTPresent(&present), kStatusInvalidParameter);
    // Multisampling is the render GPU's own business and still answers.
    D3DKMT_MULTISAMPLEMETHOD methods[8] = {};
    D3DKMT_GETMULTISAMPLEMETHODLIST list = {};
    list.hAdapter = hAdapter;
    list.Width = list.Height = 64;
    list.Format = D3DDDIFMT_X8R8G8B8;
    list.pMethodList = methods;
    list.MethodCount = 8;
    EXPECT_EQ(D3DKMTGetMultisampleMethodList(&list), kStatusSuccess);

    release({hDevice}, {hAdapter});
}

TEST(StrictSources, AnInactiveDisplayDoesNotOpenByName) {
    install(sim::presets::defaultMachine());
    D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME open = {};
    memcpy(open.DeviceName, u"\\\\.\\DISPLAY3", sizeof(u"\\\\.\\DISPLAY3"));
    EXPECT_EQ(D3DKMTOpenAdapterFromGdiDisplayName(&open), sim::kStatusUnsuccessful);
    EXPECT_EQ(sim::Kernel::instance().counts().adapters, 0u);
    // With a monitor attached, the same display opens on its GPU.
    install(sim::presets::monitorOnEveryGpu());
    ASSERT_EQ(D3DKMTOpenAdapterFromGdiDisplayName(&open), kStatusSuccess);
    EXPECT_EQ(sim::Kernel::instance().adapterGpu(open.hAdapter), kNvidia);
    release({}, {open.hAdapter});
}

TEST(StrictKernel, EnumerationValuesOutOfRangeAndReservedFlagBitsAreRefused) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kIntel);
    D3DKMT_CREATEDEVICE device = {};
    device.hAdapter = hAdapter;
    device.Flags.Value = 0x4; // reserved
    EXPECT_EQ(D3DKMTCreateDevice(&device), kStatusInvalidParameter);
    device.Flags.Value = 0;
    ASSERT_EQ(D3DKMTCreateDevice(&device), kStatusSuccess);
    D3DKMT_HANDLE hDevice = device.hDevice;

    D3DKMT_CREATECONTEXT context = {};
    context.hDevice = hDevice;
    context.ClientHint = D3DKMT_CLIENTHINT(11);
    EXPECT_EQ(D3DKMTCreateContext(&context), kStatusInvalidParameter);
    context.ClientHint = D3DKMT_CLIENTHINT(5); // between CDD and DX7: no member
    EXPECT_EQ(D3DKMTCreateContext(&context), kStatusInvalidParameter);
    context.ClientHint = D3DKMT_CLIENTHINT_DX9;
    context.Flags.Value = 0x2;
    EXPECT_EQ(D3DKMTCreateContext(&context), kStatusInvalidParameter);
    context.Flags.Value = 0;
    ASSERT_EQ(D3DKMTCreateContext(&context), kStatusSuccess);

    OneAllocation surface(hDevice, 4, 4, 0x2);
    EXPECT_EQ(surface.run(), kStatusInvalidParameter);
    surface.info.Flags.Value = D3DDDI_ALLOCATIONINFOFLAGS::Primary;
    surface.create.Flags.Value = 0x40;
    EXPECT_EQ(surface.run(), kStatusInvalidParameter);
    surface.create.Flags.Value = 0;
    ASSERT_EQ(surface.run(), kStatusSuccess);
    D3DKMT_HANDLE hPrimary = surface.handle();

    D3DKMT_LOCK lock = {};
    lock.hDevice = hDevice;
    lock.hAllocation = hPrimary;
    lock.Flags.Value = 0x800;
    EXPECT_EQ(D3DKMTLock(&lock), kStatusInvalidParameter);

    D3DKMT_RENDER render = {};
    render.hContext = context.hContext;
    render.Flags.Value = 0x80;
    EXPECT_EQ(D3DKMTRender(&render), kStatusInvalidParameter);

    D3DKMT_PRESENT present = {};
    present.hContext = context.hContext;
    present.hSource = hPrimary;
    present.Flags.Value = D3DKMT_PRESENTFLAGS::Blt | 0x20000;
    EXPECT_EQ(D3DKMTPresent(&present), kStatusInvalidParameter);

    D3DKMT_SETDISPLAYMODE mode = {};
    mode.hDevice = hDevice;
    mode.hPrimaryAllocation = hPrimary;
    mode.ScanLineOrdering = D3DDDI_VIDEO_SIGNAL_SCANLINE_ORDERING(4);
    mode.DisplayOrientation = D3DDDI_ROTATION_IDENTITY;
    EXPECT_EQ(D3DKMTSetDisplayMode(&mode), kStatusInvalidParameter);
    mode.ScanLineOrdering = D3DDDI_VSSLO_PROGRESSIVE;
    mode.DisplayOrientation = D3DDDI_ROTATION(0);
    EXPECT_EQ(D3DKMTSetDisplayMode(&mode), kStatusInvalidParameter);
    mode.DisplayOrientation = D3DDDI_ROTATION(5);
    EXPECT_EQ(D3DKMTSetDisplayMode(&mode), kStatusInvalidParameter);

    uint32_t payload = 0;
    D3DKMT_ESCAPE escape = {};
    escape.hAdapter = hAdapter;
    escape.pPrivateDriverData = &payload;
    escape.PrivateDriverDataSize = sizeof payload;
    escape.Flags.Value = 0x2;
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusInvalidParameter);
    // Without an adapter, or with a context but no device, an escape has no route.
    escape.Flags.Value = 0;
    escape.hAdapter = 0;
    escape.hDevice = hDevice;
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusInvalidParameter);
    escape.hAdapter = hAdapter;
    escape.hDevice = 0;
    escape.hContext = context.hContext;
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusInvalidParameter);

    release({hDevice}, {hAdapter});
}

TEST(StrictKernel, SemaphoreWithMaximumCountZeroIsAccepted) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kIntel);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    D3DKMT_CREATESYNCHRONIZATIONOBJECT sync = {};
    sync.hDevice = hDevice;
    sync.Info.Type = D3DDDI_SEMAPHORE;
    EXPECT_EQ(D3DKMTCreateSynchronizationObject(&sync), kStatusSuccess);
    sync.Info.Semaphore.InitialCount = 1; // above the maximum
    EXPECT_EQ(D3DKMTCreateSynchronizationObject(&sync), kStatusInvalidParameter);
    release({hDevice}, {hAdapter});
}

/// A device on the Intel GPU (the display's) with a context, and helpers for primaries.
class StrictPresent : public ::testing::Test {
protected:
    void SetUp() override {
        install(sim::presets::defaultMachine());
        m_hAdapter = openGpu(kIntel);
        m_hDevice = createDevice(m_hAdapter);
        D3DKMT_CREATECONTEXT context = {};
        context.hDevice = m_hDevice;
        ASSERT_EQ(D3DKMTCreateContext(&context), kStatusSuccess);
        m_hContext = context.hContext;
    }
    void TearDown() override { release({m_hDevice}, {m_hAdapter}); }

    D3DKMT_HANDLE allocate(UINT width, UINT height, bool primary, D3DKMT_HANDLE hDevice = 0) {
        OneAllocation surface(hDevice ? hDevice : m_hDevice, width, height,
                              primary ? D3DDDI_ALLOCATIONINFOFLAGS::Primary : 0);
        EXPECT_EQ(surface.run(), kStatusSuccess);
        return surface.handle();
    }
    NTSTATUS own(D3DKMT_HANDLE hDevice, D3DKMT_VIDPNSOURCEOWNER_TYPE type) {
        D3DDDI_VIDEO_PRESENT_SOURCE_ID source = 0;
        D3DKMT_SETVIDPNSOURCEOWNER owner = {};
        owner.hDevice = hDevice;
        owner.pType = &type;
        owner.pVidPnSourceId = &source;
        owner.VidPnSourceCount = 1;
        return D3DKMTSetVidPnSourceOwner(&owner);
    }
    NTSTATUS setMode(D3DKMT_HANDLE hPrimary) {
        D3DKMT_SETDISPLAYMODE mode = {};
        mode.hDevice = m_hDevice;
        mode.hPrimaryAllocation = hPrimary;
        mode.ScanLineOrdering = D3DDDI_VSSLO_PROGRESSIVE;
        mode.DisplayOrientation = D3DDDI_ROTATION_IDENTITY;
        return D3DKMTSetDisplayMode(&mode);
    }
    NTSTATUS flip(D3DKMT_HANDLE hSource) {
        D3DKMT_PRESENT present = {};
        present.hContext = m_hContext;
        present.hSource = hSource;
        present.Flags.Value = D3DKMT_PRESENTFLAGS::Flip;
        return D3DKMTPresent(&present);
    }

    D3DKMT_HANDLE m_hAdapter = 0, m_hDevice = 0, m_hContext = 0;
};

TEST_F(StrictPresent, SetDisplayModeNeedsExclusiveOwnershipAndAModeOfTheSource) {
    D3DKMT_HANDLE h1024 = allocate(1024, 768, true);
    EXPECT_EQ(setMode(h1024), sim::kStatusNotExclusiveModeOwner);
    ASSERT_EQ(own(m_hDevice, D3DKMT_VIDPNSOURCEOWNER_SHARED), kStatusSuccess);
    EXPECT_EQ(setMode(h1024), sim::kStatusNotExclusiveModeOwner);
    ASSERT_EQ(own(m_hDevice, D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE), kStatusSuccess);
    // 1000x700 is no mode of the display.
    EXPECT_EQ(setMode(allocate(1000, 700, true)), kStatusInvalidParameter);
    // Another device cannot take the source while this one owns it exclusively.
    D3DKMT_HANDLE hOther = createDevice(m_hAdapter);
    EXPECT_EQ(own(hOther, D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE), sim::kStatusVidPnSourceInUse);
    EXPECT_EQ(own(hOther, D3DKMT_VIDPNSOURCEOWNER_SHARED), sim::kStatusVidPnSourceInUse);

    // The mode really changes: the kernel scans out in it and user32 reports it.
    EXPECT_EQ(sim::Kernel::instance().currentMode(kIntel, 0).width, 1280u);
    ASSERT_EQ(setMode(h1024), kStatusSuccess);
    EXPECT_EQ(sim::Kernel::instance().currentMode(kIntel, 0).width, 1024u);
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    ASSERT_TRUE(EnumDisplaySettingsA("\\\\.\\DISPLAY1", ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_EQ(mode.dmPelsWidth, 1024u);
    // When the owner goes, the desktop comes back in its own mode.
    D3DKMT_DESTROYDEVICE destroy = {m_hDevice};
    ASSERT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
    m_hDevice = createDevice(m_hAdapter);
    EXPECT_EQ(sim::Kernel::instance().currentMode(kIntel, 0).width, 1280u);
    EXPECT_EQ(own(hOther, D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE), kStatusSuccess);
    D3DKMT_DESTROYDEVICE destroyOther = {hOther};
    D3DKMTDestroyDevice(&destroyOther);
}

TEST_F(StrictPresent, AFlipNeedsAPrimaryOfTheSourceInItsCurrentMode) {
    EXPECT_EQ(flip(allocate(1280, 800, false)), kStatusInvalidParameter); // no primary
    D3DKMT_HANDLE h1024 = allocate(1024, 768, true);
    EXPECT_EQ(flip(h1024), kStatusInvalidParameter); // the desktop is 1280x800
    D3DKMT_HANDLE h1280 = allocate(1280, 800, true);
    EXPECT_EQ(flip(h1280), kStatusSuccess);
    ASSERT_EQ(own(m_hDevice, D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE), kStatusSuccess);
    ASSERT_EQ(setMode(h1024), kStatusSuccess);
    EXPECT_EQ(flip(h1024), kStatusSuccess);
    EXPECT_EQ(flip(h1280), kStatusInvalidParameter);
}

TEST_F(StrictPresent, BroadcastContextsAreContextsOfTheDevice) {
    D3DKMT_HANDLE hSurface = allocate(64, 64, false);
    D3DKMT_HANDLE hOther = createDevice(m_hAdapter);
    D3DKMT_CREATECONTEXT foreign = {};
    foreign.hDevice = hOther;
    ASSERT_EQ(D3DKMTCreateContext(&foreign), kStatusSuccess);
    D3DKMT_CREATECONTEXT second = {};
    second.hDevice = m_hDevice;
    ASSERT_EQ(D3DKMTCreateContext(&second), kStatusSuccess);
    D3DKMT_PRESENT present = {};
    present.hContext = m_hContext;
    present.hSource = hSurface;
    present.Flags.Value = D3DKMT_PRESENTFLAGS::Blt;
    present.BroadcastContextCount = 1;
    present.BroadcastContext[0] = foreign.hContext;
    EXPECT_EQ(D3DKMTPresent(&present), kStatusInvalidParameter);
    present.BroadcastContext[0] = m_hContext + 0x40 * 1000; // no context at all
    EXPECT_EQ(D3DKMTPresent(&present), kStatusInvalidParameter);
    present.BroadcastContext[0] = second.hContext;
    EXPECT_EQ(D3DKMTPresent(&present), kStatusSuccess);
    sim::JournalEntry entry;
    ASSERT_TRUE(journal().last("gdi32.dll", "D3DKMTPresent", entry));
    char expected[48];
    snprintf(expected, sizeof expected, "broadcast=0x%x", second.hContext);
    EXPECT_NE(entry.arguments.find(expected), std::string::npos) << entry.arguments;
    D3DKMT_DESTROYDEVICE destroy = {hOther};
    D3DKMTDestroyDevice(&destroy);
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

TEST_F(StrictDrivers, PresentCallbackFollowsTheApplicationsPresentNotTheAllocation) {
    // A Blt present of a flip-chain surface stays a Blt present.
    HANDLE chain = nullptr;
    ASSERT_EQ(S_OK, m_pIntelDevice->createFlipChain(1280, 800, D3DDDIFMT_X8R8G8B8, 2, chain));
    ASSERT_EQ(S_OK, m_pIntelDevice->present(chain, 1, nullptr, 0, D3DDDI_PRESENTFLAGS::Blt));
    sim::JournalEntry entry;
    ASSERT_TRUE(journal().last("gdi32.dll", "D3DKMTPresent", entry));
    EXPECT_NE(entry.arguments.find("flags=0x1 "), std::string::npos) << entry.arguments;
    // A flip of a surface that is no primary is refused, not turned into a Blt.
    HANDLE plain = surface(*m_pIntelDevice);
    EXPECT_FAILED(m_pIntelDevice->present(plain, 0, nullptr, 0, D3DDDI_PRESENTFLAGS::Flip));
    ASSERT_TRUE(journal().last("gdi32.dll", "D3DKMTPresent", entry));
    EXPECT_EQ(entry.result, int64_t(kStatusInvalidParameter));
    // Outside an application's present the callback has nothing to present.
    D3DDDICB_PRESENT present = {};
    EXPECT_EQ(E_INVALIDARG,
              RuntimeDevice::callbacks().pfnPresentCb(m_pIntelDevice.get(), &present));
}

TEST_F(StrictDrivers, AllocateCallbackTakesOnlyTheResourceBeingCreated) {
    const D3DDDI_DEVICECALLBACKS& cb = RuntimeDevice::callbacks();
    sim::SimAllocationDesc desc;
    desc.width = desc.height = 8;
    desc.format = D3DDDIFMT_X8R8G8B8;
    desc.setOwner(sim::kVendorIntel, kIntel);
    D3DDDI_ALLOCATIONINFO info = {};
    info.pPrivateDriverData = &desc;
    info.PrivateDriverDataSize = sizeof desc;
    D3DDDICB_ALLOCATE allocate = {};
    allocate.NumAllocations = 1;
    allocate.pAllocationInfo = &info;
    // No resource is being created: a driver's own handle, or a resource created earlier,
    // is refused.
    HANDLE earlier = surface(*m_pIntelDevice);
    allocate.hResource = earlier;
    EXPECT_EQ(E_INVALIDARG, cb.pfnAllocateCb(m_pIntelDevice.get(), &allocate));
    allocate.hResource = reinterpret_cast<HANDLE>(uintptr_t(0x7F3A2C10));
    EXPECT_EQ(E_INVALIDARG, cb.pfnAllocateCb(m_pIntelDevice.get(), &allocate));
    // A standalone allocation is fine, and releasing nothing succeeds.
    allocate.hResource = nullptr;
    ASSERT_EQ(S_OK, cb.pfnAllocateCb(m_pIntelDevice.get(), &allocate));
    D3DDDICB_DEALLOCATE nothing = {};
    EXPECT_EQ(S_OK, cb.pfnDeallocateCb(m_pIntelDevice.get(), &nothing));
    D3DDDICB_DEALLOCATE release = {nullptr, 1, &info.hAllocation};
    EXPECT_EQ(S_OK, cb.pfnDeallocateCb(m_pIntelDevice.get(), &release));
    EXPECT_EQ(S_OK, m_pIntelDevice->destroyResource(earlier));
}

TEST_F(StrictDrivers, DriversReleaseThroughTheResourceAndTheListIsIgnored) {
    SurfaceDesc desc;
    desc.width = desc.height = 8;
    desc.surfaceCount = 3;
    HANDLE h = nullptr;
    ASSERT_EQ(S_OK, m_pIntelDevice->createResource(desc, h));
    sim::JournalEntry entry;
    ASSERT_TRUE(journal().last("d3d9.dll", "AllocateCb", entry));
    EXPECT_EQ(entry.arguments.find("hResource=(nil)"), std::string::npos) << entry.arguments;
    size_t before = sim::Kernel::instance().counts().allocations;
    ASSERT_EQ(S_OK, m_pIntelDevice->destroyResource(h));
    ASSERT_TRUE(journal().last("d3d9.dll", "DeallocateCb", entry));
    EXPECT_NE(entry.arguments.find("NumAllocations=0"), std::string::npos) << entry.arguments;
    EXPECT_EQ(entry.arguments.find("hResource=(nil)"), std::string::npos) << entry.arguments;
    EXPECT_EQ(sim::Kernel::instance().counts().allocations, before - 3);
    EXPECT_EQ(sim::Kernel::instance().counts().resources, 0u);
}

TEST_F(StrictDrivers, OpenResourceRefusesAnAllocationOfAnotherKernelDevice) {
    // An allocation of the NVIDIA device, opened on the Intel device's driver.
    OneAllocation surface(m_pNvidiaDevice->kernelDevice(), 8, 8);
    ASSERT_EQ(surface.run(), kStatusSuccess);
    D3DDDI_OPENALLOCATIONINFO openInfo = {surface.handle(), &surface.desc, sizeof surface.desc};
    D3DDDIARG_OPENRESOURCE open = {};
    open.NumAllocations = 1;
    open.pOpenAllocationInfo = &openInfo;
    open.hResource = reinterpret_cast<HANDLE>(uintptr_t(0x10040));
    open.Rotation = D3DDDI_ROTATION_IDENTITY;
    EXPECT_EQ(E_INVALIDARG,
              m_pIntelDevice->funcs().pfnOpenResource(m_pIntelDevice->driverDevice(), &open));
    // A rotation outside the four members is refused before anything is opened.
    open.Rotation = D3DDDI_ROTATION(0);
    EXPECT_EQ(E_INVALIDARG,
              m_pNvidiaDevice->funcs().pfnOpenResource(m_pNvidiaDevice->driverDevice(), &open));
    open.Rotation = D3DDDI_ROTATION_IDENTITY;
    // On its own device's driver it opens.
    EXPECT_EQ(S_OK,
              m_pNvidiaDevice->funcs().pfnOpenResource(m_pNvidiaDevice->driverDevice(), &open));
    EXPECT_EQ(S_OK, m_pNvidiaDevice->funcs().pfnDestroyResource(m_pNvidiaDevice->driverDevice(),
                                                                open.hResource));
}

TEST_F(StrictDrivers, EscapeCallbackNeedsADeviceOfItsAdapterForAContext) {
    const D3DDDI_DEVICECALLBACKS& cb = RuntimeDevice::callbacks();
    uint32_t data = 0;
    D3DDDICB_ESCAPE escape = {};
    escape.pPrivateDriverData = &data;
    escape.PrivateDriverDataSize = sizeof data;
    escape.hDevice = m_pNvidiaDevice.get(); // a device of the other adapter
    EXPECT_EQ(E_INVALIDARG, cb.pfnEscapeCb(m_pIntel.get(), &escape));
    int bogus = 0;
    escape.hDevice = &bogus; // no device at all
    EXPECT_EQ(E_INVALIDARG, cb.pfnEscapeCb(m_pIntel.get(), &escape));
    escape.hDevice = nullptr;
    escape.hContext = reinterpret_cast<HANDLE>(uintptr_t(0xC0000040u));
    EXPECT_EQ(E_INVALIDARG, cb.pfnEscapeCb(m_pIntel.get(), &escape));
    escape.hContext = nullptr;
    escape.hDevice = m_pIntelDevice.get();
    EXPECT_EQ(S_OK, cb.pfnEscapeCb(m_pIntel.get(), &escape));
    sim::JournalEntry entry;
    ASSERT_TRUE(journal().last("gdi32.dll", "D3DKMTEscape", entry));
    EXPECT_EQ(entry.gpu, kIntel);
}

} // namespace
