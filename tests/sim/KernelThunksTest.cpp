// Conformance of the simulated kernel thunks, in the manner of a driver test suite: for each
// thunk a block of invalid parameters, the success path, and the statuses on close.
#include "GpuTestSupport.h"

#include "sim/gpus/Display.h"
#include "sim/gpus/SimAllocation.h"

#include <string.h>
#include <thread>
#include <vector>

namespace {

using sim::kStatusBufferTooSmall;
using sim::kStatusInvalidParameter;
using sim::kStatusNotSupported;
using sim::kStatusObjectNameNotFound;
using sim::kStatusSuccess;
using simtest::createDevice;
using simtest::install;
using simtest::openGpu;
using simtest::submissionDesc;
using simtest::surfaceDesc;

constexpr int kIntel = 0;
constexpr int kNvidia = 1;

// ---- Adapter opening -------------------------------------------------------------------

TEST(OpenAdapterFromDeviceNameTest, RejectsInvalidParameters) {
    EXPECT_EQ(D3DKMTOpenAdapterFromDeviceName(nullptr), kStatusInvalidParameter);
    D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
    EXPECT_EQ(D3DKMTOpenAdapterFromDeviceName(&open), kStatusInvalidParameter);
    open.pDeviceName = u"\\\\?\\PCI#VEN_1234&DEV_0000#0#{1CA05180-A699-450A-9A0C-DE4FBE3DDD89}";
    EXPECT_EQ(D3DKMTOpenAdapterFromDeviceName(&open), kStatusObjectNameNotFound);
    // The registry text itself (monitor interface class) is not the adapter's name.
    std::u16string monitor = sim::fromUtf8(sim::presets::nvidiaGpu().registryInterfacePath());
    open.pDeviceName = monitor.c_str();
    EXPECT_EQ(D3DKMTOpenAdapterFromDeviceName(&open), kStatusObjectNameNotFound);
}

TEST(OpenAdapterFromDeviceNameTest, OpensEachGpuWithItsLuidAndNewHandles) {
    sim::GpuDesc nvidia = sim::presets::nvidiaGpu();
    std::u16string name = sim::fromUtf8(nvidia.adapterInterfaceName());
    // Case does not matter, as in the object manager.
    for (char16_t& c : name) {
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - 32);
    }
    D3DKMT_OPENADAPTERFROMDEVICENAME first = {name.c_str(), 0, {}};
    D3DKMT_OPENADAPTERFROMDEVICENAME second = {name.c_str(), 0, {}};
    ASSERT_EQ(D3DKMTOpenAdapterFromDeviceName(&first), kStatusSuccess);
    ASSERT_EQ(D3DKMTOpenAdapterFromDeviceName(&second), kStatusSuccess);
    EXPECT_NE(first.hAdapter, 0u);
    EXPECT_NE(first.hAdapter, second.hAdapter);
    EXPECT_EQ(first.AdapterLuid.LowPart, nvidia.luidLow);
    EXPECT_EQ(first.AdapterLuid.HighPart, nvidia.luidHigh);
    EXPECT_EQ(sim::Kernel::instance().adapterGpu(first.hAdapter), kNvidia);
    D3DKMT_CLOSEADAPTER close = {first.hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusInvalidParameter);
    close.hAdapter = second.hAdapter;
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    close.hAdapter = 0;
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTCloseAdapter(nullptr), kStatusInvalidParameter);
}

TEST(OpenAdapterFromHdcTest, GivesTheAdapterAndSourceOfTheContextsDisplay) {
    D3DKMT_OPENADAPTERFROMHDC open = {};
    EXPECT_EQ(D3DKMTOpenAdapterFromHdc(nullptr), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTOpenAdapterFromHdc(&open), kStatusInvalidParameter);
    open.hDc = reinterpret_cast<HDC>(uintptr_t(0x1234));
    EXPECT_EQ(D3DKMTOpenAdapterFromHdc(&open), kStatusInvalidParameter);

    HDC second = CreateDCA(nullptr, "\\\\.\\DISPLAY2", nullptr, nullptr);
    ASSERT_NE(second, nullptr);
    open.hDc = second;
    ASSERT_EQ(D3DKMTOpenAdapterFromHdc(&open), kStatusSuccess);
    EXPECT_EQ(open.VidPnSourceId, 1u);
    EXPECT_EQ(open.AdapterLuid.LowPart, sim::presets::intelGpu().luidLow);
    D3DKMT_CLOSEADAPTER close = {open.hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    EXPECT_TRUE(DeleteDC(second));
    EXPECT_FALSE(DeleteDC(second));
    EXPECT_EQ(D3DKMTOpenAdapterFromHdc(&open), kStatusInvalidParameter);

    HDC primary = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    ASSERT_NE(primary, nullptr);
    open.hDc = primary;
    ASSERT_EQ(D3DKMTOpenAdapterFromHdc(&open), kStatusSuccess);
    EXPECT_EQ(open.VidPnSourceId, 0u);
    close.hAdapter = open.hAdapter;
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    EXPECT_TRUE(DeleteDC(primary));

    // A display device without a monitor has no device context.
    EXPECT_EQ(CreateDCA(nullptr, "\\\\.\\DISPLAY3", nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateDCA(nullptr, "\\\\.\\DISPLAY9", nullptr, nullptr), nullptr);
    EXPECT_EQ(sim::Kernel::instance().counts().deviceContexts, 0u);
}

TEST(OpenAdapterFromGdiDisplayNameTest, OpensByDisplayName) {
    D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME open = {};
    EXPECT_EQ(D3DKMTOpenAdapterFromGdiDisplayName(&open), kStatusInvalidParameter);
    // The NVIDIA GPU's display device is not attached: it has no source to open.
    memcpy(open.DeviceName, u"\\\\.\\DISPLAY3", sizeof(u"\\\\.\\DISPLAY3"));
    EXPECT_EQ(D3DKMTOpenAdapterFromGdiDisplayName(&open), sim::kStatusUnsuccessful);
    memcpy(open.DeviceName, u"\\\\.\\DISPLAY2", sizeof(u"\\\\.\\DISPLAY2"));
    ASSERT_EQ(D3DKMTOpenAdapterFromGdiDisplayName(&open), kStatusSuccess);
    EXPECT_EQ(sim::Kernel::instance().adapterGpu(open.hAdapter), kIntel);
    EXPECT_EQ(open.VidPnSourceId, 1u);
    D3DKMT_CLOSEADAPTER close = {open.hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    // An unterminated name is refused rather than read past its end.
    for (WCHAR& c : open.DeviceName)
        c = u'A';
    EXPECT_EQ(D3DKMTOpenAdapterFromGdiDisplayName(&open), kStatusInvalidParameter);
}

// ---- Adapter queries -------------------------------------------------------------------

TEST(QueryAdapterInfoTest, RejectsInvalidParameters) {
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    D3DKMT_ADAPTERADDRESS address = {};
    D3DKMT_QUERYADAPTERINFO query = {0, KMTQAITYPE_ADAPTERADDRESS, &address, sizeof address};
    EXPECT_EQ(D3DKMTQueryAdapterInfo(nullptr), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusInvalidParameter);
    query.hAdapter = hAdapter;
    query.pPrivateDriverData = nullptr;
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusInvalidParameter);
    query.pPrivateDriverData = &address;
    query.PrivateDriverDataSize = sizeof address - 1;
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusInvalidParameter);
    query.PrivateDriverDataSize = sizeof address;
    query.Type = KMTQUERYADAPTERINFOTYPE(14); // unused number
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusInvalidParameter);
    D3DKMT_UMDFILENAMEINFO name = {};
    query.Type = KMTQAITYPE_UMDRIVERNAME;
    query.pPrivateDriverData = &name;
    query.PrivateDriverDataSize = sizeof name + 4;
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusInvalidParameter);
    query.PrivateDriverDataSize = sizeof name;
    name.Version = KMTUMDVERSION(3);
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusInvalidParameter);
    name.Version = KMTUMDVERSION_DX10;
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusNotSupported);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    query.Type = KMTQAITYPE_ADAPTERADDRESS;
    query.pPrivateDriverData = &address;
    query.PrivateDriverDataSize = sizeof address;
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusInvalidParameter);
}

