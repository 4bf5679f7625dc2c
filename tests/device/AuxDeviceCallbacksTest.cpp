// The callbacks the rendering GPU's driver receives, called as that driver calls them: with
// the device's view for GPU 1, over a kernel device of the simulated NVIDIA GPU.
#include "AuxDeviceCallbacks.h"
#include "Device9.h"
#include "GpuEnumerator.h"
#include "GpuServices.h"
#include "OpenAdapter.h"

#include "../adapter/AdapterTestSupport.h"
#include "platform/KernelThunks.h"
#include "sim/gpus/SimSubmission.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using adaptertest::machine;
using adaptertest::reports;

namespace {

constexpr unsigned kGpu = 1;
const HANDLE kRuntimeDevice = reinterpret_cast<HANDLE>(uintptr_t(0x5000));

// What a replaced kernel call-through entry saw.
struct SeenCall {
    unsigned entry = 99;
    UINT groupId = 0;
    UINT gpu = 0;
    VOID* thunk = nullptr;
};
SeenCall g_seen;
PFNVESSA_KERNELCALLTHROUGH g_passThrough[kctEntryCount];

template <unsigned Entry> NTSTATUS APIENTRY spy(UINT groupId, UINT gpu, VOID* pArgs, VOID* thunk) {
    g_seen = {Entry, groupId, gpu, thunk};
    return g_passThrough[Entry](groupId, gpu, pArgs, thunk);
}

class AuxDeviceCallbacksTest : public ::testing::Test {
protected:
    void SetUp() override {
        adaptertest::clearLog();
        OpenAdapter::setGpuRoles(1, 0);
        const DeviceProp* record = GpuEnumerator::getInstance()->m_pDevicePropArray[1];
        ASSERT_NE(nullptr, record);
        D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
        ASSERT_EQ(0, GpuEnumerator::openAdapterFromKey(record->displayDeviceW.DeviceKey, &open));
        m_kernelAdapter = open.hAdapter;
        D3DKMT_CREATEDEVICE create = {};
        create.hAdapter = m_kernelAdapter;
        create.Flags.Value = D3DKMT_CREATEDEVICEFLAGS::LegacyMode;
        ASSERT_EQ(0, KernelThunks::get().pfnCreateDevice(&create));
        m_kernelDevice = create.hDevice;
        m_device.reset(new Device(kRuntimeDevice, nullptr));
        m_device->ddiHandles().setKernelHandle(kGpu, m_kernelDevice);
        // The first device loads the configuration, whose reports do not concern these tests.
        adaptertest::clearLog();
        machine().journal().clear();
    }
    void TearDown() override {
        machine().faults().clear();
        m_device->ddiHandles().setKernelHandle(kGpu, 0);
        m_device.reset();
        D3DKMT_DESTROYDEVICE destroy = {m_kernelDevice};
        KernelThunks::get().pfnDestroyDevice(&destroy);
        D3DKMT_CLOSEADAPTER close = {m_kernelAdapter};
        KernelThunks::get().pfnCloseAdapter(&close);
    }

    const D3DDDI_DEVICECALLBACKS& table() { return *m_device->auxDeviceCallbacks(); }
    HANDLE view() { return m_device->view(kGpu); }
    void failNextKernelCall(const char* entry, uint32_t status) {
        machine().faults().failNth("gdi32.dll", entry, 1, static_cast<int32_t>(status));
    }
    HANDLE createContext(UINT node, D3DDDICB_CREATECONTEXT* pOut = nullptr) {
        D3DDDICB_CREATECONTEXT create = {};
        create.NodeOrdinal = node;
        EXPECT_EQ(S_OK, table().pfnCreateContextCb(view(), &create));
        if (pOut)
            *pOut = create;
        return create.hContext;
    }
    void destroyContext(HANDLE hContext) {
        D3DDDICB_DESTROYCONTEXT destroy = {hContext};
        EXPECT_EQ(S_OK, table().pfnDestroyContextCb(view(), &destroy));
    }

