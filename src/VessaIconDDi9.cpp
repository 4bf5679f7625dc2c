// VessaIconDDi9: the icon's life on the presenting GPU.
//
// The texture and its draw come with the present paths that use them; until then the icon
// keeps its corner and timing and has nothing on the GPU to create or destroy.
#include "VessaIconDDi9.h"

VessaIconDDi9::VessaIconDDi9(uint32_t corner, bool timed, Device* pDevice,
                             D3DDDI_DEVICEFUNCS* pDeviceFuncs)
    : VessaIcon(corner, timed), m_pDevice(pDevice), m_pDeviceFuncs(pDeviceFuncs) {}

HRESULT VessaIconDDi9::draw(unsigned gpuIndex, HANDLE hDstResource, UINT dstSubResourceIndex) {
    (void)gpuIndex;
    (void)hDstResource;
    (void)dstSubResourceIndex;
    return S_OK;
}

HRESULT VessaIconDDi9::createResources(unsigned gpuIndex) {
    (void)gpuIndex;
    return S_OK;
}

void VessaIconDDi9::destroyResources(unsigned gpuIndex) {
    (void)gpuIndex;
    m_ready = false;
}
