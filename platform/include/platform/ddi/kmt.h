// Arguments of the kernel thunks (the D3DKMT* exports of gdi32.dll), x64 layouts, and the
// function-pointer types through which they are called.
//
// The thunks are never imported: they are resolved at run time (platform/KernelThunks.h), so
// this header declares no D3DKMT* function, only the PFND3DKMT_* pointer types.
#pragma once

#include "platform/ddi/shared_types.h"

// ---- Adapter opening -------------------------------------------------------------------------
struct D3DKMT_OPENADAPTERFROMDEVICENAME {
    PCWSTR pDeviceName;     // in: device-interface path
    D3DKMT_HANDLE hAdapter; // out
    LUID AdapterLuid;       // out
};
VESSA_DDI_SIZE(D3DKMT_OPENADAPTERFROMDEVICENAME, 24);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMDEVICENAME, hAdapter, 8);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMDEVICENAME, AdapterLuid, 12);

struct D3DKMT_OPENADAPTERFROMHDC {
    HDC hDc;
    D3DKMT_HANDLE hAdapter;
    LUID AdapterLuid;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
};
VESSA_DDI_SIZE(D3DKMT_OPENADAPTERFROMHDC, 24);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMHDC, hAdapter, 8);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMHDC, AdapterLuid, 12);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMHDC, VidPnSourceId, 20);

struct D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME {
    WCHAR DeviceName[32]; // in: e.g. \\.\DISPLAY1
    D3DKMT_HANDLE hAdapter;
    LUID AdapterLuid;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
};
VESSA_DDI_SIZE(D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME, 80);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME, hAdapter, 64);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME, AdapterLuid, 68);
VESSA_DDI_OFFSET(D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME, VidPnSourceId, 76);

struct D3DKMT_CLOSEADAPTER {
    D3DKMT_HANDLE hAdapter;
};
VESSA_DDI_SIZE(D3DKMT_CLOSEADAPTER, 4);

// ---- Adapter queries ---------------------------------------------------------------------------
enum KMTQUERYADAPTERINFOTYPE {
    KMTQAITYPE_UMDRIVERPRIVATE = 0,
    KMTQAITYPE_UMDRIVERNAME = 1,
    KMTQAITYPE_UMOPENGLINFO = 2,
    KMTQAITYPE_GETSEGMENTSIZE = 3,
    KMTQAITYPE_ADAPTERGUID = 4,
    KMTQAITYPE_FLIPQUEUEINFO = 5,
    KMTQAITYPE_ADAPTERADDRESS = 6,
    KMTQAITYPE_SETWORKINGSETINFO = 7,
    KMTQAITYPE_ADAPTERREGISTRYINFO = 8,
    KMTQAITYPE_CURRENTDISPLAYMODE = 9,
    KMTQAITYPE_MODELIST = 10,
    KMTQAITYPE_CHECKDRIVERUPDATESTATUS = 11,
    KMTQAITYPE_VIRTUALADDRESSINFO = 12,
    KMTQAITYPE_DRIVERVERSION = 13
};

struct D3DKMT_QUERYADAPTERINFO {
    D3DKMT_HANDLE hAdapter;
    KMTQUERYADAPTERINFOTYPE Type;
    void* pPrivateDriverData; // the kernel writes the answer here
    UINT PrivateDriverDataSize;
};
VESSA_DDI_SIZE(D3DKMT_QUERYADAPTERINFO, 24);
VESSA_DDI_OFFSET(D3DKMT_QUERYADAPTERINFO, Type, 4);
VESSA_DDI_OFFSET(D3DKMT_QUERYADAPTERINFO, pPrivateDriverData, 8);
VESSA_DDI_OFFSET(D3DKMT_QUERYADAPTERINFO, PrivateDriverDataSize, 16);

enum KMTUMDVERSION { KMTUMDVERSION_DX9 = 0, KMTUMDVERSION_DX10 = 1, KMTUMDVERSION_DX11 = 2 };

// Answer to KMTQAITYPE_UMDRIVERNAME: the user-mode driver file of one API version.
struct D3DKMT_UMDFILENAMEINFO {
    KMTUMDVERSION Version;       // in
    WCHAR UmdFileName[MAX_PATH]; // out
};
VESSA_DDI_SIZE(D3DKMT_UMDFILENAMEINFO, 524);
VESSA_DDI_OFFSET(D3DKMT_UMDFILENAMEINFO, UmdFileName, 4);

// Answer to KMTQAITYPE_ADAPTERADDRESS: the adapter's PCI location.
struct D3DKMT_ADAPTERADDRESS {
    UINT BusNumber;
    UINT DeviceNumber;
    UINT FunctionNumber;
};
VESSA_DDI_SIZE(D3DKMT_ADAPTERADDRESS, 12);

// Answer to KMTQAITYPE_GETSEGMENTSIZE.
struct D3DKMT_SEGMENTSIZEINFO {
    ULONGLONG DedicatedVideoMemorySize;
    ULONGLONG DedicatedSystemMemorySize;
    ULONGLONG SharedSystemMemorySize;
};
VESSA_DDI_SIZE(D3DKMT_SEGMENTSIZEINFO, 24);

