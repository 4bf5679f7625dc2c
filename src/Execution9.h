// Execution9: the device's two operations on a chosen GPU for the rest of the system:
// present a surface through that GPU's own driver, and move a surface from the rendering
// GPU to a resource on the presenting GPU.
//
// The move goes through the GPU services' interop transfer, or through the API copy when
// the device's API-copy flag is set: `use_api_copy_dx9` is 1, the GPU services could not
// be started for this device, or the interop library refused to register it.
#pragma once

#include "platform/win.h"

class Device;
class ResourceDDI9;

class Execution9 {
public:
    /// Reads the API-copy flag from the configuration.
    explicit Execution9(Device* pDevice);
    Execution9(const Execution9&) = delete;
    Execution9& operator=(const Execution9&) = delete;
    virtual ~Execution9();

    /// pfnPresent of GPU `gpuType` with the device's handle there and `pArgs` unchanged.
    /// A GPU that is neither role is reported and refused with E_INVALIDARG.
    HRESULT present(const D3DDDIARG_PRESENT* pArgs, int gpuType);
    /// Moves surface `srcSub` of `pSrc` (on the rendering GPU) into surface `dstSub` of
    /// `pDst` (on the presenting GPU). True when the frame reached the destination (or, with
    /// asynchronous interop copies, is on its way there); false when it did not, and the
    /// destination then holds what it held before.
    bool transfer(ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc, UINT srcSub);

    bool useApiCopy() const { return m_bUseApiCopy; }
    /// Set by the device creation when the GPU services could not be started.
    void setUseApiCopy(bool useApiCopy) { m_bUseApiCopy = useApiCopy; }

private:
    /// The interop library refused the device's registration: the API copy from now on.
    void fallBackToApiCopy();

    bool m_bUseApiCopy;
    Device* m_pDevice;
};
