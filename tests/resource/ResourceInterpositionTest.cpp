// Resources of an interposed device on the simulated machine: the simulated runtime loads
// vessad3d9u.dll and creates a device through OpenAdapter9DetourIntel; resources live on
// the NVIDIA GPU (rendering), copies on the Intel GPU (presenting), and the API copy moves
// pixels between them over one system-memory block. The journal says where each call went.
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
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

using adaptertest::machine;
using adaptertest::reports;
using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;

namespace {

constexpr int kIntel = 0;  // the presenting GPU of the default machine
constexpr int kNvidia = 1; // the rendering GPU
constexpr const char* kIntelDriver = "simumd_intel.dll";
constexpr const char* kNvidiaDriver = "simumd_nv.dll";

template <typename Fn> Fn probe(const char* name) {
    HMODULE library = GetModuleHandleW(WSTR("vessad3d9u.dll"));
    return library ? reinterpret_cast<Fn>(
                         reinterpret_cast<void (*)(void)>(GetProcAddress(library, name)))
                   : nullptr;
}

size_t calls(const char* module, const char* entry, int gpu) {
    return machine().journal().count(module, entry, gpu);
}

/// A device created through the library on the default machine, and its helpers.
class ResourceTest : public ::testing::Test {
protected:
    /// The machine a test runs on.
    virtual sim::MachineDesc machineDesc() const { return sim::presets::defaultMachine(); }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::installMachine(machineDesc(), &error)) << error;
        adaptertest::clearLog();
        AdapterSource source;
        source.library = "vessad3d9u.dll";
        source.entry = "OpenAdapter9DetourIntel";
        ASSERT_EQ(S_OK, RuntimeAdapter::openDisplay("", source, m_pAdapter));
        ASSERT_EQ(S_OK, m_pAdapter->createDevice(m_pDevice));
        machine().journal().clear();
    }

    void TearDown() override {
        machine().faults().clear();
        // As the runtime does, every resource goes before its device.
        if (m_pDevice) {
            for (HANDLE hResource : m_resources)
                m_pDevice->destroyResource(hResource);
            m_pDevice->destroy();
        }
        if (m_pAdapter)
            m_pAdapter->close();
    }

    HANDLE hDevice() const { return m_pDevice->driverDevice(); }

    HANDLE create(UINT width, UINT height, UINT multisampleType = 0) {
        sim::rt::SurfaceDesc desc;
        desc.width = width;
        desc.height = height;
        desc.format = D3DDDIFMT_A8R8G8B8;
        desc.multisampleType = multisampleType;
        HANDLE hResource = nullptr;
        EXPECT_EQ(S_OK, m_pDevice->createResource(desc, hResource));
        m_resources.push_back(hResource);
        return hResource;
    }

    /// Destroys a resource the test made, so that tear-down does not destroy it again.
    HRESULT destroy(HANDLE hResource) {
        for (auto it = m_resources.begin(); it != m_resources.end(); ++it) {
            if (*it == hResource) {
                m_resources.erase(it);
                break;
            }
        }
        return m_pDevice->destroyResource(hResource);
    }

    uint64_t createOnPresenting(HANDLE hResource) {
        uint64_t presenting = 0;
        auto fn = probe<BOOL (*)(HANDLE, HANDLE, uint64_t*)>("vessaProbeCreateOnPresenting");
        EXPECT_TRUE(fn && fn(hDevice(), hResource, &presenting));
        return presenting;
    }

    int transfer(HANDLE hDst, HANDLE hSrc) {
        auto fn = probe<int (*)(HANDLE, HANDLE, UINT, HANDLE, UINT)>("vessaProbeTransfer");
        return fn ? fn(hDevice(), hDst, 0, hSrc, 0) : -2;
    }

    struct Staging {
        uint64_t rendering = 0;
        uint64_t presenting = 0;
        void* pMemory = nullptr;
    };
    bool staging(HANDLE hResource, Staging& out) {
        auto fn = probe<BOOL (*)(HANDLE, HANDLE, uint64_t*, uint64_t*, void**)>(
            "vessaProbeStagingBuffer");
        return fn && fn(hDevice(), hResource, &out.rendering, &out.presenting, &out.pMemory);
    }

    /// The live kernel allocations created since the journal was last cleared, in order.
    std::vector<sim::AllocationInfo> createdAllocations() {
        std::vector<sim::AllocationInfo> found;
        for (const sim::JournalEntry& e :
             machine().journal().find("gdi32.dll", "D3DKMTCreateAllocation")) {
            size_t at = e.arguments.find("->");
            while (at != std::string::npos &&
                   (at = e.arguments.find("hAllocation=", at)) != std::string::npos) {
                at += strlen("hAllocation=");
                sim::AllocationInfo info;
                D3DKMT_HANDLE h = D3DKMT_HANDLE(strtoul(e.arguments.c_str() + at, nullptr, 16));
                if (sim::Kernel::instance().allocation(h, info))
                    found.push_back(info);
            }
        }
        return found;
    }

    /// The kernel allocations of the presenting GPU's device that `pick` accepts.
    template <typename Pick> std::vector<sim::AllocationInfo> presentingAllocations(Pick pick) {
        std::vector<sim::AllocationInfo> found;
        for (D3DKMT_HANDLE h : sim::Kernel::instance().allocationsOf(m_pDevice->kernelDevice())) {
            sim::AllocationInfo info;
            if (sim::Kernel::instance().allocation(h, info) && pick(info))
                found.push_back(info);
        }
        return found;
    }

    std::unique_ptr<RuntimeAdapter> m_pAdapter;
    std::unique_ptr<RuntimeDevice> m_pDevice;
    std::vector<HANDLE> m_resources;
};

} // namespace