// Answer to KMTQAITYPE_ADAPTERREGISTRYINFO.
struct D3DKMT_ADAPTERREGISTRYINFO {
    WCHAR AdapterString[MAX_PATH];
    WCHAR BiosString[MAX_PATH];
    WCHAR DacType[MAX_PATH];
    WCHAR ChipType[MAX_PATH];
};
VESSA_DDI_SIZE(D3DKMT_ADAPTERREGISTRYINFO, 2080);

// Answer to KMTQAITYPE_DRIVERVERSION.
enum D3DKMT_DRIVERVERSION {
    KMT_DRIVERVERSION_WDDM_1_0 = 1000,
    KMT_DRIVERVERSION_WDDM_1_1_PRERELEASE = 1102,
    KMT_DRIVERVERSION_WDDM_1_1 = 1105
};

// ---- Display modes -----------------------------------------------------------------------------
// Eight bytes of mixed-type bit-fields in the kernel's declaration: the first byte carries
// two flags (the next three are padding and may hold anything), the second word the pruning
// reason. Read the flags with `Flags & 0xFF`-style masks only.
struct D3DKMDT_DISPLAYMODE_FLAGS {
    UINT Flags;
    UINT Pruning;
    static constexpr UINT ValidatedAgainstMonitorCaps = 0x01; // in Flags
    static constexpr UINT RoundedFakeMode = 0x02;             // in Flags
    static constexpr UINT ModePruningReasonMask = 0x0F;       // in Pruning
};
VESSA_DDI_SIZE(D3DKMDT_DISPLAYMODE_FLAGS, 8);

struct D3DKMT_DISPLAYMODE {
    UINT Width;
    UINT Height;
    D3DDDIFORMAT Format;
    UINT IntegerRefreshRate;
    D3DDDI_RATIONAL RefreshRate;
    D3DDDI_VIDEO_SIGNAL_SCANLINE_ORDERING ScanLineOrdering;
    D3DDDI_ROTATION DisplayOrientation;
    UINT DisplayFixedOutput;
    D3DKMDT_DISPLAYMODE_FLAGS Flags;
};
VESSA_DDI_SIZE(D3DKMT_DISPLAYMODE, 44);
VESSA_DDI_OFFSET(D3DKMT_DISPLAYMODE, Format, 8);
VESSA_DDI_OFFSET(D3DKMT_DISPLAYMODE, RefreshRate, 16);
VESSA_DDI_OFFSET(D3DKMT_DISPLAYMODE, ScanLineOrdering, 24);
VESSA_DDI_OFFSET(D3DKMT_DISPLAYMODE, DisplayOrientation, 28);
VESSA_DDI_OFFSET(D3DKMT_DISPLAYMODE, DisplayFixedOutput, 32);
VESSA_DDI_OFFSET(D3DKMT_DISPLAYMODE, Flags, 36);

// Called with a null pModeList to learn ModeCount, then with an array of that many modes.
struct D3DKMT_GETDISPLAYMODELIST {
    D3DKMT_HANDLE hAdapter;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
    D3DKMT_DISPLAYMODE* pModeList;
    UINT ModeCount;
};
VESSA_DDI_SIZE(D3DKMT_GETDISPLAYMODELIST, 24);
VESSA_DDI_OFFSET(D3DKMT_GETDISPLAYMODELIST, pModeList, 8);
VESSA_DDI_OFFSET(D3DKMT_GETDISPLAYMODELIST, ModeCount, 16);

// ---- Multisample methods -----------------------------------------------------------------------
// Twelve bytes, where the driver-side D3DDDI_MULTISAMPLINGMETHOD has eight: convert element
// by element.
struct D3DKMT_MULTISAMPLEMETHOD {
    UINT NumSamples;
    UINT NumQualityLevels;
    UINT Reserved;
};
VESSA_DDI_SIZE(D3DKMT_MULTISAMPLEMETHOD, 12);

struct D3DKMT_GETMULTISAMPLEMETHODLIST {
    D3DKMT_HANDLE hAdapter;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
    UINT Width;
    UINT Height;
    D3DDDIFORMAT Format;
    D3DKMT_MULTISAMPLEMETHOD* pMethodList;
    UINT MethodCount;
};
VESSA_DDI_SIZE(D3DKMT_GETMULTISAMPLEMETHODLIST, 40);
VESSA_DDI_OFFSET(D3DKMT_GETMULTISAMPLEMETHODLIST, Format, 16);
VESSA_DDI_OFFSET(D3DKMT_GETMULTISAMPLEMETHODLIST, pMethodList, 24);
VESSA_DDI_OFFSET(D3DKMT_GETMULTISAMPLEMETHODLIST, MethodCount, 32);

