#include "Imposer.h"

#include "Configuration.h"
#include "Direct3D9Forwarder.h"
#include "GpuEnumerator.h"
#include "PresentControls.h"
#include "Report.h"

#include "hook/Hook.h"
#include "platform/KernelThunks.h"
#include "platform/ModuleImage.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>

namespace {

using EnumDisplayDevicesWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, PDISPLAY_DEVICEW, DWORD);
using EnumDisplayDevicesAFn = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
using NvApiQueryInterfaceFn = void* (*)(unsigned int);
// NVIDIA's entries take their arguments in registers; forwarding four pointer-sized ones
// passes on whatever the caller gave, however many that was.
using CudaEnumComputeCapableGpusFn = int (*)(void*, void*, void*, void*);
using NvCplApiGetDriverLoadedStateFn = int(WINAPI*)();
using OpenAdapterFromHdcFn = NTSTATUS(APIENTRY*)(D3DKMT_OPENADAPTERFROMHDC*);
using PresentFn = NTSTATUS(APIENTRY*)(D3DKMT_PRESENT*);
using Direct3DCreate9Fn = IDirect3D9*(WINAPI*)(UINT);
using GetFileVersionInfoAFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using GetFileVersionInfoSizeAFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);

// The real functions: after a successful hook, entries that run the real code.
EnumDisplayDevicesWFn s_realEnumDisplayDevicesW = nullptr;
EnumDisplayDevicesAFn s_realEnumDisplayDevicesA = nullptr;
NvApiQueryInterfaceFn s_realNvApiQueryInterface = nullptr;
CudaEnumComputeCapableGpusFn s_realCudaEnumComputeCapableGpus = nullptr;
NvCplApiGetDriverLoadedStateFn s_realNvCplApiGetDriverLoadedState = nullptr;
OpenAdapterFromHdcFn s_realOpenAdapterFromHdc = nullptr;
PresentFn s_realPresent = nullptr;
PFND3DKMT_QUERYADAPTERINFO s_realQueryAdapterInfo = nullptr;
Direct3DCreate9Fn s_realDirect3DCreate9 = nullptr;
GetFileVersionInfoAFn s_realGetFileVersionInfoA = nullptr;
GetFileVersionInfoWFn s_realGetFileVersionInfoW = nullptr;
GetFileVersionInfoSizeAFn s_realGetFileVersionInfoSizeA = nullptr;
GetFileVersionInfoSizeWFn s_realGetFileVersionInfoSizeW = nullptr;

std::atomic<bool> s_started{false};

/// Modules whose own display-device enumeration must see the real devices: this library,
/// its Direct3D 10 sibling, the loader, and NVIDIA's own libraries.
const char* const kExcludedModules[] = {"vessad3d9u.dll", "vessad3d10u.dll", "appini~1.dll",
                                        "nvapi.dll",      "nvcuda.dll",      "nvapi64.dll"};

constexpr DWORD kDisplayDeviceWSize = 840;
constexpr DWORD kDisplayDeviceASize = 424;
constexpr int kComputeCapableGpuField = 12; // byte offset of the field set to 11

const DeviceProp* record(int index) {
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    return enumerator && index < enumerator->getGpuNum() ? enumerator->m_pDevicePropArray[index]
                                                         : nullptr;
}

bool calledFromExcludedModule(const void* returnAddress) {
    for (const char* module : kExcludedModules)
        if (Imposer::isCalledFrom(returnAddress, module))
            return true;
    return false;
}

/// Record `index`'s Direct3D 9 user-mode driver file name; empty when it cannot be asked.
void driverFileName(int index, WCHAR (&name)[MAX_PATH]) {
    name[0] = 0;
    const DeviceProp* device = record(index);
    if (!device)
        return;
    D3DKMT_UMDFILENAMEINFO info;
    if (!GpuEnumerator::queryUmdFileName(device->displayDeviceW.DeviceKey, info))
        return;
    text::wcopy(name, MAX_PATH, info.UmdFileName);
}

// ---- Replacements ------------------------------------------------------------------------
// Each takes its own return address first: the caller test needs the instruction after the
// call in the caller, before anything else is called.

