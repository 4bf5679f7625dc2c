// The simulated GPUs run what the drivers submit later, in queue order and in the time the
// scenario gives: locks wait for pending work (or, asked not to wait, hear that the GPU is
// still drawing), event queries finish when their queue gets there, one GPU sees another's
// writes only once they are done, presents queue to vertical blanks with their flip
// interval, and a context stalled on a synchronisation object at teardown is reported. All
// on the virtual clock, so every number below is exact and the same every run.
#include "GpuTestSupport.h"

#include "sim/Clock.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuCommand.h"
#include "sim/gpus/ScenarioLoader.h"
#include "sim/gpus/SimAllocation.h"
#include "sim/gpus/SimSubmission.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <algorithm>
#include <string.h>
#include <vector>

namespace {

using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;
using sim::rt::SurfaceDesc;

constexpr int kIntel = 0;
constexpr int kNvidia = 1;
constexpr uint64_t kPeriodNs = 1000000000ull / 60; // the Intel display's 60 Hz

// The default machine on the virtual clock; the NVIDIA GPU takes 5 ms per fill and 2 ms per
// copy, the Intel GPU 1 ms per fill.
const char* kScenario = "[machine]\nbase = default\n"
                        "[clock]\nmode = virtual\n"
                        "[gpu nvidia]\nrender-us = 5000\ncopy-us = 2000\n"
                        "[gpu intel]\nrender-us = 1000\n";

uint64_t now() {
    return sim::Clock::instance().nowNs();
}

sim::Journal& journal() {
    return sim::Machine::instance().journal();
}

class DeferredExecutionTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::MachineDesc machine;
        std::string error;
        ASSERT_TRUE(sim::ScenarioLoader::loadText(kScenario, "timing.scenario", machine, &error))
            << error;
        simtest::install(machine);
        journal().clear();
        sim::Display::instance().clear();
        m_start = now();
    }
    void TearDown() override {
        for (auto& pDevice : m_devices)
            pDevice->destroy();
        m_devices.clear();
        m_adapters.clear();
        sim::installMachine(sim::presets::defaultMachine());
    }

    RuntimeDevice& device(int gpu) {
        std::unique_ptr<RuntimeAdapter> pAdapter;
        std::unique_ptr<RuntimeDevice> pDevice;
        EXPECT_EQ(S_OK, RuntimeAdapter::openGpu(gpu, AdapterSource(), pAdapter));
        EXPECT_EQ(S_OK, pAdapter->createDevice(pDevice));
        m_adapters.push_back(std::move(pAdapter));
        m_devices.push_back(std::move(pDevice));
        return *m_devices.back();
    }

    static HANDLE surface(RuntimeDevice& d, UINT width, UINT height) {
        SurfaceDesc desc;
        desc.width = width;
        desc.height = height;
        HANDLE h = nullptr;
        EXPECT_EQ(S_OK, d.createResource(desc, h));
        return h;
    }

    uint64_t m_start = 0;
    std::vector<std::unique_ptr<RuntimeAdapter>> m_adapters;
    std::vector<std::unique_ptr<RuntimeDevice>> m_devices;
};

// The kernel allocation behind the last D3DKMTLock of the journal.
D3DKMT_HANDLE lastLockedAllocation() {
    sim::JournalEntry entry;
    EXPECT_TRUE(journal().last("gdi32.dll", "D3DKMTLock", entry));
    unsigned h = 0;
    size_t at = entry.arguments.find("hAllocation=");
    EXPECT_NE(at, std::string::npos) << entry.arguments;
    sscanf(entry.arguments.c_str() + at, "hAllocation=%x", &h);
    return D3DKMT_HANDLE(h);
}