// ---- Creation and destruction -------------------------------------------------------------

TEST_F(ResourceTest, ResourceIsCreatedOnTheRenderingGpuOnly) {
    HANDLE hResource = create(64, 32);
    ASSERT_NE(nullptr, hResource);
    EXPECT_EQ(1u, calls(kNvidiaDriver, "CreateResource", kNvidia));
    EXPECT_EQ(0u, calls(kIntelDriver, "CreateResource", kIntel));
    // The rendering driver allocates through the kernel, never through the runtime, and is
    // not told the runtime's handle.
    sim::JournalEntry entry;
    ASSERT_TRUE(machine().journal().last(kNvidiaDriver, "CreateResource", entry));
    EXPECT_NE(std::string::npos, entry.arguments.find("hResource=(nil)")) << entry.arguments;
    EXPECT_EQ(0u, machine().journal().count("d3d9.dll", "AllocateCb"));
    // The handle the runtime holds is the rendering driver's own: a plain entry reaches it.
    void* pBits = nullptr;
    UINT pitch = 0;
    EXPECT_EQ(S_OK, m_pDevice->lock(hResource, 0, pBits, pitch));
    EXPECT_EQ(S_OK, m_pDevice->unlock(hResource, 0));
}

TEST_F(ResourceTest, FailedCreationLeavesNothingBehind) {
    machine().faults().failNth(kNvidiaDriver, "CreateResource", 1, E_OUTOFMEMORY);
    sim::rt::SurfaceDesc desc;
    desc.width = 16;
    desc.height = 16;
    HANDLE hResource = nullptr;
    EXPECT_EQ(E_OUTOFMEMORY, m_pDevice->createResource(desc, hResource));
    // Destroying the device finds no resource left over.
    EXPECT_EQ(S_OK, m_pDevice->destroy());
    m_pDevice.reset();
    EXPECT_EQ(0, reports("Warning", 10976, "Not all device resources were destroy!"));
}

TEST_F(ResourceTest, DestructionReachesEveryGpuPresentingFirst) {
    HANDLE hResource = create(64, 32);
    ASSERT_NE(0u, createOnPresenting(hResource));
    EXPECT_EQ(1u, calls(kIntelDriver, "CreateResource", kIntel));
    machine().journal().clear();

    EXPECT_EQ(S_OK, destroy(hResource));
    std::vector<sim::JournalEntry> destroys;
    for (const sim::JournalEntry& e : machine().journal().entries()) {
        if (e.entry == "DestroyResource")
            destroys.push_back(e);
    }
    ASSERT_EQ(2u, destroys.size());
    EXPECT_EQ(kIntel, destroys[0].gpu);
    EXPECT_EQ(kNvidia, destroys[1].gpu);
    EXPECT_EQ(0, reports("Warning", 11065, "Could not destroy resource"));
}

