// Shared surfaces and the desktop compositor: a resource created shared is opened by another
// device of the same adapter (never of another GPU) and shows the same memory; the drivers
// take compositor Blts only in Begin/Continue/End order into a shared surface; the
// compositor opens an application's window surface and shows it on the display, pixel for
// pixel as the oracle draws it.
#include "GpuTestSupport.h"

#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"
#include "sim/runtime/Compositor.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <string.h>

namespace {

using namespace simtest;
using sim::kStatusInvalidParameter;
using sim::kStatusSuccess;
using sim::rt::AdapterSource;
using sim::rt::Compositor;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;

constexpr int kIntel = 0;
constexpr int kNvidia = 1;

struct SharedSurface {
    sim::SimAllocationDesc desc;
    D3DDDI_ALLOCATIONINFO info = {};
    D3DKMT_CREATEALLOCATION create = {};

    explicit SharedSurface(D3DKMT_HANDLE hDevice) : desc(surfaceDesc(hDevice, 8, 4)) {
        info.pPrivateDriverData = &desc;
        info.PrivateDriverDataSize = sizeof desc;
        create.hDevice = hDevice;
        create.NumAllocations = 1;
        create.pAllocationInfo = &info;
        create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::CreateResource |
                             D3DKMT_CREATEALLOCATIONFLAGS::CreateShared;
    }
};

struct Opened {
    D3DDDI_OPENALLOCATIONINFO allocation = {};
    sim::SimAllocationDesc privateData;
    D3DKMT_OPENRESOURCE open = {};

    Opened(D3DKMT_HANDLE hDevice, D3DKMT_HANDLE hShare) {
        open.hDevice = hDevice;
        open.hGlobalShare = hShare;
        open.NumAllocations = 1;
        open.pOpenAllocationInfo = &allocation;
        open.pTotalPrivateDriverDataBuffer = &privateData;
        open.TotalPrivateDriverDataBufferSize = sizeof privateData;
    }
};

uint32_t* lockAllocation(D3DKMT_HANDLE hDevice, D3DKMT_HANDLE hAllocation) {
    D3DKMT_LOCK lock = {};
    lock.hDevice = hDevice;
    lock.hAllocation = hAllocation;
    return D3DKMTLock(&lock) == kStatusSuccess ? static_cast<uint32_t*>(lock.pData) : nullptr;
}

void unlockAllocation(D3DKMT_HANDLE hDevice, D3DKMT_HANDLE hAllocation) {
    D3DKMT_UNLOCK unlock = {};
    unlock.hDevice = hDevice;
    unlock.NumAllocations = 1;
    unlock.phAllocations = &hAllocation;
    EXPECT_EQ(D3DKMTUnlock(&unlock), kStatusSuccess);
}

TEST(KernelSharing, ASharedResourceOpensOnTheSameAdapterOnlyAndShowsTheSameMemory) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hIntel = openGpu(kIntel);
    D3DKMT_HANDLE hCreator = createDevice(hIntel);
    D3DKMT_HANDLE hOpener = createDevice(hIntel);
    D3DKMT_HANDLE hNvidia = openGpu(kNvidia);
    D3DKMT_HANDLE hNvidiaDevice = createDevice(hNvidia);

    SharedSurface surface(hCreator);
    ASSERT_EQ(D3DKMTCreateAllocation(&surface.create), kStatusSuccess);
    D3DKMT_HANDLE hShare = surface.create.hGlobalShare;
    ASSERT_NE(hShare, 0u);

    D3DKMT_QUERYRESOURCEINFO query = {};
    query.hDevice = hOpener;
    query.hGlobalShare = hShare;
    ASSERT_EQ(D3DKMTQueryResourceInfo(&query), kStatusSuccess);
    EXPECT_EQ(query.NumAllocations, 1u);
    EXPECT_EQ(query.TotalPrivateDriverDataSize, sizeof(sim::SimAllocationDesc));