TEST_F(DeferredExecutionTest, ALockWaitsForTheGpuWorkOnItsAllocation) {
    RuntimeDevice& d = device(kNvidia);
    HANDLE h = surface(d, 64, 32);
    void* pBits = nullptr;
    UINT pitch = 0;
    ASSERT_EQ(S_OK, d.lock(h, 0, pBits, pitch)); // learn the allocation, nothing pending
    ASSERT_EQ(S_OK, d.unlock(h, 0));
    D3DKMT_HANDLE hAllocation = lastLockedAllocation();
    sim::AllocationInfo info;
    ASSERT_TRUE(sim::Kernel::instance().allocation(hAllocation, info));

    ASSERT_EQ(S_OK, d.colorFill(h, 0, {0, 0, 64, 32}, 0x00FF0000));
    ASSERT_EQ(S_OK, d.flush());
    // Submitted, but the GPU has not got there: the memory is untouched.
    EXPECT_TRUE(sim::Kernel::instance().allocationBusy(hAllocation));
    EXPECT_EQ(0u, reinterpret_cast<const uint32_t*>(info.pMemory)[0]);
    EXPECT_EQ(now(), m_start);

    ASSERT_EQ(S_OK, d.lock(h, 0, pBits, pitch, D3DDDI_LOCKFLAGS::ReadOnly));
    // The lock waited the fill's 5 ms and sees its pixels.
    EXPECT_EQ(now(), m_start + 5000000);
    EXPECT_EQ(0x00FF0000u, static_cast<const uint32_t*>(pBits)[0]);
    EXPECT_EQ(0x00FF0000u, reinterpret_cast<const uint32_t*>(info.pMemory)[64 * 31 + 63]);
    ASSERT_EQ(S_OK, d.unlock(h, 0));
}

TEST_F(DeferredExecutionTest, ADonotWaitLockOfABusyAllocationHearsWasStillDrawing) {
    RuntimeDevice& d = device(kNvidia);
    HANDLE h = surface(d, 16, 16);
    ASSERT_EQ(S_OK, d.colorFill(h, 0, {0, 0, 16, 16}, 0x00123456));
    void* pBits = nullptr;
    UINT pitch = 0;
    // The driver's lock submits the fill; the kernel refuses to wait.
    EXPECT_EQ(D3DERR_WASSTILLDRAWING, d.lock(h, 0, pBits, pitch, D3DDDI_LOCKFLAGS::DoNotWait));
    EXPECT_EQ(HRESULT(0x8876021C), D3DERR_WASSTILLDRAWING);
    sim::JournalEntry entry;
    ASSERT_TRUE(journal().last("gdi32.dll", "D3DKMTLock", entry));
    EXPECT_EQ(entry.result, int64_t(NTSTATUS(STATUS_GRAPHICS_ALLOCATION_BUSY)));
    ASSERT_TRUE(journal().last("d3d9.dll", "LockCb", entry));
    EXPECT_EQ(entry.result, int64_t(D3DERR_WASSTILLDRAWING));
    // The refused poll cost 100 us of virtual time; the fill is still running.
    EXPECT_EQ(now(), m_start + 100000);
    // A waiting lock then gets the pixels.
    ASSERT_EQ(S_OK, d.lock(h, 0, pBits, pitch));
    EXPECT_EQ(0x00123456u, static_cast<const uint32_t*>(pBits)[pitch / 4 + 1]);
    EXPECT_EQ(now(), m_start + 5000000);
    ASSERT_EQ(S_OK, d.unlock(h, 0));
    // Nothing pending any more: DonotWait succeeds at once.
    ASSERT_EQ(S_OK, d.lock(h, 0, pBits, pitch, D3DDDI_LOCKFLAGS::DoNotWait));
    ASSERT_EQ(S_OK, d.unlock(h, 0));
    EXPECT_EQ(now(), m_start + 5000000);
}

TEST_F(DeferredExecutionTest, AnEventQueryIsDoneOnlyWhenItsQueueReachedIt) {
    // Polls of a query cost 100 us each while the work runs: two fills (10 ms) and a copy
    // (2 ms) take 120 polls before the 121st finds the queue there; the driver then answers
    // two more polls as busy (its default eventQueryPolls). Every run alike.
    std::vector<UINT> pollCounts;
    for (int run = 0; run < 2; ++run) {
        RuntimeDevice& d = device(kNvidia);
        HANDLE a = surface(d, 32, 32), b = surface(d, 32, 32);
        ASSERT_EQ(S_OK, d.colorFill(a, 0, {0, 0, 32, 32}, 0x00010203));
        ASSERT_EQ(S_OK, d.colorFill(b, 0, {0, 0, 32, 32}, 0x00040506));
        ASSERT_EQ(S_OK, d.blt(a, 0, {0, 0, 16, 16}, b, 0, {0, 0, 16, 16}));
        uint64_t issued = now();
        UINT polls = 0;
        ASSERT_EQ(S_OK, d.waitForIdle(&polls));
        pollCounts.push_back(polls);
        EXPECT_EQ(now(), issued + 12000000);
    }
    EXPECT_EQ(pollCounts[0], 123u);
    EXPECT_EQ(pollCounts[0], pollCounts[1]);
}

