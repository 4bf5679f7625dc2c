// DeviceCallbacks_auto: the wrapped runtime callbacks, one per D3DDDI_DEVICECALLBACKS slot.
//
// Every slot has the same shape (find the device behind the view, call the runtime's saved
// callback with the runtime's device handle, report a failure); three slots add their own
// step: EscapeCb translates the handle inside its argument, CreateContextCb records the
// first node-0 context, SetAsyncCallbacksCb hands its result back unchecked.
//
// The report lines below are long-standing report sites; keep them stable.
#include "DeviceCallbacks_auto.h"

#include "Device9.h"
#include "Report.h"

#include <atomic>
#include <type_traits>

namespace {

std::atomic<PFND3DDDI_ESCAPECB> s_processEscapeCb{nullptr};

// The report line of each slot's failure; SetAsyncCallbacksCb (20) reports nothing.
constexpr int kReportLines[] = {98,  107, 116, 125, 134, 152, 161, 170, 179, 200, 209,
                                218, 227, 236, 249, 258, 267, 276, 285, 294, 0,   143};
static_assert(sizeof kReportLines / sizeof kReportLines[0] == 22, "one line per callback");

#define VESSA_SUCCESS_CONDITION                                                                    \
    "((HRESULT)0L) == retVal || ((HRESULT) (((unsigned long)(1)<<31) | "                           \
    "((unsigned long)(0x876)<<16) | ((unsigned long)(540))) ) == retVal"

// A callback's result goes back to the driver unchanged; anything but success and "still
// drawing" (a lock or render the runtime declines while the GPU is busy) is reported first.
HRESULT checked(unsigned slot, const char* name, HRESULT retVal) {
    if (retVal == S_OK || retVal == D3DERR_WASSTILLDRAWING)
        return retVal;
    reportAssertion(ReportLevel::Warning, 1000, __FILE__, kReportLines[slot],
                    VESSA_SUCCESS_CONDITION, "DeviceCallbacks::%s failed (retVal=%#x)", name,
                    static_cast<unsigned>(retVal));
    return retVal;
}

// The device behind `hView` and its saved runtime callback `member`; false (reported) when
// either is missing.
template <typename Pfn>
bool runtimeCallback(const char* name, Pfn D3DDDI_DEVICECALLBACKS::*member, HANDLE hView,
                     Device*& device, Pfn& callback) {
    // Reading the runtime handle later reports an empty slot; the call goes on with it.
    device = Device::fromView(hView);
    if (!device)
        return false;
    callback = device->runtimeCallbacks().*member;
    return VESSA_CHECK(Error, 0, callback != nullptr, "DeviceCallbacks::%s: the runtime has none",
                       name);
}

// The common shape: the saved runtime callback of `member` with the runtime's handle.
template <typename Pfn, typename Arg>
HRESULT callRuntime(unsigned slot, const char* name, Pfn D3DDDI_DEVICECALLBACKS::*member,
                    HANDLE hView, Arg pData) {
    Device* device = nullptr;
    Pfn callback = nullptr;
    if (!runtimeCallback(name, member, hView, device, callback))
        return E_FAIL;
    return checked(slot, name, callback(device->runtimeHandle(), pData));
}

// Slot tags: the three slots with a step of their own overload `dispatch` for their tag.
template <unsigned Slot> using SlotTag = std::integral_constant<unsigned, Slot>;

template <unsigned Slot, typename Pfn, typename Arg>
HRESULT dispatch(SlotTag<Slot>, const char* name, Pfn D3DDDI_DEVICECALLBACKS::*member, HANDLE hView,
                 Arg pData) {
    return callRuntime(Slot, name, member, hView, pData);
}

HRESULT dispatch(SlotTag<9>, const char* name, PFND3DDDI_ESCAPECB D3DDDI_DEVICECALLBACKS::*,
                 HANDLE hAdapter, const D3DDDICB_ESCAPE* pData) {
    if (!VESSA_CHECK(Warning, 0, pData != nullptr, "DeviceCallbacks::%s without data", name))
        return E_INVALIDARG;
    if (!pData->hDevice) {
        // An escape without a device goes to the runtime as it came.
        PFND3DDDI_ESCAPECB escape = s_processEscapeCb.load();
        if (!VESSA_CHECK(Error, 0, escape != nullptr, "DeviceCallbacks::%s: no runtime escape",
                         name))
            return E_FAIL;
        return checked(9, name, escape(hAdapter, pData));
    }
    Device* device = nullptr;
    PFND3DDDI_ESCAPECB escape = nullptr;
    if (!runtimeCallback(name, &D3DDDI_DEVICECALLBACKS::pfnEscapeCb, pData->hDevice, device,
                         escape))
        return E_FAIL;
    // The runtime must see its own device handle; the driver's structure keeps the view.
    D3DDDICB_ESCAPE copy = *pData;
    copy.hDevice = device->runtimeHandle();
    return checked(9, name, escape(hAdapter, &copy));
}

HRESULT dispatch(SlotTag<14>, const char* name,
                 PFND3DDDI_CREATECONTEXTCB D3DDDI_DEVICECALLBACKS::*member, HANDLE hView,
                 D3DDDICB_CREATECONTEXT* pData) {
    Device* device = nullptr;
    PFND3DDDI_CREATECONTEXTCB callback = nullptr;
    if (!runtimeCallback(name, member, hView, device, callback))
        return E_FAIL;
    HRESULT retVal = callback(device->runtimeHandle(), pData);
    // The first node-0 context is the device's; it is kept whatever the runtime answered.
    if (pData && pData->NodeOrdinal == 0)
        device->setContext(0, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pData->hContext)));
    return checked(14, name, retVal);
}

HRESULT dispatch(SlotTag<20>, const char* name,
                 PFND3DDDI_SETASYNCCALLBACKSCB D3DDDI_DEVICECALLBACKS::*member, HANDLE hView,
                 BOOL enable) {
    Device* device = nullptr;
    PFND3DDDI_SETASYNCCALLBACKSCB callback = nullptr;
    if (!runtimeCallback(name, member, hView, device, callback))
        return E_FAIL;
    return callback(device->runtimeHandle(), enable);
}

} // namespace

namespace DeviceCallbacks {

void setProcessEscapeCb(PFND3DDDI_ESCAPECB escapeCb) {
    s_processEscapeCb.store(escapeCb);
}

PFND3DDDI_ESCAPECB processEscapeCb() {
    return s_processEscapeCb.load();
}

#define VESSA_UNPAREN(...) __VA_ARGS__
#define VESSA_DEVICECALLBACKS_DEFINE(slot, member, Pfn, params, args)                              \
    HRESULT APIENTRY member params {                                                               \
        static_assert(std::is_same<decltype(&member), Pfn>::value, #member " signature");          \
        return dispatch(SlotTag<slot>(), &#member[3], &D3DDDI_DEVICECALLBACKS::member,             \
                        VESSA_UNPAREN args);                                                       \
    }
VESSA_DDI_DEVICECALLBACKS(VESSA_DEVICECALLBACKS_DEFINE)
#undef VESSA_DEVICECALLBACKS_DEFINE

void fill(D3DDDI_DEVICECALLBACKS* pCallbacks) {
#define VESSA_DEVICECALLBACKS_FILL(slot, member, Pfn, params, args) pCallbacks->member = member;
    VESSA_DDI_DEVICECALLBACKS(VESSA_DEVICECALLBACKS_FILL)
#undef VESSA_DEVICECALLBACKS_FILL
}

} // namespace DeviceCallbacks
