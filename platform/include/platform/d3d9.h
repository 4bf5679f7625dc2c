// IDirect3D9 on both builds, reached through its table of operations: MinGW's <d3d9.h>
// declares the interface as a C++ class on Windows, the simulated machine declares only
// its types; the table below has the layout both share (the object's first word points
// to 17 operations in the interface's order, each taking the object first).
#pragma once

#include "platform/win.h"

#ifdef _WIN32
#include <d3d9.h>
#else
#include "platform/sim/d3d9_api.h"
#endif

/// IDirect3D9's operations in their table order.
struct IDirect3D9Vtbl {
    HRESULT(WINAPI* QueryInterface)(IDirect3D9* This, REFIID riid, void** ppvObject);
    ULONG(WINAPI* AddRef)(IDirect3D9* This);
    ULONG(WINAPI* Release)(IDirect3D9* This);
    HRESULT(WINAPI* RegisterSoftwareDevice)(IDirect3D9* This, void* pInitializeFunction);
    UINT(WINAPI* GetAdapterCount)(IDirect3D9* This);
    HRESULT(WINAPI* GetAdapterIdentifier)
    (IDirect3D9* This, UINT Adapter, DWORD Flags, D3DADAPTER_IDENTIFIER9* pIdentifier);
    UINT(WINAPI* GetAdapterModeCount)(IDirect3D9* This, UINT Adapter, D3DFORMAT Format);
    HRESULT(WINAPI* EnumAdapterModes)
    (IDirect3D9* This, UINT Adapter, D3DFORMAT Format, UINT Mode, D3DDISPLAYMODE* pMode);
    HRESULT(WINAPI* GetAdapterDisplayMode)(IDirect3D9* This, UINT Adapter, D3DDISPLAYMODE* pMode);
    HRESULT(WINAPI* CheckDeviceType)
    (IDirect3D9* This, UINT iAdapter, D3DDEVTYPE DevType, D3DFORMAT DisplayFormat,
     D3DFORMAT BackBufferFormat, BOOL bWindowed);
    HRESULT(WINAPI* CheckDeviceFormat)
    (IDirect3D9* This, UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
     D3DRESOURCETYPE RType, D3DFORMAT CheckFormat);
    HRESULT(WINAPI* CheckDeviceMultiSampleType)
    (IDirect3D9* This, UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat, BOOL Windowed,
     D3DMULTISAMPLE_TYPE MultiSampleType, DWORD* pQualityLevels);
    HRESULT(WINAPI* CheckDepthStencilMatch)
    (IDirect3D9* This, UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
     D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat);
    HRESULT(WINAPI* CheckDeviceFormatConversion)
    (IDirect3D9* This, UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SourceFormat,
     D3DFORMAT TargetFormat);
    HRESULT(WINAPI* GetDeviceCaps)
    (IDirect3D9* This, UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps);
    HMONITOR(WINAPI* GetAdapterMonitor)(IDirect3D9* This, UINT Adapter);
    HRESULT(WINAPI* CreateDevice)
    (IDirect3D9* This, UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
     D3DPRESENT_PARAMETERS* pPresentationParameters,
     struct IDirect3DDevice9** ppReturnedDeviceInterface);
};
static_assert(sizeof(IDirect3D9Vtbl) == 17 * sizeof(void*), "IDirect3D9 has 17 operations");
static_assert(sizeof(D3DADAPTER_IDENTIFIER9::Driver) == 512,
              "the identifier's Driver is 512 characters");

/// The operations of an IDirect3D9 object.
inline const IDirect3D9Vtbl* d3d9Table(IDirect3D9* object) {
    return *reinterpret_cast<const IDirect3D9Vtbl* const*>(object);
}