TEST_F(DeferredExecutionTest, EachGpuRunsItsOwnQueue) {
    // A long NVIDIA fill does not delay the Intel GPU's short one.
    RuntimeDevice& nvidia = device(kNvidia);
    RuntimeDevice& intel = device(kIntel);
    HANDLE n = surface(nvidia, 8, 8), i = surface(intel, 8, 8);
    ASSERT_EQ(S_OK, nvidia.colorFill(n, 0, {0, 0, 8, 8}, 1));
    ASSERT_EQ(S_OK, nvidia.flush());
    ASSERT_EQ(S_OK, intel.colorFill(i, 0, {0, 0, 8, 8}, 2));
    ASSERT_EQ(S_OK, intel.waitForIdle());
    EXPECT_EQ(now() - m_start, 1000000u); // the Intel fill's 1 ms alone
}

// ---- At the kernel: shared memory, presents, vertical blank, synchronisation ---------------

class KernelQueueTest : public DeferredExecutionTest {
protected:
    struct Gpu {
        D3DKMT_HANDLE hDevice = 0;
        D3DKMT_HANDLE hContext = 0;
        void* pCommands = nullptr;
    };
    Gpu open(int gpu) {
        Gpu g;
        D3DKMT_HANDLE hAdapter = simtest::openGpu(gpu);
        g.hDevice = simtest::createDevice(hAdapter);
        D3DKMT_CREATECONTEXT context = {};
        context.hDevice = g.hDevice;
        EXPECT_EQ(D3DKMTCreateContext(&context), sim::kStatusSuccess);
        g.hContext = context.hContext;
        g.pCommands = context.pCommandBuffer;
        return g;
    }
    // An X8R8G8B8 allocation, in the caller's memory when given, a primary of source 0 when
    // asked.
    D3DKMT_HANDLE allocation(const Gpu& g, uint32_t width, uint32_t height, void* pMemory,
                             bool primary = false) {
        sim::SimAllocationDesc desc = simtest::surfaceDesc(g.hDevice, width, height);
        D3DDDI_ALLOCATIONINFO info = {};
        info.pSystemMem = pMemory;
        info.pPrivateDriverData = &desc;
        info.PrivateDriverDataSize = sizeof desc;
        info.Flags.Value = primary ? D3DDDI_ALLOCATIONINFOFLAGS::Primary : 0;
        D3DKMT_CREATEALLOCATION create = {};
        create.hDevice = g.hDevice;
        create.NumAllocations = 1;
        create.pAllocationInfo = &info;
        EXPECT_EQ(D3DKMTCreateAllocation(&create), sim::kStatusSuccess);
        return info.hAllocation;
    }
    // Submits one command that writes `hWrite`, doing `work` once `gate` lets it, as a
    // simulated driver does.
    void submit(Gpu& g, D3DKMT_HANDLE hWrite, sim::GpuWork work, sim::GpuGate gate = {}) {
        sim::GpuCommandToken token = {uint32_t(sim::GpuOp::Fill), 0, hWrite, 0};
        token.work =
            sim::GpuWorkTable::instance().add(g.hContext, std::move(work), std::move(gate));
        memcpy(g.pCommands, &token, sizeof token);
        int gpu = sim::Kernel::instance().deviceGpu(g.hDevice);
        sim::SimSubmissionDesc owner;
        owner.setOwner(sim::installedMachine()->gpus[size_t(gpu)].vendorId, gpu);
        D3DKMT_RENDER render = {};
        render.hContext = g.hContext;
        render.CommandLength = sizeof token;
        render.pPrivateDriverData = &owner;
        render.PrivateDriverDataSize = sizeof owner;
        ASSERT_EQ(D3DKMTRender(&render), sim::kStatusSuccess);
        g.pCommands = render.pNewCommandBuffer;
    }
    static NTSTATUS present(const Gpu& g, D3DKMT_HANDLE hSource, UINT flags, UINT interval) {
        D3DKMT_PRESENT p;
        memset(&p, 0, sizeof p);
        p.hContext = g.hContext;
        p.hSource = hSource;
        p.Flags.Value = flags;
        p.FlipInterval = D3DDDI_FLIPINTERVAL_TYPE(interval);
        return D3DKMTPresent(&p);
    }
    static uint32_t shown(int gpu) {
        sim::ScanOut out;
        EXPECT_TRUE(sim::Display::instance().last(gpu, 0, out));
        return out.image.pixels.empty() ? 0 : out.image.pixels[0] & 0xFFFFFFu;
    }
};

