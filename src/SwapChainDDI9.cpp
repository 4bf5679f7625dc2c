// SwapChainDDI9: construction and the resource bookkeeping the device routing uses.
#include "SwapChainDDI9.h"

SwapChainDDI9::SwapChainDDI9(Device* pDevice)
    : m_bDisplayModePending(false), m_bSharedPrimaryAdded(false), m_pDevice(pDevice) {}

void SwapChainDDI9::removeResource(ResourceDDI9* pResource) {
    // No back-buffer storage refers to resources yet, so there is nothing to forget.
    (void)pResource;
}

bool SwapChainDDI9::isPresentSource(const ResourceDDI9* pResource) const {
    (void)pResource;
    return false;
}

void SwapChainDDI9::getPresentTarget(ResourceDDI9*& pResource, unsigned& subresource) {
    // Without back-buffer storage there is no surface to present from.
    pResource = nullptr;
    subresource = 0;
}

void SwapChainDDI9::presentTransferred(ResourceDDI9* pResource, unsigned subresource) {
    (void)pResource, (void)subresource;
}
