// The simulated runtime's device and adapter callbacks, called as a driver calls them:
// each reaches the matching kernel thunk on the device's GPU, refuses unknown handles and
// null arguments, and fails with an injected fault.
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/SimAllocation.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;

sim::Journal& journal() {
    return sim::Machine::instance().journal();
}

class RuntimeCallbacksTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(1, AdapterSource(), m_pAdapter));
        ASSERT_EQ(S_OK, m_pAdapter->createDevice(m_pDevice));
    }
    const D3DDDI_DEVICECALLBACKS& cb() { return RuntimeDevice::callbacks(); }
    HANDLE runtime() { return m_pDevice.get(); }

    std::unique_ptr<RuntimeAdapter> m_pAdapter;
    std::unique_ptr<RuntimeDevice> m_pDevice;
};

TEST_F(RuntimeCallbacksTest, SynchronisationObjectsLiveInTheKernel) {
    D3DDDICB_CREATESYNCHRONIZATIONOBJECT create = {};
    create.Info.Type = D3DDDI_SEMAPHORE;
    create.Info.Semaphore.MaxCount = 4;
    create.Info.Semaphore.InitialCount = 1;
    ASSERT_EQ(S_OK, cb().pfnCreateSynchronizationObjectCb(runtime(), &create));
    ASSERT_NE(0u, create.hSyncObject);
    sim::SyncObjectInfo info;
    ASSERT_TRUE(sim::Kernel::instance().syncObject(create.hSyncObject, info));
    EXPECT_EQ(1, info.gpu);

    D3DDDICB_CREATECONTEXT context = {};
    ASSERT_EQ(S_OK, cb().pfnCreateContextCb(runtime(), &context));
    D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT signal = {};
    signal.hContext = context.hContext;
    signal.ObjectCount = 1;
    signal.ObjectHandleArray[0] = create.hSyncObject;
    EXPECT_EQ(S_OK, cb().pfnSignalSynchronizationObjectCb(runtime(), &signal));
    D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT wait = {};
    wait.hContext = context.hContext;
    wait.ObjectCount = 1;
    wait.ObjectHandleArray[0] = create.hSyncObject;
    EXPECT_EQ(S_OK, cb().pfnWaitForSynchronizationObjectCb(runtime(), &wait));
    wait.ObjectCount = D3DDDI_MAX_OBJECT_WAITED_ON + 1;
    EXPECT_EQ(E_INVALIDARG, cb().pfnWaitForSynchronizationObjectCb(runtime(), &wait));
    D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT destroy = {create.hSyncObject};
    EXPECT_EQ(S_OK, cb().pfnDestroySynchronizationObjectCb(runtime(), &destroy));
    EXPECT_EQ(E_INVALIDARG, cb().pfnDestroySynchronizationObjectCb(runtime(), &destroy));
    D3DDDICB_DESTROYCONTEXT destroyContext = {context.hContext};
    EXPECT_EQ(S_OK, cb().pfnDestroyContextCb(runtime(), &destroyContext));
    EXPECT_EQ(1u, journal().count("gdi32.dll", "D3DKMTSignalSynchronizationObject", 1));
}

TEST_F(RuntimeCallbacksTest, EscapeReachesTheKernelOfTheAdapter) {
    uint32_t data[4] = {1, 2, 3, 4};
    D3DDDICB_ESCAPE escape = {};
    escape.hDevice = runtime();
    escape.pPrivateDriverData = data;
    escape.PrivateDriverDataSize = sizeof data;
    EXPECT_EQ(S_OK, cb().pfnEscapeCb(m_pAdapter.get(), &escape));
    EXPECT_EQ(1u, journal().count("gdi32.dll", "D3DKMTEscape", 1));
    int bogus = 0;
    EXPECT_EQ(E_INVALIDARG, cb().pfnEscapeCb(&bogus, &escape));
}

