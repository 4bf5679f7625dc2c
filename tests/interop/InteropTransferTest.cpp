// The interop transfer on the simulated machine: the start of the interop library and its
// statuses, the staging ring in both modes, mapping, registration, the worker pass, and
// the frames that arrive on the presenting GPU.
#include "InteropFixture.h"

#include "sim/Clock.h"

using namespace interoptest;

namespace {

const std::vector<std::pair<RECT, D3DCOLOR>> kPicture = {{{0, 0, 320, 240}, 0xFF102030u},
                                                         {{320, 0, 640, 240}, 0xFF405060u},
                                                         {{0, 240, 320, 480}, 0xFF708090u},
                                                         {{320, 240, 640, 480}, 0xFFA0B0C0u},
                                                         {{100, 200, 540, 280}, 0x80FF0000u}};

std::map<std::string, std::string> syncMode() {
    return {{"should_umd_sync_copy", "1"}};
}
std::map<std::string, std::string> asyncMode() {
    return {{"should_umd_sync_copy", "0"}};
}

class InteropTest : public ::testing::Test {
protected:
    void start(const std::map<std::string, std::string>& values, bool withInterop = true,
               const sim::MachineDesc& desc = virtualMachine()) {
        ASSERT_NO_FATAL_FAILURE(installMachine(desc, values, withInterop));
        ASSERT_NO_FATAL_FAILURE(m_device.open());
    }
    void TearDown() override {
        machine().faults().clear();
        m_device.close();
    }
    InteropDevice m_device;
};

} // namespace

// ---- Starting the interop ----------------------------------------------------------------

TEST_F(InteropTest, InstalledLibraryStartsTheInteropAndTheWorker) {
    start(syncMode());
    EXPECT_EQ(1u, calls(kInterop, "VI_getFactory"));
    EXPECT_EQ(1u, calls(kInterop, "create"));
    // Synchronous mode configures the GPU interop object twice, in this order.
    std::vector<std::string> configured;
    for (const sim::JournalEntry& e : machine().journal().entries())
        if (e.module == kInterop && (e.entry == "setSynchronous" || e.entry == "setOptions"))
            configured.push_back(e.entry + " " + e.arguments);
    EXPECT_EQ((std::vector<std::string>{"setSynchronous 0 10 0", "setOptions options=0xffffffff"}),
              configured);
    EXPECT_EQ(uint32_t(kWorkerRunning), m_device.workerState());
    double fraction = 0;
    BOOL asynchronous = TRUE;
    uint32_t users = 0;
    auto services = probe<BOOL (*)(double*, BOOL*, uint32_t*)>("vessaProbeGpuServices");
    ASSERT_TRUE(services && services(&fraction, &asynchronous, &users));
    EXPECT_FALSE(asynchronous);
    EXPECT_EQ(1u, users);
}

TEST_F(InteropTest, WithoutTheLibraryTheDeviceUsesTheApiCopyWithoutAWorker) {
    start(syncMode(), false);
    EXPECT_EQ(uint32_t(kWorkerNone), m_device.workerState());
    expectTransferByApiCopy(m_device, 64, 64);
}

TEST_F(InteropTest, CreateStatusesFailTheStartAndOnlyUnknownRefusalsAreReported) {
    ASSERT_NO_FATAL_FAILURE(installMachine(virtualMachine(), syncMode(), true));
    struct Case {
        VI_STATUS status;
        int warnings;
    };
    const Case cases[] = {{0x00040300, 0}, {0x00050900, 0}, {0x00040900, 1}, {0x00040000, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.status);
        adaptertest::clearLog();
        machine().faults().failNth(kInterop, "create", 1, c.status);
        InteropDevice device;
        device.open();
        EXPECT_EQ(uint32_t(kWorkerNone), device.workerState());
        EXPECT_EQ(c.warnings, reports("Warning", 11051, "unknown error interop"));
        device.close();
        machine().faults().clear();
    }
    // The start succeeds again once the library does.
    InteropDevice device;
    device.open();
    EXPECT_EQ(uint32_t(kWorkerRunning), device.workerState());
}