    D3DKMT_HANDLE m_kernelAdapter = 0;
    D3DKMT_HANDLE m_kernelDevice = 0;
    std::unique_ptr<Device> m_device;
};

} // namespace

TEST_F(AuxDeviceCallbacksTest, ContextsAreMadeOnTheDevicesKernelDeviceAndTheFirstNodeZeroIsKept) {
    // A context the kernel refuses is reported and recorded nowhere.
    failNextKernelCall("D3DKMTCreateContext", 0xC0000017u);
    D3DDDICB_CREATECONTEXT refused = {};
    EXPECT_EQ(E_OUTOFMEMORY, table().pfnCreateContextCb(view(), &refused));
    EXPECT_EQ(
        1, reports("Warning", 11044,
                   "auxilliary CreateContextCb failed (kmtResponse=0xc0000017,retVal=0x8007000e)",
                   "AuxDeviceCallbacks.cpp:581"));
    EXPECT_EQ(0u, m_device->getContext(kGpu));

    D3DDDICB_CREATECONTEXT first = {};
    HANDLE a = createContext(0, &first);
    HANDLE b = createContext(0);
    ASSERT_NE(nullptr, a);
    EXPECT_NE(nullptr, first.pCommandBuffer);
    EXPECT_NE(0u, first.CommandBufferSize);
    EXPECT_NE(nullptr, first.pAllocationList);
    EXPECT_NE(nullptr, first.pPatchLocationList);
    EXPECT_EQ(3u, machine().journal().count("gdi32.dll", "D3DKMTCreateContext", int(kGpu)));
    EXPECT_EQ(uint64_t(uintptr_t(a)), m_device->getContext(kGpu));
    EXPECT_EQ(0u, m_device->getContext(0));
    destroyContext(a);
    destroyContext(b);
}

TEST_F(AuxDeviceCallbacksTest, RenderHandsTheDriverTheKernelsNewBuffers) {
    D3DDDICB_CREATECONTEXT context = {};
    HANDLE hContext = createContext(0, &context);
    // Commands as the NVIDIA driver marks them for its GPU.
    sim::SimSubmissionDesc owner;
    owner.setOwner(0x10DE, int(kGpu));
    D3DDDICB_RENDER render = {};
    render.hContext = hContext;
    render.CommandLength = 16;
    render.pPrivateDriverData = &owner;
    render.PrivateDriverDataSize = sizeof owner;
    ASSERT_EQ(S_OK, table().pfnRenderCb(view(), &render));
    EXPECT_NE(nullptr, render.pNewCommandBuffer);
    EXPECT_NE(context.pCommandBuffer, render.pNewCommandBuffer);
    EXPECT_NE(0u, render.NewCommandBufferSize);
    EXPECT_NE(nullptr, render.pNewAllocationList);
    EXPECT_NE(nullptr, render.pNewPatchLocationList);
    EXPECT_EQ(1u, machine().journal().count("gdi32.dll", "D3DKMTRender", int(kGpu)));

    // A render the kernel refuses: translated, reported, the driver's buffers untouched.
    void* before = render.pNewCommandBuffer;
    render.CommandLength = 0xFFFFFFF0u;
    EXPECT_EQ(E_INVALIDARG, table().pfnRenderCb(view(), &render));
    EXPECT_EQ(before, render.pNewCommandBuffer);
    EXPECT_EQ(1, reports("Warning", 11040,
                         "auxilliary RenderCb failed (kmtResponse=0xc000000d,retVal=0x80070057)",
                         "AuxDeviceCallbacks.cpp:369"));
    destroyContext(hContext);
}

