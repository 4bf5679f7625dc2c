// Adapter: opening both GPUs' vendor drivers, publishing the adapter, closing it.
//
// The report lines below are long-standing report sites; keep them stable.
#include "Adapter9.h"

#include "AdapterFuncs_auto.h"
#include "AuxAdapterCallbacks.h"
#include "Configuration.h"
#include "Device9.h"
#include "FlipManager.h"
#include "GpuEnumerator.h"
#include "GpuServices.h"
#include "OpenAdapter.h"
#include "OpenAdapterHelper.h"
#include "Report.h"
#include "platform/KernelThunks.h"

#include <new>
#include <string.h>

namespace {

HANDLE asHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

uint64_t asValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

bool isRole(int index) {
    return index >= 0 && static_cast<unsigned>(index) < Adapter::kGpuCount;
}

} // namespace

Adapter::Adapter(const D3DDDIARG_OPENADAPTER& runtimeArgs) : DdiObject(kDdiObjectAdapter) {
    memset(&m_auxAdapterCallbacks, 0, sizeof m_auxAdapterCallbacks);
    memset(m_adapterFuncs, 0, sizeof m_adapterFuncs);
    memset(m_driverVersions, 0, sizeof m_driverVersions);
    ddiHandles().setRuntimeHandle(asValue(runtimeArgs.hAdapter));
    AuxAdapterCallbacks::fill(&m_auxAdapterCallbacks);
}

Adapter::~Adapter() {
    closeKernelAdapters();
}

const D3DDDI_ADAPTERFUNCS& Adapter::vendorFuncs(unsigned index) const {
    static const D3DDDI_ADAPTERFUNCS s_noFuncs = {};
    if (!VESSA_CHECK(Warning, 0, index < kGpuSlots, "vendor functions: index %u out of range",
                     index))
        return s_noFuncs;
    return m_adapterFuncs[index];
}

HRESULT Adapter::open(D3DDDIARG_OPENADAPTER* args, uint32_t vendor) {
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    const uint32_t primVendor = static_cast<uint32_t>(enumerator->getGPUVendorIdEnum(0));
    VESSA_CHECK_AT(179, Warning, 11176, vendor == primVendor,
                   "Open adapter of non primary adapter");

    // The primary GPU's driver gets the runtime's arguments unchanged.
    PFND3DDDI_OPENADAPTER openPrimary = getOpenAdapterFuncPtr(0);
    if (!openPrimary)
        return E_FAIL;
    HRESULT hr = openPrimary(args);
    if (hr != S_OK)
        return hr;
    setUserHandle(0, asValue(args->hAdapter));
    setVendor(0, vendor);
    m_adapterFuncs[0] = *args->pAdapterFuncs;
    m_driverVersions[0] = args->DriverVersion;

    unsigned currentAux = 1;
    openAuxiliaryAdapters(*args, &currentAux);
    const unsigned gpuCount = kGpuCount;
    if (!VESSA_CHECK_AT(249, Error, 10211, currentAux == gpuCount,
                        "failed to open auxiliary adapter")) {
        // Without its rendering GPU the adapter cannot be published. Close what the primary
        // driver opened, so that the entry can hand the runtime's call to that driver afresh.
        closeVendorAdapter(0, 130);
        return E_FAIL;
    }

    const int rendering = OpenAdapter::renderingGPU();
    if (!VESSA_CHECK(Error, 0, isRole(rendering), "GPU roles are not set (rendering %d)",
                     rendering)) {
        closeVendorAdapter(0, 130);
        closeVendorAdapter(1, 141);
        closeKernelAdapters();
        return E_FAIL;
    }
    // Publish: the runtime holds the rendering GPU's adapter handle, and the rendering GPU's
    // table with the system's three adapter entries in place of the driver's.
    args->hAdapter = asHandle(getUserHandle(static_cast<unsigned>(rendering)));
    *args->pAdapterFuncs = m_adapterFuncs[rendering];
    AdapterFuncs::fill(args->pAdapterFuncs);
    args->DriverVersion = commonDriverVersion();
    return S_OK;
}