TEST_F(ResourceTest, FailedDestructionIsReportedAndTheObjectStillGoes) {
    HANDLE hResource = create(64, 32);
    ASSERT_NE(0u, createOnPresenting(hResource));
    machine().faults().failNth(kIntelDriver, "DestroyResource", 1, E_FAIL);
    EXPECT_EQ(S_OK, destroy(hResource)); // the last call, on GPU 1, worked
    EXPECT_EQ(1, reports("Warning", 11065, "Could not destroy resource on gpu:0",
                         "DeviceFuncs_auto.cpp:246"));
    EXPECT_EQ(1u, calls(kNvidiaDriver, "DestroyResource", kNvidia));
    // The handle is gone from the device: a second destroy is an unknown handle.
    machine().journal().clear();
    EXPECT_EQ(E_FAIL, m_pDevice->destroyResource(hResource));
    EXPECT_EQ(0u, machine().journal().count(kNvidiaDriver, "DestroyResource"));
}

TEST_F(ResourceTest, UnknownResourceHandleFailsWithoutReachingADriver) {
    HANDLE hBogus = reinterpret_cast<HANDLE>(uintptr_t(0x5eed0));
    EXPECT_EQ(E_FAIL, m_pDevice->destroyResource(hBogus));
    EXPECT_EQ(1, reports("Error", 11032, "Could not find Resource 5eed0!", "DeviceBase.cpp:114"));
    EXPECT_EQ(0u, machine().journal().count(kNvidiaDriver, "DestroyResource"));
    EXPECT_EQ(0u, machine().journal().count(kIntelDriver, "DestroyResource"));
}

TEST_F(ResourceTest, SharedPrimaryIsOpenedOnThePresentingGpuAlone) {
    HANDLE hShared = nullptr;
    ASSERT_EQ(S_OK, m_pDevice->openSharedPrimary(1280, 800, hShared));
    EXPECT_EQ(1u, calls(kIntelDriver, "OpenResource", kIntel));
    EXPECT_EQ(0u, machine().journal().count(kNvidiaDriver, "OpenResource"));
    machine().journal().clear();
    EXPECT_EQ(S_OK, m_pDevice->destroyResource(hShared));
    EXPECT_EQ(1u, calls(kIntelDriver, "DestroyResource", kIntel));
    EXPECT_EQ(0u, machine().journal().count(kNvidiaDriver, "DestroyResource"));
    // Named by the presenting GPU's handle, which is right for a shared resource.
    EXPECT_EQ(0, reports("Error", 11033, "Application resource should be of"));
}

TEST_F(ResourceTest, PresentingCopyIsMadeOnceUnderTheRuntimesHandle) {
    HANDLE hResource = create(64, 32, 4);
    ASSERT_NE(0u, createOnPresenting(hResource));
    sim::JournalEntry entry;
    ASSERT_TRUE(machine().journal().last(kIntelDriver, "CreateResource", entry));
    // Not multisampled on the presenting GPU, and named by the runtime's own handle there.
    EXPECT_NE(std::string::npos, entry.arguments.find("Ms=0 ")) << entry.arguments;
    EXPECT_EQ(std::string::npos, entry.arguments.find("hResource=(nil)")) << entry.arguments;
    EXPECT_EQ(1u, machine().journal().count("d3d9.dll", "AllocateCb", kIntel));

    auto fn = probe<BOOL (*)(HANDLE, HANDLE, uint64_t*)>("vessaProbeCreateOnPresenting");
    uint64_t again = 0;
    EXPECT_FALSE(fn(hDevice(), hResource, &again));
    EXPECT_EQ(1u, calls(kIntelDriver, "CreateResource", kIntel));
}

TEST_F(ResourceTest, FailedPresentingCopyKeepsNoHandleThere) {
    HANDLE hResource = create(64, 32);
    machine().faults().failNth(kIntelDriver, "CreateResource", 1, E_OUTOFMEMORY);
    auto fn = probe<BOOL (*)(HANDLE, HANDLE, uint64_t*)>("vessaProbeCreateOnPresenting");
    uint64_t presenting = 1;
    EXPECT_FALSE(fn(hDevice(), hResource, &presenting)); // nothing was made

    EXPECT_EQ(0u, presenting); // never the runtime's handle passed off as the driver's
    EXPECT_EQ(1, reports("Error", 11077, "Could Not create Primary on Presenting",
                         "ResourceDDI9.cpp:160"));
    machine().journal().clear();
    EXPECT_EQ(S_OK, destroy(hResource));
    EXPECT_EQ(0u, machine().journal().count(kIntelDriver, "DestroyResource"));
}

