// Device: construction, creation on both GPUs, the worker thread and the destructor.
//
// The report lines below are long-standing report sites; keep them stable.
#include "Device9.h"

#include "Adapter9.h"
#include "AuxDeviceCallbacks.h"
#include "Configuration.h"
#include "DeviceCallbacks_auto.h"
#include "DeviceFuncs_auto.h"
#include "FlipManager.h"
#include "GpuServices.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "SwapChainDDI9.h"
#include "VessaIconDDi9.h"
#include "platform/KernelThunks.h"

#include <new>
#include <stddef.h>
#include <string.h>

namespace {

HANDLE asHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

uint64_t asValue(const void* handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

bool isCreated(HRESULT hr) {
    return hr == S_OK || hr == S_FALSE;
}

int32_t intProperty(ConfigProperty property) {
    return Configuration::getInstance()->getIntProperty(property);
}

unsigned roleIndex(int role) {
    return role >= 0 && role < static_cast<int>(DdiObject::kGpuSlots) ? static_cast<unsigned>(role)
                                                                      : 0;
}

// Copies the entries a device keeps of a driver's table: pfnSetRenderState through
// pfnRename. The video-processing and content-protection entries after them are never
// taken over: they stay null in the device's tables and so in the runtime's.
void copyKeptEntries(D3DDDI_DEVICEFUNCS* pDst, const D3DDDI_DEVICEFUNCS* pSrc) {
    static_assert(offsetof(D3DDDI_DEVICEFUNCS, pfnCreateVideoProcessor) ==
                      Device::kCopiedDeviceFuncs * sizeof(void*),
                  "the kept entries end before pfnCreateVideoProcessor");
    memcpy(static_cast<void*>(pDst), pSrc, Device::kCopiedDeviceFuncs * sizeof(void*));
}

} // namespace

Device::Device(HANDLE hRuntimeDevice, Adapter* pAdapter)
    : m_pVessaIcon(nullptr), m_pFlipManager(nullptr), m_execution(this), m_swCopier(this),
      m_interopUser(false), m_holdsGpuServices(false) {
    memset(static_cast<void*>(m_deviceFuncs), 0, sizeof m_deviceFuncs);
    setAdapter(pAdapter);
    ddiHandles().setRuntimeHandle(asValue(hRuntimeDevice));

    DeviceCallbacks::fill(&deviceCallbacksToFill());
    AuxDeviceCallbacks::fill(&auxDeviceCallbacksToFill());

    createIcon();

    // Held for the device's life: another device's teardown never deletes it under this one.
    m_holdsGpuServices = GpuServices::acquire();

    m_pSwapChain = new (std::nothrow) SwapChainDDI9(this);
    VESSA_CHECK_AT(92, Error, 11137, m_pSwapChain != 0,
                   "Device::Device failed to allocate m_pSwapChain");

    m_pFlipManager = new (std::nothrow)
        FlipManager(this, m_pSwapChain, intProperty(ConfigProperty::use_orr_dx9) == 1);
    if (VESSA_CHECK_AT(96, Error, 11071, m_pFlipManager != 0,
                       "Device::Device failed to allocate m_pFlipManager")) {
        m_pFlipManager->setZari(intProperty(ConfigProperty::use_zari_dx9) == 1);
        m_pFlipManager->setDropDraw(intProperty(ConfigProperty::drop_draw_dx9) == 1);
    }
}

void Device::createIcon() {
    const int32_t show = intProperty(ConfigProperty::vessa_icon_show);
    if (show == 0 || intProperty(ConfigProperty::hide_vessa_icon) == 1)
        return;
    const uint32_t corner = VessaIcon::cornerFromText(
        Configuration::getInstance()->getProperty(ConfigProperty::vessa_icon_corner));
    m_pVessaIcon = new (std::nothrow) VessaIconDDi9(corner, show == 2, this, m_deviceFuncs);
    VESSA_CHECK_AT(82, Error, 11070, m_pVessaIcon != 0,
                   "Device::Device failed an allocation of %d bytes",
                   static_cast<int>(sizeof(VessaIconDDi9)));
}

void Device::discardIcon() {
    // The icon made nothing on a GPU before the device was handed to the runtime.
    delete m_pVessaIcon;
    m_pVessaIcon = nullptr;
}

Device::~Device() {
    // A worker that was never stopped would run on a deleted device (and on the services).
    stopWorker();
    if (m_holdsGpuServices)
        GpuServices::release();
    else
        GpuServices::destroyInstanceIfUnused();

    delete m_pFlipManager;
    m_pFlipManager = nullptr;
    delete m_pSwapChain;
    m_pSwapChain = nullptr;

    reportLeftoverResources();
    if (m_pVessaIcon)
        VESSA_REPORT_AT(245, Warning, 10977, "m_pVessaIcon==0", "Icon was not destroyed!");
    // Nothing should be left: delete what a caller forgot rather than leak it.
    delete m_pVessaIcon;
    m_pVessaIcon = nullptr;
    if (m_auxScreenResource.userHandles().mask() != 0)
        VESSA_REPORT_AT(246, Warning, 10978, "m_auxScreenResource.getUserMask()==0", "%s", "");
}

bool Device::reportLeftoverResources() {
    if (resourceMap().empty())
        return false;
    VESSA_REPORT_AT(244, Warning, 10976, "m_resourceMap.empty()",
                    "Not all device resources were destroy!");
    return true;
}

Device* Device::fromRuntimeHandle(HANDLE hDevice) {
    DdiObject* object = OpenAdapter::getDevice(hDevice);
    if (!object)
        return nullptr;
    if (!VESSA_CHECK(Error, 0, object->kind() == kDdiObjectDevice,
                     "object registered as device %x is of kind %u",
                     static_cast<unsigned>(asValue(hDevice)), object->kind()))
        return nullptr;
    return static_cast<Device*>(object);
}

Device* Device::acquire(HANDLE hDevice) {
    DdiObject* object = OpenAdapter::getDevice(hDevice, [](DdiObject* found) {
        if (found->kind() == kDdiObjectDevice)
            static_cast<Device*>(found)->m_uses.fetch_add(1, std::memory_order_relaxed);
    });
    if (!object)
        return nullptr;
    if (!VESSA_CHECK(Error, 0, object->kind() == kDdiObjectDevice,
                     "object registered as device %x is of kind %u",
                     static_cast<unsigned>(asValue(hDevice)), object->kind()))
        return nullptr;
    return static_cast<Device*>(object);
}

void Device::release() {
    // Whoever ends the last use sees the retirement: the retiring entry marks it before it
    // ends its own use.
    if (m_uses.fetch_sub(1, std::memory_order_acq_rel) == 1 && retired())
        delete this;
}

void Device::retire() {
    m_retired.store(true, std::memory_order_release);
}

Device* Device::fromView(HANDLE hView, unsigned* pGpuIndex) {
    DdiObjectView* view = DdiObject::viewFromHandle(hView);
    if (!VESSA_CHECK(Error, 0,
                     view && view->owner && view->owner->marker() == DdiObject::kMarker &&
                         view->owner->kind() == kDdiObjectDevice,
                     "a driver called back with the handle %p, which is no device view", hView))
        return nullptr;
    if (pGpuIndex)
        *pGpuIndex = view->gpuIndex;
    return static_cast<Device*>(view->owner);
}

HANDLE Device::gpuHandle(unsigned index) const {
    return asHandle(getUserHandle(index));
}

HANDLE Device::runtimeHandle() const {
    return asHandle(ddiHandles().getRuntimeHandle());
}

void* Device::gpuServices() {
    return GpuServices::instance();
}

HRESULT Device::flushGpu(unsigned index) {
    const HANDLE handle = gpuHandle(index);
    PFND3DDDI_FLUSH flush = deviceFuncs(index).pfnFlush;
    if (!VESSA_CHECK(Error, 0, flush != nullptr, "no pfnFlush on gpu:%u", index))
        return E_FAIL;
    // The callers' work stays queued when the flush fails: their copy does not count as done.
    const HRESULT hr = flush(handle);
    VESSA_CHECK(Error, 0, SUCCEEDED(hr), "pfnFlush failed on gpu:%u, hr = %d", index, int(hr));
    return hr;
}

HRESULT Device::create(HANDLE hAdapter, D3DDDIARG_CREATEDEVICE* pArgs) {
    (void)hAdapter;
    Adapter* pAdapter = adapter();
    if (!VESSA_CHECK(Error, 0, pAdapter && pArgs && pArgs->pCallbacks && pArgs->pDeviceFuncs,
                     "CreateDevice without adapter, callbacks or function table"))
        return E_INVALIDARG;

    const D3DDDI_DEVICECALLBACKS* pRuntimeCallbacks = pArgs->pCallbacks;
    saveRuntimeCallbacks(*pRuntimeCallbacks);
    DeviceCallbacks::setProcessEscapeCb(pRuntimeCallbacks->pfnEscapeCb);

    HRESULT hr = createOnPresentingGpu(pArgs);
    if (!isCreated(hr)) {
        pArgs->pCallbacks = pRuntimeCallbacks;
        discardIcon();
        return hr;
    }
    const unsigned rendering = roleIndex(OpenAdapter::renderingGPU());
    for (unsigned i = 1; i < kGpuSlots; ++i) {
        if (!pAdapter->ddiHandles().mask() || !(pAdapter->ddiHandles().mask() & (1u << i)))
            continue;
        if (createOnAuxiliaryGpu(i, pArgs) || i != rendering)
            continue;
        // Without its rendering GPU the device cannot serve the runtime: handing it a null
        // handle and a table of null entries would only crash it later.
        destroyOnAllGpus();
        discardIcon();
        pArgs->hDevice = runtimeHandle();
        pArgs->pCallbacks = pRuntimeCallbacks;
        return E_FAIL;
    }
    pArgs->pCallbacks = pRuntimeCallbacks;
    if (!userHandles().has(rendering)) {
        VESSA_REPORT(Error, 0, "m_mask & (0x00000001 << index)",
                     "the device has no handle on the rendering GPU %u", rendering);
        destroyOnAllGpus();
        discardIcon();
        pArgs->hDevice = runtimeHandle();
        return E_FAIL;
    }

    // The runtime calls the rendering GPU's driver directly, except for the wrapped entries.
    pArgs->hDevice = gpuHandle(rendering);
    *pArgs->pDeviceFuncs = m_deviceFuncs[rendering];
    DeviceFuncs::fill(pArgs->pDeviceFuncs);

    if (m_pVessaIcon)
        m_pVessaIcon->createResources(roleIndex(OpenAdapter::presentingGPU()));
    return S_OK;
}

HRESULT Device::createOnPresentingGpu(D3DDDIARG_CREATEDEVICE* pArgs) {
    Adapter* pAdapter = adapter();
    pArgs->hDevice = view(0);
    pArgs->pCallbacks = deviceCallbacks();
    const HANDLE hVendorAdapter = asHandle(pAdapter->userHandles().get(0));
    PFND3DDDI_CREATEDEVICE createDevice = pAdapter->vendorFuncs(0).pfnCreateDevice;
    if (!VESSA_CHECK(Error, 0, createDevice != nullptr, "no pfnCreateDevice on gpu:0"))
        return E_FAIL;
    HRESULT hr = createDevice(hVendorAdapter, pArgs);
    if (!isCreated(hr))
        return hr;
    copyKeptEntries(&m_deviceFuncs[0], pArgs->pDeviceFuncs);
    setUserHandle(0, asValue(pArgs->hDevice));
    setVendor(0, pAdapter->getVendor(0));
    return hr;
}

bool Device::createOnAuxiliaryGpu(unsigned index, D3DDDIARG_CREATEDEVICE* pArgs) {
    Adapter* pAdapter = adapter();
    const KernelThunkTable& kmt = KernelThunks::get();
    D3DKMT_CREATEDEVICE kernelDevice = {};
    kernelDevice.hAdapter =
        static_cast<D3DKMT_HANDLE>(pAdapter->ddiHandles().getKernelHandle(index));
    kernelDevice.Flags.Value = D3DKMT_CREATEDEVICEFLAGS::LegacyMode;
    NTSTATUS kmtResponse = kmt.pfnCreateDevice(&kernelDevice);
    if (!VESSA_CHECK_AT(174, Error, 11152, (((LONG)(kmtResponse)) >= 0),
                        "creating a kernel-mode device context failed"))
        return false; // a vendor device over no kernel device could do nothing
    ddiHandles().setKernelHandle(index, kernelDevice.hDevice);

    pArgs->hDevice = view(index);
    pArgs->pCallbacks = auxDeviceCallbacks();
    PFND3DDDI_CREATEDEVICE createDevice = pAdapter->vendorFuncs(index).pfnCreateDevice;
    HRESULT rs =
        createDevice ? createDevice(asHandle(pAdapter->userHandles().get(index)), pArgs) : E_FAIL;
    if (isCreated(rs)) {
        copyKeptEntries(&m_deviceFuncs[index], pArgs->pDeviceFuncs);
        setUserHandle(index, asValue(pArgs->hDevice));
        setVendor(index, pAdapter->getVendor(index));
        return true;
    }
    VESSA_CHECK_AT(183, Error, 1000, ((HRESULT)0L) == rs || ((HRESULT)1L) == rs,
                   "create a device over the user mode driver failed");
    destroyKernelDevice(index);
    return false;
}

HRESULT Device::destroyOnAllGpus() {
    HRESULT result = S_OK;
    for (unsigned i = 0; i < kGpuSlots; ++i) {
        if (userHandles().has(i)) {
            PFND3DDDI_DESTROYDEVICE destroyDevice = m_deviceFuncs[i].pfnDestroyDevice;
            HRESULT res = destroyDevice ? destroyDevice(gpuHandle(i)) : E_FAIL;
            setUserHandle(i, 0);
            if (!(((HRESULT)0L) == res))
                reportAssertion(ReportLevel::Warning, 10972, "DeviceFuncs_auto.cpp", 542,
                                "((HRESULT)0L) == res", "Could not destroy device on gpu:%d",
                                static_cast<int>(i));
            result = res;
        }
        // The kernel device goes after the vendor device that was built over it.
        if (i != 0)
            destroyKernelDevice(i);
    }
    return result;
}

void Device::destroyKernelDevice(unsigned index) {
    if (!ddiHandles().mask() || !(ddiHandles().mask() & (1u << index)))
        return;
    D3DKMT_DESTROYDEVICE destroy = {
        static_cast<D3DKMT_HANDLE>(ddiHandles().getKernelHandle(index))};
    NTSTATUS status = KernelThunks::get().pfnDestroyDevice(&destroy);
    VESSA_CHECK(Warning, 0, (((LONG)(status)) >= 0),
                "D3DKMTDestroyDevice failed for gpu:%u (status %#x)", index,
                static_cast<unsigned>(status));
    ddiHandles().setKernelHandle(index, 0);
}

bool Device::startWorker() {
    setWorkerState(kWorkerRunning);
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, workerProc, this, 0, &threadId);
    if (!VESSA_CHECK(Error, 0, thread != nullptr,
                     "dx9: the device's worker thread did not start")) {
        setWorkerState(kWorkerNone);
        return false;
    }
    setWorkerThread(thread, threadId);
    return true;
}

void Device::stopWorker() {
    if (exchangeWorkerState(kWorkerRunning, kWorkerStopRequested)) {
        // The worker takes the device lock on each pass: the caller must not hold it here.
        while (workerState() != kWorkerExited)
            Sleep(1);
    }
    HANDLE thread = workerThread();
    if (!thread)
        return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    setWorkerThread(nullptr, 0);
}

DWORD WINAPI Device::workerProc(LPVOID parameter) {
    Device* pDevice = static_cast<Device*>(parameter);
    // The services may still be on their way; a stop request ends the wait as well.
    while (pDevice->workerState() == kWorkerRunning && !pDevice->gpuServices())
        Sleep(10);
    while (pDevice->workerState() == kWorkerRunning) {
        {
            DeviceLockGuard lock(pDevice);
            if (GpuServices* services = static_cast<GpuServices*>(pDevice->gpuServices()))
                services->workerPass(pDevice);
        }
        Sleep(1);
    }
    pDevice->setWorkerState(kWorkerExited);
    return 0;
}