TEST_F(InteropTest, LibraryWithoutARootFallsBackToTheApiCopy) {
    ASSERT_NO_FATAL_FAILURE(installMachine(virtualMachine(), syncMode(), true));
    machine().faults().failNth(kInterop, "VI_getFactory", 1, 0);
    m_device.open();
    EXPECT_EQ(uint32_t(kWorkerNone), m_device.workerState());
    EXPECT_EQ(0u, calls(kInterop, "create"));
}

TEST_F(InteropTest, ALibraryAnsweringSuccessWithoutObjectsFallsBackToTheApiCopy) {
    ASSERT_NO_FATAL_FAILURE(installMachine(virtualMachine(), syncMode(), true));
    // A fault with status 0: "success", and the objects are never written.
    machine().faults().failNth(kInterop, "create", 1, 0);
    m_device.open();
    EXPECT_EQ(uint32_t(kWorkerNone), m_device.workerState());
    EXPECT_EQ(1, reports("Error", 0, "the interop library created no GPU interop object"));
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc)); // by the API copy
    EXPECT_EQ(0u, calls(kInterop, "injectBufferedSurfaceTransfer"));
}

TEST_F(InteropTest, ASecondStartCountsAUserAndTheLastEndDestroysTheObjects) {
    start(syncMode());
    InteropDevice second;
    second.open();
    EXPECT_EQ(1u, calls(kInterop, "create"));
    double fraction = 0;
    BOOL asynchronous = TRUE;
    uint32_t users = 0;
    auto services = probe<BOOL (*)(double*, BOOL*, uint32_t*)>("vessaProbeGpuServices");
    ASSERT_TRUE(services(&fraction, &asynchronous, &users));
    EXPECT_EQ(2u, users);

    second.close();
    EXPECT_EQ(0u, calls(kInterop, "destroy"));
    ASSERT_TRUE(services(&fraction, &asynchronous, &users));
    EXPECT_EQ(1u, users);
    m_device.close();
    EXPECT_EQ(1u, calls(kInterop, "destroy"));
    EXPECT_FALSE(services(&fraction, &asynchronous, &users)); // the services went with it
}

TEST_F(InteropTest, ADeviceThatFellBackEndsNoOtherDevicesInterop) {
    ASSERT_NO_FATAL_FAILURE(installMachine(virtualMachine(), syncMode(), true));
    machine().faults().failNth(kInterop, "create", 1, kViStatusNotSupported);
    InteropDevice fellBack;
    fellBack.open(); // its start failed and gave its count back at once
    machine().faults().clear();
    m_device.open();
    EXPECT_EQ(uint32_t(kWorkerRunning), m_device.workerState());
    fellBack.close(); // must not end the interop m_device holds
    EXPECT_EQ(0u, calls(kInterop, "destroy"));
    double fraction = 0;
    BOOL asynchronous = TRUE;
    uint32_t users = 0;
    auto services = probe<BOOL (*)(double*, BOOL*, uint32_t*)>("vessaProbeGpuServices");
    ASSERT_TRUE(services && services(&fraction, &asynchronous, &users));
    EXPECT_EQ(1u, users);
    m_device.close(); // the last holder ends it
    EXPECT_EQ(1u, calls(kInterop, "destroy"));
}

// ---- Registration and mapping ---------------------------------------------------------------