/// Puts the rendering GPU's name and id into a display device the system filled, unless
/// the structure is too short or the caller is one of the excluded modules.
template <class Info>
BOOL withRenderingGpu(BOOL result, Info* info, DWORD minimumSize, const void* caller,
                      Info DeviceProp::*recordField) {
    // A failed call filled nothing, so there is nothing to correct.
    if (!result || !info || info->cb < minimumSize || calledFromExcludedModule(caller))
        return result;
    if (const DeviceProp* rendering = record(1)) {
        const Info& source = rendering->*recordField;
        memcpy(info->DeviceID, source.DeviceID, sizeof info->DeviceID);
        memcpy(info->DeviceString, source.DeviceString, sizeof info->DeviceString);
    }
    return result;
}

BOOL WINAPI enumDisplayDevicesW(LPCWSTR device, DWORD index, PDISPLAY_DEVICEW info, DWORD flags) {
    const void* caller = __builtin_return_address(0);
    BOOL result = s_realEnumDisplayDevicesW(device, index, info, flags);
    return withRenderingGpu(result, info, kDisplayDeviceWSize, caller, &DeviceProp::displayDeviceW);
}

BOOL WINAPI enumDisplayDevicesA(LPCSTR device, DWORD index, PDISPLAY_DEVICEA info, DWORD flags) {
    const void* caller = __builtin_return_address(0);
    BOOL result = s_realEnumDisplayDevicesA(device, index, info, flags);
    return withRenderingGpu(result, info, kDisplayDeviceASize, caller, &DeviceProp::displayDeviceA);
}

int cudaEnumComputeCapableGpus(void* gpus, void* b, void* c, void* d) {
    int status = s_realCudaEnumComputeCapableGpus(gpus, b, c, d);
    // Only a successful answer into a real structure is corrected.
    if (status == 0 && gpus) {
        int32_t capable = 11;
        memcpy(static_cast<char*>(gpus) + kComputeCapableGpuField, &capable, sizeof capable);
    }
    return status;
}

void* nvApiQueryInterface(unsigned int id) {
    if (id == Imposer::kCudaEnumComputeCapableGpusId)
        // No real entry, no replacement: a caller must see that the interface is missing.
        return s_realCudaEnumComputeCapableGpus
                   ? reinterpret_cast<void*>(&cudaEnumComputeCapableGpus)
                   : nullptr;
    return s_realNvApiQueryInterface(id);
}

int WINAPI nvCplApiGetDriverLoadedState() {
    return 0;
}

NTSTATUS APIENTRY openAdapterFromHdc(D3DKMT_OPENADAPTERFROMHDC* args) {
    const void* caller = __builtin_return_address(0);
    NTSTATUS status = s_realOpenAdapterFromHdc(args);
    if (!NT_SUCCESS(status) || !args || !Imposer::isCalledFrom(caller, "ddraw.dll"))
        return status;
    const DeviceProp* display = record(0);
    const DeviceProp* rendering = record(1);
    if (!display || !rendering ||
        !GpuEnumerator::isSameAdapter(display->displayDeviceW.DeviceKey, args->hAdapter))
        return status;
    D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
    if (!NT_SUCCESS(GpuEnumerator::openAdapterFromKey(rendering->displayDeviceW.DeviceKey, &open)))
        return status;
    // The caller gets the rendering GPU's adapter in place of the display's; it will close
    // only the one it got, so the display's is closed here.
    D3DKMT_CLOSEADAPTER close = {};
    close.hAdapter = args->hAdapter;
    KernelThunks::get().pfnCloseAdapter(&close);
    args->hAdapter = open.hAdapter;
    args->AdapterLuid = open.AdapterLuid;
    return status;
}

NTSTATUS APIENTRY present(D3DKMT_PRESENT* args) {
    if (!PresentControls::performPresent())
        return 0; // STATUS_SUCCESS: frame pacing repeats this frame without showing it again
    if (PresentControls::forceInterval() && args)
        args->FlipInterval = static_cast<D3DDDI_FLIPINTERVAL_TYPE>(PresentControls::flipInterval());
    return s_realPresent(args);
}

IDirect3D9* WINAPI direct3DCreate9(UINT sdkVersion) {
    IDirect3D9* real = s_realDirect3DCreate9(sdkVersion);
    if (!real)
        return nullptr; // nothing to forward to
    WCHAR wideName[MAX_PATH];
    driverFileName(1, wideName);
    std::string name;
    try {
        name = text::narrow(wideName);
    } catch (const std::bad_alloc&) {
        // The name then stays empty; the forwarder below is what matters.
    }
    IDirect3D9* forwarder = Direct3D9Forwarder::create(real, name.c_str());
    if (!forwarder)
        d3d9Table(real)->Release(real); // the caller never sees it, so it is released here
    return forwarder;
}