// ---- Devices ------------------------------------------------------------------------------------
struct D3DKMT_CREATEDEVICEFLAGS {
    UINT Value;
    static constexpr UINT LegacyMode = 0x00000001;
    static constexpr UINT RequestVSync = 0x00000002;
};
VESSA_DDI_SIZE(D3DKMT_CREATEDEVICEFLAGS, 4);

struct D3DKMT_CREATEDEVICE {
    union {
        D3DKMT_HANDLE hAdapter; // user mode
        void* pAdapter;         // kernel mode; makes Flags start at 8
    };
    D3DKMT_CREATEDEVICEFLAGS Flags;
    D3DKMT_HANDLE hDevice; // out
    void* pCommandBuffer;  // out
    UINT CommandBufferSize;
    D3DDDI_ALLOCATIONLIST* pAllocationList; // out
    UINT AllocationListSize;
    D3DDDI_PATCHLOCATIONLIST* pPatchLocationList; // out
    UINT PatchLocationListSize;
};
VESSA_DDI_SIZE(D3DKMT_CREATEDEVICE, 64);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, Flags, 8);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, hDevice, 12);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, pCommandBuffer, 16);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, CommandBufferSize, 24);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, pAllocationList, 32);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, AllocationListSize, 40);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, pPatchLocationList, 48);
VESSA_DDI_OFFSET(D3DKMT_CREATEDEVICE, PatchLocationListSize, 56);

struct D3DKMT_DESTROYDEVICE {
    D3DKMT_HANDLE hDevice;
};
VESSA_DDI_SIZE(D3DKMT_DESTROYDEVICE, 4);

// ---- Allocations --------------------------------------------------------------------------------
struct D3DKMT_CREATEALLOCATIONFLAGS {
    UINT Value;
    static constexpr UINT CreateResource = 0x00000001;
    static constexpr UINT CreateShared = 0x00000002;
    static constexpr UINT NonSecure = 0x00000004;
    static constexpr UINT CreateProtected = 0x00000008; // kernel mode only
    static constexpr UINT RestrictSharedAccess = 0x00000010;
    static constexpr UINT ExistingSysMem = 0x00000020; // kernel mode only
};
VESSA_DDI_SIZE(D3DKMT_CREATEALLOCATIONFLAGS, 4);

struct D3DKMT_CREATEALLOCATION {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hResource; // out when Flags has CreateResource
    D3DKMT_HANDLE hGlobalShare;
    const void* pPrivateRuntimeData;
    UINT PrivateRuntimeDataSize;
    const void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
    UINT NumAllocations;
    union {
        D3DDDI_ALLOCATIONINFO* pAllocationInfo;
        D3DDDI_ALLOCATIONINFO2* pAllocationInfo2;
    };
    D3DKMT_CREATEALLOCATIONFLAGS Flags;
    HANDLE hPrivateRuntimeResourceHandle;
};
VESSA_DDI_SIZE(D3DKMT_CREATEALLOCATION, 72);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, hGlobalShare, 8);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, pPrivateRuntimeData, 16);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, PrivateRuntimeDataSize, 24);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, pPrivateDriverData, 32);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, PrivateDriverDataSize, 40);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, NumAllocations, 44);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, pAllocationInfo, 48);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, pAllocationInfo2, 48);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, Flags, 56);
VESSA_DDI_OFFSET(D3DKMT_CREATEALLOCATION, hPrivateRuntimeResourceHandle, 64);

struct D3DKMT_DESTROYALLOCATION {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hResource;
    const D3DKMT_HANDLE* phAllocationList;
    UINT AllocationCount;
};
VESSA_DDI_SIZE(D3DKMT_DESTROYALLOCATION, 24);
VESSA_DDI_OFFSET(D3DKMT_DESTROYALLOCATION, phAllocationList, 8);
VESSA_DDI_OFFSET(D3DKMT_DESTROYALLOCATION, AllocationCount, 16);

struct D3DKMT_SETALLOCATIONPRIORITY {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hResource;
    const D3DKMT_HANDLE* phAllocationList;
    UINT AllocationCount;
    const UINT* pPriorities;
};
VESSA_DDI_SIZE(D3DKMT_SETALLOCATIONPRIORITY, 32);
VESSA_DDI_OFFSET(D3DKMT_SETALLOCATIONPRIORITY, AllocationCount, 16);
VESSA_DDI_OFFSET(D3DKMT_SETALLOCATIONPRIORITY, pPriorities, 24);

enum D3DKMT_ALLOCATIONRESIDENCYSTATUS {
    D3DKMT_ALLOCATIONRESIDENCYSTATUS_RESIDENTINGPUMEMORY = 1,
    D3DKMT_ALLOCATIONRESIDENCYSTATUS_RESIDENTINSHAREDMEMORY = 2,
    D3DKMT_ALLOCATIONRESIDENCYSTATUS_NOTRESIDENT = 3
};

