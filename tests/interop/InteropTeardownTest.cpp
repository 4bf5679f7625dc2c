// Devices destroyed while their transfers are in flight, and devices transferring on
// several threads at once: no hang, no leak, and each device's ring stays its own.
#include "InteropFixture.h"

#include <atomic>
#include <thread>

using namespace interoptest;

namespace {

void expectNoLibraryObjectsLeft() {
    size_t tokens, notifications, mappings;
    libraryLiveObjects(tokens, notifications, mappings);
    EXPECT_EQ(0u, tokens);
    EXPECT_EQ(0u, notifications);
    EXPECT_EQ(0u, mappings);
}

// Each thread opens a device, transfers `frames` frames and destroys the device while the
// last ones are still in the ring (the worker thread running beside it in synchronous mode).
void transferOnThreads(int threads, int frames, bool asynchronous) {
    std::vector<std::thread> workers;
    std::atomic<int> failures{0};
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            InteropDevice device;
            device.open();
            const UINT width = 64 + 32 * UINT(t);
            HANDLE hSrc = device.create(width, 48);
            HANDLE hDst = device.createDestination(width, 48);
            device.presentTarget(hDst);
            for (int i = 0; i < frames; ++i) {
                device.paint(hSrc, {{{0, 0, LONG(width), 48}, D3DCOLOR(0xFF000000u | (i * 7))}});
                device.transfer(hDst, hSrc);
                device.completionStep(hDst, hSrc);
            }
            // Each device counted its own injections, whatever the others did: in asynchronous
            // mode the completion step injects once more per frame; in synchronous mode a
            // frame whose buffer is still busy is not injected (the worker shows the last).
            StagingRing ring = device.ring();
            const uint32_t most = uint32_t(frames * (asynchronous ? 2 : 1));
            if (ring.writeCount == 0 || ring.writeCount > most ||
                (asynchronous && ring.writeCount != most) || ring.desc[0] != width)
                ++failures;
            // The worker must not present into a resource the runtime is about to destroy.
            device.presentTarget(nullptr);
            device.close();
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(0, failures.load());
}

} // namespace

TEST(InteropTeardownTest, SynchronousDevicesOnSeveralThreadsEndWithoutLeaks) {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.interopNotifyUs = 3000; // injections still running when the device goes
    ASSERT_NO_FATAL_FAILURE(installMachine(desc, {{"should_umd_sync_copy", "1"}}, true));
    transferOnThreads(3, 12, false);
    expectNoLibraryObjectsLeft();
    EXPECT_LE(1u, calls(kInterop, "destroy")); // the last device ended the interop
    EXPECT_EQ(calls(kInterop, "registerDevice"), calls(kInterop, "beforeDestroyDevice"));
}

TEST(InteropTeardownTest, AsynchronousDevicesOnSeveralThreadsEndWithoutLeaks) {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.interopNotifyUs = 2000;
    ASSERT_NO_FATAL_FAILURE(installMachine(desc, {{"should_umd_sync_copy", "0"}}, true));
    transferOnThreads(3, 12, true);
    expectNoLibraryObjectsLeft();
    EXPECT_EQ(calls(kInterop, "registerDevice"), calls(kInterop, "beforeDestroyDevice"));
}

TEST(InteropTeardownTest, DestroyingADeviceWithABusyRingReleasesEverything) {
    sim::MachineDesc desc = virtualMachine();
    desc.interopNotifyUs = 500000; // every injection still running at destruction
    ASSERT_NO_FATAL_FAILURE(installMachine(desc, {{"should_umd_sync_copy", "1"}}, true));
    InteropDevice device;
    device.open();
    HANDLE hSrc = device.create(64, 48);
    HANDLE hDst = device.createDestination(64, 48);
    for (int i = 0; i < 6; ++i)
        device.transfer(hDst, hSrc);
    device.close();
    expectNoLibraryObjectsLeft();
    EXPECT_EQ(4u, calls(kInterop, "destroyStagingBufferToken"));
    EXPECT_EQ(4u, calls(kInterop, "destroyCpuNotification"));
    EXPECT_EQ(1u, calls(kInterop, "destroy"));
}