TEST_F(ResourceTest, DownsamplingTwinIsANonMultisampledLockableSurface) {
    sim::rt::SurfaceDesc desc;
    desc.width = 128;
    desc.height = 64;
    desc.multisampleType = 4;
    desc.flags = D3DDDI_RESOURCEFLAGS::RenderTarget | D3DDDI_RESOURCEFLAGS::NotLockable;
    HANDLE hResource = nullptr;
    ASSERT_EQ(S_OK, m_pDevice->createResource(desc, hResource));
    m_resources.push_back(hResource);
    machine().journal().clear();
    auto fn = probe<BOOL (*)(HANDLE, HANDLE, uint64_t*)>("vessaProbeCreateNonMultisampledBuffer");
    uint64_t extra = 0;
    ASSERT_TRUE(fn(hDevice(), hResource, &extra));
    EXPECT_NE(0u, extra);
    sim::JournalEntry entry;
    ASSERT_TRUE(machine().journal().last(kNvidiaDriver, "CreateResource", entry));
    EXPECT_EQ(kNvidia, entry.gpu);
    EXPECT_NE(std::string::npos, entry.arguments.find("Ms=0 SurfCount=1 Flags=0x1 "))
        << entry.arguments;
    // The twin goes with its resource, on the rendering GPU.
    machine().journal().clear();
    EXPECT_EQ(S_OK, destroy(hResource));
    EXPECT_EQ(2u, calls(kNvidiaDriver, "DestroyResource", kNvidia));
}

// ---- The API copy -------------------------------------------------------------------------

TEST_F(ResourceTest, ApiCopyMovesA720pSurfaceThroughOneSystemMemoryBlock) {
    HANDLE hSrc = create(1280, 720);
    HANDLE hDst = create(1280, 720);
    ASSERT_NE(0u, createOnPresenting(hDst));
    // A picture on the rendering GPU: quadrants and a bar.
    const RECT parts[] = {{0, 0, 640, 360},
                          {640, 0, 1280, 360},
                          {0, 360, 640, 720},
                          {640, 360, 1280, 720},
                          {100, 300, 1180, 420}};
    const D3DCOLOR colours[] = {0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u, 0x80FF0000u};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(S_OK, m_pDevice->colorFill(hSrc, 0, parts[i], colours[i]));
    machine().journal().clear();

    EXPECT_EQ(1, transfer(hDst, hSrc));

    Staging sb;
    ASSERT_TRUE(staging(hSrc, sb));
    EXPECT_NE(0u, sb.rendering);
    EXPECT_NE(0u, sb.presenting);
    ASSERT_NE(nullptr, sb.pMemory);
    // One Blt on each GPU, no CPU copy in between.
    EXPECT_EQ(1u, calls(kNvidiaDriver, "Blt", kNvidia));
    EXPECT_EQ(1u, calls(kIntelDriver, "Blt", kIntel));
    // Both staging surfaces sit on the same 3,686,400-byte block with a 5120-byte pitch.
    std::vector<int> gpusOnBlock;
    for (const sim::AllocationInfo& info : createdAllocations()) {
        if (info.pMemory != sb.pMemory)
            continue;
        EXPECT_TRUE(info.systemMemory);
        EXPECT_EQ(3686400u, info.size);
        EXPECT_EQ(5120u, info.pitch);
        gpusOnBlock.push_back(info.gpu);
    }
    EXPECT_EQ((std::vector<int>{kNvidia, kIntel}), gpusOnBlock);

    // The presenting GPU's copy holds the picture, pixel for pixel.
    auto copies = presentingAllocations([&](const sim::AllocationInfo& info) {
        return !info.systemMemory && info.width == 1280 && info.height == 720;
    });
    ASSERT_EQ(1u, copies.size());
    const sim::AllocationInfo& dst = copies[0];
    // The copy is GPU work: wait until the presenting GPU has run it before reading memory.
    sim::Kernel::instance().waitForGpus(
        [&] { return !sim::Kernel::instance().allocationBusy(dst.handle); });
    int wrong = 0;
    for (LONG y = 0; y < 720; ++y) {
        for (LONG x = 0; x < 1280; ++x) {
            D3DCOLOR expected = 0;
            for (int i = 0; i < 5; ++i) {
                const RECT& r = parts[i];
                if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
                    expected = colours[i];
            }
            uint32_t pixel;
            memcpy(&pixel, dst.pMemory + size_t(y) * dst.pitch + size_t(x) * 4, 4);
            wrong += pixel != expected;
        }
    }
    EXPECT_EQ(0, wrong);

    // The second frame reuses the staging buffer.
    machine().journal().clear();
    EXPECT_EQ(1, transfer(hDst, hSrc));
    EXPECT_EQ(0u, machine().journal().count(kIntelDriver, "CreateResource"));
    EXPECT_EQ(0u, machine().journal().count(kNvidiaDriver, "CreateResource"));
    EXPECT_EQ(1u, calls(kIntelDriver, "Blt", kIntel));
}

