// DeviceCallbacks_auto: the wrapped runtime callbacks (being filled in).
#include "DeviceCallbacks_auto.h"

#include <atomic>
#include <string.h>

namespace {
std::atomic<PFND3DDDI_ESCAPECB> s_processEscapeCb{nullptr};
} // namespace

namespace DeviceCallbacks {

void setProcessEscapeCb(PFND3DDDI_ESCAPECB escapeCb) {
    s_processEscapeCb.store(escapeCb);
}

PFND3DDDI_ESCAPECB processEscapeCb() {
    return s_processEscapeCb.load();
}

void fill(D3DDDI_DEVICECALLBACKS* pCallbacks) {
    memset(pCallbacks, 0, sizeof *pCallbacks);
}

} // namespace DeviceCallbacks