void Adapter::openAuxiliaryAdapters(const D3DDDIARG_OPENADAPTER& runtimeArgs,
                                    unsigned* pCurrentAux) {
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    unsigned& currentAux = *pCurrentAux;
    for (int e = 1; e < static_cast<int>(kGpuCount) && currentAux <= 1; ++e) {
        const DeviceProp* record = enumerator->m_pDevicePropArray[e];
        const WCHAR* deviceKey = record && record->displayDeviceW.DeviceKey[0]
                                     ? record->displayDeviceW.DeviceKey
                                     : nullptr;
        if (!VESSA_CHECK_AT(224, Error, 11177, deviceKey, "Device key for %d was not found", e))
            continue;

        D3DKMT_OPENADAPTERFROMDEVICENAME openInfo = {};
        NTSTATUS ntStatus = GpuEnumerator::openAdapterFromKey(deviceKey, &openInfo);
        if (!VESSA_CHECK_AT(227, Warning, 10968, (((LONG)(ntStatus)) >= 0),
                            "D3DKMTOpenAdapterFromDeviceName failed"))
            continue;
        ddiHandles().setKernelHandle(currentAux, openInfo.hAdapter);

        PFND3DDDI_OPENADAPTER openAuxiliary = getOpenAdapterFuncPtr(e);
        const uint32_t vendor = static_cast<uint32_t>(enumerator->getGPUVendorIdEnum(e));
        HRESULT hr = openAuxiliary
                         ? openAuxiliaryDriver(openAuxiliary, runtimeArgs, currentAux, vendor)
                         : E_FAIL;
        if (hr == S_OK) {
            ++currentAux;
            continue;
        }
        D3DKMT_CLOSEADAPTER close = {openInfo.hAdapter};
        KernelThunks::get().pfnCloseAdapter(&close);
        ddiHandles().setKernelHandle(currentAux, 0);
    }
}

HRESULT Adapter::openAuxiliaryDriver(PFND3DDDI_OPENADAPTER openAdapter,
                                     const D3DDDIARG_OPENADAPTER& runtimeArgs, unsigned slot,
                                     uint32_t vendor) {
    // The runtime does not know this GPU: its driver is opened over the kernel adapter and
    // calls the system's callbacks. It fills the same table the runtime supplied; the
    // primary's entries were copied out before.
    D3DDDIARG_OPENADAPTER copy = runtimeArgs;
    copy.hAdapter = asHandle(ddiHandles().getKernelHandle(slot));
    copy.pAdapterCallbacks = &m_auxAdapterCallbacks;
    HRESULT hr = openAdapter(&copy);
    if (hr != S_OK)
        return hr;
    setUserHandle(slot, asValue(copy.hAdapter));
    setVendor(slot, vendor);
    m_adapterFuncs[slot] = *copy.pAdapterFuncs;
    m_driverVersions[slot] = copy.DriverVersion;
    return S_OK;
}

UINT Adapter::commonDriverVersion() const {
    // The runtime talks to the rendering GPU's driver through the table and to the
    // presenting GPU's through the presents it hands over: it may use only what both
    // support, the lower of the two versions.
    UINT version = m_driverVersions[0];
    for (unsigned i = 1; i < kGpuCount; ++i) {
        if (m_driverVersions[i] < version)
            version = m_driverVersions[i];
    }
    return version;
}