TEST_F(InteropTest, RegistrationDescribesBothGpusByteForByte) {
    start(syncMode());
    uint8_t bytes[112];
    auto descriptors = probe<BOOL (*)(HANDLE, void*)>("vessaProbeDeviceDescriptors");
    ASSERT_TRUE(descriptors && descriptors(m_device.hDevice(), bytes));
    uint64_t views[2], funcs[2], callbacks = 0, callThrough = 0;
    auto addresses = probe<BOOL (*)(HANDLE, uint64_t*, uint64_t*, uint64_t*, uint64_t*)>(
        "vessaProbeDeviceAddresses");
    ASSERT_TRUE(addresses(m_device.hDevice(), views, funcs, &callbacks, &callThrough));
    auto u64 = [&](int descriptor, int offset) {
        uint64_t value;
        memcpy(&value, bytes + descriptor * 56 + offset, 8);
        return value;
    };
    auto u32 = [&](int descriptor, int offset) {
        uint32_t value;
        memcpy(&value, bytes + descriptor * 56 + offset, 4);
        return value;
    };
    // The rendering GPU's vendor device is what the runtime holds; its kernel device is the
    // one created on the NVIDIA GPU.
    EXPECT_EQ(uint64_t(uintptr_t(m_device.hDevice())), u64(1, 8));
    D3DKMT_HANDLE kernelDevice = D3DKMT_HANDLE(u64(1, 16));
    EXPECT_EQ(kNvidia, sim::Kernel::instance().deviceGpu(kernelDevice));
    EXPECT_EQ(kNvidia, sim::Kernel::instance().adapterGpu(D3DKMT_HANDLE(u64(1, 0))));
    EXPECT_NE(0u, u64(0, 0));
    EXPECT_NE(0u, u64(0, 8));
    EXPECT_NE(0u, u64(0, 16));
    for (int d = 0; d < 2; ++d) {
        SCOPED_TRACE(d);
        EXPECT_EQ(1u, bytes[d * 56 + 24]);
        EXPECT_EQ(d == 0 ? 1u : 0u, bytes[d * 56 + 25]);
        for (int i = 26; i < 32; ++i)
            EXPECT_EQ(0u, bytes[d * 56 + i]);
        EXPECT_EQ(views[d], u64(d, 32));
        EXPECT_EQ(funcs[d], u64(d, 40));
        EXPECT_EQ(0u, u32(d, 52));
    }
    EXPECT_EQ(3u, u32(0, 48)); // Intel
    EXPECT_EQ(1u, u32(1, 48)); // NVIDIA

    // The first transfer registers the device once, with two descriptors.
    HANDLE hSrc = m_device.create(64, 64);
    HANDLE hDst = m_device.createDestination(64, 64);
    m_device.transfer(hDst, hSrc);
    m_device.transfer(hDst, hSrc);
    ASSERT_EQ(1u, calls(kInterop, "registerDevice"));
    sim::JournalEntry entry;
    ASSERT_TRUE(machine().journal().last(kInterop, "registerDevice", entry));
    EXPECT_NE(std::string::npos, entry.arguments.find("count=2"));
    char expected[64];
    snprintf(expected, sizeof expected, "callThrough=%p", reinterpret_cast<void*>(callThrough));
    EXPECT_NE(std::string::npos, entry.arguments.find(expected)) << entry.arguments;
    snprintf(expected, sizeof expected, "callbacks=%p", reinterpret_cast<void*>(callbacks));
    EXPECT_NE(std::string::npos, entry.arguments.find(expected)) << entry.arguments;
}

TEST_F(InteropTest, EachResourceIsMappedOncePerGpuAndMultiSurfaceOnesWithTheirSizes) {
    start(syncMode());
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    machine().journal().clear();
    m_device.transfer(hDst, hSrc);
    EXPECT_EQ(1u, calls(kInterop, "mapResource", kIntel));
    EXPECT_EQ(1u, calls(kInterop, "mapResource", kNvidia));
    m_device.transfer(hDst, hSrc);
    EXPECT_EQ(2u, calls(kInterop, "mapResource"));
    EXPECT_NE(0u, m_device.mappedCell(hSrc, kNvidia));
    EXPECT_NE(0u, m_device.mappedCell(hDst, kIntel));

    HANDLE hChain = m_device.create(32, 16, 0, 3);
    m_device.transfer(hDst, hChain);
    ASSERT_EQ(1u, calls(kInterop, "mapMultiResource", kNvidia));
    sim::JournalEntry entry;
    ASSERT_TRUE(machine().journal().last(kInterop, "mapMultiResource", entry));
    EXPECT_NE(std::string::npos, entry.arguments.find("count=3 sizes=[32x16 32x16 32x16]"))
        << entry.arguments;
}

TEST_F(InteropTest, ARefusedMappingIsNotCachedAndIsAskedAgain) {
    start(syncMode());
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    machine().faults().failNth(kInterop, "mapResource", 2, kViStatusInvalidArgument);
    machine().journal().clear();
    m_device.transfer(hDst, hSrc); // the source's mapping (second call) fails
    EXPECT_EQ(1, reports("Error", 10982, "mapResource failed 40200"));
    EXPECT_EQ(0u, m_device.mappedCell(hSrc, kNvidia));
    EXPECT_EQ(0u, calls(kInterop, "injectBufferedSurfaceTransfer"));
    m_device.transfer(hDst, hSrc);
    EXPECT_NE(0u, m_device.mappedCell(hSrc, kNvidia));
    EXPECT_EQ(1u, calls(kInterop, "injectBufferedSurfaceTransfer"));
}