/// The conditions under which d3d9.dll's version queries read the rendering GPU's driver:
/// called from d3d9.dll about the primary GPU's driver, and the rendering GPU's is known.
bool asksAboutPrimaryDriver(const void* caller, LPCSTR fileName,
                            WCHAR (&renderingDriver)[MAX_PATH]) {
    if (!fileName || !Imposer::isCalledFrom(caller, "d3d9.dll") || !Imposer::isPrimaryUmd(fileName))
        return false;
    driverFileName(1, renderingDriver);
    return renderingDriver[0] != 0;
}

DWORD WINAPI getFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
    const void* caller = __builtin_return_address(0);
    DWORD size = s_realGetFileVersionInfoSizeA(fileName, handle);
    WCHAR renderingDriver[MAX_PATH];
    if (!asksAboutPrimaryDriver(caller, fileName, renderingDriver))
        return size;
    DWORD renderingSize = s_realGetFileVersionInfoSizeW(renderingDriver, handle);
    return static_cast<DWORD>(
        std::max(static_cast<int32_t>(size), static_cast<int32_t>(renderingSize)));
}

BOOL WINAPI getFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD length, LPVOID data) {
    const void* caller = __builtin_return_address(0);
    BOOL result = s_realGetFileVersionInfoA(fileName, handle, length, data);
    WCHAR renderingDriver[MAX_PATH];
    if (asksAboutPrimaryDriver(caller, fileName, renderingDriver))
        s_realGetFileVersionInfoW(renderingDriver, handle, length, data);
    return result;
}

// ---- Installation ------------------------------------------------------------------------

template <class Function> Function resolve(HMODULE module, const char* name) {
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

/// Hooks `name` of `module` into `real`; false (real left null) when it is missing or the
/// engine refuses it.
template <class Function>
bool hookExport(HMODULE module, const char* name, Function& real, Function replacement) {
    real = resolve<Function>(module, name);
    if (real && hook::setHook(&real, replacement))
        return true;
    real = nullptr;
    return false;
}

void hookUser32() {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (!user32) {
        VESSA_REPORT(Warning, 11121, "user32 != NULL", "Cannot get handle to user32.dll");
        return;
    }
    if (!hookExport(user32, "EnumDisplayDevicesW", s_realEnumDisplayDevicesW, enumDisplayDevicesW))
        VESSA_REPORT(Error, 11156, "res", "Failed to Hook dEnumDisplayDevicesW ");
    if (!hookExport(user32, "EnumDisplayDevicesA", s_realEnumDisplayDevicesA, enumDisplayDevicesA))
        VESSA_REPORT(Error, 11157, "res", "Failed to Hook dEnumDisplayDevicesA");
}

void hookNvApi() {
    HMODULE nvapi = LoadLibraryA("nvapi.dll");
    if (!nvapi) {
        VESSA_REPORT(Warning, 11122, "nvapi != NULL", "Cannot load library nvapi.dll");
        return;
    }
    s_realNvApiQueryInterface = resolve<NvApiQueryInterfaceFn>(nvapi, "nvapi_QueryInterface");
    if (s_realNvApiQueryInterface)
        s_realCudaEnumComputeCapableGpus = reinterpret_cast<CudaEnumComputeCapableGpusFn>(
            s_realNvApiQueryInterface(Imposer::kCudaEnumComputeCapableGpusId));
    if (!s_realNvApiQueryInterface ||
        !hook::setHook(&s_realNvApiQueryInterface, nvApiQueryInterface))
        VESSA_REPORT(Error, 11158, "res", "Failed to Hook CudaEnumComputeCapableGpus");
}

void hookNvCpl() {
    HMODULE nvcpl = LoadLibraryA("nvcpl.dll");
    if (!nvcpl) {
        VESSA_REPORT(Warning, 11122, "nvcpl != NULL", "Cannot load library nvcpl.dll");
        return;
    }
    if (!hookExport(nvcpl, "NvCplApiGetDriverLoadedState", s_realNvCplApiGetDriverLoadedState,
                    nvCplApiGetDriverLoadedState))
        VESSA_REPORT(Error, 11158, "res", "Failed to Hook NvCplApiGetDriverLoadedState");
}

void hookGdi32AndDirect3D() {
    HMODULE gdi32 = GetModuleHandleA("gdi32.dll");
    if (!gdi32) {
        VESSA_REPORT(Warning, 11123, "gdi32 != NULL", "Cannot get handle to gdi32.dll");
        return;
    }
    if (!hookExport(gdi32, "D3DKMTOpenAdapterFromHdc", s_realOpenAdapterFromHdc,
                    openAdapterFromHdc))
        VESSA_REPORT(Error, 11159, "res", "Failed to Hook D3DKMTOpenAdapterFromHdc");
    if (!hookExport(gdi32, "D3DKMTPresent", s_realPresent, present))
        VESSA_REPORT(Error, 11159, "res", "Failed to Hook D3DKMTPresent");
    s_realQueryAdapterInfo = resolve<PFND3DKMT_QUERYADAPTERINFO>(gdi32, "D3DKMTQueryAdapterInfo");

    HMODULE d3d9 = GetModuleHandleA("d3d9.dll");
    if (!d3d9)
        d3d9 = LoadLibraryA("d3d9.dll");
    if (!hookExport(d3d9, "Direct3DCreate9", s_realDirect3DCreate9, direct3DCreate9))
        VESSA_REPORT(Error, 11160, "res", "Failed to Hook Direct3DCreate9");
}

void hookVersion() {
    HMODULE version = GetModuleHandleA("VERSION.dll");
    if (!version) {
        VESSA_REPORT(Warning, 11124, "version != NULL", "Cannot get handle to VERSION.dll");
        return;
    }
    s_realGetFileVersionInfoW = resolve<GetFileVersionInfoWFn>(version, "GetFileVersionInfoW");
    s_realGetFileVersionInfoSizeW =
        resolve<GetFileVersionInfoSizeWFn>(version, "GetFileVersionInfoSizeW");
    // The replacements read the wide versions; without them they would call through null.
    bool wide = s_realGetFileVersionInfoW && s_realGetFileVersionInfoSizeW;
    if (!wide ||
        !hookExport(version, "GetFileVersionInfoA", s_realGetFileVersionInfoA, getFileVersionInfoA))
        VESSA_REPORT(Error, 11161, "res", "Failed to Hook nGetFileVersionInfoA");
    if (!wide || !hookExport(version, "GetFileVersionInfoSizeA", s_realGetFileVersionInfoSizeA,
                             getFileVersionInfoSizeA))
        VESSA_REPORT(Error, 11162, "res", "Failed to Hook GetFileVersionInfoSizeA");
}

} // namespace

