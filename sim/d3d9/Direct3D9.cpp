#include "Direct3D9.h"

#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/MachineDesc.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace simd3d9 {
namespace {

constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x8876086C);  // D3DERR_INVALIDCALL
constexpr HRESULT kNotAvailable = static_cast<HRESULT>(0x8876086A); // D3DERR_NOTAVAILABLE
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);  // E_NOINTERFACE
constexpr D3DDEVTYPE kHal = 1;

const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIidDirect3D9 = {
    0x81BDCBCA, 0x64D4, 0x426D, {0xAE, 0x8D, 0xAD, 0x01, 0x47, 0xF4, 0x27, 0x5C}};

std::atomic<int> s_liveObjects{0};

Direct3D9* self(IDirect3D9* object) {
    return reinterpret_cast<Direct3D9*>(object);
}

/// One adapter: a display output on the desktop and the GPU behind it.
struct Adapter {
    const sim::DisplayDeviceDesc* display;
    const sim::GpuDesc* gpu;
};

/// The adapters of the installed machine, the primary output first, then the other
/// attached outputs in the order the machine lists them.
struct Adapters {
    std::shared_ptr<const sim::MachineDesc> machine = sim::installedMachine();
    std::vector<Adapter> list;

    Adapters() {
        for (int pass = 0; pass < 2; ++pass)
            for (const sim::DisplayDeviceDesc& display : machine->displays) {
                bool wanted = pass == 0 ? display.primary() : !display.primary();
                if (wanted && display.attached() && !display.mirroring() && display.gpu >= 0)
                    list.push_back({&display, &machine->gpus[display.gpu]});
            }
    }

    const Adapter* at(UINT index) const { return index < list.size() ? &list[index] : nullptr; }
};

bool sameIid(REFIID a, const IID& b) {
    return memcmp(&a, &b, sizeof b) == 0;
}

/// The file version of a driver as d3d9.dll reads it: through version.dll's narrow
/// functions and the fixed part of the block. 0 when the file has no version.
LARGE_INTEGER driverVersion(const char* driverFileName) {
    LARGE_INTEGER version;
    version.QuadPart = 0;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(driverFileName, &handle);
    if (size == 0)
        return version;
    std::vector<uint8_t> block(size);
    if (!GetFileVersionInfoA(driverFileName, handle, size, block.data()))
        return version;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), u"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
        length >= sizeof *fixed) {
        version.QuadPart =
            static_cast<LONGLONG>(uint64_t(fixed->dwFileVersionMS) << 32 | fixed->dwFileVersionLS);
    }
    return version;
}

HRESULT WINAPI QueryInterface(IDirect3D9* object, REFIID iid, void** result) {
    if (!result)
        return kInvalidCall;
    if (!sameIid(iid, kIidUnknown) && !sameIid(iid, kIidDirect3D9)) {
        *result = nullptr;
        return kNoInterface;
    }
    ++self(object)->references;
    *result = object;
    return S_OK;
}

ULONG WINAPI AddRef(IDirect3D9* object) {
    return ++self(object)->references;
}

ULONG WINAPI Release(IDirect3D9* object) {
    ULONG left = --self(object)->references;
    if (left == 0)
        delete self(object);
    return left;
}

HRESULT WINAPI RegisterSoftwareDevice(IDirect3D9*, void* initialize) {
    return initialize ? S_OK : kInvalidCall;
}

UINT WINAPI GetAdapterCount(IDirect3D9*) {
    return static_cast<UINT>(Adapters().list.size());
}

HRESULT WINAPI GetAdapterIdentifier(IDirect3D9*, UINT index, DWORD,
                                    D3DADAPTER_IDENTIFIER9* identifier) {
    Adapters adapters;
    const Adapter* adapter = adapters.at(index);
    if (!adapter || !identifier)
        return kInvalidCall;
    memset(identifier, 0, sizeof *identifier);
    const sim::GpuDesc& gpu = *adapter->gpu;
    snprintf(identifier->Driver, sizeof identifier->Driver, "%s", gpu.umdFileName.c_str());
    snprintf(identifier->Description, sizeof identifier->Description, "%s", gpu.name.c_str());
    snprintf(identifier->DeviceName, sizeof identifier->DeviceName, "%s",
             adapter->display->deviceName.c_str());
    identifier->DriverVersion = driverVersion(identifier->Driver);
    identifier->VendorId = gpu.vendorId;
    identifier->DeviceId = gpu.deviceId;
    identifier->SubSysId = gpu.subsysId;
    identifier->Revision = gpu.revision;
    identifier->DeviceIdentifier.Data1 = gpu.vendorId << 16 | gpu.deviceId;
    return S_OK;
}

/// The display modes of an adapter's GPU in one format.
std::vector<sim::DisplayMode> modesOf(const Adapter& adapter, D3DFORMAT format) {
    std::vector<sim::DisplayMode> modes;
    for (const sim::DisplayMode& mode : adapter.gpu->modes)
        if (mode.format == format)
            modes.push_back(mode);
    return modes;
}

UINT WINAPI GetAdapterModeCount(IDirect3D9*, UINT index, D3DFORMAT format) {
    Adapters adapters;
    const Adapter* adapter = adapters.at(index);
    return adapter ? static_cast<UINT>(modesOf(*adapter, format).size()) : 0;
}