struct D3DKMT_QUERYALLOCATIONRESIDENCY {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hResource;
    const D3DKMT_HANDLE* phAllocationList;
    UINT AllocationCount;
    D3DKMT_ALLOCATIONRESIDENCYSTATUS* pResidencyStatus;
};
VESSA_DDI_SIZE(D3DKMT_QUERYALLOCATIONRESIDENCY, 32);
VESSA_DDI_OFFSET(D3DKMT_QUERYALLOCATIONRESIDENCY, AllocationCount, 16);
VESSA_DDI_OFFSET(D3DKMT_QUERYALLOCATIONRESIDENCY, pResidencyStatus, 24);

// ---- Command submission ------------------------------------------------------------------------
struct D3DKMT_RENDERFLAGS {
    UINT Value;
    static constexpr UINT ResizeCommandBuffer = 0x00000001;
    static constexpr UINT ResizeAllocationList = 0x00000002;
    static constexpr UINT ResizePatchLocationList = 0x00000004;
    static constexpr UINT NullRendering = 0x00000008;
    static constexpr UINT PresentRedirected = 0x00000010;
    static constexpr UINT RenderKm = 0x00000020;
};
VESSA_DDI_SIZE(D3DKMT_RENDERFLAGS, 4);

struct D3DKMT_RENDER {
    union {
        D3DKMT_HANDLE hDevice;
        D3DKMT_HANDLE hContext;
    };
    UINT CommandOffset;
    UINT CommandLength;
    UINT AllocationCount;
    UINT PatchLocationCount;
    void* pNewCommandBuffer; // out
    UINT NewCommandBufferSize;
    D3DDDI_ALLOCATIONLIST* pNewAllocationList; // out
    UINT NewAllocationListSize;
    D3DDDI_PATCHLOCATIONLIST* pNewPatchLocationList; // out
    UINT NewPatchLocationListSize;
    D3DKMT_RENDERFLAGS Flags;
    ULONGLONG PresentHistoryToken;
    ULONG BroadcastContextCount;
    D3DKMT_HANDLE BroadcastContext[D3DDDI_MAX_BROADCAST_CONTEXT];
    ULONG QueuedBufferCount; // out
    D3DGPU_VIRTUAL_ADDRESS NewCommandBuffer;
    void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
};
VESSA_DDI_SIZE(D3DKMT_RENDER, 368);
VESSA_DDI_OFFSET(D3DKMT_RENDER, CommandOffset, 4);
VESSA_DDI_OFFSET(D3DKMT_RENDER, PatchLocationCount, 16);
VESSA_DDI_OFFSET(D3DKMT_RENDER, pNewCommandBuffer, 24);
VESSA_DDI_OFFSET(D3DKMT_RENDER, NewCommandBufferSize, 32);
VESSA_DDI_OFFSET(D3DKMT_RENDER, pNewAllocationList, 40);
VESSA_DDI_OFFSET(D3DKMT_RENDER, NewAllocationListSize, 48);
VESSA_DDI_OFFSET(D3DKMT_RENDER, pNewPatchLocationList, 56);
VESSA_DDI_OFFSET(D3DKMT_RENDER, NewPatchLocationListSize, 64);
VESSA_DDI_OFFSET(D3DKMT_RENDER, Flags, 68);
VESSA_DDI_OFFSET(D3DKMT_RENDER, PresentHistoryToken, 72);
VESSA_DDI_OFFSET(D3DKMT_RENDER, BroadcastContextCount, 80);
VESSA_DDI_OFFSET(D3DKMT_RENDER, BroadcastContext, 84);
VESSA_DDI_OFFSET(D3DKMT_RENDER, QueuedBufferCount, 340);
VESSA_DDI_OFFSET(D3DKMT_RENDER, NewCommandBuffer, 344);
VESSA_DDI_OFFSET(D3DKMT_RENDER, pPrivateDriverData, 352);
VESSA_DDI_OFFSET(D3DKMT_RENDER, PrivateDriverDataSize, 360);

// ---- Lock and unlock ----------------------------------------------------------------------------
struct D3DKMT_LOCK {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hAllocation;
    UINT PrivateDriverData;
    UINT NumPages;
    const UINT* pPages;
    void* pData; // out
    D3DDDICB_LOCKFLAGS Flags;
    D3DGPU_VIRTUAL_ADDRESS GpuVirtualAddress;
};
VESSA_DDI_SIZE(D3DKMT_LOCK, 48);
VESSA_DDI_OFFSET(D3DKMT_LOCK, NumPages, 12);
VESSA_DDI_OFFSET(D3DKMT_LOCK, pPages, 16);
VESSA_DDI_OFFSET(D3DKMT_LOCK, pData, 24);
VESSA_DDI_OFFSET(D3DKMT_LOCK, Flags, 32);
VESSA_DDI_OFFSET(D3DKMT_LOCK, GpuVirtualAddress, 40);

struct D3DKMT_UNLOCK {
    D3DKMT_HANDLE hDevice;
    UINT NumAllocations;
    const D3DKMT_HANDLE* phAllocations;
};
VESSA_DDI_SIZE(D3DKMT_UNLOCK, 16);
VESSA_DDI_OFFSET(D3DKMT_UNLOCK, phAllocations, 8);