    // Another GPU's device, a handle that names no share, a wrong allocation count, no room
    // for the private data: refused.
    Opened foreign(hNvidiaDevice, hShare);
    EXPECT_EQ(D3DKMTOpenResource(&foreign.open), kStatusInvalidParameter);
    query.hDevice = hNvidiaDevice;
    EXPECT_EQ(D3DKMTQueryResourceInfo(&query), kStatusInvalidParameter);
    Opened unknown(hOpener, hShare + 0x40);
    EXPECT_EQ(D3DKMTOpenResource(&unknown.open), kStatusInvalidParameter);
    Opened wrongCount(hOpener, hShare);
    wrongCount.open.NumAllocations = 2;
    EXPECT_EQ(D3DKMTOpenResource(&wrongCount.open), kStatusInvalidParameter);
    Opened noRoom(hOpener, hShare);
    noRoom.open.TotalPrivateDriverDataBufferSize = 4;
    EXPECT_EQ(D3DKMTOpenResource(&noRoom.open), kStatusInvalidParameter);

    Opened opened(hOpener, hShare);
    ASSERT_EQ(D3DKMTOpenResource(&opened.open), kStatusSuccess);
    D3DKMT_HANDLE hAlias = opened.allocation.hAllocation;
    EXPECT_NE(hAlias, surface.info.hAllocation);
    EXPECT_EQ(opened.allocation.pPrivateDriverData, &opened.privateData);
    EXPECT_EQ(memcmp(&opened.privateData, &surface.desc, sizeof surface.desc), 0);
    // The opener's handle is its own device's: the creator cannot lock it.
    EXPECT_EQ(lockAllocation(hCreator, hAlias), nullptr);

    uint32_t* pWrite = lockAllocation(hCreator, surface.info.hAllocation);
    ASSERT_NE(pWrite, nullptr);
    pWrite[0] = 0x11223344u;
    unlockAllocation(hCreator, surface.info.hAllocation);
    // The creator lets go; the opener's view stays valid and still shows the pixels.
    D3DKMT_DESTROYALLOCATION destroy = {};
    destroy.hDevice = hCreator;
    destroy.hResource = surface.create.hResource;
    ASSERT_EQ(D3DKMTDestroyAllocation(&destroy), kStatusSuccess);
    uint32_t* pRead = lockAllocation(hOpener, hAlias);
    ASSERT_NE(pRead, nullptr);
    EXPECT_EQ(pRead[0], 0x11223344u);
    unlockAllocation(hOpener, hAlias);
    // The share named the creator's resource, which is gone.
    Opened late(hOpener, hShare);
    EXPECT_EQ(D3DKMTOpenResource(&late.open), kStatusInvalidParameter);

    for (D3DKMT_HANDLE h : {hCreator, hOpener, hNvidiaDevice}) {
        D3DKMT_DESTROYDEVICE d = {h};
        EXPECT_EQ(D3DKMTDestroyDevice(&d), kStatusSuccess);
    }
    for (D3DKMT_HANDLE h : {hIntel, hNvidia}) {
        D3DKMT_CLOSEADAPTER c = {h};
        EXPECT_EQ(D3DKMTCloseAdapter(&c), kStatusSuccess);
    }
}

TEST(KernelSharing, OnlyANewVideoMemoryResourceIsCreatedShared) {
    install(sim::presets::defaultMachine());
    D3DKMT_HANDLE hAdapter = openGpu(kIntel);
    D3DKMT_HANDLE hDevice = createDevice(hAdapter);
    SharedSurface standalone(hDevice);
    standalone.create.Flags.Value = D3DKMT_CREATEALLOCATIONFLAGS::CreateShared;
    EXPECT_EQ(D3DKMTCreateAllocation(&standalone.create), kStatusInvalidParameter);
    std::vector<uint32_t> memory(32);
    SharedSurface systemMemory(hDevice);
    systemMemory.info.pSystemMem = memory.data();
    EXPECT_EQ(D3DKMTCreateAllocation(&systemMemory.create), kStatusInvalidParameter);
    EXPECT_EQ(systemMemory.create.hGlobalShare, 0u);
    D3DKMT_DESTROYDEVICE d = {hDevice};
    EXPECT_EQ(D3DKMTDestroyDevice(&d), kStatusSuccess);
    D3DKMT_CLOSEADAPTER c = {hAdapter};
    EXPECT_EQ(D3DKMTCloseAdapter(&c), kStatusSuccess);
}