/// The default machine on the virtual clock, where copies take GPU time: the presenting GPU
/// is four times slower at a copy than the rendering GPU.
class ResourceOnBusyGpusTest : public ResourceTest {
protected:
    sim::MachineDesc machineDesc() const override {
        sim::MachineDesc desc = sim::presets::defaultMachine();
        desc.virtualClock = true;
        desc.gpus[kNvidia].copyTimeUs = 2000;
        desc.gpus[kIntel].copyTimeUs = 8000;
        return desc;
    }

    uint32_t pixelOf(const sim::AllocationInfo& info) {
        sim::Kernel::instance().waitForGpus(
            [&] { return !sim::Kernel::instance().allocationBusy(info.handle); });
        uint32_t pixel = 0;
        memcpy(&pixel, info.pMemory + 10 * info.pitch + 10 * 4, 4);
        return pixel;
    }
};

TEST_F(ResourceOnBusyGpusTest, EachGpuWaitsForTheOtherAroundTheStagingBlock) {
    HANDLE hSrc = create(64, 64);
    HANDLE hFirst = create(64, 64);
    HANDLE hSecond = create(64, 64);
    auto copies = [&] {
        return presentingAllocations([&](const sim::AllocationInfo& info) {
            return !info.systemMemory && info.width == 64 && info.height == 64;
        });
    };
    ASSERT_NE(0u, createOnPresenting(hFirst));
    ASSERT_EQ(1u, copies().size());
    const sim::AllocationInfo first = copies()[0];
    ASSERT_NE(0u, createOnPresenting(hSecond));
    sim::AllocationInfo second;
    for (const sim::AllocationInfo& info : copies()) {
        if (info.handle != first.handle)
            second = info;
    }
    ASSERT_NE(0u, second.handle);
    const RECT all = {0, 0, 64, 64};

    ASSERT_EQ(S_OK, m_pDevice->colorFill(hSrc, 0, all, 0xFF0000FFu));
    machine().journal().clear();
    ASSERT_EQ(1, transfer(hFirst, hSrc));
    // The presenting GPU's Blt is recorded only after a read-only lock of the rendering
    // GPU's staging surface, and is submitted before the copy returns.
    std::vector<std::string> order;
    for (const sim::JournalEntry& e : machine().journal().entries()) {
        if ((e.module == kNvidiaDriver || e.module == kIntelDriver) && e.entry != "CreateResource")
            order.push_back(std::to_string(e.gpu) + ":" + e.entry);
    }
    EXPECT_EQ((std::vector<std::string>{"0:Lock", "0:Unlock", "1:Blt", "1:Lock", "1:Unlock",
                                        "0:Blt", "0:Flush"}),
              order);
    sim::JournalEntry lock;
    ASSERT_TRUE(machine().journal().last(kNvidiaDriver, "Lock", lock));
    EXPECT_NE(std::string::npos, lock.arguments.find("Flags=0x1")) << lock.arguments;

    // The next frame is written into the block while the presenting GPU still reads the
    // first one out of it: unless the rendering GPU waits, the first copy shows the second.
    ASSERT_EQ(S_OK, m_pDevice->colorFill(hSrc, 0, all, 0xFF00FF00u));
    ASSERT_EQ(1, transfer(hSecond, hSrc));
    EXPECT_EQ(0xFF0000FFu, pixelOf(first));
    EXPECT_EQ(0xFF00FF00u, pixelOf(second));
}

