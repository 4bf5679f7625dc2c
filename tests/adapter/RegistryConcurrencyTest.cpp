// The adapter and device registries used from several threads at once: an application may
// open adapters and create devices on one thread while another's calls look theirs up.
// Run under ThreadSanitizer by `make test`.
#include "Adapter9.h"
#include "OpenAdapter.h"

#include "../foundation/LogReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 200;

HANDLE handle(uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

class RegistryConcurrency : public EmptyLogTest {
protected:
    void SetUp() override {
        EmptyLogTest::SetUp();
        OpenAdapter::setGpuRoles(1, 0);
    }
};

TEST_F(RegistryConcurrency, ThreadsAddFindAndRemoveTheirOwnObjects) {
    std::atomic<int> ready{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread's objects carry its own rendering handles.
            const uintptr_t adapterHandle = 0x1000 + 0x10 * uintptr_t(t);
            const uintptr_t deviceHandle = 0x2000 + 0x10 * uintptr_t(t);
            D3DDDIARG_OPENADAPTER args = {};
            Adapter adapter(args);
            adapter.setUserHandle(1, adapterHandle);
            Adapter device(args); // any per-GPU object stands for a device here
            device.setUserHandle(1, deviceHandle);

            ready.fetch_add(1);
            while (ready.load() < kThreads)
                std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round) {
                OpenAdapter::addAdapter(handle(adapterHandle), &adapter);
                OpenAdapter::addDevice(handle(deviceHandle), &device);
                if (OpenAdapter::getAdapter(handle(adapterHandle)) != &adapter)
                    wrong.fetch_add(1);
                if (OpenAdapter::getDevice(handle(deviceHandle)) != &device)
                    wrong.fetch_add(1);
                OpenAdapter::adapterCount();
                OpenAdapter::removeDevice(handle(deviceHandle));
                OpenAdapter::removeAdapter(handle(adapterHandle));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(OpenAdapter::adapterCount(), 0u);
    EXPECT_EQ(OpenAdapter::deviceCount(), 0u);
    EXPECT_EQ(testlog::readLog(), "");
}

} // namespace