// ---- Escape -------------------------------------------------------------------------------------
enum D3DKMT_ESCAPETYPE {
    D3DKMT_ESCAPE_DRIVERPRIVATE = 0,
    D3DKMT_ESCAPE_VIDMM = 1,
    D3DKMT_ESCAPE_TDRDBGCTRL = 2,
    D3DKMT_ESCAPE_VIDSCH = 3,
    D3DKMT_ESCAPE_DEVICE = 4,
    D3DKMT_ESCAPE_DMM = 5,
    D3DKMT_ESCAPE_DEBUG_SNAPSHOT = 6,
    D3DKMT_ESCAPE_SETDRIVERUPDATESTATUS = 7,
    D3DKMT_ESCAPE_DRT_TEST = 8
};

struct D3DKMT_ESCAPE {
    D3DKMT_HANDLE hAdapter;
    D3DKMT_HANDLE hDevice;
    D3DKMT_ESCAPETYPE Type;
    D3DDDI_ESCAPEFLAGS Flags;
    void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
    D3DKMT_HANDLE hContext;
};
VESSA_DDI_SIZE(D3DKMT_ESCAPE, 32);
VESSA_DDI_OFFSET(D3DKMT_ESCAPE, Type, 8);
VESSA_DDI_OFFSET(D3DKMT_ESCAPE, Flags, 12);
VESSA_DDI_OFFSET(D3DKMT_ESCAPE, pPrivateDriverData, 16);
VESSA_DDI_OFFSET(D3DKMT_ESCAPE, PrivateDriverDataSize, 24);
VESSA_DDI_OFFSET(D3DKMT_ESCAPE, hContext, 28);

// ---- Contexts -----------------------------------------------------------------------------------
enum D3DKMT_CLIENTHINT {
    D3DKMT_CLIENTHINT_UNKNOWN = 0,
    D3DKMT_CLIENTHINT_OPENGL = 1,
    D3DKMT_CLIENTHINT_CDD = 2,
    D3DKMT_CLIENTHINT_DX7 = 7,
    D3DKMT_CLIENTHINT_DX8 = 8,
    D3DKMT_CLIENTHINT_DX9 = 9,
    D3DKMT_CLIENTHINT_DX10 = 10
};

struct D3DKMT_CREATECONTEXT {
    D3DKMT_HANDLE hDevice;
    UINT NodeOrdinal;
    UINT EngineAffinity;
    D3DDDI_CREATECONTEXTFLAGS Flags;
    void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
    D3DKMT_CLIENTHINT ClientHint;
    D3DKMT_HANDLE hContext;                       // out
    void* pCommandBuffer;                         // out
    UINT CommandBufferSize;                       // out
    D3DDDI_ALLOCATIONLIST* pAllocationList;       // out
    UINT AllocationListSize;                      // out
    D3DDDI_PATCHLOCATIONLIST* pPatchLocationList; // out
    UINT PatchLocationListSize;                   // out
    D3DGPU_VIRTUAL_ADDRESS CommandBuffer;
};
VESSA_DDI_SIZE(D3DKMT_CREATECONTEXT, 96);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, Flags, 12);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, pPrivateDriverData, 16);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, PrivateDriverDataSize, 24);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, ClientHint, 28);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, hContext, 32);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, pCommandBuffer, 40);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, CommandBufferSize, 48);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, pAllocationList, 56);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, AllocationListSize, 64);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, pPatchLocationList, 72);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, PatchLocationListSize, 80);
VESSA_DDI_OFFSET(D3DKMT_CREATECONTEXT, CommandBuffer, 88);

struct D3DKMT_DESTROYCONTEXT {
    D3DKMT_HANDLE hContext;
};
VESSA_DDI_SIZE(D3DKMT_DESTROYCONTEXT, 4);

// ---- Synchronisation objects --------------------------------------------------------------------
// The kernel forms carry a 4-byte context handle where the runtime callbacks' forms carry an 8-byte
// HANDLE, so their later members sit 4 bytes lower.
struct D3DKMT_CREATESYNCHRONIZATIONOBJECT {
    D3DKMT_HANDLE hDevice;
    D3DDDI_SYNCHRONIZATIONOBJECTINFO Info;
    D3DKMT_HANDLE hSyncObject; // out
};
VESSA_DDI_SIZE(D3DKMT_CREATESYNCHRONIZATIONOBJECT, 76);
VESSA_DDI_OFFSET(D3DKMT_CREATESYNCHRONIZATIONOBJECT, Info, 4);
VESSA_DDI_OFFSET(D3DKMT_CREATESYNCHRONIZATIONOBJECT, hSyncObject, 72);

struct D3DKMT_DESTROYSYNCHRONIZATIONOBJECT {
    D3DKMT_HANDLE hSyncObject;
};
VESSA_DDI_SIZE(D3DKMT_DESTROYSYNCHRONIZATIONOBJECT, 4);

