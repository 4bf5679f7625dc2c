// The types of IDirect3D9's operations as the simulated machine declares them, laid out as
// the Windows headers lay them out. Structures the system never looks into stay incomplete.
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

struct _D3DCAPS9;
typedef struct _D3DCAPS9 D3DCAPS9;
struct _D3DPRESENT_PARAMETERS_;
typedef struct _D3DPRESENT_PARAMETERS_ D3DPRESENT_PARAMETERS;
struct IDirect3DDevice9;

/// Reached only through pointers, its operations through d3d9Table (platform/d3d9.h).
struct IDirect3D9;
