// VessaIconDDi9: the icon's texture on the presenting GPU and its copy into each frame.
#include "VessaIconDDi9.h"

#include "ConfigProperty.h"
#include "Configuration.h"
#include "Device9.h"
#include "Report.h"
#include "VessaIconImage.h"

#include <string.h>

VessaIconDDi9::VessaIconDDi9(uint32_t corner, bool timed, Device* pDevice,
                             D3DDDI_DEVICEFUNCS* pDeviceFuncs)
    : VessaIcon(corner, timed), m_pDevice(pDevice), m_pDeviceFuncs(pDeviceFuncs) {}

HANDLE VessaIconDDi9::resource(unsigned gpuIndex) const {
    return gpuIndex < kGpuCount ? m_resources[gpuIndex] : nullptr;
}

HANDLE VessaIconDDi9::deviceHandle(unsigned gpuIndex) const {
    if (!m_pDevice || !m_pDeviceFuncs || gpuIndex >= kGpuCount ||
        !m_pDevice->userHandles().has(gpuIndex))
        return nullptr;
    return m_pDevice->gpuHandle(gpuIndex);
}

HRESULT VessaIconDDi9::createResources(unsigned gpuIndex) {
    Configuration* configuration = Configuration::getInstance();
    if (configuration && configuration->getIntProperty(ConfigProperty::hide_vessa_icon) == 1)
        return S_OK;
    const HANDLE hDevice = deviceHandle(gpuIndex);
    if (!VESSA_CHECK(Warning, 10985, hDevice && m_pDeviceFuncs[gpuIndex].pfnCreateResource,
                     "failed to create resource"))
        return E_FAIL;

    D3DDDI_SURFACEINFO surface = {};
    surface.Width = kVessaIconWidth;
    surface.Height = kVessaIconHeight;
    surface.SysMemPitch = kVessaIconPitch;
    surface.SysMemSlicePitch = UINT(kVessaIconImageSize);
    D3DDDIARG_CREATERESOURCE create = {};
    create.Format = D3DDDIFMT_A8R8G8B8;
    create.Pool = D3DDDIPOOL_VIDEOMEMORY;
    create.MultisampleType = D3DDDIMULTISAMPLE_NONE;
    create.pSurfList = &surface;
    create.SurfCount = 1;
    create.MipLevels = 1;
    create.Flags.Value = D3DDDI_RESOURCEFLAGS::Texture;
    create.Rotation = D3DDDI_ROTATION_IDENTITY;
    const HRESULT hr = m_pDeviceFuncs[gpuIndex].pfnCreateResource(hDevice, &create);
    if (!VESSA_CHECK(Warning, 10985, SUCCEEDED(hr) && create.hResource,
                     "failed to create resource"))
        return FAILED(hr) ? hr : E_FAIL;
    m_resources[gpuIndex] = create.hResource;

    const HRESULT filled = fillTexture(gpuIndex);
    m_ready = SUCCEEDED(filled);
    return filled;
}

HRESULT VessaIconDDi9::fillTexture(unsigned gpuIndex) {
    const D3DDDI_DEVICEFUNCS& funcs = m_pDeviceFuncs[gpuIndex];
    const HANDLE hDevice = deviceHandle(gpuIndex);
    D3DDDIARG_LOCK lock = {};
    lock.hResource = m_resources[gpuIndex];
    lock.Flags.Value = D3DDDI_LOCKFLAGS::Discard;
    HRESULT hr = funcs.pfnLock ? funcs.pfnLock(hDevice, &lock) : E_FAIL;
    if (!VESSA_CHECK(Warning, 10986, SUCCEEDED(hr) && lock.pSurfData, "failed to lock resource"))
        return FAILED(hr) ? hr : E_FAIL;
    // A driver may pad its rows; never step by less than a row of the picture.
    const size_t pitch = lock.Pitch >= kVessaIconPitch ? lock.Pitch : kVessaIconPitch;
    uint8_t* pDst = static_cast<uint8_t*>(lock.pSurfData);
    for (unsigned row = 0; row < kVessaIconHeight; ++row)
        memcpy(pDst + row * pitch, kVessaIconImage + row * kVessaIconPitch, kVessaIconPitch);

    D3DDDIARG_UNLOCK unlock = {};
    unlock.hResource = m_resources[gpuIndex];
    hr = funcs.pfnUnlock ? funcs.pfnUnlock(hDevice, &unlock) : E_FAIL;
    if (!VESSA_CHECK(Warning, 1148, SUCCEEDED(hr), "failed to unlock resource"))
        return hr;
    return S_OK;
}

HRESULT VessaIconDDi9::draw(unsigned gpuIndex, HANDLE hDstResource, UINT dstSubResourceIndex) {
    if (!updateTimedDisplay())
        return S_OK;
    const HRESULT hr = blit(gpuIndex, hDstResource, dstSubResourceIndex);
    if (m_startTime == 0)
        m_startTime = nowSeconds();
    return hr;
}

HRESULT VessaIconDDi9::blit(unsigned gpuIndex, HANDLE hDstResource, UINT dstSubResourceIndex) {
    if (!VESSA_CHECK(Warning, 1000, hDstResource != nullptr,
                     "can't draw icon, because dst resource is null"))
        return E_INVALIDARG;
    // A back buffer smaller than the icon is left as the application drew it: a copy would
    // reach outside it.
    if (!fitsBackBuffer())
        return S_OK;
    const HANDLE hDevice = deviceHandle(gpuIndex);
    if (!hDevice || !m_resources[gpuIndex] || !m_pDeviceFuncs[gpuIndex].pfnBlt)
        return E_FAIL;
    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = m_resources[gpuIndex];
    blt.SrcRect = {0, 0, LONG(kVessaIconWidth), LONG(kVessaIconHeight)};
    blt.hDstResource = hDstResource;
    blt.DstSubResourceIndex = dstSubResourceIndex;
    blt.DstRect = m_rect;
    blt.Flags.Value = D3DDDI_BLTFLAGS::Point;
    const HRESULT hr = m_pDeviceFuncs[gpuIndex].pfnBlt(hDevice, &blt);
    VESSA_CHECK(Warning, 1000, SUCCEEDED(hr),
                "failed to blt the VessaIcon, ret=%d, idevice=%d, res=%p, subResourceIndex=%d",
                int(hr), int(gpuIndex), hDstResource, int(dstSubResourceIndex));
    return hr;
}

void VessaIconDDi9::destroyResources(unsigned gpuIndex) {
    m_ready = false;
    if (gpuIndex >= kGpuCount)
        return;
    const HANDLE hResource = m_resources[gpuIndex];
    m_resources[gpuIndex] = nullptr;
    // Nothing was made when the creation failed: a driver is never handed handle 0.
    const HANDLE hDevice = deviceHandle(gpuIndex);
    if (!hResource || !hDevice || !m_pDeviceFuncs[gpuIndex].pfnDestroyResource)
        return;
    const HRESULT hr = m_pDeviceFuncs[gpuIndex].pfnDestroyResource(hDevice, hResource);
    VESSA_CHECK(Warning, 10987, SUCCEEDED(hr), "failed to destroy resource");
}