struct D3DKMT_WAITFORSYNCHRONIZATIONOBJECT {
    D3DKMT_HANDLE hContext;
    UINT ObjectCount;
    D3DKMT_HANDLE ObjectHandleArray[D3DDDI_MAX_OBJECT_WAITED_ON];
};
VESSA_DDI_SIZE(D3DKMT_WAITFORSYNCHRONIZATIONOBJECT, 136);
VESSA_DDI_OFFSET(D3DKMT_WAITFORSYNCHRONIZATIONOBJECT, ObjectHandleArray, 8);

struct D3DKMT_SIGNALSYNCHRONIZATIONOBJECT {
    D3DKMT_HANDLE hContext;
    UINT ObjectCount;
    D3DKMT_HANDLE ObjectHandleArray[D3DDDI_MAX_OBJECT_SIGNALED];
    D3DDDICB_SIGNALFLAGS Flags;
};
VESSA_DDI_SIZE(D3DKMT_SIGNALSYNCHRONIZATIONOBJECT, 140);
VESSA_DDI_OFFSET(D3DKMT_SIGNALSYNCHRONIZATIONOBJECT, ObjectHandleArray, 8);
VESSA_DDI_OFFSET(D3DKMT_SIGNALSYNCHRONIZATIONOBJECT, Flags, 136);

// ---- Present -----------------------------------------------------------------------------------
struct D3DKMT_PRESENTFLAGS {
    UINT Value;
    static constexpr UINT Blt = 0x00000001;
    static constexpr UINT ColorFill = 0x00000002;
    static constexpr UINT Flip = 0x00000004;
    static constexpr UINT FlipDoNotFlip = 0x00000008;
    static constexpr UINT FlipDoNotWait = 0x00000010;
    static constexpr UINT FlipRestart = 0x00000020;
    static constexpr UINT DstRectValid = 0x00000040;
    static constexpr UINT SrcRectValid = 0x00000080;
    static constexpr UINT RestrictVidPnSource = 0x00000100;
    static constexpr UINT SrcColorKey = 0x00000200;
    static constexpr UINT DstColorKey = 0x00000400;
    static constexpr UINT LinearToSrgb = 0x00000800;
    static constexpr UINT PresentCountValid = 0x00001000;
    static constexpr UINT Rotate = 0x00002000;
    static constexpr UINT PresentToBitmap = 0x00004000;
    static constexpr UINT RedirectedFlip = 0x00008000;
    static constexpr UINT RedirectedBlt = 0x00010000;
};
VESSA_DDI_SIZE(D3DKMT_PRESENTFLAGS, 4);

enum D3DKMT_PRESENT_MODEL {
    D3DKMT_PM_UNINITIALIZED = 0,
    D3DKMT_PM_REDIRECTED_GDI = 1,
    D3DKMT_PM_REDIRECTED_FLIP = 2,
    D3DKMT_PM_REDIRECTED_BLT = 3,
    D3DKMT_PM_REDIRECTED_VISTABLT = 4,
    D3DKMT_PM_SCREENCAPTUREFENCE = 5,
    D3DKMT_PM_REDIRECTED_GDI_SYSMEM = 6
};

struct D3DKMT_DIRTYREGIONS {
    UINT NumRects;
    RECT Rects[16];
};
VESSA_DDI_SIZE(D3DKMT_DIRTYREGIONS, 260);

// The flip-model token, the largest member of the token union.
struct D3DKMT_FLIPMODEL_PRESENTHISTORYTOKEN {
    UINT64 FenceValue;
    ULONGLONG hLogicalSurface;
    UINT SwapChainIndex;
    UINT64 PresentLimitSemaphoreId;
    D3DDDI_FLIPINTERVAL_TYPE FlipInterval;
    UINT Flags;
    D3DKMT_DIRTYREGIONS DirtyRegions;
};
VESSA_DDI_SIZE(D3DKMT_FLIPMODEL_PRESENTHISTORYTOKEN, 304);
VESSA_DDI_OFFSET(D3DKMT_FLIPMODEL_PRESENTHISTORYTOKEN, PresentLimitSemaphoreId, 24);
VESSA_DDI_OFFSET(D3DKMT_FLIPMODEL_PRESENTHISTORYTOKEN, DirtyRegions, 40);

// History token of a redirected present. Only the flip-model and fence views are spelled
// out; the other models' tokens are smaller and reach the kernel as bytes.
struct D3DKMT_PRESENTHISTORYTOKEN {
    D3DKMT_PRESENT_MODEL Model;
    UINT TokenSize;
    union {
        D3DKMT_FLIPMODEL_PRESENTHISTORYTOKEN Flip;
        ULONGLONG VistaBlt;
        UINT64 FenceKey;
        BYTE Raw[304];
    } Token;
};
VESSA_DDI_SIZE(D3DKMT_PRESENTHISTORYTOKEN, 312);