TEST(QueryAdapterInfoTest, AnswersDriverNameAddressAndPrivateData) {
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    ASSERT_NE(hAdapter, 0u);
    D3DKMT_UMDFILENAMEINFO name;
    memset(&name, 0xCC, sizeof name);
    name.Version = KMTUMDVERSION_DX9;
    D3DKMT_QUERYADAPTERINFO query = {hAdapter, KMTQAITYPE_UMDRIVERNAME, &name, sizeof name};
    ASSERT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusSuccess);
    EXPECT_EQ(sim::toUtf8(name.UmdFileName), "simumd_nv.dll");

    D3DKMT_ADAPTERADDRESS address = {};
    query = {hAdapter, KMTQAITYPE_ADAPTERADDRESS, &address, sizeof address};
    ASSERT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusSuccess);
    EXPECT_EQ(address.BusNumber, 1u);

    const std::vector<uint8_t>& blob = sim::presets::nvidiaGpu().umdPrivateData;
    std::vector<uint8_t> buffer(blob.size() + 8, 0xCC);
    query = {hAdapter, KMTQAITYPE_UMDRIVERPRIVATE, buffer.data(), UINT(buffer.size())};
    ASSERT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusSuccess);
    EXPECT_TRUE(std::equal(blob.begin(), blob.end(), buffer.begin()));
    EXPECT_EQ(buffer.back(), 0u);
    query.PrivateDriverDataSize = UINT(blob.size() - 1);
    EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), kStatusBufferTooSmall);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
}

TEST(GetDisplayModeListTest, CountsThenFillsAndRefusesSmallLists) {
    D3DKMT_HANDLE hAdapter = openGpu(kIntel);
    D3DKMT_GETDISPLAYMODELIST list = {};
    EXPECT_EQ(D3DKMTGetDisplayModeList(nullptr), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTGetDisplayModeList(&list), kStatusInvalidParameter);
    list.hAdapter = hAdapter;
    list.VidPnSourceId = 2; // the Intel GPU has sources 0 and 1
    EXPECT_EQ(D3DKMTGetDisplayModeList(&list), kStatusInvalidParameter);
    list.VidPnSourceId = 0;
    ASSERT_EQ(D3DKMTGetDisplayModeList(&list), kStatusSuccess);
    const std::vector<sim::DisplayMode>& modes = sim::presets::intelGpu().modes;
    ASSERT_EQ(list.ModeCount, modes.size());
    std::vector<D3DKMT_DISPLAYMODE> buffer(modes.size());
    list.pModeList = buffer.data();
    list.ModeCount = UINT(modes.size() - 1);
    EXPECT_EQ(D3DKMTGetDisplayModeList(&list), kStatusBufferTooSmall);
    EXPECT_EQ(list.ModeCount, modes.size());
    ASSERT_EQ(D3DKMTGetDisplayModeList(&list), kStatusSuccess);
    EXPECT_EQ(buffer[0].Width, modes[0].width);
    EXPECT_EQ(UINT(buffer[0].Format), modes[0].format);
    EXPECT_EQ(buffer[0].IntegerRefreshRate, 60u);
    EXPECT_EQ(buffer[0].RefreshRate.Denominator, 1u);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
}

TEST(GetMultisampleMethodListTest, CountsThenFills) {
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    D3DKMT_GETMULTISAMPLEMETHODLIST list = {};
    list.hAdapter = hAdapter;
    list.Format = D3DDDIFMT_X8R8G8B8;
    EXPECT_EQ(D3DKMTGetMultisampleMethodList(&list), kStatusInvalidParameter); // no size
    list.Width = 640;
    list.Height = 480;
    ASSERT_EQ(D3DKMTGetMultisampleMethodList(&list), kStatusSuccess);
    ASSERT_EQ(list.MethodCount, 4u);
    std::vector<D3DKMT_MULTISAMPLEMETHOD> methods(4);
    list.pMethodList = methods.data();
    list.MethodCount = 2;
    EXPECT_EQ(D3DKMTGetMultisampleMethodList(&list), kStatusBufferTooSmall);
    list.MethodCount = 4;
    ASSERT_EQ(D3DKMTGetMultisampleMethodList(&list), kStatusSuccess);
    EXPECT_EQ(methods[2].NumSamples, 4u);
    EXPECT_EQ(methods[2].NumQualityLevels, 4u);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
}