TEST_F(KernelQueueTest, OneGpuSeesTheOthersWritesOnlyOnceTheyAreDone) {
    // The NVIDIA GPU fills system memory that the Intel GPU shows (5 ms per fill).
    uint32_t memory[4] = {};
    Gpu nvidia = open(kNvidia), intel = open(kIntel);
    D3DKMT_HANDLE hWritten = allocation(nvidia, 4, 1, memory);
    D3DKMT_HANDLE hShown = allocation(intel, 4, 1, memory);
    submit(nvidia, hWritten, [&memory] {
        for (uint32_t& pixel : memory)
            pixel = 0x00ABCDEF;
    });
    ASSERT_EQ(present(intel, hShown, D3DKMT_PRESENTFLAGS::Blt, 0), sim::kStatusSuccess);
    EXPECT_EQ(shown(kIntel), 0u);
    Sleep(4);
    ASSERT_EQ(present(intel, hShown, D3DKMT_PRESENTFLAGS::Blt, 0), sim::kStatusSuccess);
    EXPECT_EQ(shown(kIntel), 0u);
    Sleep(1); // 5 ms: the NVIDIA fill has ended
    ASSERT_EQ(present(intel, hShown, D3DKMT_PRESENTFLAGS::Blt, 0), sim::kStatusSuccess);
    EXPECT_EQ(shown(kIntel), 0xABCDEFu);
}

TEST_F(KernelQueueTest, GatedWorkWaitsForItsGateAndStartsAtTheMomentTheGateNames) {
    // Intel fills take 1 ms. The first fill waits for something outside its queue, then
    // may start no earlier than 3 ms; the second fill queues behind it.
    uint32_t memory[4] = {};
    Gpu intel = open(kIntel);
    D3DKMT_HANDLE hWritten = allocation(intel, 4, 1, memory);
    bool gateOpen = false;
    uint64_t firstEnd = 0, secondEnd = 0;
    submit(
        intel, hWritten, [&] { firstEnd = now(); },
        [&](uint64_t& startNotBeforeNs) {
            if (!gateOpen)
                return false;
            startNotBeforeNs = std::max(startNotBeforeNs, m_start + 3000000);
            return true;
        });
    submit(intel, hWritten, [&] { secondEnd = now(); });
    sim::Kernel& kernel = sim::Kernel::instance();
    Sleep(2);
    kernel.settleGpus();
    EXPECT_EQ(firstEnd, 0u);
    EXPECT_EQ(secondEnd, 0u);
    EXPECT_TRUE(kernel.allocationBusy(hWritten));

    gateOpen = true;
    EXPECT_TRUE(kernel.waitForGpus([&] { return !kernel.allocationBusy(hWritten); }));
    EXPECT_EQ(firstEnd, m_start + 4000000);
    EXPECT_EQ(secondEnd, m_start + 5000000);
}

TEST_F(KernelQueueTest, VerticalBlankAndScanLineMoveWithTheClock) {
    D3DKMT_HANDLE hAdapter = simtest::openGpu(kIntel);
    D3DKMT_GETSCANLINE scan = {hAdapter, 0, FALSE, 0};
    // The machine was installed at a vertical blank: the beam is in it, below line 800.
    ASSERT_EQ(D3DKMTGetScanLine(&scan), sim::kStatusSuccess);
    EXPECT_TRUE(scan.InVerticalBlank);
    EXPECT_EQ(scan.ScanLine, 800u);
    Sleep(1); // 1 ms of 16.67: line 50 of 840, the 40 blank lines passed
    ASSERT_EQ(D3DKMTGetScanLine(&scan), sim::kStatusSuccess);
    EXPECT_FALSE(scan.InVerticalBlank);
    EXPECT_EQ(scan.ScanLine, 10u);
    D3DKMT_WAITFORVERTICALBLANKEVENT wait = {hAdapter, 0, 0};
    ASSERT_EQ(D3DKMTWaitForVerticalBlankEvent(&wait), sim::kStatusSuccess);
    EXPECT_EQ(now(), m_start + kPeriodNs);
    ASSERT_EQ(D3DKMTWaitForVerticalBlankEvent(&wait), sim::kStatusSuccess);
    EXPECT_EQ(now(), m_start + 2 * kPeriodNs);
    ASSERT_EQ(D3DKMTGetScanLine(&scan), sim::kStatusSuccess);
    EXPECT_TRUE(scan.InVerticalBlank);
    EXPECT_EQ(scan.ScanLine, 800u);
}