TEST_F(ResourceTest, StagingBufferGoesWithItsResourceSurfacesFirst) {
    HANDLE hSrc = create(256, 128);
    HANDLE hDst = create(256, 128);
    ASSERT_NE(0u, createOnPresenting(hDst));
    const sim::KernelCounts before = sim::Kernel::instance().counts();
    ASSERT_EQ(1, transfer(hDst, hSrc));
    EXPECT_EQ(before.allocations + 2, sim::Kernel::instance().counts().allocations);
    Staging sb;
    ASSERT_TRUE(staging(hSrc, sb));

    machine().journal().clear();
    EXPECT_EQ(S_OK, destroy(hSrc));
    // The resource itself on GPU 1 and the staging surface on each GPU; the block is freed
    // after them (AddressSanitizer reports it at exit otherwise).
    EXPECT_EQ(2u, calls(kNvidiaDriver, "DestroyResource", kNvidia));
    EXPECT_EQ(1u, calls(kIntelDriver, "DestroyResource", kIntel));
    EXPECT_EQ(before.allocations - 1, sim::Kernel::instance().counts().allocations);
    EXPECT_EQ(0, reports("Error", 11028, "SWCopierDDI9 failed on pfnDestroyResource"));
}

TEST_F(ResourceTest, MultisampledSourceGetsANonMultisampledStagingBufferAndOneWarning) {
    HANDLE hSrc = create(320, 200, 4);
    HANDLE hDst = create(320, 200);
    ASSERT_NE(0u, createOnPresenting(hDst));
    ASSERT_EQ(S_OK, m_pDevice->colorFill(hSrc, 0, RECT{0, 0, 320, 200}, 0xFF336699u));
    machine().journal().clear();
    EXPECT_EQ(1, transfer(hDst, hSrc));
    EXPECT_EQ(1, transfer(hDst, hSrc));
    EXPECT_EQ(1, reports("Warning", 10992,
                         "ResourceDDI9 Warning: Force Non-Multisampled SWStagingBuffer creation",
                         "ResourceDDI9.cpp:174"));
    EXPECT_EQ(0, reports("Error", 11026, "multisampled"));
    for (const char* driver : {kIntelDriver, kNvidiaDriver}) {
        sim::JournalEntry entry;
        ASSERT_TRUE(machine().journal().last(driver, "CreateResource", entry));
        EXPECT_NE(std::string::npos, entry.arguments.find("Pool=1 Ms=0 SurfCount=1 Flags=0x10004"))
            << entry.arguments;
    }
    auto copies = presentingAllocations(
        [&](const sim::AllocationInfo& info) { return !info.systemMemory && info.width == 320; });
    ASSERT_EQ(1u, copies.size());
    // The copy is GPU work: wait until the presenting GPU has run it before reading memory.
    sim::Kernel::instance().waitForGpus(
        [&] { return !sim::Kernel::instance().allocationBusy(copies[0].handle); });
    uint32_t pixel;
    memcpy(&pixel, copies[0].pMemory + 100 * copies[0].pitch + 100 * 4, 4);
    EXPECT_EQ(0xFF336699u, pixel); // resolved on the rendering GPU's Blt
}

TEST_F(ResourceTest, MissingPresentingStagingSurfaceMakesTheCopyOutANoOp) {
    HANDLE hSrc = create(64, 64);
    HANDLE hDst = create(64, 64);
    ASSERT_NE(0u, createOnPresenting(hDst));
    // The staging surfaces are made rendering GPU first: the presenting one fails.
    machine().faults().failNth(kIntelDriver, "CreateResource", 1, E_OUTOFMEMORY);
    machine().journal().clear();
    EXPECT_EQ(0, transfer(hDst, hSrc)); // no frame crossed
    Staging sb;
    ASSERT_TRUE(staging(hSrc, sb));
    EXPECT_NE(0u, sb.rendering);
    EXPECT_EQ(0u, sb.presenting);
    EXPECT_EQ(1, reports("Error", 11027,
                         "SWCopierDDI9 failed on pfnCreateResource : width=64, "
                         "height=64, format=21, hr = -2147024882"));
    // Nothing is read from a surface that does not exist.
    EXPECT_EQ(0u, machine().journal().count(kIntelDriver, "Blt"));
    EXPECT_EQ(0, reports("Error", 11030, "CopyFromStaging"));
    // The next copy makes the staging buffer again, and its frame crosses.
    EXPECT_EQ(1, transfer(hDst, hSrc));
    ASSERT_TRUE(staging(hSrc, sb));
    EXPECT_NE(0u, sb.rendering);
    EXPECT_NE(0u, sb.presenting);
    EXPECT_EQ(1u, machine().journal().count(kIntelDriver, "Blt"));
}