TEST_F(InteropTest, MappedCellsAreReleasedWithTheirResources) {
    start(syncMode());
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    m_device.transfer(hDst, hSrc);
    size_t tokens, notifications, mappings;
    libraryLiveObjects(tokens, notifications, mappings);
    EXPECT_EQ(2u, mappings);
    m_device.device().destroyResource(hSrc);
    libraryLiveObjects(tokens, notifications, mappings);
    EXPECT_EQ(1u, mappings);
    m_device.close();
    libraryLiveObjects(tokens, notifications, mappings);
    EXPECT_EQ(0u, mappings);
    EXPECT_EQ(0u, tokens);
    EXPECT_EQ(0u, notifications);
}

// ---- The ring --------------------------------------------------------------------------------

TEST_F(InteropTest, OneSynchronousFrameCallsTheLibraryInOrder) {
    start(syncMode());
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    machine().journal().clear();
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
    std::vector<std::string> expected = {"VI_getNextGroupId@-1", "registerDevice@-1"};
    for (int i = 0; i < 4; ++i) {
        expected.push_back("createStagingBufferToken@1");
        expected.push_back("createCpuNotificationEvent@1");
    }
    const std::vector<std::string> tail = {"mapResource@0",
                                           "mapResource@1",
                                           "injectBufferedSurfaceTransfer@-1",
                                           "Flush@1", // the system's flush
                                           "testCpuNotification@-1",
                                           "transferFromBufSurface@-1",
                                           "CreateQuery@0",
                                           "IssueQuery@0"};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(expected, frameCalls());
}

TEST_F(InteropTest, OneAsynchronousFrameNeitherFlushesNorWaitsNorQueries) {
    start(asyncMode());
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    m_device.transfer(hDst, hSrc); // registration and buffers
    machine().journal().clear();
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
    // The library submits its copies itself, behind the drawing: the system flushes nothing.
    EXPECT_EQ(
        (std::vector<std::string>{"injectBufferedSurfaceTransfer@-1", "transferFromBufSurface@-1"}),
        frameCalls());
}

TEST_F(InteropTest, PixelsArriveOnThePresentingGpuInBothModes) {
    for (bool asynchronous : {false, true}) {
        SCOPED_TRACE(asynchronous ? "asynchronous" : "synchronous");
        start(asynchronous ? asyncMode() : syncMode());
        HANDLE hSrc = m_device.create(640, 480);
        HANDLE hDst = m_device.createDestination(640, 480);
        m_device.paint(hSrc, kPicture);
        EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
        m_device.completionStep(hDst, hSrc);
        sim::AllocationInfo copy = m_device.presentingCopy(640, 480);
        ASSERT_NE(0u, copy.handle);
        EXPECT_EQ(0, wrongPixels(copy, kPicture, 640));
        m_device.close();
        if (!asynchronous)
            break; // the process-wide mode is set by the first start: one mode per process
    }
}

TEST_F(InteropTest, AsynchronousPixelsArriveOnThePresentingGpu) {
    start(asyncMode());
    HANDLE hSrc = m_device.create(640, 480);
    HANDLE hDst = m_device.createDestination(640, 480);
    m_device.paint(hSrc, kPicture);
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
    sim::AllocationInfo copy = m_device.presentingCopy(640, 480);
    ASSERT_NE(0u, copy.handle);
    EXPECT_EQ(0, wrongPixels(copy, kPicture, 640));
}