TEST_F(KernelQueueTest, AtMostThreePresentsQueueAndFlipsShowAtTheirVerticalBlanks) {
    Gpu intel = open(kIntel);
    D3DKMT_HANDLE hPrimary = allocation(intel, 1280, 800, nullptr, true);
    std::vector<uint64_t> returned;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(present(intel, hPrimary, D3DKMT_PRESENTFLAGS::Flip, 1), sim::kStatusSuccess);
        returned.push_back(now() - m_start);
    }
    // Three queue at once; the fourth waits for the first to show, the fifth for the second.
    EXPECT_EQ(returned, (std::vector<uint64_t>{0, 0, 0, kPeriodNs, 2 * kPeriodNs}));
    ASSERT_TRUE(sim::Display::instance().waitForCount(kIntel, 0, 5));
    std::vector<uint64_t> shownAt;
    for (uint64_t t : sim::Display::instance().times(kIntel, 0))
        shownAt.push_back(t - m_start);
    EXPECT_EQ(shownAt, (std::vector<uint64_t>{kPeriodNs, 2 * kPeriodNs, 3 * kPeriodNs,
                                              4 * kPeriodNs, 5 * kPeriodNs}));
}

TEST_F(KernelQueueTest, FlipIntervalsSpaceTheFlipsAndImmediateFlipsDoNotWait) {
    Gpu intel = open(kIntel);
    D3DKMT_HANDLE hPrimary = allocation(intel, 1280, 800, nullptr, true);
    ASSERT_EQ(present(intel, hPrimary, D3DKMT_PRESENTFLAGS::Flip, 2), sim::kStatusSuccess);
    ASSERT_EQ(present(intel, hPrimary, D3DKMT_PRESENTFLAGS::Flip, 2), sim::kStatusSuccess);
    ASSERT_EQ(present(intel, hPrimary, D3DKMT_PRESENTFLAGS::Flip, 4), sim::kStatusSuccess);
    ASSERT_TRUE(sim::Display::instance().waitForCount(kIntel, 0, 3));
    std::vector<uint64_t> times = sim::Display::instance().times(kIntel, 0);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[0] - m_start, kPeriodNs); // the first vertical blank
    EXPECT_EQ(times[1] - times[0], 2 * kPeriodNs);
    EXPECT_EQ(times[2] - times[1], 4 * kPeriodNs);
    Sleep(3);
    uint64_t before = now();
    ASSERT_EQ(present(intel, hPrimary, D3DKMT_PRESENTFLAGS::Flip, D3DDDI_FLIPINTERVAL_IMMEDIATE),
              sim::kStatusSuccess);
    ASSERT_EQ(sim::Display::instance().count(kIntel, 0), 4u);
    EXPECT_EQ(sim::Display::instance().times(kIntel, 0).back(), before);
}

