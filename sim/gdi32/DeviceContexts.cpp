// Device contexts of display devices: CreateDCA and DeleteDC. The kernel keeps them, since
// D3DKMTOpenAdapterFromHdc turns a context back into its adapter and video present source.
#include "platform/win.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/gpus/Kernel.h"

#include <string.h>

namespace {

bool equalNoCaseAscii(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? char(*a + 32) : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? char(*b + 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

} // namespace

HDC WINAPI CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort, const DEVMODEA* pdm) {
    sim::Call call("gdi32.dll", "CreateDCA");
    call.args("driver=%s device=%s", pwszDriver ? pwszDriver : "(null)",
              pwszDevice ? pwszDevice : "(null)");
    if (call.faulted()) {
        sim::setLastError(uint32_t(call.faultStatus()));
        return call.finish(static_cast<HDC>(nullptr));
    }
    // "DISPLAY" as the driver (or a display device name in either place) names a display:
    // the device name when one is given, else the primary display.
    std::string device;
    if (pwszDevice && *pwszDevice)
        device = pwszDevice;
    else if (pwszDriver && !equalNoCaseAscii(pwszDriver, "DISPLAY"))
        device = pwszDriver;
    if (!pwszDriver && device.empty()) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(static_cast<HDC>(nullptr));
    }
    HDC hdc = sim::Kernel::instance().createDisplayContext(device);
    if (!hdc) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(static_cast<HDC>(nullptr));
    }
    call.setGpu(sim::Kernel::instance().gpuOfDisplayContext(hdc));
    return call.finish(hdc);
}

BOOL WINAPI DeleteDC(HDC hdc) {
    sim::Call call("gdi32.dll", "DeleteDC", sim::Kernel::instance().gpuOfDisplayContext(hdc));
    call.args("hdc=%p", static_cast<void*>(hdc));
    if (call.faulted()) {
        sim::setLastError(uint32_t(call.faultStatus()));
        return call.finish(BOOL(FALSE));
    }
    if (!sim::Kernel::instance().deleteDisplayContext(hdc)) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return call.finish(BOOL(FALSE));
    }
    return call.finish(BOOL(TRUE));
}
