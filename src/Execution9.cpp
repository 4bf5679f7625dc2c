// Execution9: present on a chosen GPU, and the choice between the two transfer mechanisms.
#include "Execution9.h"

#include "ConfigProperty.h"
#include "Configuration.h"
#include "Device9.h"
#include "FlipManager.h"
#include "GpuServices.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "ResourceDDI9.h"

namespace {

HANDLE toHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

} // namespace

Execution9::Execution9(Device* pDevice) : m_bUseApiCopy(false), m_pDevice(pDevice) {
    if (!m_pDevice)
        VESSA_REPORT_AT(30, Error, 11072, "m_pDevice", "Execution9::Execution9: NULL m_pDevice");
    m_bUseApiCopy =
        Configuration::getInstance()->getIntProperty(ConfigProperty::use_api_copy_dx9) == 1;
}

Execution9::~Execution9() = default;

HRESULT Execution9::present(const D3DDDIARG_PRESENT* pArgs, int gpuType) {
    if (!m_pDevice) {
        VESSA_REPORT_AT(60, Error, 11073, "m_pDevice", "NULL m_pDevice");
        return E_FAIL;
    }
    if (!VESSA_CHECK_AT(61, Error, 11074,
                        (OpenAdapter::renderingGPU() == gpuType) ||
                            (OpenAdapter::presentingGPU() == gpuType),
                        "invalid gpuType"))
        return E_INVALIDARG; // no table to call: the index names no GPU of this device
    const unsigned gpu = unsigned(gpuType);
    HANDLE hDevice = toHandle(m_pDevice->getUserHandle(gpu));
    PFND3DDDI_PRESENT presentEntry = m_pDevice->deviceFuncs(gpu).pfnPresent;
    HRESULT retVal = presentEntry ? presentEntry(hDevice, pArgs) : E_FAIL;
    VESSA_CHECK_AT(63, Error, 11075, ((HRESULT)0L) == retVal, "failed to present");
    return retVal;
}

bool Execution9::transfer(ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc, UINT srcSub) {
    if (!m_pDevice || !pDst || !pSrc) {
        VESSA_REPORT(Error, 0, "m_pDevice && pDst && pSrc", "Execution9::transfer without %s",
                     !m_pDevice ? "a device" : "a resource");
        return false;
    }
    if (!m_bUseApiCopy) {
        GpuServices* services = static_cast<GpuServices*>(m_pDevice->gpuServices());
        if (!services)
            return false;
        // The device registers with the interop library at its first transfer. One the
        // library refused can never have a surface mapped, so no frame of it would ever be
        // shown: its frames cross by the API copy instead, from this one on.
        if (m_pDevice->interopRegistered() || services->onAfterCreateDevice(m_pDevice))
            return services->transfer(m_pDevice, pDst, dstSub, pSrc, srcSub, false);
        fallBackToApiCopy();
    }
    HANDLE hDst = toHandle(pDst->getUserHandle(unsigned(OpenAdapter::presentingGPU())));
    // A failed copy leaves the destination as it was (a flip chain's surface then holds an
    // older frame): the caller shows the last frame again instead of presenting it.
    return SUCCEEDED(pSrc->copyToPresenting(srcSub, hDst, dstSub));
}

void Execution9::fallBackToApiCopy() {
    VESSA_REPORT(Warning, 0, "false",
                 "Interop refused the device: its frames cross by the API copy");
    m_bUseApiCopy = true;
    // ZARI follows the interop's staging buffers; without them the device paces by ORR.
    if (m_pDevice->m_pFlipManager)
        m_pDevice->m_pFlipManager->setZari(false);
}
