#include "Direct3D9Forwarder.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

IDirect3D9* realOf(IDirect3D9* self) {
    return reinterpret_cast<Direct3D9Forwarder*>(self)->m_pReal;
}

HRESULT WINAPI QueryInterface(IDirect3D9* self, REFIID riid, void** object) {
    return d3d9Table(realOf(self))->QueryInterface(realOf(self), riid, object);
}

ULONG WINAPI AddRef(IDirect3D9* self) {
    return d3d9Table(realOf(self))->AddRef(realOf(self));
}

ULONG WINAPI Release(IDirect3D9* self) {
    ULONG left = d3d9Table(realOf(self))->Release(realOf(self));
    // With the real object's last reference gone no caller may use this interface either;
    // it was handed out by Direct3DCreate9 from the heap (Direct3D9Forwarder::create).
    if (left == 0)
        delete reinterpret_cast<Direct3D9Forwarder*>(self);
    return left;
}

HRESULT WINAPI RegisterSoftwareDevice(IDirect3D9* self, void* initialize) {
    return d3d9Table(realOf(self))->RegisterSoftwareDevice(realOf(self), initialize);
}

UINT WINAPI GetAdapterCount(IDirect3D9* self) {
    return d3d9Table(realOf(self))->GetAdapterCount(realOf(self));
}

HRESULT WINAPI GetAdapterIdentifier(IDirect3D9* self, UINT adapter, DWORD flags,
                                    D3DADAPTER_IDENTIFIER9* identifier) {
    HRESULT hr =
        d3d9Table(realOf(self))->GetAdapterIdentifier(realOf(self), adapter, flags, identifier);
    // Only a filled identifier is corrected: after a failure it may be no identifier at all.
    if (hr >= 0 && identifier)
        snprintf(identifier->Driver, sizeof identifier->Driver, "%s",
                 reinterpret_cast<Direct3D9Forwarder*>(self)->m_driverName);
    return hr;
}

UINT WINAPI GetAdapterModeCount(IDirect3D9* self, UINT adapter, D3DFORMAT format) {
    return d3d9Table(realOf(self))->GetAdapterModeCount(realOf(self), adapter, format);
}

HRESULT WINAPI EnumAdapterModes(IDirect3D9* self, UINT adapter, D3DFORMAT format, UINT mode,
                                D3DDISPLAYMODE* displayMode) {
    return d3d9Table(realOf(self))
        ->EnumAdapterModes(realOf(self), adapter, format, mode, displayMode);
}

HRESULT WINAPI GetAdapterDisplayMode(IDirect3D9* self, UINT adapter, D3DDISPLAYMODE* mode) {
    return d3d9Table(realOf(self))->GetAdapterDisplayMode(realOf(self), adapter, mode);
}

HRESULT WINAPI CheckDeviceType(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                               D3DFORMAT displayFormat, D3DFORMAT backBufferFormat, BOOL windowed) {
    return d3d9Table(realOf(self))
        ->CheckDeviceType(realOf(self), adapter, type, displayFormat, backBufferFormat, windowed);
}

HRESULT WINAPI CheckDeviceFormat(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                                 D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE resourceType,
                                 D3DFORMAT checkFormat) {
    return d3d9Table(realOf(self))
        ->CheckDeviceFormat(realOf(self), adapter, type, adapterFormat, usage, resourceType,
                            checkFormat);
}

HRESULT WINAPI CheckDeviceMultiSampleType(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                                          D3DFORMAT surfaceFormat, BOOL windowed,
                                          D3DMULTISAMPLE_TYPE multiSampleType,
                                          DWORD* qualityLevels) {
    return d3d9Table(realOf(self))
        ->CheckDeviceMultiSampleType(realOf(self), adapter, type, surfaceFormat, windowed,
                                     multiSampleType, qualityLevels);
}

HRESULT WINAPI CheckDepthStencilMatch(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                                      D3DFORMAT adapterFormat, D3DFORMAT renderTargetFormat,
                                      D3DFORMAT depthStencilFormat) {
    return d3d9Table(realOf(self))
        ->CheckDepthStencilMatch(realOf(self), adapter, type, adapterFormat, renderTargetFormat,
                                 depthStencilFormat);
}

HRESULT WINAPI CheckDeviceFormatConversion(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                                           D3DFORMAT sourceFormat, D3DFORMAT targetFormat) {
    return d3d9Table(realOf(self))
        ->CheckDeviceFormatConversion(realOf(self), adapter, type, sourceFormat, targetFormat);
}

HRESULT WINAPI GetDeviceCaps(IDirect3D9* self, UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
    return d3d9Table(realOf(self))->GetDeviceCaps(realOf(self), adapter, type, caps);
}

HMONITOR WINAPI GetAdapterMonitor(IDirect3D9* self, UINT adapter) {
    return d3d9Table(realOf(self))->GetAdapterMonitor(realOf(self), adapter);
}

HRESULT WINAPI CreateDevice(IDirect3D9* self, UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                            DWORD behaviorFlags, D3DPRESENT_PARAMETERS* presentationParameters,
                            struct IDirect3DDevice9** device) {
    return d3d9Table(realOf(self))
        ->CreateDevice(realOf(self), adapter, type, focusWindow, behaviorFlags,
                       presentationParameters, device);
}

} // namespace

const IDirect3D9Vtbl Direct3D9Forwarder::s_vtable = {
    QueryInterface,              // 0
    AddRef,                      // 1
    Release,                     // 2
    RegisterSoftwareDevice,      // 3
    GetAdapterCount,             // 4
    GetAdapterIdentifier,        // 5
    GetAdapterModeCount,         // 6
    EnumAdapterModes,            // 7
    GetAdapterDisplayMode,       // 8
    CheckDeviceType,             // 9
    CheckDeviceFormat,           // 10
    CheckDeviceMultiSampleType,  // 11
    CheckDepthStencilMatch,      // 12
    CheckDeviceFormatConversion, // 13
    GetDeviceCaps,               // 14
    GetAdapterMonitor,           // 15
    CreateDevice,                // 16
};

IDirect3D9* Direct3D9Forwarder::create(IDirect3D9* real, const char* driverName) {
    auto* forwarder = new (std::nothrow) Direct3D9Forwarder(real, driverName);
    return forwarder ? forwarder->asInterface() : nullptr;
}

Direct3D9Forwarder::Direct3D9Forwarder(IDirect3D9* real, const char* driverName)
    : lpVtbl(&s_vtable), m_pReal(real) {
    snprintf(m_driverName, sizeof m_driverName, "%s", driverName ? driverName : "");
}