TEST_F(ResourceTest, AStagingSurfaceThatCanNeverBeMadeIsAskedForAFewTimesOnly) {
    HANDLE hSrc = create(64, 64);
    HANDLE hDst = create(64, 64);
    ASSERT_NE(0u, createOnPresenting(hDst));
    machine().faults().failAlways(kIntelDriver, "CreateResource", E_OUTOFMEMORY);
    machine().journal().clear();
    const unsigned attempts = 4; // the staging buffer's creations before the copies give up
    for (unsigned frame = 0; frame < attempts + 3; ++frame)
        EXPECT_EQ(0, transfer(hDst, hSrc)) << "frame " << frame;
    EXPECT_EQ(int(attempts), reports("Error", 11027, "SWCopierDDI9 failed on pfnCreateResource"));
    // Each rendering-side surface but the last went again with its failed twin.
    EXPECT_EQ(attempts, machine().journal().count(kNvidiaDriver, "CreateResource"));
    EXPECT_EQ(attempts - 1, machine().journal().count(kNvidiaDriver, "DestroyResource"));
    EXPECT_EQ(0u, machine().journal().count(kIntelDriver, "Blt"));
}

TEST_F(ResourceTest, MissingRenderingStagingSurfaceMakesTheCopyInANoOp) {
    HANDLE hSrc = create(64, 64);
    HANDLE hDst = create(64, 64);
    ASSERT_NE(0u, createOnPresenting(hDst));
    // The staging surfaces are made rendering GPU first: that one fails.
    machine().faults().failNth("simumd_nv.dll", "CreateResource", 1, E_OUTOFMEMORY);
    machine().journal().clear();
    EXPECT_EQ(0, transfer(hDst, hSrc)); // no frame crossed
    Staging sb;
    ASSERT_TRUE(staging(hSrc, sb));
    EXPECT_EQ(0u, sb.rendering);
    // Nothing is written into a surface that does not exist.
    EXPECT_EQ(0u, machine().journal().count("simumd_nv.dll", "Blt"));
    EXPECT_EQ(0, reports("Error", 11029, "CopyToStaging"));
}

TEST_F(ResourceTest, TransferAnswersFalseWhenTheCopyFailsAndCarriesNoOlderFrame) {
    HANDLE hSrc = create(64, 64);
    HANDLE hDst = create(64, 64);
    ASSERT_NE(0u, createOnPresenting(hDst));
    ASSERT_EQ(1, transfer(hDst, hSrc)); // the staging surface now holds a frame
    const size_t presentingBlts = machine().journal().count(kIntelDriver, "Blt");
    machine().faults().failNth(kNvidiaDriver, "Blt", 1, E_FAIL);
    // The presenting GPU's surface would otherwise get the staging surface's older frame.
    EXPECT_EQ(0, transfer(hDst, hSrc));
    EXPECT_EQ(presentingBlts, machine().journal().count(kIntelDriver, "Blt"));
    EXPECT_EQ(1, reports("Error", 11029,
                         "SWCopierDDI9 failed on pfnBlt (CopyToStaging), hr = "
                         "-2147467259"));
}

// ---- The execution helper -----------------------------------------------------------------

TEST_F(ResourceTest, PresentOnAGpuOutsideBothRolesIsRefused) {
    auto fn =
        probe<HRESULT (*)(HANDLE, const D3DDDIARG_PRESENT*, int)>("vessaProbeExecutionPresent");
    ASSERT_NE(nullptr, fn);
    D3DDDIARG_PRESENT present = {};
    EXPECT_EQ(E_INVALIDARG, fn(hDevice(), &present, 3));
    EXPECT_EQ(1, reports("Error", 11074, "invalid gpuType", "Execution9.cpp:61"));
    EXPECT_EQ(0u, machine().journal().count(kIntelDriver, "Present"));
    EXPECT_EQ(0u, machine().journal().count(kNvidiaDriver, "Present"));
}