// Members below offset 352 are the same in every version of this structure; code that edits
// a caller's present (e.g. its FlipInterval) touches only those and never copies it whole.
struct D3DKMT_PRESENT {
    union {
        D3DKMT_HANDLE hDevice;
        D3DKMT_HANDLE hContext;
    };
    HWND hWindow;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
    D3DKMT_HANDLE hSource;
    D3DKMT_HANDLE hDestination;
    UINT Color;
    RECT DstRect;
    RECT SrcRect;
    UINT SubRectCnt;
    const RECT* pSrcSubRects;
    UINT PresentCount;
    D3DDDI_FLIPINTERVAL_TYPE FlipInterval;
    D3DKMT_PRESENTFLAGS Flags;
    ULONG BroadcastContextCount;
    D3DKMT_HANDLE BroadcastContext[D3DDDI_MAX_BROADCAST_CONTEXT];
    HANDLE PresentLimitSemaphore;
    D3DKMT_PRESENTHISTORYTOKEN PresentHistoryToken;
};
VESSA_DDI_SIZE(D3DKMT_PRESENT, 672);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, hWindow, 8);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, VidPnSourceId, 16);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, hSource, 20);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, hDestination, 24);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, Color, 28);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, DstRect, 32);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, SrcRect, 48);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, SubRectCnt, 64);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, pSrcSubRects, 72);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, PresentCount, 80);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, FlipInterval, 84);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, Flags, 88);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, BroadcastContextCount, 92);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, BroadcastContext, 96);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, PresentLimitSemaphore, 352);
VESSA_DDI_OFFSET(D3DKMT_PRESENT, PresentHistoryToken, 360);

// ---- Display mode, vertical blank, scan line, shared resources --------------------------------
// Eight bytes of mixed-type bit-fields: byte 0 bit 0 PreserveVidPn, then a reserved word.
struct D3DKMT_SETDISPLAYMODE_FLAGS {
    UINT Flags;
    UINT Reserved;
    static constexpr UINT PreserveVidPn = 0x01; // in Flags
};
VESSA_DDI_SIZE(D3DKMT_SETDISPLAYMODE_FLAGS, 8);

struct D3DKMT_SETDISPLAYMODE {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hPrimaryAllocation;
    D3DDDI_VIDEO_SIGNAL_SCANLINE_ORDERING ScanLineOrdering;
    D3DDDI_ROTATION DisplayOrientation;
    UINT PrivateDriverFormatAttribute;
    D3DKMT_SETDISPLAYMODE_FLAGS Flags;
};
VESSA_DDI_SIZE(D3DKMT_SETDISPLAYMODE, 28);
VESSA_DDI_OFFSET(D3DKMT_SETDISPLAYMODE, Flags, 20);

struct D3DKMT_WAITFORVERTICALBLANKEVENT {
    D3DKMT_HANDLE hAdapter;
    D3DKMT_HANDLE hDevice;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
};
VESSA_DDI_SIZE(D3DKMT_WAITFORVERTICALBLANKEVENT, 12);

struct D3DKMT_GETSCANLINE {
    D3DKMT_HANDLE hAdapter;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
    BOOLEAN InVerticalBlank; // out
    UINT ScanLine;           // out
};
VESSA_DDI_SIZE(D3DKMT_GETSCANLINE, 16);
VESSA_DDI_OFFSET(D3DKMT_GETSCANLINE, InVerticalBlank, 8);
VESSA_DDI_OFFSET(D3DKMT_GETSCANLINE, ScanLine, 12);

struct D3DKMT_OPENRESOURCE {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hGlobalShare;
    UINT NumAllocations;
    union {
        D3DDDI_OPENALLOCATIONINFO* pOpenAllocationInfo;
        D3DDDI_OPENALLOCATIONINFO2* pOpenAllocationInfo2;
    };
    void* pPrivateRuntimeData;
    UINT PrivateRuntimeDataSize;
    void* pResourcePrivateDriverData;
    UINT ResourcePrivateDriverDataSize;
    void* pTotalPrivateDriverDataBuffer;
    UINT TotalPrivateDriverDataBufferSize;
    D3DKMT_HANDLE hResource; // out
};
VESSA_DDI_SIZE(D3DKMT_OPENRESOURCE, 72);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, pOpenAllocationInfo, 16);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, pPrivateRuntimeData, 24);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, PrivateRuntimeDataSize, 32);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, pResourcePrivateDriverData, 40);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, ResourcePrivateDriverDataSize, 48);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, pTotalPrivateDriverDataBuffer, 56);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, TotalPrivateDriverDataBufferSize, 64);
VESSA_DDI_OFFSET(D3DKMT_OPENRESOURCE, hResource, 68);

struct D3DKMT_QUERYRESOURCEINFO {
    D3DKMT_HANDLE hDevice;
    D3DKMT_HANDLE hGlobalShare;
    void* pPrivateRuntimeData;
    UINT PrivateRuntimeDataSize;
    UINT TotalPrivateDriverDataSize;    // out
    UINT ResourcePrivateDriverDataSize; // out
    UINT NumAllocations;                // out
};
VESSA_DDI_SIZE(D3DKMT_QUERYRESOURCEINFO, 32);
VESSA_DDI_OFFSET(D3DKMT_QUERYRESOURCEINFO, pPrivateRuntimeData, 8);
VESSA_DDI_OFFSET(D3DKMT_QUERYRESOURCEINFO, NumAllocations, 28);

