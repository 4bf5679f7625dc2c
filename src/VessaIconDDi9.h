// VessaIconDDi9: the icon overlay of a Direct3D 9 device, drawn with the presenting GPU's
// own driver entries: a texture on that GPU, copied into the back buffer before the present.
#pragma once

#include "VessaIcon.h"

class Device;
struct D3DDDI_DEVICEFUNCS;

class VessaIconDDi9 : public VessaIcon {
public:
    /// `pDeviceFuncs` is the device's array of per-GPU driver tables.
    VessaIconDDi9(uint32_t corner, bool timed, Device* pDevice, D3DDDI_DEVICEFUNCS* pDeviceFuncs);

    HRESULT draw(unsigned gpuIndex, HANDLE hDstResource, UINT dstSubResourceIndex) override;
    HRESULT createResources(unsigned gpuIndex) override;
    void destroyResources(unsigned gpuIndex) override;

    Device* device() const { return m_pDevice; }
    D3DDDI_DEVICEFUNCS* deviceFuncs() const { return m_pDeviceFuncs; }
    /// The icon's texture on GPU `gpuIndex`, 0 when it has none.
    HANDLE resource(unsigned gpuIndex) const;

private:
    static constexpr unsigned kGpuCount = 4;

    /// The device's handle on GPU `gpuIndex`, or null when the device has none there.
    HANDLE deviceHandle(unsigned gpuIndex) const;
    HRESULT fillTexture(unsigned gpuIndex);
    HRESULT blit(unsigned gpuIndex, HANDLE hDstResource, UINT dstSubResourceIndex);

    HANDLE m_resources[kGpuCount] = {};
    Device* m_pDevice;
    D3DDDI_DEVICEFUNCS* m_pDeviceFuncs;
};
