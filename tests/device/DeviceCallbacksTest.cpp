// The callbacks the presenting GPU's driver receives: each turns the device view back into
// the runtime's own device handle and calls the runtime's saved callback. A fake runtime
// table records what arrives.
#include "Device9.h"
#include "DeviceCallbacks_auto.h"

#include "../adapter/AdapterTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using adaptertest::reports;

namespace {

constexpr unsigned kCallbackCount = 22;
const HANDLE kRuntimeDevice = reinterpret_cast<HANDLE>(uintptr_t(0x5000));
const HANDLE kRuntimeAdapter = reinterpret_cast<HANDLE>(uintptr_t(0x7000));

// What the fake runtime saw and what it answers, per slot.
struct FakeRuntime {
    HANDLE handle[kCallbackCount] = {};
    const void* data[kCallbackCount] = {};
    HANDLE escapeDevice = nullptr;
    HRESULT answer[kCallbackCount] = {};
    int calls[kCallbackCount] = {};
};
FakeRuntime g_runtime;

template <unsigned Slot, typename Arg> HRESULT APIENTRY fake(HANDLE handle, Arg data) {
    g_runtime.handle[Slot] = handle;
    g_runtime.data[Slot] = reinterpret_cast<const void*>(uintptr_t(data));
    ++g_runtime.calls[Slot];
    return g_runtime.answer[Slot];
}

HRESULT APIENTRY fakeEscape(HANDLE handle, const D3DDDICB_ESCAPE* pData) {
    g_runtime.escapeDevice = pData ? pData->hDevice : nullptr;
    return fake<9>(handle, pData);
}

D3DDDI_DEVICECALLBACKS fakeTable() {
    D3DDDI_DEVICECALLBACKS table = {};
#define FAKE_SLOT(slot, member, Pfn, params, args) table.member = fake<slot>;
    VESSA_DDI_DEVICECALLBACKS(FAKE_SLOT)
#undef FAKE_SLOT
    table.pfnEscapeCb = fakeEscape;
    return table;
}

// Argument adapters for the table-driven test: every slot takes a pointer, except
// SetAsyncCallbacksCb's BOOL.
template <typename Arg>
HRESULT callWith(HRESULT(APIENTRY* pfn)(HANDLE, Arg), HANDLE handle, void* arg) {
    return pfn(handle, static_cast<Arg>(arg));
}
HRESULT callWith(HRESULT(APIENTRY* pfn)(HANDLE, BOOL), HANDLE handle, void*) {
    return pfn(handle, TRUE);
}

// Calls slot `slot` of `table` with `handle` and a dummy argument.
HRESULT callSlot(const D3DDDI_DEVICECALLBACKS& table, unsigned slot, HANDLE handle, void* arg) {
    switch (slot) {
#define CALL_SLOT(s, member, Pfn, params, args)                                                    \
    case s:                                                                                        \
        return callWith(table.member, handle, arg);
        VESSA_DDI_DEVICECALLBACKS(CALL_SLOT)
#undef CALL_SLOT
    }
    return E_NOTIMPL;
}

class RuntimeCallbacks : public ::testing::Test {
protected:
    void SetUp() override {
        g_runtime = FakeRuntime();
        m_device.reset(new Device(kRuntimeDevice, nullptr));
        // The first device loads the configuration, whose reports do not concern these tests.
        adaptertest::clearLog();
        m_device->saveRuntimeCallbacks(fakeTable());
        DeviceCallbacks::setProcessEscapeCb(fakeEscape);
    }
    const D3DDDI_DEVICECALLBACKS& table() { return *m_device->deviceCallbacks(); }
    HANDLE view() { return m_device->view(0); }

    std::unique_ptr<Device> m_device;
};

} // namespace

