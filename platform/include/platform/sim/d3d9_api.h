// IDirect3D9 as the simulated machine declares it: the layout of the Windows headers' C
// form (a table of 17 operations behind lpVtbl, in the interface's order), with the few
// types its operations name. Structures the system never looks into stay incomplete.
#pragma once

#include "platform/sim/win32_api.h"

#ifndef VESSA_SIM_GUID_DEFINED
#define VESSA_SIM_GUID_DEFINED
typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID, IID;
#endif
typedef const IID& REFIID;

#define D3D_SDK_VERSION 32
#define MAX_DEVICE_IDENTIFIER_STRING 512

typedef UINT D3DDEVTYPE;
typedef UINT D3DRESOURCETYPE;
typedef UINT D3DMULTISAMPLE_TYPE;
typedef UINT D3DFORMAT;

typedef struct _D3DDISPLAYMODE {
    UINT Width;
    UINT Height;
    UINT RefreshRate;
    D3DFORMAT Format;
} D3DDISPLAYMODE;

// The Direct3D 9 headers pack their structures on 4 bytes.
#pragma pack(push, 4)
typedef struct _D3DADAPTER_IDENTIFIER9 {
    char Driver[MAX_DEVICE_IDENTIFIER_STRING];
    char Description[MAX_DEVICE_IDENTIFIER_STRING];
    char DeviceName[32];
    LARGE_INTEGER DriverVersion;
    DWORD VendorId;
    DWORD DeviceId;
    DWORD SubSysId;
    DWORD Revision;
    GUID DeviceIdentifier;
    DWORD WHQLLevel;
} D3DADAPTER_IDENTIFIER9;
#pragma pack(pop)

struct _D3DCAPS9;
typedef struct _D3DCAPS9 D3DCAPS9;
struct _D3DPRESENT_PARAMETERS_;
typedef struct _D3DPRESENT_PARAMETERS_ D3DPRESENT_PARAMETERS;
struct IDirect3DDevice9;

struct IDirect3D9;
typedef struct IDirect3D9Vtbl {
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
} IDirect3D9Vtbl;

struct IDirect3D9 {
    const IDirect3D9Vtbl* lpVtbl;
};

#ifdef __cplusplus
static_assert(sizeof(D3DADAPTER_IDENTIFIER9) == 1100, "D3DADAPTER_IDENTIFIER9 is 1100 bytes");
static_assert(sizeof(IDirect3D9Vtbl) == 17 * sizeof(void*), "IDirect3D9 has 17 operations");
#endif
