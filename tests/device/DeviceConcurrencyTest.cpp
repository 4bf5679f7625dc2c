// Several application threads in the library at once, on the simulated machine (these run
// under ThreadSanitizer too): the first OpenAdapter entries of a process racing to create
// the configuration store and the GPU table, and four devices made, used and destroyed on
// four threads over and over.
#include "../adapter/AdapterTestSupport.h"
#include "ConfigScene.h"

#include "platform/win.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using adaptertest::machine;
using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;

namespace {

AdapterSource intelExport() {
    AdapterSource s;
    s.library = "vessad3d9u.dll";
    s.entry = "OpenAdapter9DetourIntel";
    return s;
}

// Runs `body(thread index)` on `count` threads released at the same moment.
void onThreads(int count, const std::function<void(int)>& body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < count)
                std::this_thread::yield();
            body(t);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

// Error reports of the log ("Error code: ..." lines).
int errorReports() {
    const std::string text = adaptertest::log();
    int count = 0;
    for (size_t at = text.find("Error code: "); at != std::string::npos;
         at = text.find("Error code: ", at + 1))
        ++count;
    return count;
}

// A sample file of the installation ("vessa.xml", "userSettings.xml").
std::string sampleFile(const std::string& name) {
    std::ifstream file(VESSA_SAMPLE_DIR "/" + name, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// An installed driver with its sample configuration on the default hybrid machine, so that
// every report the log gets comes from the threads at work.
class DeviceConcurrency : public ::testing::Test {
protected:
    void SetUp() override {
        vessaconfig::ConfigScene scene;
        scene.database = sampleFile("vessa.xml");
        scene.userSettings = sampleFile("userSettings.xml");
        ASSERT_FALSE(scene.database->empty());
        ASSERT_FALSE(scene.userSettings->empty());
        std::string error;
        ASSERT_TRUE(vessaconfig::installConfigScene(scene, error)) << error;
        adaptertest::clearLog();
    }
};

} // namespace

TEST_F(DeviceConcurrency, FirstOpenAdapterEntriesOfManyThreadsAllSucceedOnOneStore) {
    constexpr int kThreads = 6;
    const sim::KernelCounts before = sim::Kernel::instance().counts();
    std::vector<HRESULT> opened(kThreads, E_FAIL);
    std::vector<HRESULT> closed(kThreads, E_FAIL);
    onThreads(kThreads, [&](int t) {
        std::unique_ptr<RuntimeAdapter> adapter;
        opened[t] = RuntimeAdapter::openDisplay("", intelExport(), adapter);
        if (adapter)
            closed[t] = adapter->close();
    });
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(S_OK, opened[t]) << "thread " << t;
        EXPECT_EQ(S_OK, closed[t]) << "thread " << t;
    }
    EXPECT_EQ(0, errorReports()) << adaptertest::log();
    EXPECT_EQ(before.adapters, sim::Kernel::instance().counts().adapters);
}

TEST_F(DeviceConcurrency, FourDevicesOnFourThreadsAreCreatedUsedAndDestroyedInALoop) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 8;
    const sim::KernelCounts before = sim::Kernel::instance().counts();
    std::vector<int> failures(kThreads, 0);
    onThreads(kThreads, [&](int t) {
        std::unique_ptr<RuntimeAdapter> adapter;
        if (RuntimeAdapter::openDisplay("", intelExport(), adapter) != S_OK) {
            ++failures[t];
            return;
        }
        for (int round = 0; round < kRounds; ++round) {
            std::unique_ptr<RuntimeDevice> device;
            if (adapter->createDevice(device) != S_OK) {
                ++failures[t];
                continue;
            }
            sim::rt::SurfaceDesc desc;
            desc.width = 32 + 16 * t;
            desc.height = 32;
            HANDLE target = nullptr;
            failures[t] += device->createResource(desc, target) != S_OK;
            failures[t] += device->setRenderTarget(target, 0) != S_OK;
            failures[t] += device->clear(0xFF000000u | (t << 8) | round) != S_OK;
            failures[t] += device->drawPrimitive(2) != S_OK;
            failures[t] += device->flush() != S_OK;
            failures[t] += device->destroyResource(target) != S_OK;
            failures[t] += device->destroy() != S_OK;
        }
        failures[t] += adapter->close() != S_OK;
    });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(0, failures[t]) << "thread " << t;
    EXPECT_EQ(0, errorReports()) << adaptertest::log();
    // Every device, resource and allocation went back to the kernel and the drivers.
    const sim::KernelCounts after = sim::Kernel::instance().counts();
    EXPECT_EQ(before.devices, after.devices);
    EXPECT_EQ(before.resources, after.resources);
    EXPECT_EQ(before.allocations, after.allocations);
    EXPECT_EQ(before.contexts, after.contexts);
    EXPECT_EQ(before.adapters, after.adapters);
    EXPECT_EQ(0u, sim::umd::counts().devices);
}
