// Route of the wrapped OpenResource entry.
//
// Goes to the rendering GPU's driver unchanged until the resource object keeps the device's
// resources on both GPUs.
#include "DeviceRoute.h"

namespace DeviceFuncs {

HRESULT OpenResource(Device* pDevice, DeviceLockGuard&, HANDLE hDevice,
                     D3DDDIARG_OPENRESOURCE* pResource) {
    return forwardToRendering(pDevice, &D3DDDI_DEVICEFUNCS::pfnOpenResource, "OpenResource",
                              hDevice, pResource);
}

} // namespace DeviceFuncs