TEST_F(InteropTest, AsynchronousCopiesWaitForTheNotificationOnTheGpusNotOnTheCaller) {
    sim::MachineDesc desc = virtualMachine();
    desc.interopNotifyUs = 5000;
    start(asyncMode(), true, desc);
    // The worker's idle polls would move the virtual clock under the test.
    ASSERT_TRUE(m_device.stopWorker());
    HANDLE hSrc = m_device.create(640, 480);
    HANDLE hDst = m_device.createDestination(640, 480);
    m_device.paint(hSrc, kPicture);
    sim::Clock& clock = sim::Clock::instance();
    sim::Kernel& kernel = sim::Kernel::instance();
    const uint64_t before = clock.nowNs();
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
    m_device.completionStep(hDst, hSrc);
    // The caller waited for nothing; the copy out is queued on the presenting GPU behind the
    // notification's moment.
    EXPECT_EQ(before, clock.nowNs());
    sim::AllocationInfo copy;
    for (D3DKMT_HANDLE h : kernel.allocationsOf(m_device.device().kernelDevice()))
        if (kernel.allocation(h, copy) && !copy.systemMemory && copy.width == 640)
            break;
    ASSERT_EQ(640u, copy.width);
    EXPECT_TRUE(kernel.allocationBusy(copy.handle));
    EXPECT_GT(wrongPixels(copy, kPicture, 640), 0);

    copy = m_device.presentingCopy(640, 480);
    EXPECT_GE(clock.nowNs(), before + 5000000);
    EXPECT_EQ(0, wrongPixels(copy, kPicture, 640));
}

TEST_F(InteropTest, AnAsynchronousInjectionWaitsUntilItsBufferWasCopiedOut) {
    // Five frames queued at once: the fifth goes through the first frame's staging buffer
    // while that frame's copy out still waits for its notification. Each frame has a
    // destination of its own (told apart by width) and a colour of its own.
    sim::MachineDesc desc = virtualMachine();
    desc.interopNotifyUs = 5000;
    start(asyncMode(), true, desc);
    ASSERT_TRUE(m_device.stopWorker());
    constexpr int kFrames = 5;
    std::vector<std::vector<std::pair<RECT, D3DCOLOR>>> pictures;
    for (int i = 0; i < kFrames; ++i) {
        HANDLE hSrc = m_device.create(64, 48);
        HANDLE hDst = m_device.createDestination(64 + UINT(i), 48);
        pictures.push_back({{RECT{0, 0, 64, 48}, 0xFF000010u * D3DCOLOR(i + 1)}});
        m_device.paint(hSrc, pictures.back());
        EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
    }
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE(i);
        sim::AllocationInfo copy = m_device.presentingCopy(64 + UINT(i), 48);
        ASSERT_NE(0u, copy.handle);
        EXPECT_EQ(0, wrongPixels(copy, pictures[size_t(i)], 64));
    }
}

TEST_F(InteropTest, PartialCopyStagesOnlyTheFirstPartOfEachRow) {
    std::map<std::string, std::string> values = syncMode();
    values["partial_copy"] = "0.5";
    start(values);
    RECT rect = {};
    auto partialRect = probe<BOOL (*)(uint32_t, uint32_t, RECT*)>("vessaProbePartialRect");
    ASSERT_TRUE(partialRect(1280, 720, &rect));
    EXPECT_EQ(0, rect.left);
    EXPECT_EQ(0, rect.top);
    EXPECT_EQ(640, rect.right);
    EXPECT_EQ(720, rect.bottom);

    HANDLE hSrc = m_device.create(640, 480);
    HANDLE hDst = m_device.createDestination(640, 480);
    m_device.paint(hSrc, kPicture);
    machine().journal().clear();
    m_device.transfer(hDst, hSrc);
    sim::JournalEntry entry;
    ASSERT_TRUE(machine().journal().last(kInterop, "injectBufferedSurfaceTransfer", entry));
    EXPECT_NE(std::string::npos, entry.arguments.find("rect=(0,0,320,480)")) << entry.arguments;
    sim::AllocationInfo copy = m_device.presentingCopy(640, 480);
    EXPECT_EQ(0, wrongPixels(copy, kPicture, 320));
    uint32_t beyond;
    memcpy(&beyond, copy.pMemory + 10 * copy.pitch + 400 * 4, 4);
    EXPECT_EQ(0u, beyond); // never staged
}