class CompositorTest : public ::testing::Test {
protected:
    void SetUp() override {
        install(sim::presets::monitorOnEveryGpu());
        ASSERT_EQ(RuntimeAdapter::openGpu(kIntel, AdapterSource(), m_pAdapter), S_OK);
        ASSERT_EQ(m_pAdapter->createDevice(m_pDevice), S_OK);
    }
    void TearDown() override {
        if (m_pDevice)
            m_pDevice->destroy();
        if (m_pAdapter)
            m_pAdapter->close();
    }

    std::unique_ptr<RuntimeAdapter> m_pAdapter;
    std::unique_ptr<RuntimeDevice> m_pDevice;
};

TEST_F(CompositorTest, DriversTakeCompositorBltsInOrderIntoASharedSurfaceOnly) {
    HANDLE hWindow = nullptr, hShared = nullptr, hPlain = nullptr;
    D3DKMT_HANDLE hShare = 0;
    sim::rt::SurfaceDesc desc;
    desc.width = 64;
    desc.height = 32;
    ASSERT_EQ(m_pDevice->createResource(desc, hWindow), S_OK);
    ASSERT_EQ(m_pDevice->createResource(desc, hPlain), S_OK);
    ASSERT_EQ(m_pDevice->createSharedSurface(64, 32, hShared, hShare), S_OK);
    EXPECT_NE(hShare, 0u);
    EXPECT_EQ(m_pDevice->globalShare(hPlain), 0u);
    RECT top = {0, 0, 64, 16};
    RECT bottom = {0, 16, 64, 32};
    const UINT begin = D3DDDI_BLTFLAGS::BeginPresentToDwm;
    const UINT next = D3DDDI_BLTFLAGS::ContinuePresentToDwm;
    const UINT end = D3DDDI_BLTFLAGS::EndPresentToDwm;
    // Out of order, contradictory, or into a surface no compositor can open.
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, top, hShared, 0, top, next), E_INVALIDARG);
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, top, hShared, 0, top, end), E_INVALIDARG);
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, top, hShared, 0, top, begin | next), E_INVALIDARG);
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, top, hPlain, 0, top, begin | end), E_INVALIDARG);
    // Begin, Continue, End; a second Begin inside a present is refused.
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, top, hShared, 0, top, begin), S_OK);
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, top, hShared, 0, top, begin), E_INVALIDARG);
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, top, hShared, 0, top, next), S_OK);
    uint64_t submissions = m_pDevice->renderCallbacks();
    EXPECT_EQ(m_pDevice->blt(hWindow, 0, bottom, hShared, 0, bottom, end), S_OK);
    // The present's last Blt goes to the GPU at once, for the compositor to read.
    EXPECT_EQ(m_pDevice->renderCallbacks(), submissions + 1);
    EXPECT_EQ(m_pDevice->presentToCompositor(hWindow, hShared, {top, bottom}), S_OK);
    for (HANDLE h : {hWindow, hShared, hPlain})
        EXPECT_EQ(m_pDevice->destroyResource(h), S_OK);
}

