// Route of the wrapped DestroyResource entry.
//
// Goes to the rendering GPU's driver unchanged until the resource object keeps the device's
// resources on both GPUs.
#include "DeviceRoute.h"

namespace DeviceFuncs {

HRESULT DestroyResource(Device* pDevice, DeviceLockGuard&, HANDLE hDevice, HANDLE hResource) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnDestroyResource, "DestroyResource",
                              hDevice, hResource);
}

} // namespace DeviceFuncs