// ---- Devices, allocations, locks -------------------------------------------------------

/// A device on one GPU, destroyed at the end of the test.
class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_hAdapter = openGpu(m_gpu);
        ASSERT_NE(m_hAdapter, 0u);
        m_hDevice = createDevice(m_hAdapter);
        ASSERT_NE(m_hDevice, 0u);
    }
    void TearDown() override {
        D3DKMT_DESTROYDEVICE destroy = {m_hDevice};
        EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
        D3DKMT_CLOSEADAPTER close = {m_hAdapter};
        EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
        sim::KernelCounts counts = sim::Kernel::instance().counts();
        EXPECT_EQ(counts.devices + counts.allocations + counts.resources + counts.contexts +
                      counts.syncObjects + counts.adapters,
                  0u);
    }

    /// Creates surfaces of the given size, format X8R8G8B8; returns the status.
    NTSTATUS createSurfaces(UINT count, UINT width, UINT height, D3DKMT_HANDLE* pHandles,
                            UINT flags = 0, D3DKMT_HANDLE* pResource = nullptr,
                            const void* pSystemMem = nullptr, D3DKMT_HANDLE hDevice = 0) {
        sim::SimAllocationDesc desc = surfaceDesc(hDevice ? hDevice : m_hDevice, width, height);
        std::vector<D3DDDI_ALLOCATIONINFO> infos(count);
        for (D3DDDI_ALLOCATIONINFO& info : infos) {
            info = {};
            info.pPrivateDriverData = &desc;
            info.PrivateDriverDataSize = sizeof desc;
            info.pSystemMem = pSystemMem;
        }
        D3DKMT_CREATEALLOCATION create = {};
        create.hDevice = hDevice ? hDevice : m_hDevice;
        create.hResource = pResource ? *pResource : 0;
        create.NumAllocations = count;
        create.pAllocationInfo = infos.data();
        create.Flags.Value = flags;
        NTSTATUS status = D3DKMTCreateAllocation(&create);
        for (UINT i = 0; i < count; ++i)
            pHandles[i] = infos[i].hAllocation;
        if (pResource)
            *pResource = create.hResource;
        return status;
    }

    int m_gpu = kNvidia;
    D3DKMT_HANDLE m_hAdapter = 0;
    D3DKMT_HANDLE m_hDevice = 0;
};

using CreateDeviceTest = DeviceFixture;

TEST_F(CreateDeviceTest, RejectsUnknownAdaptersAndHandsOutCommandBuffers) {
    D3DKMT_CREATEDEVICE create = {};
    EXPECT_EQ(D3DKMTCreateDevice(nullptr), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTCreateDevice(&create), kStatusInvalidParameter);
    create.hAdapter = m_hAdapter;
    ASSERT_EQ(D3DKMTCreateDevice(&create), kStatusSuccess);
    EXPECT_NE(create.pCommandBuffer, nullptr);
    EXPECT_EQ(create.CommandBufferSize, sim::Kernel::kCommandBufferSize);
    EXPECT_NE(create.pAllocationList, nullptr);
    EXPECT_NE(create.pPatchLocationList, nullptr);
    EXPECT_EQ(sim::Kernel::instance().deviceGpu(create.hDevice), kNvidia);
    D3DKMT_DESTROYDEVICE destroy = {create.hDevice};
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTDestroyDevice(nullptr), kStatusInvalidParameter);
}

TEST_F(CreateDeviceTest, DevicesOutliveTheAdapterHandleTheyWereCreatedOn) {
    D3DKMT_HANDLE hAdapter = openGpu(kIntel);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    ASSERT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
    EXPECT_EQ(sim::Kernel::instance().deviceGpu(hDevice), kIntel);
    D3DKMT_DESTROYDEVICE destroy = {hDevice};
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
}

using AllocationTest = DeviceFixture;

TEST_F(AllocationTest, RejectsInvalidParameters) {
    D3DKMT_HANDLE h[2] = {};
    D3DKMT_CREATEALLOCATION create = {};
    EXPECT_EQ(D3DKMTCreateAllocation(nullptr), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter); // no device
    create.hDevice = m_hDevice;
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter); // no allocations
    D3DDDI_ALLOCATIONINFO info = {};
    create.NumAllocations = 1;
    create.pAllocationInfo = &info;
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter); // no description
    sim::SimAllocationDesc desc = surfaceDesc(m_hDevice, 4, 4);
    desc.magic = 0;
    info.pPrivateDriverData = &desc;
    info.PrivateDriverDataSize = sizeof desc;
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter); // not ours
    desc.magic = sim::kSimAllocationMagic;
    desc.format = 0; // unknown format without a pitch
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter);
    desc.format = D3DDDIFMT_X8R8G8B8;
    info.Flags.Value = D3DDDI_ALLOCATIONINFOFLAGS::Primary;
    info.VidPnSourceId = 5;
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter); // no such source
    info.Flags.Value = 0;
    create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::CreateShared; // shares a new resource only
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusInvalidParameter);
    create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::ExistingSysMem;
    EXPECT_EQ(D3DKMTCreateAllocation(&create), kStatusNotSupported);
    EXPECT_EQ(sim::Kernel::instance().counts().allocations, 0u);
    (void)h;
}

