// The adapter and device registries: lookups by the handle the runtime holds.
#include "Adapter9.h"
#include "OpenAdapter.h"

#include "AdapterTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using adaptertest::reports;

namespace {

HANDLE handle(uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// An adapter whose rendering GPU (1) holds `renderingHandle`.
Adapter* adapterWith(uintptr_t renderingHandle) {
    D3DDDIARG_OPENADAPTER args = {};
    args.hAdapter = handle(0x5000);
    Adapter* adapter = new Adapter(args);
    adapter->setUserHandle(1, renderingHandle);
    return adapter;
}

class Registries : public ::testing::Test {
protected:
    void SetUp() override {
        OpenAdapter::setGpuRoles(1, 0);
        adaptertest::clearLog();
    }
};

} // namespace

TEST_F(Registries, AdapterIsFoundUnderItsRenderingHandleUntilRemoved) {
    Adapter* adapter = adapterWith(0x1234);
    OpenAdapter::addAdapter(handle(0x1234), adapter);
    EXPECT_EQ(adapter, OpenAdapter::getAdapter(handle(0x1234)));
    OpenAdapter::removeAdapter(handle(0x1234));
    EXPECT_EQ(0u, OpenAdapter::adapterCount());
    EXPECT_EQ("", adaptertest::log());
    delete adapter;
}

TEST_F(Registries, UnknownHandlesAreReportedAndInsertNothing) {
    EXPECT_EQ(nullptr, OpenAdapter::getAdapter(handle(0x77)));
    EXPECT_EQ(nullptr, OpenAdapter::getDevice(handle(0x78)));
    OpenAdapter::removeAdapter(handle(0x79));
    OpenAdapter::removeDevice(handle(0x7A));
    EXPECT_EQ(0u, OpenAdapter::adapterCount());
    EXPECT_EQ(0u, OpenAdapter::deviceCount());
    EXPECT_EQ(1, reports("Error", 10888, "Could not find Adapter 77!", "OpenAdapter.cpp:63"));
    EXPECT_EQ(1, reports("Error", 10884, "Could not find Device 78!", "OpenAdapter.cpp:43"));
    EXPECT_EQ(1, reports("Error", 10890, "Could not find Adapter 79!", "OpenAdapter.cpp:71"));
    EXPECT_EQ(1, reports("Error", 10886, "Could not find Device 7a!", "OpenAdapter.cpp:51"));
}

TEST_F(Registries, VendorTableBeyondTheFourGpusIsReportedAndEmpty) {
    std::unique_ptr<Adapter> adapter(adapterWith(0x50));
    const D3DDDI_ADAPTERFUNCS& beyond = adapter->vendorFuncs(4);
    EXPECT_NE(&beyond, &adapter->vendorFuncs(0)); // not GPU 0's table under another name
    EXPECT_EQ(nullptr, beyond.pfnGetCaps);
    EXPECT_EQ(nullptr, beyond.pfnCloseAdapter);
    EXPECT_EQ(1, reports("Warning", 0, "vendor functions: index 4 out of range"));
}

TEST_F(Registries, DuplicateRegistrationIsReportedAndReplacesTheEntry) {
    Adapter* first = adapterWith(0x40);
    Adapter* second = adapterWith(0x40);
    OpenAdapter::addAdapter(handle(0x40), first);
    OpenAdapter::addAdapter(handle(0x40), second);
    EXPECT_EQ(1, reports("Error", 10887, "Adapter 40 already defined!", "OpenAdapter.cpp:57"));
    EXPECT_EQ(second, OpenAdapter::getAdapter(handle(0x40)));
    EXPECT_EQ(1u, OpenAdapter::adapterCount());

    OpenAdapter::addDevice(handle(0x41), first);
    OpenAdapter::addDevice(handle(0x41), second);
    EXPECT_EQ(1, reports("Error", 10883, "Device 41 already defined!", "OpenAdapter.cpp:37"));
    OpenAdapter::removeDevice(handle(0x41));
    OpenAdapter::removeAdapter(handle(0x40));
    delete first;
    delete second;
}

TEST_F(Registries, ObjectNotOfTheRenderingGpuIsReportedAndStillReturned) {
    Adapter* adapter = adapterWith(0x99); // the runtime was given another handle
    OpenAdapter::addAdapter(handle(0x50), adapter);
    EXPECT_EQ(adapter, OpenAdapter::getAdapter(handle(0x50)));
    EXPECT_EQ(1, reports("Error", 10889,
                         "Application adapter should be of OpenAdapter::renderingGPU()!",
                         "OpenAdapter.cpp:65"));
    const std::string log = adaptertest::log();
    EXPECT_NE(std::string::npos,
              log.find("Condition: res->getUserHandle(OpenAdapter::renderingGPU()) == hAdapter"));

    OpenAdapter::addDevice(handle(0x51), adapter);
    EXPECT_EQ(adapter, OpenAdapter::getDevice(handle(0x51)));
    EXPECT_EQ(1, reports("Error", 10885,
                         "Application device should be of OpenAdapter::renderingGPU()!",
                         "OpenAdapter.cpp:45"));
    EXPECT_NE(std::string::npos, adaptertest::log().find(
                                     "Condition: isCoreLayer || "
                                     "res->getUserHandle(OpenAdapter::renderingGPU()) == hDevice"));
    OpenAdapter::removeDevice(handle(0x51));
    OpenAdapter::removeAdapter(handle(0x50));
    delete adapter;
}

TEST_F(Registries, ObjectWithoutRenderingSlotGetsTheMaskWarningToo) {
    D3DDDIARG_OPENADAPTER args = {};
    Adapter* adapter = new Adapter(args);
    OpenAdapter::addAdapter(handle(0x60), adapter);
    EXPECT_EQ(adapter, OpenAdapter::getAdapter(handle(0x60)));
    EXPECT_EQ(1, reports("Warning", 0, "get object: index out of mask"));
    EXPECT_EQ(1, reports("Error", 10889, "Application adapter should be of"));
    OpenAdapter::removeAdapter(handle(0x60));
    delete adapter;
}

TEST_F(Registries, ThreadsRegisterAndLookUpAtTheSameTime) {
    // Devices are created on one thread while other threads' device calls look theirs up.
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<Adapter*> objects;
    for (int t = 0; t < kThreads; ++t)
        objects.push_back(adapterWith(0x1000 * uintptr_t(t + 1)));
    std::atomic<int> found{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Adapter* object = objects[size_t(t)];
            HANDLE h = handle(0x1000 * uintptr_t(t + 1));
            for (int i = 0; i < kRounds; ++i) {
                OpenAdapter::addDevice(h, object);
                if (OpenAdapter::getDevice(h) == object)
                    found.fetch_add(1);
                OpenAdapter::removeDevice(h);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(kThreads * kRounds, found.load());
    EXPECT_EQ(0u, OpenAdapter::deviceCount());
    EXPECT_EQ("", adaptertest::log());
    for (Adapter* object : objects)
        delete object;
}