TEST_F(CompositorTest, TheCompositorShowsTheWindowAndCannotOpenAnotherGpusWindow) {
    HANDLE hShared = nullptr;
    D3DKMT_HANDLE hShare = 0;
    ASSERT_EQ(m_pDevice->createSharedSurface(64, 32, hShared, hShare), S_OK);
    RECT all = {0, 0, 64, 32};
    ASSERT_EQ(m_pDevice->colorFill(hShared, 0, all, 0xFF3366CCu), S_OK);
    ASSERT_EQ(m_pDevice->flush(), S_OK);

    std::unique_ptr<Compositor> pCompositor;
    ASSERT_EQ(Compositor::start("", pCompositor), S_OK); // the primary: Intel's DISPLAY1
    int window = 0;
    ASSERT_EQ(pCompositor->addWindow(hShare, 64, 32, 100, 50, window), S_OK);
    uint64_t shown = sim::Display::instance().count(kIntel, 0);
    ASSERT_EQ(pCompositor->compose(), S_OK);
    ASSERT_TRUE(sim::Display::instance().waitForCount(kIntel, 0, shown + 1));
    sim::ScanOut out;
    ASSERT_TRUE(sim::Display::instance().last(kIntel, 0, out));
    EXPECT_EQ(out.image.width, pCompositor->width());
    EXPECT_EQ(out.image.at(100, 50), 0xFF3366CCu);
    EXPECT_EQ(out.image.at(163, 81), 0xFF3366CCu);
    EXPECT_EQ(out.image.at(99, 50), 0xFF000000u);
    EXPECT_EQ(out.image.at(164, 81), 0xFF000000u);
    EXPECT_TRUE(pCompositor->removeWindow(window));
    EXPECT_FALSE(pCompositor->removeWindow(window));

    // A window surface of the NVIDIA GPU does not open on the Intel GPU's compositor.
    std::unique_ptr<RuntimeAdapter> pNvidia;
    std::unique_ptr<RuntimeDevice> pNvidiaDevice;
    ASSERT_EQ(RuntimeAdapter::openGpu(kNvidia, AdapterSource(), pNvidia), S_OK);
    ASSERT_EQ(pNvidia->createDevice(pNvidiaDevice), S_OK);
    HANDLE hForeign = nullptr;
    D3DKMT_HANDLE hForeignShare = 0;
    ASSERT_EQ(pNvidiaDevice->createSharedSurface(64, 32, hForeign, hForeignShare), S_OK);
    EXPECT_TRUE(FAILED(pCompositor->addWindow(hForeignShare, 64, 32, 0, 0, window)));
    EXPECT_EQ(pNvidiaDevice->destroyResource(hForeign), S_OK);
    pNvidiaDevice->destroy();
    pNvidia->close();
    pCompositor.reset();
    EXPECT_EQ(m_pDevice->destroyResource(hShared), S_OK);
}

// The composited scene on each GPU's own display: every frame the compositor shows is the
// oracle's.
TEST(CompositedScene, EveryFrameOnEachGpuIsTheOracles) {
    install(sim::presets::monitorOnEveryGpu());
    for (const char* gpu : {"intel", "nvidia"}) {
        sim::app::AppScript script;
        script.scene = sim::app::SceneKind::Composited;
        script.gpu = gpu;
        script.frames = 6;
        script.rate = 0;
        sim::app::RunReport report;
        uint32_t exact = 0;
        auto observe = [&](uint32_t frame) {
            ASSERT_TRUE(sim::Display::instance().waitForCount(report.displayGpu,
                                                              report.vidPnSourceId, frame + 1));
            sim::ScanOut out;
            ASSERT_TRUE(
                sim::Display::instance().last(report.displayGpu, report.vidPnSourceId, out));
            sim::Image expected;
            sim::app::SceneRunner::expectedFrame(script, report, frame, expected);
            exact += sim::app::compareFrames(expected, out.image).equal() ? 1 : 0;
        };
        sim::Display::instance().clear();
        ASSERT_EQ(sim::app::SceneRunner::run(script, report, observe), S_OK) << report.failure;
        EXPECT_EQ(exact, 6u) << gpu;
        EXPECT_EQ(report.displayWidth, 1280u);
    }
}

} // namespace