TEST_F(KernelQueueTest, AWaitStallsItsContextUntilAnotherContextSignals) {
    Gpu intel = open(kIntel);
    D3DKMT_CREATECONTEXT second = {};
    second.hDevice = intel.hDevice;
    ASSERT_EQ(D3DKMTCreateContext(&second), sim::kStatusSuccess);
    Gpu signaller = intel;
    signaller.hContext = second.hContext;
    signaller.pCommands = second.pCommandBuffer;
    D3DKMT_CREATESYNCHRONIZATIONOBJECT create = {};
    create.hDevice = intel.hDevice;
    create.Info.Type = D3DDDI_SEMAPHORE;
    create.Info.Semaphore.MaxCount = 1;
    ASSERT_EQ(D3DKMTCreateSynchronizationObject(&create), sim::kStatusSuccess);
    uint32_t memory[4] = {};
    D3DKMT_HANDLE hAllocation = allocation(intel, 4, 1, memory);

    D3DKMT_WAITFORSYNCHRONIZATIONOBJECT wait = {intel.hContext, 1, {create.hSyncObject}};
    ASSERT_EQ(D3DKMTWaitForSynchronizationObject(&wait), sim::kStatusSuccess);
    bool ran = false;
    submit(intel, hAllocation, [&ran] { ran = true; });
    Sleep(50);
    sim::Kernel::instance().settleGpus();
    EXPECT_FALSE(ran); // stalled behind the wait
    EXPECT_TRUE(sim::Kernel::instance().allocationBusy(hAllocation));
    D3DKMT_SIGNALSYNCHRONIZATIONOBJECT signal = {signaller.hContext, 1, {create.hSyncObject}, {}};
    ASSERT_EQ(D3DKMTSignalSynchronizationObject(&signal), sim::kStatusSuccess);
    uint64_t signalled = now();
    EXPECT_TRUE(sim::Kernel::instance().waitForGpus([&ran] { return ran; }));
    EXPECT_EQ(now(), signalled + 1000000); // the fill's 1 ms after the signal
    D3DKMT_DESTROYCONTEXT destroy = {intel.hContext};
    ASSERT_EQ(D3DKMTDestroyContext(&destroy), sim::kStatusSuccess);
    EXPECT_EQ(journal().count("gdi32.dll", "ContextStillWaiting"), 0u);
}

TEST_F(KernelQueueTest, AContextStillWaitingAtTeardownIsReported) {
    Gpu nvidia = open(kNvidia);
    D3DKMT_CREATESYNCHRONIZATIONOBJECT create = {};
    create.hDevice = nvidia.hDevice;
    create.Info.Type = D3DDDI_SYNCHRONIZATION_MUTEX;
    create.Info.SynchronizationMutex.InitialState = TRUE; // owned: a wait stalls
    ASSERT_EQ(D3DKMTCreateSynchronizationObject(&create), sim::kStatusSuccess);
    D3DKMT_WAITFORSYNCHRONIZATIONOBJECT wait = {nvidia.hContext, 1, {create.hSyncObject}};
    ASSERT_EQ(D3DKMTWaitForSynchronizationObject(&wait), sim::kStatusSuccess);
    D3DKMT_DESTROYCONTEXT destroy = {nvidia.hContext};
    ASSERT_EQ(D3DKMTDestroyContext(&destroy), sim::kStatusSuccess);
    sim::JournalEntry entry;
    ASSERT_TRUE(journal().last("gdi32.dll", "ContextStillWaiting", entry));
    EXPECT_EQ(entry.gpu, kNvidia);
    char expected[96];
    snprintf(expected, sizeof expected, "hContext=0x%x when it was destroyed", nvidia.hContext);
    EXPECT_EQ(entry.arguments.rfind(expected, 0), 0u) << entry.arguments;
    snprintf(expected, sizeof expected, "waiting for objects 0x%x", create.hSyncObject);
    EXPECT_NE(entry.arguments.find(expected), std::string::npos) << entry.arguments;
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(DeferredExecutionTest, APointerKeptPastUnlockIsAUseAfterFree) {
    RuntimeDevice& d = device(kNvidia);
    HANDLE h = surface(d, 16, 16);
    void* pBits = nullptr;
    UINT pitch = 0;
    ASSERT_EQ(S_OK, d.lock(h, 0, pBits, pitch));
    static_cast<uint32_t*>(pBits)[0] = 0x00C0FFEE;
    ASSERT_EQ(S_OK, d.unlock(h, 0));
    volatile uint32_t* pStale = static_cast<uint32_t*>(pBits);
    EXPECT_DEATH((void)pStale[0], "heap-use-after-free");
    // What was written before the unlock stays.
    ASSERT_EQ(S_OK, d.lock(h, 0, pBits, pitch, D3DDDI_LOCKFLAGS::ReadOnly));
    EXPECT_EQ(static_cast<uint32_t*>(pBits)[0], 0x00C0FFEEu);
    ASSERT_EQ(S_OK, d.unlock(h, 0));
}
#endif

} // namespace