TEST_F(RuntimeCallbacksTest, UnknownDevicesAndNullArgumentsAreRefused) {
    int bogus = 0;
    D3DDDICB_ALLOCATE allocate = {};
    EXPECT_EQ(E_INVALIDARG, cb().pfnAllocateCb(&bogus, &allocate));
    EXPECT_EQ(E_INVALIDARG, cb().pfnAllocateCb(runtime(), nullptr));
    EXPECT_EQ(E_INVALIDARG, cb().pfnAllocateCb(runtime(), &allocate)); // no allocations
    D3DDDICB_LOCK lock = {};
    lock.hAllocation = 0xDEAD;
    EXPECT_EQ(E_INVALIDARG, cb().pfnLockCb(runtime(), &lock));
    D3DDDICB_RENDER render = {};
    render.hContext = reinterpret_cast<HANDLE>(uintptr_t(0xDEAD));
    EXPECT_EQ(E_INVALIDARG, cb().pfnRenderCb(runtime(), &render));
    D3DDDICB_PRESENT present = {};
    EXPECT_EQ(E_INVALIDARG, cb().pfnPresentCb(&bogus, &present));
    D3DDDICB_CREATEOVERLAY overlay = {};
    EXPECT_EQ(E_NOTIMPL, cb().pfnCreateOverlayCb(runtime(), &overlay));
    EXPECT_EQ(S_OK, cb().pfnSetAsyncCallbacksCb(runtime(), TRUE));
    EXPECT_EQ(E_INVALIDARG, cb().pfnSetAsyncCallbacksCb(&bogus, TRUE));
    // Refusals are journalled too, without a GPU for an unknown device.
    EXPECT_GE(journal().count("d3d9.dll", "AllocateCb", sim::kNoGpu), 1u);
}

TEST_F(RuntimeCallbacksTest, CallbacksFromAnotherThreadDoNotWaitForAnApplicationCall) {
    // The application's call polls an event query for half a second, holding the device.
    sim::umd::DriverSettings settings;
    settings.eventQueryPolls = 0;
    settings.eventQueryDelayUs = 500000;
    sim::umd::setSettings(settings);
    std::atomic<bool> applicationDone{false};
    std::thread application([&] {
        m_pDevice->waitForIdle();
        applicationDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim::SimAllocationDesc desc;
    desc.width = 8;
    desc.height = 8;
    desc.format = D3DDDIFMT_X8R8G8B8;
    desc.setOwner(sim::kVendorNvidia, 1);
    D3DDDI_ALLOCATIONINFO info = {};
    info.pPrivateDriverData = &desc;
    info.PrivateDriverDataSize = sizeof desc;
    D3DDDICB_ALLOCATE allocate = {};
    allocate.NumAllocations = 1;
    allocate.pAllocationInfo = &info;
    EXPECT_EQ(S_OK, cb().pfnAllocateCb(runtime(), &allocate));
    EXPECT_FALSE(applicationDone.load());
    application.join();
    D3DDDICB_DEALLOCATE deallocate = {nullptr, 1, &info.hAllocation};
    EXPECT_EQ(S_OK, cb().pfnDeallocateCb(runtime(), &deallocate));
}

TEST_F(RuntimeCallbacksTest, InjectedFaultFailsTheCallbackBeforeTheKernel) {
    sim::Machine::instance().faults().failNth("d3d9.dll", "CreateContextCb", 1,
                                              int64_t(E_OUTOFMEMORY));
    size_t kernelBefore = journal().count("gdi32.dll", "D3DKMTCreateContext");
    D3DDDICB_CREATECONTEXT context = {};
    EXPECT_EQ(E_OUTOFMEMORY, cb().pfnCreateContextCb(runtime(), &context));
    EXPECT_EQ(kernelBefore, journal().count("gdi32.dll", "D3DKMTCreateContext"));
    // A device whose context cannot be created is not created.
    sim::Machine::instance().faults().failNth("d3d9.dll", "CreateContextCb", 1,
                                              int64_t(E_OUTOFMEMORY));
    std::unique_ptr<RuntimeDevice> pSecond;
    EXPECT_EQ(E_OUTOFMEMORY, m_pAdapter->createDevice(pSecond));
    EXPECT_EQ(nullptr, pSecond);
}

} // namespace