TEST_F(InteropTest, TheFifthSynchronousTransferWaitsForSlotZeroAndTheWorkerFinishesIt) {
    start(syncMode());
    ASSERT_TRUE(m_device.stopWorker()); // the test runs the worker's passes itself
    HANDLE hSrc = m_device.create(640, 480);
    HANDLE hDst = m_device.createDestination(640, 480);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(1, m_device.transfer(hDst, hSrc));
    StagingRing ring = m_device.ring();
    const uint64_t slotZeroQuery = ring.queries[0];
    ASSERT_NE(0u, slotZeroQuery);
    for (uint32_t state : ring.states)
        EXPECT_EQ(uint32_t(e_transferred), state);

    m_device.paint(hSrc, kPicture);
    machine().journal().clear();
    EXPECT_EQ(0, m_device.transfer(hDst, hSrc)); // left to the worker
    // Slot 0's presenting query was waited for and released before the injection.
    std::vector<std::string> order;
    for (const sim::JournalEntry& e : machine().journal().entries())
        if ((e.module == "simumd_intel.dll" &&
             (e.entry == "GetQueryData" || e.entry == "DestroyQuery")) ||
            (e.module == kInterop && e.entry == "injectBufferedSurfaceTransfer"))
            order.push_back(e.entry);
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ("GetQueryData", order.front());
    EXPECT_EQ("DestroyQuery", order[order.size() - 2]);
    EXPECT_EQ("injectBufferedSurfaceTransfer", order.back());
    ring = m_device.ring();
    EXPECT_EQ(uint32_t(e_injected), ring.states[0]);
    EXPECT_EQ(5u, ring.writeCount);
    EXPECT_EQ(4u, ring.readCount);

    // The worker copies it out to the swap chain's present target and presents it.
    EXPECT_EQ(0, m_device.presentTarget(hDst));
    ASSERT_TRUE(m_device.workerPass());
    EXPECT_EQ(1, m_device.presentTarget(hDst));
    ring = m_device.ring();
    EXPECT_EQ(uint32_t(e_transferred), ring.states[0]);
    EXPECT_EQ(5u, ring.readCount);
    EXPECT_EQ(0, wrongPixels(m_device.presentingCopy(640, 480), kPicture, 640));
}

TEST_F(InteropTest, APresentingQueryThatFailsCountsAsDoneInsteadOfBeingWaitedOn) {
    start(syncMode());
    ASSERT_TRUE(m_device.stopWorker());
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(1, m_device.transfer(hDst, hSrc));
    machine().faults().failAlways("simumd_intel.dll", "GetQueryData", E_FAIL);
    machine().journal().clear();
    m_device.transfer(hDst, hSrc);
    EXPECT_EQ(1u, calls("simumd_intel.dll", "GetQueryData"));
    EXPECT_EQ(1, reports("Warning", 0, "GetQueryData failed 80004005 on gpu:0"));
    EXPECT_EQ(0, reports("Warning", 0, "gave up waiting"));
    EXPECT_EQ(1u, calls(kInterop, "injectBufferedSurfaceTransfer"));
}

TEST_F(InteropTest, ADeviceTheLibraryRefusedSendsItsFramesByTheApiCopy) {
    start(syncMode());
    machine().faults().failNth(kInterop, "registerDevice", 1, kViStatusInvalidArgument);
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    // Nothing of a refused device could ever be mapped: without the API copy no frame of it
    // would be shown while every present succeeded.
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
    EXPECT_EQ(1u, calls(kInterop, "registerDevice"));
    EXPECT_EQ(1, reports("Error", 10981, "Failed on After Create Device, viRetVal:40200"));
    EXPECT_EQ(1, reports("Warning", 0, "Interop refused the device"));
    EXPECT_TRUE(m_device.ring().registered);
    EXPECT_EQ(0u, calls(kInterop, "mapResource"));
    EXPECT_EQ(0u, calls(kInterop, "injectBufferedSurfaceTransfer"));
    EXPECT_EQ(2u, machine().journal().count("simumd_intel.dll", "Blt"));
}

