// The runtime's adapter: kernel open, driver load, OpenAdapter, the adapter callbacks.
#include "sim/runtime/RuntimeAdapter.h"

#include "KernelStatus.h"
#include "platform/KernelThunks.h"
#include "sim/Call.h"
#include "sim/WideString.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/KernelStatus.h"
#include "sim/runtime/RuntimeDevice.h"

#include <string.h>
#include <vector>

namespace sim {
namespace rt {

namespace {

constexpr const char* kModule = "d3d9.dll";

HRESULT APIENTRY queryAdapterInfoCb(HANDLE hAdapter, const D3DDDICB_QUERYADAPTERINFO* pData) {
    RuntimeAdapter* pAdapter = RuntimeAdapter::fromHandle(hAdapter);
    Call call(kModule, "QueryAdapterInfoCb", pAdapter ? pAdapter->gpu() : kNoGpu);
    if (pData)
        call.args("size=%u", pData->PrivateDriverDataSize);
    if (!pAdapter || !pData || !pData->pPrivateDriverData)
        return call.finish(E_INVALIDARG);
    if (call.faulted())
        return call.finish(HRESULT(call.faultStatus()));
    D3DKMT_QUERYADAPTERINFO query = {};
    query.hAdapter = pAdapter->kernelAdapter();
    query.Type = KMTQAITYPE_UMDRIVERPRIVATE;
    query.pPrivateDriverData = pData->pPrivateDriverData;
    query.PrivateDriverDataSize = pData->PrivateDriverDataSize;
    return call.finish(toHresult(KernelThunks::get().pfnQueryAdapterInfo(&query)));
}

HRESULT APIENTRY getMultisampleMethodListCb(HANDLE hAdapter,
                                            D3DDDICB_GETMULTISAMPLEMETHODLIST* pData) {
    RuntimeAdapter* pAdapter = RuntimeAdapter::fromHandle(hAdapter);
    Call call(kModule, "GetMultisampleMethodListCb", pAdapter ? pAdapter->gpu() : kNoGpu);
    if (pData)
        call.args("%ux%u format=%u count=%u", pData->Width, pData->Height, rawValue(pData->Format),
                  pData->MethodCount);
    if (!pAdapter || !pData)
        return call.finish(E_INVALIDARG);
    if (call.faulted())
        return call.finish(HRESULT(call.faultStatus()));
    D3DKMT_GETMULTISAMPLEMETHODLIST list = {};
    list.hAdapter = pAdapter->kernelAdapter();
    list.VidPnSourceId = pData->VidPnSourceId;
    list.Width = pData->Width;
    list.Height = pData->Height;
    list.Format = pData->Format;
    // The kernel's records are twelve bytes, the driver's eight: convert one by one.
    std::vector<D3DKMT_MULTISAMPLEMETHOD> methods;
    if (pData->pMethodList) {
        methods.resize(pData->MethodCount);
        list.pMethodList = methods.data();
        list.MethodCount = pData->MethodCount;
    }
    NTSTATUS status = KernelThunks::get().pfnGetMultisampleMethodList(&list);
    if (status >= 0 && pData->pMethodList) {
        for (UINT i = 0; i < list.MethodCount && i < methods.size(); ++i) {
            pData->pMethodList[i].NumSamples = methods[i].NumSamples;
            pData->pMethodList[i].NumQualityLevels = methods[i].NumQualityLevels;
        }
    }
    if (status >= 0 || ULONG(status) == 0xC0000023u)
        pData->MethodCount = list.MethodCount;
    return call.finish(toHresult(status));
}

const D3DDDI_ADAPTERCALLBACKS kAdapterCallbacks = {queryAdapterInfoCb, getMultisampleMethodListCb};

} // namespace

RuntimeAdapter* RuntimeAdapter::fromHandle(HANDLE hAdapter) {
    return isLiveObject(hAdapter) ? static_cast<RuntimeAdapter*>(hAdapter) : nullptr;
}

HRESULT RuntimeAdapter::openDisplay(const std::string& displayName, const AdapterSource& source,
                                    std::unique_ptr<RuntimeAdapter>& out) {
    std::shared_ptr<const MachineDesc> pMachine = installedMachine();
    std::string name = displayName;
    if (name.empty()) {
        const DisplayDeviceDesc* pPrimary = pMachine ? pMachine->primaryDisplay() : nullptr;
        if (!pPrimary)
            return E_FAIL;
        name = pPrimary->deviceName;
    }
    D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME open = {};
    std::u16string wide = fromUtf8(name);
    if (wide.size() >= 32)
        return E_INVALIDARG;
    memcpy(open.DeviceName, wide.data(), wide.size() * sizeof(WCHAR));
    NTSTATUS status = KernelThunks::get().pfnOpenAdapterFromGdiDisplayName(&open);
    if (status < 0)
        return toHresult(status);
    std::unique_ptr<RuntimeAdapter> pAdapter(new RuntimeAdapter());
    pAdapter->m_hKernelAdapter = open.hAdapter;
    pAdapter->m_vidPnSourceId = open.VidPnSourceId;
    pAdapter->m_gpu = pMachine ? pMachine->findDisplay(name) : -1;
    if (pAdapter->m_gpu >= 0)
        pAdapter->m_gpu = pMachine->displays[size_t(pAdapter->m_gpu)].gpu;
    HRESULT hr = pAdapter->open(source);
    if (FAILED(hr))
        return hr;
    out = std::move(pAdapter);
    return S_OK;
}

HRESULT RuntimeAdapter::openGpu(int gpu, const AdapterSource& source,
                                std::unique_ptr<RuntimeAdapter>& out) {
    std::shared_ptr<const MachineDesc> pMachine = installedMachine();
    if (!pMachine || gpu < 0 || size_t(gpu) >= pMachine->gpus.size())
        return E_INVALIDARG;
    for (const DisplayDeviceDesc& display : pMachine->displays) {
        if (display.gpu == gpu && display.attached())
            return openDisplay(display.deviceName, source, out);
    }
    // A GPU without a monitor is reached by its device interface name.
    std::u16string name = fromUtf8(pMachine->gpus[size_t(gpu)].adapterInterfaceName());
    D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
    open.pDeviceName = reinterpret_cast<PCWSTR>(name.c_str());
    NTSTATUS status = KernelThunks::get().pfnOpenAdapterFromDeviceName(&open);
    if (status < 0)
        return toHresult(status);
    std::unique_ptr<RuntimeAdapter> pAdapter(new RuntimeAdapter());
    pAdapter->m_hKernelAdapter = open.hAdapter;
    pAdapter->m_gpu = gpu;
    HRESULT hr = pAdapter->open(source);
    if (FAILED(hr))
        return hr;
    out = std::move(pAdapter);
    return S_OK;
}

HRESULT RuntimeAdapter::open(const AdapterSource& source) {
    std::u16string library = fromUtf8(source.library);
    if (library.empty()) {
        D3DKMT_UMDFILENAMEINFO info = {};
        info.Version = KMTUMDVERSION_DX9;
        D3DKMT_QUERYADAPTERINFO query = {};
        query.hAdapter = m_hKernelAdapter;
        query.Type = KMTQAITYPE_UMDRIVERNAME;
        query.pPrivateDriverData = &info;
        query.PrivateDriverDataSize = sizeof info;
        NTSTATUS status = KernelThunks::get().pfnQueryAdapterInfo(&query);
        if (status < 0)
            return toHresult(status);
        library = reinterpret_cast<const char16_t*>(info.UmdFileName);
    }
    // The runtime keeps the driver loaded for the life of the process, as d3d9 does.
    HMODULE hModule = LoadLibraryW(reinterpret_cast<LPCWSTR>(library.c_str()));
    if (!hModule)
        return E_FAIL;
    auto pfnOpen = reinterpret_cast<PFND3DDDI_OPENADAPTER>(
        reinterpret_cast<void*>(GetProcAddress(hModule, source.entry.c_str())));
    if (!pfnOpen)
        return E_NOINTERFACE;

    addLiveObject(this);
    umd::registerRuntimeAdapter(this, m_gpu);
    D3DDDIARG_OPENADAPTER args = {};
    args.hAdapter = this;
    args.Interface = 9;
    args.Version = D3D_UMD_INTERFACE_VERSION_WIN7;
    args.pAdapterCallbacks = &kAdapterCallbacks;
    args.pAdapterFuncs = &m_funcs;
    HRESULT hr = pfnOpen(&args);
    if (FAILED(hr)) {
        umd::unregisterRuntimeAdapter(this);
        removeLiveObject(this);
        return hr;
    }
    m_hDriverAdapter = args.hAdapter;
    m_driverVersion = args.DriverVersion;
    m_opened = true;
    return S_OK;
}

RuntimeAdapter::~RuntimeAdapter() {
    if (m_opened && !m_closed)
        close();
    if (m_hKernelAdapter) {
        D3DKMT_CLOSEADAPTER closeKernel = {m_hKernelAdapter};
        KernelThunks::get().pfnCloseAdapter(&closeKernel);
    }
    umd::unregisterRuntimeAdapter(this);
    removeLiveObject(this);
}

HRESULT RuntimeAdapter::getCaps(D3DDDICAPS_TYPE type, void* pData, UINT dataSize, void* pInfo) {
    if (!m_opened || m_closed || !m_funcs.pfnGetCaps)
        return E_FAIL;
    D3DDDIARG_GETCAPS caps = {};
    caps.Type = type;
    caps.pInfo = pInfo;
    caps.pData = pData;
    caps.DataSize = dataSize;
    return m_funcs.pfnGetCaps(m_hDriverAdapter, &caps);
}

HRESULT RuntimeAdapter::createDevice(std::unique_ptr<RuntimeDevice>& out,
                                     const DeviceOptions& options) {
    if (!m_opened || m_closed || !m_funcs.pfnCreateDevice)
        return E_FAIL;
    std::unique_ptr<RuntimeDevice> pDevice(new RuntimeDevice(*this));
    HRESULT hr = pDevice->create(&options);
    if (FAILED(hr))
        return hr;
    out = std::move(pDevice);
    return S_OK;
}

HRESULT RuntimeAdapter::close() {
    if (!m_opened || m_closed)
        return E_FAIL;
    m_closed = true;
    HRESULT hr = m_funcs.pfnCloseAdapter ? m_funcs.pfnCloseAdapter(m_hDriverAdapter) : E_FAIL;
    D3DKMT_CLOSEADAPTER closeKernel = {m_hKernelAdapter};
    KernelThunks::get().pfnCloseAdapter(&closeKernel);
    m_hKernelAdapter = 0;
    return hr;
}

} // namespace rt
} // namespace sim