void fill(D3DDISPLAYMODE& out, const sim::DisplayMode& mode) {
    out.Width = mode.width;
    out.Height = mode.height;
    out.RefreshRate = mode.refreshRate;
    out.Format = mode.format;
}

HRESULT WINAPI EnumAdapterModes(IDirect3D9*, UINT index, D3DFORMAT format, UINT number,
                                D3DDISPLAYMODE* mode) {
    Adapters adapters;
    const Adapter* adapter = adapters.at(index);
    if (!adapter || !mode)
        return kInvalidCall;
    std::vector<sim::DisplayMode> modes = modesOf(*adapter, format);
    if (number >= modes.size())
        return kInvalidCall;
    fill(*mode, modes[number]);
    return S_OK;
}

HRESULT WINAPI GetAdapterDisplayMode(IDirect3D9*, UINT index, D3DDISPLAYMODE* mode) {
    Adapters adapters;
    const Adapter* adapter = adapters.at(index);
    if (!adapter || !mode)
        return kInvalidCall;
    fill(*mode, adapter->display->currentMode);
    return S_OK;
}

/// The checks below answer for the hardware device of an existing adapter only; what a
/// device can do is the simulated drivers' business, reached through the runtime.
HRESULT checkHal(UINT index, D3DDEVTYPE type) {
    if (!Adapters().at(index))
        return kInvalidCall;
    return type == kHal ? S_OK : kNotAvailable;
}

HRESULT WINAPI CheckDeviceType(IDirect3D9*, UINT index, D3DDEVTYPE type, D3DFORMAT displayFormat,
                               D3DFORMAT, BOOL) {
    HRESULT hr = checkHal(index, type);
    if (hr != S_OK)
        return hr;
    return sim::formatBitsPerPixel(displayFormat) ? S_OK : kNotAvailable;
}

HRESULT WINAPI CheckDeviceFormat(IDirect3D9*, UINT index, D3DDEVTYPE type, D3DFORMAT, DWORD,
                                 D3DRESOURCETYPE, D3DFORMAT) {
    return checkHal(index, type);
}

HRESULT WINAPI CheckDeviceMultiSampleType(IDirect3D9*, UINT index, D3DDEVTYPE type, D3DFORMAT, BOOL,
                                          D3DMULTISAMPLE_TYPE samples, DWORD* qualityLevels) {
    Adapters adapters;
    const Adapter* adapter = adapters.at(index);
    if (!adapter)
        return kInvalidCall;
    if (qualityLevels)
        *qualityLevels = 0;
    if (type != kHal)
        return kNotAvailable;
    for (const sim::MultisampleMethod& method : adapter->gpu->multisampleMethods)
        if (method.numSamples == samples || (samples == 0 && method.numSamples == 1)) {
            if (qualityLevels)
                *qualityLevels = method.numQualityLevels;
            return S_OK;
        }
    return samples == 0 ? S_OK : kNotAvailable;
}

HRESULT WINAPI CheckDepthStencilMatch(IDirect3D9*, UINT index, D3DDEVTYPE type, D3DFORMAT,
                                      D3DFORMAT, D3DFORMAT) {
    return checkHal(index, type);
}

HRESULT WINAPI CheckDeviceFormatConversion(IDirect3D9*, UINT index, D3DDEVTYPE type, D3DFORMAT,
                                           D3DFORMAT) {
    return checkHal(index, type);
}

HRESULT WINAPI GetDeviceCaps(IDirect3D9*, UINT index, D3DDEVTYPE type, D3DCAPS9* caps) {
    // The capabilities come from the driver; this object opens none.
    HRESULT hr = checkHal(index, type);
    return hr == S_OK && caps ? kNotAvailable : kInvalidCall;
}

HMONITOR WINAPI GetAdapterMonitor(IDirect3D9*, UINT index) {
    // A distinct non-null handle per adapter.
    return Adapters().at(index) ? reinterpret_cast<HMONITOR>(uintptr_t(index) + 1) : nullptr;
}

HRESULT WINAPI CreateDevice(IDirect3D9*, UINT index, D3DDEVTYPE, HWND, DWORD,
                            D3DPRESENT_PARAMETERS*, struct IDirect3DDevice9** device) {
    // Devices are driven through the simulated runtime (sim/runtime), not through here.
    if (device)
        *device = nullptr;
    return Adapters().at(index) && device ? kNotAvailable : kInvalidCall;
}

const IDirect3D9Vtbl kTable = {
    QueryInterface,
    AddRef,
    Release,
    RegisterSoftwareDevice,
    GetAdapterCount,
    GetAdapterIdentifier,
    GetAdapterModeCount,
    EnumAdapterModes,
    GetAdapterDisplayMode,
    CheckDeviceType,
    CheckDeviceFormat,
    CheckDeviceMultiSampleType,
    CheckDepthStencilMatch,
    CheckDeviceFormatConversion,
    GetDeviceCaps,
    GetAdapterMonitor,
    CreateDevice,
};

} // namespace

Direct3D9::Direct3D9() : lpVtbl(&kTable) {
    ++s_liveObjects;
}

Direct3D9::~Direct3D9() {
    --s_liveObjects;
}

int Direct3D9::liveObjects() {
    return s_liveObjects;
}

} // namespace simd3d9