void Imposer::handleEnumDisplayDevices() {
    if (s_started.exchange(true))
        return; // the replacements are in place already; hooking again would hook them
    Configuration* configuration = Configuration::getInstance();
    int32_t disabled =
        configuration
            ? configuration->getIntProperty(ConfigProperty::disable_handle_enum_display_devices)
            : 0;
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    int gpus = enumerator ? enumerator->getGpuConfiguration() : kGpuConfigNone;
    if (disabled == 1 || (gpus != kGpuConfigIntelNv && gpus != kGpuConfigIntelAti)) {
        VESSA_REPORT(Warning, 11153, "disabled != 1 && intel is primary",
                     "Imposer is disabled! either intel is not primary, or enumDisplayDevice "
                     "handling is disabled");
        return;
    }
    hookUser32();
    hookNvApi();
    hookNvCpl();
    hookGdi32AndDirect3D();
    hookVersion();
}

bool Imposer::isAddressInModule(const void* address, size_t offset, size_t size, HMODULE module) {
    if (!module)
        return false;
    if (size == 0)
        size = platform::moduleImageSize(module); // 0 when the headers give none
    uintptr_t begin = reinterpret_cast<uintptr_t>(module) + offset;
    uintptr_t at = reinterpret_cast<uintptr_t>(address);
    return at >= begin && at <= begin + size;
}

bool Imposer::isCalledFrom(const void* returnAddress, const char* moduleName) {
    HMODULE module = GetModuleHandleA(moduleName);
    return module && isAddressInModule(returnAddress, 0, 0, module);
}

bool Imposer::isPrimaryUmd(const char* fileName) {
    if (!fileName)
        return false;
    WCHAR primaryDriver[MAX_PATH];
    driverFileName(0, primaryDriver);
    HMODULE module = GetModuleHandleA(fileName);
    return module && primaryDriver[0] && module == GetModuleHandleW(primaryDriver);
}

VESSA_EXPORT void handleEnumDisplayDevices() {
    Imposer::handleEnumDisplayDevices();
}
