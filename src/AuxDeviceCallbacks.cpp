// AuxDeviceCallbacks: the auxiliary driver's device callbacks (being filled in).
#include "AuxDeviceCallbacks.h"

#include <string.h>

namespace AuxDeviceCallbacks {

void fill(D3DDDI_DEVICECALLBACKS* pCallbacks) {
    memset(pCallbacks, 0, sizeof *pCallbacks);
}

} // namespace AuxDeviceCallbacks