TEST_F(AuxDeviceCallbacksTest, LockTranslatesEveryStatusAndReportsOnlyRealFailures) {
    D3DDDICB_LOCK lock = {};
    lock.hAllocation = 0x77;
    failNextKernelCall("D3DKMTLock", 0xC01E0102u); // the GPU is still drawing
    EXPECT_EQ(D3DERR_WASSTILLDRAWING, table().pfnLockCb(view(), &lock));
    EXPECT_EQ(std::string::npos, adaptertest::log().find("code:")) << adaptertest::log();
    EXPECT_EQ(0x77u, lock.hAllocation);

    failNextKernelCall("D3DKMTLock", 0xC0000008u); // invalid handle
    EXPECT_EQ(HRESULT(0x88760873u), table().pfnLockCb(view(), &lock));
    EXPECT_EQ(1, reports("Warning", 11041,
                         "auxilliary LockCb failed (kmtResponse=0xc0000008,retVal=0x88760873)",
                         "AuxDeviceCallbacks.cpp:405"));
}

TEST_F(AuxDeviceCallbacksTest, QueryResidencyIsReportedPerformedAndAnswersWhatTheKernelSaid) {
    D3DDDICB_QUERYRESIDENCY query = {};
    failNextKernelCall("D3DKMTQueryAllocationResidency", 0xC000000Du);
    EXPECT_EQ(E_INVALIDARG, table().pfnQueryResidencyCb(view(), &query));
    EXPECT_EQ(1, reports("Error", 10311, "call back not yet supported failed!",
                         "AuxDeviceCallbacks.cpp:236"));
    EXPECT_EQ(1u, machine().journal().count("gdi32.dll", "D3DKMTQueryAllocationResidency"));
}