enum D3DKMT_VIDPNSOURCEOWNER_TYPE {
    D3DKMT_VIDPNSOURCEOWNER_UNOWNED = 0,
    D3DKMT_VIDPNSOURCEOWNER_SHARED = 1,
    D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE = 2,
    D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVEGDI = 3
};

// Takes (or with VidPnSourceCount 0 gives up) ownership of video present sources for a device;
// setting the display mode needs exclusive ownership of the primary's source.
struct D3DKMT_SETVIDPNSOURCEOWNER {
    D3DKMT_HANDLE hDevice;
    const D3DKMT_VIDPNSOURCEOWNER_TYPE* pType;
    const D3DDDI_VIDEO_PRESENT_SOURCE_ID* pVidPnSourceId;
    UINT VidPnSourceCount;
};
VESSA_DDI_SIZE(D3DKMT_SETVIDPNSOURCEOWNER, 32);
VESSA_DDI_OFFSET(D3DKMT_SETVIDPNSOURCEOWNER, pType, 8);
VESSA_DDI_OFFSET(D3DKMT_SETVIDPNSOURCEOWNER, pVidPnSourceId, 16);
VESSA_DDI_OFFSET(D3DKMT_SETVIDPNSOURCEOWNER, VidPnSourceCount, 24);

// ---- Thunk entry points -------------------------------------------------------------------------
// X(Name, NAME, qualifier): every thunk the system resolves from gdi32.dll, in one list, so the
// pointer types, the resolved table and the simulated kernel's exports agree. Each thunk is
// `NTSTATUS APIENTRY D3DKMT<Name>(qualifier D3DKMT_<NAME>*)` (qualifier: const or nothing).
#define VESSA_D3DKMT_THUNKS(X)                                                                     \
    X(OpenAdapterFromHdc, OPENADAPTERFROMHDC, )                                                    \
    X(OpenAdapterFromDeviceName, OPENADAPTERFROMDEVICENAME, )                                      \
    X(OpenAdapterFromGdiDisplayName, OPENADAPTERFROMGDIDISPLAYNAME, )                              \
    X(CloseAdapter, CLOSEADAPTER, const)                                                           \
    X(QueryAdapterInfo, QUERYADAPTERINFO, const)                                                   \
    X(GetDisplayModeList, GETDISPLAYMODELIST, )                                                    \
    X(GetMultisampleMethodList, GETMULTISAMPLEMETHODLIST, )                                        \
    X(CreateDevice, CREATEDEVICE, )                                                                \
    X(DestroyDevice, DESTROYDEVICE, const)                                                         \
    X(CreateAllocation, CREATEALLOCATION, )                                                        \
    X(DestroyAllocation, DESTROYALLOCATION, const)                                                 \
    X(SetAllocationPriority, SETALLOCATIONPRIORITY, const)                                         \
    X(QueryAllocationResidency, QUERYALLOCATIONRESIDENCY, const)                                   \
    X(Render, RENDER, )                                                                            \
    X(Lock, LOCK, )                                                                                \
    X(Unlock, UNLOCK, const)                                                                       \
    X(Escape, ESCAPE, const)                                                                       \
    X(CreateContext, CREATECONTEXT, )                                                              \
    X(DestroyContext, DESTROYCONTEXT, const)                                                       \
    X(CreateSynchronizationObject, CREATESYNCHRONIZATIONOBJECT, )                                  \
    X(DestroySynchronizationObject, DESTROYSYNCHRONIZATIONOBJECT, const)                           \
    X(WaitForSynchronizationObject, WAITFORSYNCHRONIZATIONOBJECT, const)                           \
    X(SignalSynchronizationObject, SIGNALSYNCHRONIZATIONOBJECT, const)                             \
    X(Present, PRESENT, )                                                                          \
    X(SetDisplayMode, SETDISPLAYMODE, const)                                                       \
    X(WaitForVerticalBlankEvent, WAITFORVERTICALBLANKEVENT, const)                                 \
    X(GetScanLine, GETSCANLINE, )                                                                  \
    X(OpenResource, OPENRESOURCE, )                                                                \
    X(QueryResourceInfo, QUERYRESOURCEINFO, )                                                      \
    X(SetVidPnSourceOwner, SETVIDPNSOURCEOWNER, const)

// PFND3DKMT_<NAME>, e.g. PFND3DKMT_CREATEDEVICE = NTSTATUS (APIENTRY*)(D3DKMT_CREATEDEVICE*).
#define VESSA_D3DKMT_PFN(Name, NAME, qualifier)                                                    \
    typedef NTSTATUS(APIENTRY* PFND3DKMT_##NAME)(qualifier D3DKMT_##NAME*);
VESSA_D3DKMT_THUNKS(VESSA_D3DKMT_PFN)
#undef VESSA_D3DKMT_PFN