TEST_F(AllocationTest, MemoryIsZeroedLockableAndDestroyedWithItsResource) {
    D3DKMT_HANDLE h[2] = {};
    D3DKMT_HANDLE hResource = 0;
    ASSERT_EQ(createSurfaces(2, 16, 8, h, D3DKMT_CREATEALLOCATIONFLAGS::CreateResource, &hResource),
              kStatusSuccess);
    ASSERT_NE(hResource, 0u);
    EXPECT_NE(h[0], h[1]);
    sim::AllocationInfo info;
    ASSERT_TRUE(sim::Kernel::instance().allocation(h[1], info));
    EXPECT_EQ(info.pitch, 64u);
    EXPECT_EQ(info.size, 512u);
    EXPECT_EQ(info.hResource, hResource);
    EXPECT_EQ(info.gpu, kNvidia);

    D3DKMT_LOCK lock = {};
    lock.hDevice = m_hDevice;
    lock.hAllocation = h[1];
    ASSERT_EQ(D3DKMTLock(&lock), kStatusSuccess);
    // Video memory is locked as a CPU copy that lives until the unlock.
    EXPECT_NE(lock.pData, nullptr);
    const uint8_t* pBytes = static_cast<const uint8_t*>(lock.pData);
    EXPECT_EQ(std::count(pBytes, pBytes + 512, 0), 512);
    D3DKMT_UNLOCK unlock = {m_hDevice, 1, &h[1]};
    EXPECT_EQ(D3DKMTUnlock(&unlock), kStatusSuccess);
    EXPECT_EQ(D3DKMTUnlock(&unlock), kStatusInvalidParameter); // no longer locked
    unlock.phAllocations = nullptr;
    EXPECT_EQ(D3DKMTUnlock(&unlock), kStatusInvalidParameter);

    // An allocation of another device is not this device's.
    D3DKMT_HANDLE hOther = createDevice(m_hAdapter);
    lock.hDevice = hOther;
    EXPECT_EQ(D3DKMTLock(&lock), kStatusInvalidParameter);
    D3DKMT_DESTROYDEVICE destroyOther = {hOther};
    EXPECT_EQ(D3DKMTDestroyDevice(&destroyOther), kStatusSuccess);

    D3DKMT_DESTROYALLOCATION destroy = {m_hDevice, hResource, nullptr, 0};
    EXPECT_EQ(D3DKMTDestroyAllocation(&destroy), kStatusSuccess);
    EXPECT_FALSE(sim::Kernel::instance().allocation(h[0], info));
    EXPECT_EQ(D3DKMTDestroyAllocation(&destroy), kStatusInvalidParameter);
}

TEST_F(AllocationTest, DestroyingAListChecksEveryHandleBeforeDestroyingAny) {
    D3DKMT_HANDLE h[3] = {};
    ASSERT_EQ(createSurfaces(2, 4, 4, h), kStatusSuccess);
    h[2] = h[1] + 1000;
    D3DKMT_DESTROYALLOCATION destroy = {m_hDevice, 0, h, 3};
    EXPECT_EQ(D3DKMTDestroyAllocation(&destroy), kStatusInvalidParameter);
    EXPECT_EQ(sim::Kernel::instance().allocationsOf(m_hDevice).size(), 2u);
    destroy.AllocationCount = 2;
    EXPECT_EQ(D3DKMTDestroyAllocation(&destroy), kStatusSuccess);
    EXPECT_TRUE(sim::Kernel::instance().allocationsOf(m_hDevice).empty());
}

TEST_F(AllocationTest, HResourceIsZeroOrAResourceOfTheDevice) {
    // A handle no kernel resource has (a driver's own resource handle, say) is refused,
    // as Windows refuses it; so is a resource handle together with CreateResource.
    D3DKMT_HANDLE h[1] = {};
    D3DKMT_HANDLE hResource = 0xC0FFEE40u;
    EXPECT_EQ(createSurfaces(1, 4, 4, h, 0, &hResource), sim::kStatusInvalidHandle);
    hResource = 0;
    ASSERT_EQ(createSurfaces(1, 4, 4, h, D3DKMT_CREATEALLOCATIONFLAGS::CreateResource, &hResource),
              kStatusSuccess);
    D3DKMT_HANDLE again = hResource;
    EXPECT_EQ(createSurfaces(1, 4, 4, h, D3DKMT_CREATEALLOCATIONFLAGS::CreateResource, &again),
              kStatusInvalidParameter);
    // Later allocations naming the kernel resource join it.
    D3DKMT_HANDLE more[1] = {};
    D3DKMT_HANDLE join = hResource;
    ASSERT_EQ(createSurfaces(1, 4, 4, more, 0, &join), kStatusSuccess);
    EXPECT_EQ(join, hResource);
    EXPECT_EQ(sim::Kernel::instance().resourceAllocations(hResource).size(), 2u);
    // Another device's resource is no resource of this device.
    D3DKMT_HANDLE hOther = createDevice(m_hAdapter);
    D3DKMT_HANDLE foreign = hResource;
    EXPECT_EQ(createSurfaces(1, 4, 4, more, 0, &foreign, nullptr, hOther),
              sim::kStatusInvalidHandle);
    D3DKMT_DESTROYDEVICE destroy = {hOther};
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
}

TEST_F(AllocationTest, DestroyingAResourceTakesAllItsAllocationsAndNothingIsNoError) {
    D3DKMT_HANDLE h[2] = {};
    D3DKMT_HANDLE hResource = 0;
    ASSERT_EQ(createSurfaces(2, 4, 4, h, D3DKMT_CREATEALLOCATIONFLAGS::CreateResource, &hResource),
              kStatusSuccess);
    // Naming the resource releases every allocation of it, even with a shorter list.
    D3DKMT_DESTROYALLOCATION destroy = {};
    destroy.hDevice = m_hDevice;
    destroy.hResource = hResource;
    destroy.phAllocationList = h;
    destroy.AllocationCount = 1;
    EXPECT_EQ(D3DKMTDestroyAllocation(&destroy), kStatusSuccess);
    EXPECT_EQ(sim::Kernel::instance().counts().allocations, 0u);
    EXPECT_EQ(sim::Kernel::instance().counts().resources, 0u);
    // Destroying no allocation at all succeeds.
    D3DKMT_DESTROYALLOCATION nothing = {};
    nothing.hDevice = m_hDevice;
    EXPECT_EQ(D3DKMTDestroyAllocation(&nothing), kStatusSuccess);
}