TEST_F(AuxDeviceCallbacksTest, KernelCallsPassTheDevicesCallThroughEntries) {
    ASSERT_NE(nullptr, GpuServices::instance());
    PFNVESSA_KERNELCALLTHROUGH* entries =
        static_cast<PFNVESSA_KERNELCALLTHROUGH*>(m_device->kernelCallThroughTable());
    for (unsigned i = 0; i < kctEntryCount; ++i)
        g_passThrough[i] = entries[i];
    entries[kctCreateAllocation] = spy<kctCreateAllocation>;
    entries[kctDestroyAllocation] = spy<kctDestroyAllocation>;
    entries[kctSetAllocationPriority] = spy<kctSetAllocationPriority>;
    entries[kctLock] = spy<kctLock>;
    entries[kctUnlock] = spy<kctUnlock>;
    entries[kctEscape] = spy<kctEscape>;
    entries[kctCreateContext] = spy<kctCreateContext>;
    entries[kctDestroyContext] = spy<kctDestroyContext>;
    entries[kctRender] = spy<kctRender>;
    entries[kctQueryAllocationResidency] = spy<kctQueryAllocationResidency>;
    m_device->setInteropGroupId(7);
    const KernelThunkTable& kmt = KernelThunks::get();

    struct Case {
        const char* name;
        unsigned entry;
        VOID* thunk;
        std::function<void()> call;
    };
    D3DDDICB_ALLOCATE allocate = {};
    D3DDDICB_DEALLOCATE deallocate = {};
    D3DDDICB_SETPRIORITY priority = {};
    D3DDDICB_LOCK lock = {};
    D3DDDICB_UNLOCK unlock = {};
    D3DDDICB_CREATECONTEXT create = {};
    D3DDDICB_DESTROYCONTEXT destroy = {};
    D3DDDICB_RENDER render = {};
    D3DDDICB_QUERYRESIDENCY query = {};
    D3DDDICB_ESCAPE escape = {};
    escape.hDevice = view();
    const Case cases[] = {
        {"Allocate", kctCreateAllocation, reinterpret_cast<VOID*>(kmt.pfnCreateAllocation),
         [&] { table().pfnAllocateCb(view(), &allocate); }},
        {"Deallocate", kctDestroyAllocation, reinterpret_cast<VOID*>(kmt.pfnDestroyAllocation),
         [&] { table().pfnDeallocateCb(view(), &deallocate); }},
        {"SetPriority", kctSetAllocationPriority,
         reinterpret_cast<VOID*>(kmt.pfnSetAllocationPriority),
         [&] { table().pfnSetPriorityCb(view(), &priority); }},
        {"Lock", kctLock, reinterpret_cast<VOID*>(kmt.pfnLock),
         [&] { table().pfnLockCb(view(), &lock); }},
        {"Unlock", kctUnlock, reinterpret_cast<VOID*>(kmt.pfnUnlock),
         [&] { table().pfnUnlockCb(view(), &unlock); }},
        {"CreateContext", kctCreateContext, reinterpret_cast<VOID*>(kmt.pfnCreateContext),
         [&] { table().pfnCreateContextCb(view(), &create); }},
        {"DestroyContext", kctDestroyContext, reinterpret_cast<VOID*>(kmt.pfnDestroyContext),
         [&] { table().pfnDestroyContextCb(view(), &destroy); }},
        {"Render", kctRender, reinterpret_cast<VOID*>(kmt.pfnRender),
         [&] { table().pfnRenderCb(view(), &render); }},
        {"QueryResidency", kctQueryAllocationResidency,
         reinterpret_cast<VOID*>(kmt.pfnQueryAllocationResidency),
         [&] { table().pfnQueryResidencyCb(view(), &query); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_seen = SeenCall();
        c.call();
        EXPECT_EQ(c.entry, g_seen.entry);
        EXPECT_EQ(7u, g_seen.groupId);
        EXPECT_EQ(kGpu, g_seen.gpu);
        EXPECT_EQ(c.thunk, g_seen.thunk);
    }
    // Escapes always pass as group 0.
    g_seen = SeenCall();
    table().pfnEscapeCb(reinterpret_cast<HANDLE>(uintptr_t(m_kernelAdapter)), &escape);
    EXPECT_EQ(unsigned(kctEscape), g_seen.entry);
    EXPECT_EQ(0u, g_seen.groupId);
    if (create.hContext)
        destroyContext(create.hContext);
}

TEST_F(AuxDeviceCallbacksTest, CallbacksWithoutKernelCounterpartAnswerAsTheRenderingGpuShould) {
    D3DDDICB_SETDISPLAYMODE mode = {};
    mode.PrivateDriverFormatAttribute = 5;
    EXPECT_EQ(S_OK, table().pfnSetDisplayModeCb(view(), &mode));
    EXPECT_EQ(0u, mode.PrivateDriverFormatAttribute);
    D3DDDICB_PRESENT present = {};
    EXPECT_EQ(S_OK, table().pfnPresentCb(view(), &present));
    EXPECT_EQ(E_FAIL, table().pfnSetAsyncCallbacksCb(view(), TRUE));
    EXPECT_EQ(std::string::npos, adaptertest::log().find("code:")) << adaptertest::log();

    D3DDDICB_CREATEOVERLAY overlay = {};
    EXPECT_EQ(S_OK, table().pfnCreateOverlayCb(view(), &overlay));
    EXPECT_EQ(1, reports("Error", 10313, "callback not yet supported failed!",
                         "AuxDeviceCallbacks.cpp:486"));
    D3DDDICB_SETDISPLAYPRIVATEDRIVERFORMAT format = {};
    EXPECT_EQ(S_OK, table().pfnSetDisplayPrivateDriverFormatCb(view(), &format));
    EXPECT_EQ(1, reports("Error", 10312, "callback not yet supported failed!",
                         "AuxDeviceCallbacks.cpp:274"));
}

TEST_F(AuxDeviceCallbacksTest, AllocationForADriverResourceHandleIsReportedAndMadeWithoutOne) {
    D3DDDICB_ALLOCATE allocate = {};
    allocate.hResource = reinterpret_cast<HANDLE>(uintptr_t(0x10010));
    failNextKernelCall("D3DKMTCreateAllocation", 0xC0000017u);
    EXPECT_EQ(E_OUTOFMEMORY, table().pfnAllocateCb(view(), &allocate));
    EXPECT_EQ(1, reports("Warning", 1000,
                         "auxilliary AllocateCb failed (kmtResponse=0xc0000017,retVal=0x8007000e)",
                         "AuxDeviceCallbacks.cpp:141"));
    // The failed call stored nothing, and the handle was never read as an object.
    EXPECT_EQ(0u, allocate.hKMResource);
}

TEST_F(AuxDeviceCallbacksTest, DataLessCallsAndForeignHandlesAreRefused) {
    EXPECT_EQ(E_INVALIDARG, table().pfnLockCb(view(), nullptr));
    DdiObject notADevice(kDdiObjectAdapter);
    D3DDDICB_UNLOCK unlock = {};
    EXPECT_EQ(E_INVALIDARG, table().pfnUnlockCb(notADevice.view(1), &unlock));
    EXPECT_EQ(0u, machine().journal().count("gdi32.dll", "D3DKMTUnlock"));
}

TEST_F(AuxDeviceCallbacksTest, SynchronizationListsReachTheKernelUnlessLongerThanItsLimit) {
    HANDLE hContext = createContext(0);
    D3DDDICB_CREATESYNCHRONIZATIONOBJECT create = {};
    create.Info.Type = D3DDDI_SEMAPHORE;
    create.Info.Semaphore.MaxCount = 2;
    ASSERT_EQ(S_OK, table().pfnCreateSynchronizationObjectCb(view(), &create));

    D3DDDICB_SIGNALSYNCHRONIZATIONOBJECT signal = {};
    signal.hContext = hContext;
    signal.ObjectCount = 1;
    signal.ObjectHandleArray[0] = create.hSyncObject;
    EXPECT_EQ(S_OK, table().pfnSignalSynchronizationObjectCb(view(), &signal));
    D3DDDICB_WAITFORSYNCHRONIZATIONOBJECT wait = {};
    wait.hContext = hContext;
    wait.ObjectCount = 1;
    wait.ObjectHandleArray[0] = create.hSyncObject;
    EXPECT_EQ(S_OK, table().pfnWaitForSynchronizationObjectCb(view(), &wait));
    EXPECT_EQ(
        1u, machine().journal().count("gdi32.dll", "D3DKMTSignalSynchronizationObject", int(kGpu)));
    EXPECT_EQ(1u, machine().journal().count("gdi32.dll", "D3DKMTWaitForSynchronizationObject",
                                            int(kGpu)));
    EXPECT_EQ(std::string::npos, adaptertest::log().find("code:")) << adaptertest::log();

    // One object more than the kernel's list holds: refused before the kernel is called.
    signal.ObjectCount = D3DDDI_MAX_OBJECT_SIGNALED + 1;
    EXPECT_EQ(E_INVALIDARG, table().pfnSignalSynchronizationObjectCb(view(), &signal));
    wait.ObjectCount = D3DDDI_MAX_OBJECT_WAITED_ON + 1;
    EXPECT_EQ(E_INVALIDARG, table().pfnWaitForSynchronizationObjectCb(view(), &wait));
    EXPECT_EQ(1u, machine().journal().count("gdi32.dll", "D3DKMTSignalSynchronizationObject"));
    EXPECT_EQ(1u, machine().journal().count("gdi32.dll", "D3DKMTWaitForSynchronizationObject"));
    EXPECT_EQ(1, reports("Warning", 0, "auxilliary SignalSynchronizationObjectCb: 33 objects"));
    EXPECT_EQ(1, reports("Warning", 0, "auxilliary WaitForSynchronizationObjectCb: 33 objects"));

    D3DDDICB_DESTROYSYNCHRONIZATIONOBJECT destroy = {create.hSyncObject};
    EXPECT_EQ(S_OK, table().pfnDestroySynchronizationObjectCb(view(), &destroy));
    destroyContext(hContext);
}