TEST_F(InteropTest, ASourceOfAnotherSizeRecreatesAllFourBuffersFirst) {
    start(syncMode());
    HANDLE hSmall = m_device.create(320, 240);
    HANDLE hLarge = m_device.create(640, 480);
    HANDLE hDst = m_device.createDestination(640, 480);
    m_device.transfer(hDst, hSmall);
    machine().journal().clear();
    m_device.transfer(hDst, hLarge);
    std::vector<std::string> order;
    for (const sim::JournalEntry& e : machine().journal().entries())
        if (e.module == kInterop &&
            (e.entry == "destroyStagingBufferToken" || e.entry == "createStagingBufferToken" ||
             e.entry == "injectBufferedSurfaceTransfer"))
            order.push_back(e.entry);
    std::vector<std::string> expected(4, "destroyStagingBufferToken");
    expected.insert(expected.end(), 4, "createStagingBufferToken");
    expected.push_back("injectBufferedSurfaceTransfer");
    EXPECT_EQ(expected, order);
    EXPECT_EQ(640u, m_device.ring().desc[0]);
    EXPECT_EQ(480u, m_device.ring().desc[1]);
}

TEST_F(InteropTest, AMultisampledSourceGetsPlainBuffersAndOneWarningPerChange) {
    start(syncMode());
    HANDLE hSrc = m_device.create(64, 48, 4);
    HANDLE hPlain = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    m_device.transfer(hDst, hSrc);
    m_device.transfer(hDst, hSrc);
    const char* message = "GpuServices Warning: Force Non-Multisampled Staging Buffer creation";
    EXPECT_EQ(1, reports("Warning", 0, message, "DeviceBase:238"));
    sim::JournalEntry entry;
    ASSERT_TRUE(machine().journal().last(kInterop, "createStagingBufferToken", entry));
    EXPECT_NE(std::string::npos, entry.arguments.find("ms=0/")) << entry.arguments;
    EXPECT_EQ(4u, m_device.ring().desc[5]); // the stored description keeps the type
    m_device.transfer(hDst, hPlain);
    m_device.transfer(hDst, hSrc);
    EXPECT_EQ(2, reports("Warning", 0, message, "DeviceBase:238"));
}

// ---- Faults --------------------------------------------------------------------------------

TEST_F(InteropTest, AnAsynchronousTransferTheLibraryCannotMapQueuesNothing) {
    // A flip chain's destination holds an older frame: a transfer that answered "queued"
    // without moving this one would have it shown as this frame.
    start(asyncMode());
    machine().faults().failNth(kInterop, "mapResource", 1, kViStatusInvalidArgument);
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    EXPECT_EQ(0, m_device.transfer(hDst, hSrc));
    EXPECT_EQ(0u, calls(kInterop, "injectBufferedSurfaceTransfer"));
}

TEST_F(InteropTest, ABufferThatHoldsNoFrameCopiesNothingAndSaysSo) {
    // A buffer without a token holds no frame to copy out: its token fails when the four
    // buffers are made and again when it is asked for before the first frame.
    start(syncMode());
    ASSERT_TRUE(m_device.stopWorker());
    machine().faults().failNth(kInterop, "createStagingBufferToken", 1, kViStatusOutOfMemory);
    machine().faults().failNth(kInterop, "createStagingBufferToken", 5, kViStatusOutOfMemory);
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    EXPECT_EQ(0, m_device.transfer(hDst, hSrc));
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc)); // the next buffer has its token
    // A failed copy out moves nothing either, and the ring goes on.
    machine().faults().failNth(kInterop, "transferFromBufSurface", 1, kViStatusGpuFailure);
    EXPECT_EQ(0, m_device.transfer(hDst, hSrc));
    EXPECT_EQ(1, m_device.transfer(hDst, hSrc));
}

TEST_F(InteropTest, AMissingTokenOrNotificationIsAskedForAgainBeforeItsBufferTakesAFrame) {
    start(asyncMode());
    machine().faults().failNth(kInterop, "createStagingBufferToken", 1, kViStatusOutOfMemory);
    machine().faults().failNth(kInterop, "createCpuNotificationEvent", 2, kViStatusOutOfMemory);
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    for (int frame = 0; frame < 8; ++frame)
        EXPECT_EQ(1, m_device.transfer(hDst, hSrc)) << "frame " << frame;
    EXPECT_EQ(5u, calls(kInterop, "createStagingBufferToken"));
    EXPECT_EQ(5u, calls(kInterop, "createCpuNotificationEvent"));
    EXPECT_EQ(8u, calls(kInterop, "transferFromBufSurface"));
}