TEST_F(AllocationTest, SystemMemoryIsSharedBetweenGpus) {
    // Two system-memory surfaces over the same memory, one per GPU: what one GPU writes
    // the other reads.
    std::vector<uint32_t> memory(4 * 4, 0);
    D3DKMT_HANDLE onNvidia[1] = {};
    ASSERT_EQ(createSurfaces(1, 4, 4, onNvidia, 0, nullptr, memory.data()), kStatusSuccess);
    D3DKMT_HANDLE hIntel = openGpu(kIntel);
    D3DKMT_HANDLE hIntelDevice = createDevice(hIntel);
    D3DKMT_HANDLE onIntel[1] = {};
    ASSERT_EQ(createSurfaces(1, 4, 4, onIntel, 0, nullptr, memory.data(), hIntelDevice),
              kStatusSuccess);
    D3DKMT_LOCK write = {};
    write.hDevice = m_hDevice;
    write.hAllocation = onNvidia[0];
    ASSERT_EQ(D3DKMTLock(&write), kStatusSuccess);
    static_cast<uint32_t*>(write.pData)[5] = 0x00ABCDEF;
    D3DKMT_LOCK read = {};
    read.hDevice = hIntelDevice;
    read.hAllocation = onIntel[0];
    ASSERT_EQ(D3DKMTLock(&read), kStatusSuccess);
    EXPECT_EQ(static_cast<uint32_t*>(read.pData)[5], 0x00ABCDEFu);
    D3DKMT_DESTROYDEVICE destroy = {hIntelDevice};
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
    D3DKMT_CLOSEADAPTER close = {hIntel};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
}

TEST_F(AllocationTest, PriorityAndResidency) {
    D3DKMT_HANDLE h[2] = {};
    ASSERT_EQ(createSurfaces(2, 4, 4, h), kStatusSuccess);
    UINT priorities[2] = {0x28000000, 0xC8000000};
    D3DKMT_SETALLOCATIONPRIORITY set = {m_hDevice, 0, h, 2, nullptr};
    EXPECT_EQ(D3DKMTSetAllocationPriority(&set), kStatusInvalidParameter);
    set.pPriorities = priorities;
    ASSERT_EQ(D3DKMTSetAllocationPriority(&set), kStatusSuccess);
    sim::AllocationInfo info;
    ASSERT_TRUE(sim::Kernel::instance().allocation(h[1], info));
    EXPECT_EQ(info.priority, 0xC8000000u);

    D3DKMT_ALLOCATIONRESIDENCYSTATUS status[2] = {};
    D3DKMT_QUERYALLOCATIONRESIDENCY query = {m_hDevice, 0, h, 2, nullptr};
    EXPECT_EQ(D3DKMTQueryAllocationResidency(&query), kStatusInvalidParameter);
    query.pResidencyStatus = status;
    ASSERT_EQ(D3DKMTQueryAllocationResidency(&query), kStatusSuccess);
    EXPECT_EQ(status[1], D3DKMT_ALLOCATIONRESIDENCYSTATUS_RESIDENTINGPUMEMORY);
    query.AllocationCount = 0;
    EXPECT_EQ(D3DKMTQueryAllocationResidency(&query), kStatusInvalidParameter);
}

// ---- Contexts and submission -----------------------------------------------------------

using ContextTest = DeviceFixture;

TEST_F(ContextTest, RenderHandsOutNewBuffersAndRecordsTheSubmission) {
    D3DKMT_CREATECONTEXT create = {};
    create.hDevice = m_hDevice;
    create.NodeOrdinal = 1; // one engine only
    EXPECT_EQ(D3DKMTCreateContext(&create), kStatusInvalidParameter);
    create.NodeOrdinal = 0;
    create.PrivateDriverDataSize = 16;
    EXPECT_EQ(D3DKMTCreateContext(&create), kStatusInvalidParameter);
    create.PrivateDriverDataSize = 0;
    create.ClientHint = D3DKMT_CLIENTHINT_DX9;
    ASSERT_EQ(D3DKMTCreateContext(&create), kStatusSuccess);
    ASSERT_NE(create.pCommandBuffer, nullptr);

    memcpy(create.pCommandBuffer, "DRAW", 4);
    D3DKMT_HANDLE h[1] = {};
    ASSERT_EQ(createSurfaces(1, 4, 4, h), kStatusSuccess);
    create.pAllocationList[0].hAllocation = h[0];
    D3DKMT_RENDER render = {};
    render.hContext = create.hContext;
    sim::SimSubmissionDesc stamp = submissionDesc(m_hDevice);
    render.pPrivateDriverData = &stamp;
    render.PrivateDriverDataSize = sizeof stamp;
    render.CommandLength = create.CommandBufferSize + 1;
    EXPECT_EQ(D3DKMTRender(&render), kStatusInvalidParameter);
    render.CommandLength = 4;
    render.AllocationCount = 1;
    ASSERT_EQ(D3DKMTRender(&render), kStatusSuccess);
    EXPECT_NE(render.pNewCommandBuffer, nullptr);
    EXPECT_EQ(render.NewCommandBufferSize, sim::Kernel::kCommandBufferSize);
    EXPECT_NE(render.pNewAllocationList, nullptr);
    EXPECT_EQ(render.QueuedBufferCount, 0u);
    sim::ContextInfo info;
    ASSERT_TRUE(sim::Kernel::instance().context(create.hContext, info));
    EXPECT_EQ(info.submissions, 1u);
    EXPECT_EQ(std::string(info.lastCommands.begin(), info.lastCommands.end()), "DRAW");
    EXPECT_EQ(info.lastAllocations, std::vector<D3DKMT_HANDLE>{h[0]});

    // A resize request is honoured.
    render.CommandLength = 0;
    render.AllocationCount = 0;
    render.Flags.Value = D3DKMT_RENDERFLAGS::ResizeCommandBuffer;
    render.NewCommandBufferSize = 4096;
    ASSERT_EQ(D3DKMTRender(&render), kStatusSuccess);
    EXPECT_EQ(render.NewCommandBufferSize, 4096u);

    D3DKMT_DESTROYCONTEXT destroy = {create.hContext};
    EXPECT_EQ(D3DKMTDestroyContext(&destroy), kStatusSuccess);
    EXPECT_EQ(D3DKMTDestroyContext(&destroy), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTRender(&render), kStatusInvalidParameter);
}

TEST_F(ContextTest, RenderRefusesAllocationsOfOtherDevices) {
    D3DKMT_CREATECONTEXT create = {};
    create.hDevice = m_hDevice;
    ASSERT_EQ(D3DKMTCreateContext(&create), kStatusSuccess);
    create.pAllocationList[0].hAllocation = 0xFFFFFF;
    D3DKMT_RENDER render = {};
    render.hContext = create.hContext;
    render.AllocationCount = 1;
    EXPECT_EQ(D3DKMTRender(&render), kStatusInvalidParameter);
}