HRESULT Adapter::createDevice(D3DDDIARG_CREATEDEVICE* pCreateData) {
    if (!VESSA_CHECK(Warning, 0, pCreateData != nullptr, "CreateDevice without arguments"))
        return E_INVALIDARG;
    Device* pDevice = new (std::nothrow) Device(pCreateData->hDevice, this);
    if (!VESSA_CHECK(Error, 0, pDevice != nullptr, "dx9: no memory for a device"))
        return E_OUTOFMEMORY;
    if (pDevice->create(asHandle(getUserHandle(0)), pCreateData) != S_OK) {
        delete pDevice;
        return E_FAIL;
    }
    if (pDevice->gpuServices())
        startGpuServices(pDevice);
    OpenAdapter::addDevice(pCreateData->hDevice, pDevice);
    return S_OK;
}

void Adapter::startGpuServices(Device* pDevice) {
    Configuration* config = Configuration::getInstance();
    const bool syncCopyOff = config->getIntProperty(ConfigProperty::should_umd_sync_copy) != 1;
    if (syncCopyOff) {
        VESSA_REPORT_AT(84, Warning, 0, "false",
                        "dx9: Turning ZARI off as should_umd_sync_copy is off");
        config->setProperty(ConfigProperty::use_zari_dx9, 0);
        // The device read the option when it was made: it must hear of the change too.
        if (pDevice->m_pFlipManager)
            pDevice->m_pFlipManager->setZari(false);
    }
    GpuServices* services = static_cast<GpuServices*>(pDevice->gpuServices());
    if (services->initInterop(syncCopyOff)) {
        pDevice->setInteropUser(true);
        pDevice->startWorker();
        return;
    }
    // Without the interop library frames cross by the API copy, for this device and for
    // every device made after it.
    config->setProperty(ConfigProperty::use_api_copy_dx9, 1);
    services->destroyGpuInterop();
    GpuServices::destroyInstanceIfUnused();
    pDevice->execution().setUseApiCopy(true);
    // ZARI follows the interop's staging buffers; without them the device paces by ORR.
    if (pDevice->m_pFlipManager)
        pDevice->m_pFlipManager->setZari(false);
}

HRESULT Adapter::closeAdapter() {
    const int rendering = OpenAdapter::renderingGPU();
    const int presenting = OpenAdapter::presentingGPU();
    if (isRole(rendering))
        OpenAdapter::removeAdapter(asHandle(getUserHandle(static_cast<unsigned>(rendering))));
    if (isRole(presenting))
        closeVendorAdapter(static_cast<unsigned>(presenting), 130);
    if (isRole(rendering))
        closeVendorAdapter(static_cast<unsigned>(rendering), 141);
    // The auxiliary drivers are closed: their kernel adapters are no longer used.
    closeKernelAdapters();
    return S_OK;
}

void Adapter::closeVendorAdapter(unsigned index, int line) {
    if (!userHandles().has(index))
        return;
    const uint64_t handle = userHandles().get(index);
    PFND3DDDI_CLOSEADAPTER close = m_adapterFuncs[index].pfnCloseAdapter;
    HRESULT res = close ? close(asHandle(handle)) : E_FAIL;
    if (!(((HRESULT)0L) == res || ((HRESULT)0x80070057L) == res))
        reportAssertion(ReportLevel::Warning, 0, __FILE__, line,
                        "((HRESULT)0L) == res || ((HRESULT)0x80070057L) == res",
                        "Could not destroy adapter %x on gpu:%d, func:%x, this:%x",
                        static_cast<unsigned>(handle), static_cast<int>(index),
                        static_cast<unsigned>(reinterpret_cast<uintptr_t>(close)),
                        static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)));
    setUserHandle(index, 0);
}

void Adapter::closeKernelAdapters() {
    for (unsigned i = 1; i < kGpuSlots; ++i) {
        if (!ddiHandles().mask() || !(ddiHandles().mask() & (1u << i)))
            continue;
        D3DKMT_CLOSEADAPTER close = {static_cast<D3DKMT_HANDLE>(ddiHandles().getKernelHandle(i))};
        KernelThunks::get().pfnCloseAdapter(&close);
        ddiHandles().setKernelHandle(i, 0);
    }
}