TEST_F(InteropTest, AStagingBufferTheLibraryNeverCompletesIsAskedForAFewTimesOnly) {
    start(asyncMode());
    machine().faults().failAlways(kInterop, "createStagingBufferToken", kViStatusOutOfMemory);
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    for (int frame = 0; frame < 40; ++frame)
        EXPECT_EQ(0, m_device.transfer(hDst, hSrc)) << "frame " << frame;
    // Four buffers made, then each asked for again four times.
    EXPECT_EQ(4u + 4u * 4u, calls(kInterop, "createStagingBufferToken"));
}

TEST_F(InteropTest, AFailedInjectionLeavesTheDestinationsFrameInPlace) {
    start(syncMode());
    HANDLE hSrc = m_device.create(640, 480);
    HANDLE hDst = m_device.createDestination(640, 480);
    m_device.paint(hSrc, kPicture);
    ASSERT_EQ(1, m_device.transfer(hDst, hSrc));
    m_device.paint(hSrc, {{{0, 0, 640, 480}, 0xFFFFFFFFu}});
    machine().faults().failNth(kInterop, "injectBufferedSurfaceTransfer", 1, kViStatusGpuFailure);
    machine().journal().clear();
    m_device.transfer(hDst, hSrc);
    EXPECT_EQ(0u, calls(kInterop, "transferFromBufSurface"));
    EXPECT_EQ(0, wrongPixels(m_device.presentingCopy(640, 480), kPicture, 640));
}

TEST_F(InteropTest, ANotificationThatNeverComesCostsABoundedWait) {
    sim::MachineDesc desc = virtualMachine();
    desc.interopNotifyUs = 10000000; // ten seconds: longer than any wait
    start(syncMode(), true, desc);
    ASSERT_TRUE(m_device.stopWorker());
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    EXPECT_EQ(0, m_device.transfer(hDst, hSrc));
    EXPECT_EQ(uint32_t(e_injected), m_device.ring().states[0]);
    EXPECT_EQ(0u, calls(kInterop, "transferFromBufSurface"));
    EXPECT_EQ(1, reports("Warning", 0, "gave up waiting 2000 ms"));
    // The completion step gives up the same way; the worker finishes once it is signalled.
    m_device.completionStep(hDst, hSrc);
    Sleep(10000);
    m_device.presentTarget(hDst);
    ASSERT_TRUE(m_device.workerPass());
    EXPECT_EQ(uint32_t(e_transferred), m_device.ring().states[0]);
    EXPECT_EQ(1, m_device.presentTarget(hDst));
}

TEST_F(InteropTest, FailingTokensAndNotificationsAreReportedAndNeverFollowed) {
    start(syncMode());
    machine().faults().failAlways(kInterop, "createStagingBufferToken", kViStatusOutOfMemory);
    machine().faults().failAlways(kInterop, "createCpuNotificationEvent", kViStatusOutOfMemory);
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    m_device.transfer(hDst, hSrc);
    m_device.transfer(hDst, hSrc);
    // Four buffers made, and each of the two frames asked for its buffer's pair again.
    EXPECT_EQ(6, reports("Error", 11052, "createStagingBufferToken failed 40400"));
    EXPECT_EQ(6, reports("Error", 0, "createCpuNotificationEvent failed 40400"));
    EXPECT_EQ(0u, m_device.ring().tokens[0]);
    EXPECT_EQ(0u, calls(kInterop, "transferFromBufSurface")); // nothing was ever filled
}

TEST(InteropInstallTest, AnInstallSectionFindsTheInteropLibraryOutsideTheModules) {
    // The library is built beside, not into, the modules folder: only an installation
    // puts it where the product looks.
    sim::MachineDesc desc = sim::presets::defaultMachine();
    sim::InstallDesc install;
    install.directory = "C:\\Program Files\\Quorvex\\Vessa";
    install.files = {"vessaInterop.dll"};
    desc.installs.push_back(install);
    std::string error;
    ASSERT_TRUE(sim::installMachine(desc, &error)) << error;
    std::string copied;
    EXPECT_TRUE(
        machine().root().readFile(u"C:\\Program Files\\Quorvex\\Vessa\\vessaInterop.dll", copied));
    EXPECT_EQ(hostFile(VESSA_TEST_INTEROP_DIR "/vessaInterop.dll"), copied);
    EXPECT_TRUE(machine().modules().find("vessaInterop.dll").empty());
}