TEST_F(ContextTest, SynchronizationObjects) {
    D3DKMT_CREATESYNCHRONIZATIONOBJECT create = {};
    create.hDevice = m_hDevice;
    create.Info.Type = D3DDDI_SYNCHRONIZATIONOBJECT_TYPE(3); // a fence: not in this version
    EXPECT_EQ(D3DKMTCreateSynchronizationObject(&create), kStatusInvalidParameter);
    create.Info.Type = D3DDDI_SEMAPHORE;
    create.Info.Semaphore.MaxCount = 2;
    create.Info.Semaphore.InitialCount = 3;
    EXPECT_EQ(D3DKMTCreateSynchronizationObject(&create), kStatusInvalidParameter);
    create.Info.Semaphore.InitialCount = 0;
    ASSERT_EQ(D3DKMTCreateSynchronizationObject(&create), kStatusSuccess);

    D3DKMT_CREATECONTEXT context = {};
    context.hDevice = m_hDevice;
    ASSERT_EQ(D3DKMTCreateContext(&context), kStatusSuccess);
    D3DKMT_SIGNALSYNCHRONIZATIONOBJECT signal = {};
    signal.hContext = context.hContext;
    EXPECT_EQ(D3DKMTSignalSynchronizationObject(&signal), kStatusInvalidParameter); // none
    signal.ObjectCount = 33;
    EXPECT_EQ(D3DKMTSignalSynchronizationObject(&signal), kStatusInvalidParameter);
    signal.ObjectCount = 1;
    signal.ObjectHandleArray[0] = create.hSyncObject;
    ASSERT_EQ(D3DKMTSignalSynchronizationObject(&signal), kStatusSuccess);
    D3DKMT_WAITFORSYNCHRONIZATIONOBJECT wait = {};
    wait.hContext = context.hContext;
    wait.ObjectCount = 1;
    wait.ObjectHandleArray[0] = create.hSyncObject;
    ASSERT_EQ(D3DKMTWaitForSynchronizationObject(&wait), kStatusSuccess);
    sim::SyncObjectInfo info;
    ASSERT_TRUE(sim::Kernel::instance().syncObject(create.hSyncObject, info));
    EXPECT_EQ(info.signals, 1u);
    EXPECT_EQ(info.waits, 1u);

    D3DKMT_DESTROYSYNCHRONIZATIONOBJECT destroy = {create.hSyncObject};
    EXPECT_EQ(D3DKMTDestroySynchronizationObject(&destroy), kStatusSuccess);
    EXPECT_EQ(D3DKMTDestroySynchronizationObject(&destroy), kStatusInvalidParameter);
    EXPECT_EQ(D3DKMTWaitForSynchronizationObject(&wait), kStatusInvalidParameter);
}

TEST_F(ContextTest, EscapeReachesTheHandlerOfTheAdaptersGpu) {
    uint32_t payload = 0x1234;
    D3DKMT_ESCAPE escape = {};
    escape.hAdapter = m_hAdapter;
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusInvalidParameter); // no data
    escape.pPrivateDriverData = &payload;
    escape.PrivateDriverDataSize = sizeof payload;
    escape.hDevice = m_hDevice + 1000;
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusInvalidParameter);
    escape.hDevice = m_hDevice;
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusSuccess);
    escape.hAdapter = 0; // an escape is routed by its adapter, even when a device is named
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusInvalidParameter);
    escape.hAdapter = m_hAdapter;
    escape.hDevice = m_hDevice;
    int seenGpu = -1;
    sim::Kernel::instance().setEscapeHandler([&](int gpu, const D3DKMT_ESCAPE& e) {
        seenGpu = gpu;
        *static_cast<uint32_t*>(e.pPrivateDriverData) = 0xBEEF;
        return NTSTATUS(STATUS_NOT_SUPPORTED);
    });
    EXPECT_EQ(D3DKMTEscape(&escape), kStatusNotSupported);
    EXPECT_EQ(seenGpu, kNvidia);
    EXPECT_EQ(payload, 0xBEEFu);
    sim::Kernel::instance().setEscapeHandler(nullptr);
}

TEST_F(ContextTest, LegacyDeviceRendersThroughItsOwnBuffers) {
    D3DKMT_RENDER render = {};
    render.hDevice = m_hDevice;
    sim::SimSubmissionDesc stamp = submissionDesc(m_hDevice);
    render.pPrivateDriverData = &stamp;
    render.PrivateDriverDataSize = sizeof stamp;
    render.CommandLength = 8;
    ASSERT_EQ(D3DKMTRender(&render), kStatusSuccess);
    sim::ContextInfo info;
    ASSERT_TRUE(sim::Kernel::instance().context(m_hDevice, info));
    EXPECT_EQ(info.submissions, 1u);
    EXPECT_EQ(info.submittedBytes, 8u);
}

TEST_F(ContextTest, DisplayModeScanLineAndVerticalBlank) {
    D3DKMT_HANDLE h[1] = {};
    ASSERT_EQ(createSurfaces(1, 4, 4, h), kStatusSuccess);
    D3DKMT_SETDISPLAYMODE mode = {};
    mode.hDevice = m_hDevice;
    mode.hPrimaryAllocation = h[0];
    EXPECT_EQ(D3DKMTSetDisplayMode(&mode), kStatusInvalidParameter); // not a primary
    EXPECT_EQ(D3DKMTSetDisplayMode(nullptr), kStatusInvalidParameter);

    // The display's GPU has a source with a monitor; the NVIDIA GPU has none.
    D3DKMT_HANDLE hIntel = openGpu(kIntel);
    D3DKMT_WAITFORVERTICALBLANKEVENT vblank = {hIntel, 0, 0};
    EXPECT_EQ(D3DKMTWaitForVerticalBlankEvent(&vblank), kStatusSuccess);
    vblank.VidPnSourceId = 2;
    EXPECT_EQ(D3DKMTWaitForVerticalBlankEvent(&vblank), kStatusInvalidParameter);
    vblank = {m_hAdapter, m_hDevice, 0};
    EXPECT_EQ(D3DKMTWaitForVerticalBlankEvent(&vblank), kStatusInvalidParameter);
    D3DKMT_GETSCANLINE line = {};
    line.hAdapter = hIntel;
    EXPECT_EQ(D3DKMTGetScanLine(&line), kStatusSuccess);
    line.hAdapter = 0;
    EXPECT_EQ(D3DKMTGetScanLine(&line), kStatusInvalidParameter);
    D3DKMT_CLOSEADAPTER close = {hIntel};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
}

