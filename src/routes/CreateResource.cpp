// Route of the wrapped CreateResource entry.
//
// Goes to the rendering GPU's driver unchanged until the resource object keeps the device's
// resources on both GPUs.
#include "DeviceRoute.h"

namespace DeviceFuncs {

HRESULT CreateResource(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                       D3DDDIARG_CREATERESOURCE* pResource) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnCreateResource, "CreateResource",
                              hDevice, pResource);
}

} // namespace DeviceFuncs