TEST_F(RuntimeCallbacks, EverySlotReachesItsOwnRuntimeCallbackWithTheRuntimesHandle) {
    static const int kLines[kCallbackCount] = {98,  107, 116, 125, 134, 152, 161, 170,
                                               179, 200, 209, 218, 227, 236, 249, 258,
                                               267, 276, 285, 294, 0,   143};
    static const char* const kNames[kCallbackCount] = {"AllocateCb",
                                                       "DeallocateCb",
                                                       "SetPriorityCb",
                                                       "QueryResidencyCb",
                                                       "SetDisplayModeCb",
                                                       "PresentCb",
                                                       "RenderCb",
                                                       "LockCb",
                                                       "UnlockCb",
                                                       "EscapeCb",
                                                       "CreateOverlayCb",
                                                       "UpdateOverlayCb",
                                                       "FlipOverlayCb",
                                                       "DestroyOverlayCb",
                                                       "CreateContextCb",
                                                       "DestroyContextCb",
                                                       "CreateSynchronizationObjectCb",
                                                       "DestroySynchronizationObjectCb",
                                                       "WaitForSynchronizationObjectCb",
                                                       "SignalSynchronizationObjectCb",
                                                       "SetAsyncCallbacksCb",
                                                       "SetDisplayPrivateDriverFormatCb"};
    for (unsigned slot = 0; slot < kCallbackCount; ++slot) {
        SCOPED_TRACE(kNames[slot]);
        g_runtime = FakeRuntime();
        g_runtime.answer[slot] = E_OUTOFMEMORY;
        adaptertest::clearLog();
        // Room for the largest argument structure; the escape names the device's view.
        alignas(8) unsigned char arg[1024] = {};
        HANDLE handle = view();
        if (slot == 9) {
            reinterpret_cast<D3DDDICB_ESCAPE*>(arg)->hDevice = view();
            handle = kRuntimeAdapter;
        }
        EXPECT_EQ(E_OUTOFMEMORY, callSlot(table(), slot, handle, arg));
        for (unsigned other = 0; other < kCallbackCount; ++other)
            EXPECT_EQ(other == slot ? 1 : 0, g_runtime.calls[other]) << "slot " << other;
        EXPECT_EQ(slot == 9 ? kRuntimeAdapter : kRuntimeDevice, g_runtime.handle[slot]);
        const std::string message =
            std::string("DeviceCallbacks::") + kNames[slot] + " failed (retVal=0x8007000e)";
        const std::string site = "DeviceCallbacks_auto.cpp:" + std::to_string(kLines[slot]);
        EXPECT_EQ(slot == 20 ? 0 : 1, reports("Warning", 1000, message, site));
    }
}

TEST_F(RuntimeCallbacks, StillDrawingIsHandedBackWithoutAReport) {
    g_runtime.answer[7] = D3DERR_WASSTILLDRAWING;
    D3DDDICB_LOCK lock = {};
    EXPECT_EQ(D3DERR_WASSTILLDRAWING, table().pfnLockCb(view(), &lock));
    EXPECT_EQ(&lock, g_runtime.data[7]);
    EXPECT_EQ(std::string::npos, adaptertest::log().find("code:")) << adaptertest::log();
}

TEST_F(RuntimeCallbacks, EscapeWithoutDeviceGoesToTheLatestRuntimeEscapeUnchanged) {
    D3DDDICB_ESCAPE escape = {};
    EXPECT_EQ(S_OK, table().pfnEscapeCb(kRuntimeAdapter, &escape));
    EXPECT_EQ(kRuntimeAdapter, g_runtime.handle[9]);
    EXPECT_EQ(&escape, g_runtime.data[9]);
    EXPECT_EQ(nullptr, g_runtime.escapeDevice);
}

TEST_F(RuntimeCallbacks, EscapeWithDeviceShowsTheRuntimeItsHandleAndLeavesTheDriversCopy) {
    D3DDDICB_ESCAPE escape = {};
    escape.hDevice = view();
    escape.PrivateDriverDataSize = 12;
    EXPECT_EQ(S_OK, table().pfnEscapeCb(kRuntimeAdapter, &escape));
    EXPECT_EQ(kRuntimeDevice, g_runtime.escapeDevice);
    EXPECT_NE(&escape, g_runtime.data[9]);
    EXPECT_EQ(view(), escape.hDevice);
}

TEST_F(RuntimeCallbacks, FirstNodeZeroContextIsKeptEvenWhenTheRuntimeFails) {
    D3DDDICB_CREATECONTEXT context = {};
    context.hContext = reinterpret_cast<HANDLE>(uintptr_t(0x41));
    g_runtime.answer[14] = E_OUTOFMEMORY;
    table().pfnCreateContextCb(view(), &context);
    g_runtime.answer[14] = S_OK;
    context.hContext = reinterpret_cast<HANDLE>(uintptr_t(0x42));
    EXPECT_EQ(S_OK, table().pfnCreateContextCb(view(), &context));
    context.NodeOrdinal = 1;
    context.hContext = reinterpret_cast<HANDLE>(uintptr_t(0x43));
    EXPECT_EQ(S_OK, table().pfnCreateContextCb(view(), &context));
    EXPECT_EQ(0x41u, m_device->getContext(0));
    EXPECT_EQ(0u, m_device->getContext(1));
}

TEST_F(RuntimeCallbacks, SetAsyncCallbacksFailureIsNotReported) {
    g_runtime.answer[20] = E_FAIL;
    EXPECT_EQ(E_FAIL, table().pfnSetAsyncCallbacksCb(view(), TRUE));
    EXPECT_EQ(std::string::npos, adaptertest::log().find("code:")) << adaptertest::log();
}

TEST_F(RuntimeCallbacks, HandleThatIsNoDeviceViewFailsWithoutReachingTheRuntime) {
    DdiObject notADevice(kDdiObjectResource);
    D3DDDICB_LOCK lock = {};
    EXPECT_EQ(E_FAIL, table().pfnLockCb(notADevice.view(0), &lock));
    EXPECT_EQ(0, g_runtime.calls[7]);
    EXPECT_EQ(1, reports("Error", 0, "which is no device view"));
}