TEST_F(ContextTest, NothingIsSharedSoNoGlobalHandleOpens) {
    D3DKMT_OPENRESOURCE open = {};
    open.hDevice = m_hDevice;
    open.hGlobalShare = 1;
    EXPECT_EQ(D3DKMTOpenResource(&open), kStatusInvalidParameter);
    D3DKMT_QUERYRESOURCEINFO query = {};
    query.hDevice = m_hDevice;
    query.hGlobalShare = 1;
    EXPECT_EQ(D3DKMTQueryResourceInfo(&query), kStatusInvalidParameter);
    query.hDevice = 0;
    EXPECT_EQ(D3DKMTQueryResourceInfo(&query), kStatusInvalidParameter);
}

// ---- Present ---------------------------------------------------------------------------

/// Presents reach a display: the device is on the display's GPU.
class PresentTest : public DeviceFixture {
protected:
    void SetUp() override {
        sim::Display::instance().clear();
        m_gpu = kIntel;
        DeviceFixture::SetUp();
        D3DKMT_CREATECONTEXT context = {};
        context.hDevice = m_hDevice;
        ASSERT_EQ(D3DKMTCreateContext(&context), kStatusSuccess);
        m_hContext = context.hContext;
        ASSERT_EQ(createSurfaces(1, 8, 4, &m_hSurface), kStatusSuccess);
        D3DKMT_LOCK lock = {};
        lock.hDevice = m_hDevice;
        lock.hAllocation = m_hSurface;
        ASSERT_EQ(D3DKMTLock(&lock), kStatusSuccess);
        auto* pPixels = static_cast<uint32_t*>(lock.pData);
        for (uint32_t i = 0; i < 32; ++i)
            pPixels[i] = 0x00010203u * i;
        D3DKMT_UNLOCK unlock = {m_hDevice, 1, &m_hSurface};
        ASSERT_EQ(D3DKMTUnlock(&unlock), kStatusSuccess);
    }

    D3DKMT_PRESENT present(UINT flags) {
        D3DKMT_PRESENT p;
        memset(&p, 0, sizeof p);
        p.hContext = m_hContext;
        p.hSource = m_hSurface;
        p.Flags.Value = flags;
        p.FlipInterval = D3DDDI_FLIPINTERVAL_TWO;
        return p;
    }

    D3DKMT_HANDLE m_hContext = 0;
    D3DKMT_HANDLE m_hSurface = 0;
};

TEST_F(PresentTest, BltScansTheSourceOutWithItsFlipInterval) {
    D3DKMT_PRESENT p = present(D3DKMT_PRESENTFLAGS::Blt);
    ASSERT_EQ(D3DKMTPresent(&p), kStatusSuccess);
    sim::ScanOut out;
    ASSERT_TRUE(sim::Display::instance().last(kIntel, 0, out));
    EXPECT_EQ(out.flipInterval, 2u);
    ASSERT_EQ(out.image.width, 8u);
    ASSERT_EQ(out.image.height, 4u);
    EXPECT_EQ(out.image.at(3, 2), 0xFF000000u | (0x00010203u * 19));
    EXPECT_EQ(sim::Display::instance().count(kIntel, 0), 1u);
    EXPECT_EQ(sim::Display::instance().count(kNvidia, 0), 0u);
}

TEST_F(PresentTest, SourceRectangleCropsAndColorFillNeedsNoSource) {
    D3DKMT_PRESENT p = present(D3DKMT_PRESENTFLAGS::Blt | D3DKMT_PRESENTFLAGS::SrcRectValid);
    p.SrcRect = {2, 1, 6, 3};
    ASSERT_EQ(D3DKMTPresent(&p), kStatusSuccess);
    sim::ScanOut out;
    ASSERT_TRUE(sim::Display::instance().last(kIntel, 0, out));
    EXPECT_EQ(out.image.width, 4u);
    EXPECT_EQ(out.image.at(0, 0), 0xFF000000u | (0x00010203u * 10));
    p.SrcRect = {0, 0, 9, 4};
    EXPECT_EQ(D3DKMTPresent(&p), kStatusInvalidParameter);

    p = present(D3DKMT_PRESENTFLAGS::ColorFill);
    p.hSource = 0;
    p.Color = 0x00FF8000;
    ASSERT_EQ(D3DKMTPresent(&p), kStatusSuccess);
    ASSERT_TRUE(sim::Display::instance().last(kIntel, 0, out));
    EXPECT_EQ(out.image.at(0, 0), 0xFFFF8000u);
}

TEST_F(PresentTest, RejectsInvalidParameters) {
    EXPECT_EQ(D3DKMTPresent(nullptr), kStatusInvalidParameter);
    D3DKMT_PRESENT p = present(0);
    EXPECT_EQ(D3DKMTPresent(&p), kStatusInvalidParameter); // no kind of present
    p = present(D3DKMT_PRESENTFLAGS::Flip);
    p.VidPnSourceId = 2; // the Intel GPU has two sources
    EXPECT_EQ(D3DKMTPresent(&p), kStatusInvalidParameter);
    p = present(D3DKMT_PRESENTFLAGS::Flip);
    p.FlipInterval = D3DDDI_FLIPINTERVAL_TYPE(5);
    EXPECT_EQ(D3DKMTPresent(&p), kStatusInvalidParameter);
    p = present(D3DKMT_PRESENTFLAGS::Flip);
    p.hSource = m_hSurface + 1000;
    EXPECT_EQ(D3DKMTPresent(&p), kStatusInvalidParameter);
    p.hContext = 0;
    EXPECT_EQ(D3DKMTPresent(&p), kStatusInvalidParameter);
    EXPECT_EQ(sim::Display::instance().totalCount(), 0u);
}

TEST(KernelConcurrencyTest, ThreadsWorkingOnTheirOwnDevicesDoNotDisturbEachOther) {
    // Both GPUs present, so both have a monitor.
    install(sim::presets::monitorOnEveryGpu());
    sim::Display::instance().clear();
    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            D3DKMT_HANDLE hAdapter = openGpu(t % 2);
            D3DKMT_HANDLE hDevice = createDevice(hAdapter);
            D3DKMT_CREATECONTEXT context = {};
            context.hDevice = hDevice;
            failures[t] += D3DKMTCreateContext(&context) != kStatusSuccess;
            sim::SimAllocationDesc desc = surfaceDesc(hDevice, 16, 16);
            for (int round = 0; round < kRounds; ++round) {
                D3DDDI_ALLOCATIONINFO info = {};
                info.pPrivateDriverData = &desc;
                info.PrivateDriverDataSize = sizeof desc;
                D3DKMT_CREATEALLOCATION create = {};
                create.hDevice = hDevice;
                create.NumAllocations = 1;
                create.pAllocationInfo = &info;
                failures[t] += D3DKMTCreateAllocation(&create) != kStatusSuccess;
                D3DKMT_LOCK lock = {};
                lock.hDevice = hDevice;
                lock.hAllocation = info.hAllocation;
                failures[t] += D3DKMTLock(&lock) != kStatusSuccess;
                memset(lock.pData, t, 16 * 16 * 4);
                D3DKMT_UNLOCK unlock = {hDevice, 1, &info.hAllocation};
                failures[t] += D3DKMTUnlock(&unlock) != kStatusSuccess;
                D3DKMT_RENDER render = {};
                render.hContext = context.hContext;
                failures[t] += D3DKMTRender(&render) != kStatusSuccess;
                D3DKMT_PRESENT present;
                memset(&present, 0, sizeof present);
                present.hContext = context.hContext;
                present.hSource = info.hAllocation;
                present.Flags.Value = D3DKMT_PRESENTFLAGS::Blt;
                failures[t] += D3DKMTPresent(&present) != kStatusSuccess;
                D3DKMT_DESTROYALLOCATION destroy = {hDevice, 0, &info.hAllocation, 1};
                failures[t] += D3DKMTDestroyAllocation(&destroy) != kStatusSuccess;
            }
            D3DKMT_DESTROYDEVICE destroy = {hDevice};
            failures[t] += D3DKMTDestroyDevice(&destroy) != kStatusSuccess;
            D3DKMT_CLOSEADAPTER close = {hAdapter};
            failures[t] += D3DKMTCloseAdapter(&close) != kStatusSuccess;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    EXPECT_EQ(sim::Display::instance().totalCount(), uint64_t(kThreads * kRounds));
    sim::KernelCounts counts = sim::Kernel::instance().counts();
    EXPECT_EQ(counts.adapters + counts.devices + counts.allocations + counts.contexts, 0u);
}

// ---- Journal and fault injection -------------------------------------------------------

TEST(KernelJournalTest, ThunksAreJournaledWithGpuArgumentsAndResult) {
    sim::Journal& journal = sim::Machine::instance().journal();
    journal.clear();
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    D3DKMT_HANDLE hDevice = simtest::createDevice(hAdapter);
    ASSERT_NE(hDevice, 0u);
    sim::JournalEntry entry;
    ASSERT_TRUE(journal.last("gdi32.dll", "D3DKMTCreateDevice", entry));
    EXPECT_EQ(entry.gpu, kNvidia);
    EXPECT_EQ(entry.result, 0);
    // Handles print in hexadecimal, the way they are shaped.
    char expected[64];
    snprintf(expected, sizeof expected, "hAdapter=0x%x flags=0x1 -> hDevice=0x%x", hAdapter,
             hDevice);
    EXPECT_EQ(entry.arguments, expected);
    D3DKMT_DESTROYDEVICE destroy = {hDevice};
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusSuccess);
    EXPECT_EQ(D3DKMTDestroyDevice(&destroy), kStatusInvalidParameter);
    ASSERT_TRUE(journal.last("gdi32.dll", "D3DKMTDestroyDevice", entry));
    EXPECT_EQ(entry.result, int64_t(kStatusInvalidParameter));
    EXPECT_EQ(journal.count("gdi32.dll", "D3DKMTOpenAdapterFromDeviceName", kNvidia), 1u);
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusSuccess);
}

TEST(KernelFaultTest, AFaultOnOneGpuLeavesTheOtherAlone) {
    sim::FaultInjector& faults = sim::Machine::instance().faults();
    const NTSTATUS kRemoved = NTSTATUS(STATUS_DEVICE_REMOVED);
    faults.failAlways("gdi32.dll", "D3DKMTCreateDevice", kRemoved, kNvidia);
    D3DKMT_HANDLE hIntel = openGpu(kIntel);
    D3DKMT_HANDLE hNvidia = openGpu(kNvidia);
    D3DKMT_CREATEDEVICE create = {};
    create.hAdapter = hNvidia;
    EXPECT_EQ(D3DKMTCreateDevice(&create), kRemoved);
    EXPECT_EQ(create.hDevice, 0u);
    create.hAdapter = hIntel;
    EXPECT_EQ(D3DKMTCreateDevice(&create), kStatusSuccess);
    faults.clear();
    sim::JournalEntry entry;
    ASSERT_TRUE(sim::Machine::instance().journal().last("gdi32.dll", "D3DKMTCreateDevice", entry));
    EXPECT_EQ(entry.gpu, kIntel);
}

TEST(KernelFaultTest, NthOpenFails) {
    sim::Machine::instance().faults().failNth("gdi32.dll", "D3DKMTOpenAdapterFromDeviceName", 2,
                                              NTSTATUS(STATUS_NO_SUCH_DEVICE));
    EXPECT_NE(openGpu(kIntel), 0u);
    EXPECT_EQ(openGpu(kIntel), 0u);
    EXPECT_NE(openGpu(kIntel), 0u);
}

TEST(KernelResetTest, InstallingAMachineInvalidatesOldHandles) {
    D3DKMT_HANDLE hAdapter = openGpu(kNvidia);
    ASSERT_NE(hAdapter, 0u);
    install(sim::presets::intelAti());
    D3DKMT_CLOSEADAPTER close = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&close), kStatusInvalidParameter);
    D3DKMT_HANDLE hAti = openGpu(1);
    ASSERT_NE(hAti, 0u);
    EXPECT_GT(hAti, hAdapter); // handles are never reused
}

} // namespace
