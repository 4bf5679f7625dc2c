// Types shared by the user-mode DDI and the kernel thunks: kernel handles, formats, pools,
// allocation records and the small flag words that both sides pass around (x64 layouts).
//
// Flag words are a plain UINT `Value` with the bit masks as static members of the type
// (`flags.Value & D3DDDI_RESOURCEFLAGS::Primary`). Bit-field declarations would depend on the
// compiler's bit-field layout; masks do not, and read the same on both builds.
//
// Included after <windows.h> (Windows) or platform/sim/win32_api.h (Linux).
#pragma once

#include <stddef.h>

#if defined(_WIN32) && !defined(_NTDEF_) && !defined(_NTSTATUS_PSDK)
// <windows.h> with WIN32_LEAN_AND_MEAN leaves the kernel status type out; declared as the
// SDK's own headers do, under the guard they share. (Linux: platform/sim/win32_api.h.)
#define _NTSTATUS_PSDK
typedef LONG NTSTATUS, *PNTSTATUS;
#endif

// Checks a structure's size and a member's offset against the fixed x64 layout.
#define VESSA_DDI_SIZE(type, size) static_assert(sizeof(type) == (size), #type " size")
#define VESSA_DDI_OFFSET(type, member, offset)                                                     \
    static_assert(offsetof(type, member) == (offset), #type "::" #member " offset")

// ---- Scalar handle and id types -------------------------------------------------------------
typedef UINT D3DKMT_HANDLE; // kernel object handle: a 32-bit number, not a pointer
typedef UINT D3DDDI_VIDEO_PRESENT_SOURCE_ID;
typedef UINT D3DDDI_VIDEO_PRESENT_TARGET_ID;
typedef ULONGLONG D3DGPU_VIRTUAL_ADDRESS;
typedef ULONGLONG D3DGPU_SIZE_T;
typedef DWORD D3DCOLOR; // A8R8G8B8; the same typedef as d3d9types.h, so both may be seen

#define D3D_UMD_INTERFACE_VERSION_VISTA 0x000C
#define D3D_UMD_INTERFACE_VERSION_WIN7 0x2003
#define DXGKDDI_INTERFACE_VERSION_VISTA 0x1052
#define DXGKDDI_INTERFACE_VERSION_VISTA_SP1 0x1053
#define DXGKDDI_INTERFACE_VERSION_WIN7 0x2005

#define D3DDDI_MAX_BROADCAST_CONTEXT 64
#define D3DDDI_MAX_OBJECT_WAITED_ON 32
#define D3DDDI_MAX_OBJECT_SIGNALED 32
#define D3DDDI_ALLOCATIONPRIORITY_MINIMUM 0x28000000u
#define D3DDDI_ALLOCATIONPRIORITY_LOW 0x50000000u
#define D3DDDI_ALLOCATIONPRIORITY_NORMAL 0x78000000u
#define D3DDDI_ALLOCATIONPRIORITY_HIGH 0xA0000000u
#define D3DDDI_ALLOCATIONPRIORITY_MAXIMUM 0xC8000000u
#define D3DDDI_ID_UNINITIALIZED 0xFFFFFFFFu
#define D3DDDI_ID_NOTAPPLICABLE 0u
#define D3DDDI_ID_ALL 0xFFFFFFFDu
#define D3DKMDT_MAX_VIDPN_SOURCES_BITCOUNT 4
#define D3DKMDT_MAX_VIDPN_SOURCES 16

// ---- Small records ------------------------------------------------------------------------------
struct D3DDDI_RATIONAL {
    UINT Numerator;
    UINT Denominator;
};
VESSA_DDI_SIZE(D3DDDI_RATIONAL, 8);

struct D3DDDIBOX {
    UINT Left, Top, Right, Bottom, Front, Back;
};
VESSA_DDI_SIZE(D3DDDIBOX, 24);

struct D3DDDIRANGE {
    UINT Offset;
    UINT Size;
};
VESSA_DDI_SIZE(D3DDDIRANGE, 8);

struct D3DDDIRECT {
    LONG left, top, right, bottom;
};
VESSA_DDI_SIZE(D3DDDIRECT, 16);

// ---- Formats ---------------------------------------------------------------------------------
// Four-character codes as the runtime and the drivers build them (first character lowest).
#define VESSA_DDI_FOURCC(a, b, c, d)                                                               \
    ((UINT)(unsigned char)(a) | ((UINT)(unsigned char)(b) << 8) |                                  \
     ((UINT)(unsigned char)(c) << 16) | ((UINT)(unsigned char)(d) << 24))

// Surface formats; the values equal those of the Direct3D 9 API's formats of the same name.
enum D3DDDIFORMAT {
    D3DDDIFMT_UNKNOWN = 0,
    D3DDDIFMT_R8G8B8 = 20,
    D3DDDIFMT_A8R8G8B8 = 21,
    D3DDDIFMT_X8R8G8B8 = 22,
    D3DDDIFMT_R5G6B5 = 23,
    D3DDDIFMT_X1R5G5B5 = 24,
    D3DDDIFMT_A1R5G5B5 = 25,
    D3DDDIFMT_A4R4G4B4 = 26,
    D3DDDIFMT_R3G3B2 = 27,
    D3DDDIFMT_A8 = 28,
    D3DDDIFMT_A8R3G3B2 = 29,
    D3DDDIFMT_X4R4G4B4 = 30,
    D3DDDIFMT_A2B10G10R10 = 31,
    D3DDDIFMT_A8B8G8R8 = 32,
    D3DDDIFMT_X8B8G8R8 = 33,
    D3DDDIFMT_G16R16 = 34,
    D3DDDIFMT_A2R10G10B10 = 35,
    D3DDDIFMT_A16B16G16R16 = 36,
    D3DDDIFMT_A8P8 = 40,
    D3DDDIFMT_P8 = 41,
    D3DDDIFMT_L8 = 50,
    D3DDDIFMT_A8L8 = 51,
    D3DDDIFMT_A4L4 = 52,
    D3DDDIFMT_V8U8 = 60,
    D3DDDIFMT_L6V5U5 = 61,
    D3DDDIFMT_X8L8V8U8 = 62,
    D3DDDIFMT_Q8W8V8U8 = 63,
    D3DDDIFMT_V16U16 = 64,
    D3DDDIFMT_W11V11U10 = 65,
    D3DDDIFMT_A2W10V10U10 = 67,
    D3DDDIFMT_UYVY = 0x59565955,      // 'UYVY'
    D3DDDIFMT_R8G8_B8G8 = 0x47424752, // 'RGBG'
    D3DDDIFMT_YUY2 = 0x32595559,      // 'YUY2'
    D3DDDIFMT_G8R8_G8B8 = 0x42475247, // 'GRGB'
    D3DDDIFMT_DXT1 = 0x31545844,      // 'DXT1'
    D3DDDIFMT_DXT2 = 0x32545844,      // 'DXT2'
    D3DDDIFMT_DXT3 = 0x33545844,      // 'DXT3'
    D3DDDIFMT_DXT4 = 0x34545844,      // 'DXT4'
    D3DDDIFMT_DXT5 = 0x35545844,      // 'DXT5'
    D3DDDIFMT_D16_LOCKABLE = 70,
    D3DDDIFMT_D32 = 71,
    D3DDDIFMT_D15S1 = 73,
    D3DDDIFMT_D24S8 = 75,
    D3DDDIFMT_D24X8 = 77,
    D3DDDIFMT_D24X4S4 = 79,
    D3DDDIFMT_D16 = 80,
    D3DDDIFMT_D32F_LOCKABLE = 82,
    D3DDDIFMT_D24FS8 = 83,
    D3DDDIFMT_D32_LOCKABLE = 84,
    D3DDDIFMT_S8_LOCKABLE = 85,
    D3DDDIFMT_S1D15 = 72,
    D3DDDIFMT_S8D24 = 74,
    D3DDDIFMT_X8D24 = 76,
    D3DDDIFMT_X4S4D24 = 78,
    D3DDDIFMT_L16 = 81,
    D3DDDIFMT_VERTEXDATA = 100,
    D3DDDIFMT_INDEX16 = 101,
    D3DDDIFMT_INDEX32 = 102,
    D3DDDIFMT_Q16W16V16U16 = 110,
    D3DDDIFMT_MULTI2_ARGB8 = 0x3154454D, // 'MET1'
    D3DDDIFMT_R16F = 111,
    D3DDDIFMT_G16R16F = 112,
    D3DDDIFMT_A16B16G16R16F = 113,
    D3DDDIFMT_R32F = 114,
    D3DDDIFMT_G32R32F = 115,
    D3DDDIFMT_A32B32G32R32F = 116,
    D3DDDIFMT_CxV8U8 = 117,
    D3DDDIFMT_A1 = 118,
    D3DDDIFMT_A2B10G10R10_XR_BIAS = 119,
    D3DDDIFMT_DXVACOMPBUFFER_BASE = 150,
    D3DDDIFMT_BINARYBUFFER = 199,
    D3DDDIFMT_FORCE_UINT = 0x7FFFFFFF
};
VESSA_DDI_SIZE(D3DDDIFORMAT, 4);

// Vendor-extension formats the runtime passes through as four-character codes; they are not
// members of the DDI's format list, so they are constants of that type.
constexpr D3DDDIFORMAT D3DDDIFMT_ATI1 = D3DDDIFORMAT(0x31495441); // 'ATI1'
constexpr D3DDDIFORMAT D3DDDIFMT_ATI2 = D3DDDIFORMAT(0x32495441); // 'ATI2'
constexpr D3DDDIFORMAT D3DDDIFMT_DF16 = D3DDDIFORMAT(0x36314644); // 'DF16'
constexpr D3DDDIFORMAT D3DDDIFMT_DF24 = D3DDDIFORMAT(0x34324644); // 'DF24'
constexpr D3DDDIFORMAT D3DDDIFMT_NULL = D3DDDIFORMAT(0x4C4C554E); // 'NULL'
constexpr D3DDDIFORMAT D3DDDIFMT_NVCS = D3DDDIFORMAT(0x5343564E); // 'NVCS'
constexpr D3DDDIFORMAT D3DDDIFMT_INTZ = D3DDDIFORMAT(0x5A544E49); // 'INTZ'

// ---- Enumerations ------------------------------------------------------------------------------
enum D3DDDI_POOL {
    D3DDDIPOOL_SYSTEMMEM = 1,
    D3DDDIPOOL_VIDEOMEMORY = 2,
    D3DDDIPOOL_LOCALVIDMEM = 3,
    D3DDDIPOOL_NONLOCALVIDMEM = 4
};

enum D3DDDIMULTISAMPLE_TYPE {
    D3DDDIMULTISAMPLE_NONE = 0,
    D3DDDIMULTISAMPLE_NONMASKABLE = 1,
    D3DDDIMULTISAMPLE_2_SAMPLES = 2,
    D3DDDIMULTISAMPLE_3_SAMPLES = 3,
    D3DDDIMULTISAMPLE_4_SAMPLES = 4,
    D3DDDIMULTISAMPLE_5_SAMPLES = 5,
    D3DDDIMULTISAMPLE_6_SAMPLES = 6,
    D3DDDIMULTISAMPLE_7_SAMPLES = 7,
    D3DDDIMULTISAMPLE_8_SAMPLES = 8,
    D3DDDIMULTISAMPLE_9_SAMPLES = 9,
    D3DDDIMULTISAMPLE_10_SAMPLES = 10,
    D3DDDIMULTISAMPLE_11_SAMPLES = 11,
    D3DDDIMULTISAMPLE_12_SAMPLES = 12,
    D3DDDIMULTISAMPLE_13_SAMPLES = 13,
    D3DDDIMULTISAMPLE_14_SAMPLES = 14,
    D3DDDIMULTISAMPLE_15_SAMPLES = 15,
    D3DDDIMULTISAMPLE_16_SAMPLES = 16,
    D3DDDIMULTISAMPLE_FORCE_UINT = 0x7FFFFFFF
};

// 0 is not a valid rotation.
enum D3DDDI_ROTATION {
    D3DDDI_ROTATION_IDENTITY = 1,
    D3DDDI_ROTATION_90 = 2,
    D3DDDI_ROTATION_180 = 3,
    D3DDDI_ROTATION_270 = 4
};

enum D3DDDI_FLIPINTERVAL_TYPE {
    D3DDDI_FLIPINTERVAL_IMMEDIATE = 0,
    D3DDDI_FLIPINTERVAL_ONE = 1,
    D3DDDI_FLIPINTERVAL_TWO = 2,
    D3DDDI_FLIPINTERVAL_THREE = 3,
    D3DDDI_FLIPINTERVAL_FOUR = 4
};

enum D3DDDI_VIDEO_SIGNAL_SCANLINE_ORDERING {
    D3DDDI_VSSLO_UNINITIALIZED = 0,
    D3DDDI_VSSLO_PROGRESSIVE = 1,
    D3DDDI_VSSLO_INTERLACED_UPPERFIELDFIRST = 2,
    D3DDDI_VSSLO_INTERLACED_LOWERFIELDFIRST = 3,
    D3DDDI_VSSLO_OTHER = 255
};

enum D3DDDI_SCANLINEORDERING {
    D3DDDI_SCANLINEORDERING_UNKNOWN = 0,
    D3DDDI_SCANLINEORDERING_PROGRESSIVE = 1,
    D3DDDI_SCANLINEORDERING_INTERLACED = 2
};

enum D3DDDI_GAMMARAMP_TYPE {
    D3DDDI_GAMMARAMP_UNINITIALIZED = 0,
    D3DDDI_GAMMARAMP_DEFAULT = 1,
    D3DDDI_GAMMARAMP_RGB256x3x16 = 2,
    D3DDDI_GAMMARAMP_DXGI_1 = 3
};

enum D3DDDI_RESIDENCYSTATUS {
    D3DDDIRESIDENCYSTATUS_RESIDENTINGPUMEMORY = 1,
    D3DDDIRESIDENCYSTATUS_RESIDENTINSHAREDMEMORY = 2,
    D3DDDIRESIDENCYSTATUS_NOTRESIDENT = 3
};

enum D3DDDI_SYNCHRONIZATIONOBJECT_TYPE {
    D3DDDI_SYNCHRONIZATION_MUTEX = 1,
    D3DDDI_SEMAPHORE = 2,
    D3DDDI_FENCE = 3,
    D3DDDI_CPU_NOTIFICATION = 4
};

// ---- Flag words ---------------------------------------------------------------------------------
struct D3DDDI_RESOURCEFLAGS {
    UINT Value;
    static constexpr UINT RenderTarget = 0x00000001;
    static constexpr UINT ZBuffer = 0x00000002;
    static constexpr UINT Dynamic = 0x00000004;
    static constexpr UINT HintStatic = 0x00000008;
    static constexpr UINT AutogenMipmap = 0x00000010;
    static constexpr UINT DMap = 0x00000020;
    static constexpr UINT WriteOnly = 0x00000040;
    static constexpr UINT NotLockable = 0x00000080;
    static constexpr UINT Points = 0x00000100;
    static constexpr UINT RtPatches = 0x00000200;
    static constexpr UINT NPatches = 0x00000400;
    static constexpr UINT SharedResource = 0x00000800;
    static constexpr UINT DiscardRenderTarget = 0x00001000;
    static constexpr UINT Video = 0x00002000;
    static constexpr UINT CaptureBuffer = 0x00004000;
    static constexpr UINT Primary = 0x00008000;
    static constexpr UINT Texture = 0x00010000;
    static constexpr UINT CubeMap = 0x00020000;
    static constexpr UINT Volume = 0x00040000;
    static constexpr UINT VertexBuffer = 0x00080000;
    static constexpr UINT IndexBuffer = 0x00100000;
    static constexpr UINT DecodeRenderTarget = 0x00200000;
    static constexpr UINT DecodeCompressedBuffer = 0x00400000;
    static constexpr UINT VideoProcessRenderTarget = 0x00800000;
    static constexpr UINT CpuOptimized = 0x01000000;
    static constexpr UINT MightDrawFromLocked = 0x02000000;
    static constexpr UINT Overlay = 0x04000000;
    static constexpr UINT MatchGdiPrimary = 0x08000000;
    static constexpr UINT InterlacedRefresh = 0x10000000;
    static constexpr UINT TextApi = 0x20000000;
    static constexpr UINT RestrictedContent = 0x40000000;
    static constexpr UINT RestrictSharedAccess = 0x80000000;
};
VESSA_DDI_SIZE(D3DDDI_RESOURCEFLAGS, 4);

// Lock flags of the kernel lock (D3DDDICB_LOCK, D3DKMT_LOCK). Not the same bits as the
// driver-side D3DDDI_LOCKFLAGS: Discard is 0x80 here.
struct D3DDDICB_LOCKFLAGS {
    UINT Value;
    static constexpr UINT ReadOnly = 0x00000001;
    static constexpr UINT WriteOnly = 0x00000002;
    static constexpr UINT DonotWait = 0x00000004;
    static constexpr UINT IgnoreSync = 0x00000008;
    static constexpr UINT LockEntire = 0x00000010;
    static constexpr UINT DonotEvict = 0x00000020;
    static constexpr UINT AcquireAperture = 0x00000040;
    static constexpr UINT Discard = 0x00000080;
    static constexpr UINT NoExistingReference = 0x00000100;
    static constexpr UINT UseAlternateVA = 0x00000200;
    static constexpr UINT IgnoreReadSync = 0x00000400;
};
VESSA_DDI_SIZE(D3DDDICB_LOCKFLAGS, 4);

struct D3DDDI_ESCAPEFLAGS {
    UINT Value;
    static constexpr UINT HardwareAccess = 0x00000001;
};
VESSA_DDI_SIZE(D3DDDI_ESCAPEFLAGS, 4);

struct D3DDDI_CREATECONTEXTFLAGS {
    UINT Value;
    static constexpr UINT NullRendering = 0x00000001;
};
VESSA_DDI_SIZE(D3DDDI_CREATECONTEXTFLAGS, 4);

struct D3DDDICB_SIGNALFLAGS {
    UINT Value;
    static constexpr UINT SignalAtSubmission = 0x00000001;
};
VESSA_DDI_SIZE(D3DDDICB_SIGNALFLAGS, 4);

struct D3DDDI_ALLOCATIONINFOFLAGS {
    UINT Value;
    static constexpr UINT Primary = 0x00000001;
};
VESSA_DDI_SIZE(D3DDDI_ALLOCATIONINFOFLAGS, 4);

// ---- Allocation records ------------------------------------------------------------------------
struct D3DDDI_ALLOCATIONINFO {
    D3DKMT_HANDLE hAllocation;
    const void* pSystemMem;
    void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
    D3DDDI_ALLOCATIONINFOFLAGS Flags;
};
VESSA_DDI_SIZE(D3DDDI_ALLOCATIONINFO, 40);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO, pSystemMem, 8);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO, pPrivateDriverData, 16);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO, PrivateDriverDataSize, 24);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO, VidPnSourceId, 28);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO, Flags, 32);

struct D3DDDI_ALLOCATIONINFO2 {
    D3DKMT_HANDLE hAllocation;
    const void* pSystemMem;
    void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
    D3DDDI_VIDEO_PRESENT_SOURCE_ID VidPnSourceId;
    D3DDDI_ALLOCATIONINFOFLAGS Flags;
    D3DGPU_VIRTUAL_ADDRESS GpuVirtualAddress;
    ULONG_PTR Reserved[6];
};
VESSA_DDI_SIZE(D3DDDI_ALLOCATIONINFO2, 96);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO2, Flags, 32);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO2, GpuVirtualAddress, 40);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONINFO2, Reserved, 48);

struct D3DDDI_OPENALLOCATIONINFO {
    D3DKMT_HANDLE hAllocation;
    const void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
};
VESSA_DDI_SIZE(D3DDDI_OPENALLOCATIONINFO, 24);
VESSA_DDI_OFFSET(D3DDDI_OPENALLOCATIONINFO, pPrivateDriverData, 8);
VESSA_DDI_OFFSET(D3DDDI_OPENALLOCATIONINFO, PrivateDriverDataSize, 16);

struct D3DDDI_OPENALLOCATIONINFO2 {
    D3DKMT_HANDLE hAllocation;
    const void* pPrivateDriverData;
    UINT PrivateDriverDataSize;
    D3DGPU_VIRTUAL_ADDRESS GpuVirtualAddress;
    ULONG_PTR Reserved[6];
};
VESSA_DDI_SIZE(D3DDDI_OPENALLOCATIONINFO2, 80);
VESSA_DDI_OFFSET(D3DDDI_OPENALLOCATIONINFO2, GpuVirtualAddress, 24);
VESSA_DDI_OFFSET(D3DDDI_OPENALLOCATIONINFO2, Reserved, 32);

// One entry of a command buffer's allocation list.
struct D3DDDI_ALLOCATIONLIST {
    D3DKMT_HANDLE hAllocation;
    UINT Value;
    static constexpr UINT WriteOperation = 0x00000001;
    static constexpr UINT DoNotRetireInstance = 0x00000002;
};
VESSA_DDI_SIZE(D3DDDI_ALLOCATIONLIST, 8);
VESSA_DDI_OFFSET(D3DDDI_ALLOCATIONLIST, Value, 4);

// One entry of a command buffer's patch-location list.
struct D3DDDI_PATCHLOCATIONLIST {
    UINT AllocationIndex;
    UINT Value; // bits 0-23 SlotId
    UINT DriverId;
    UINT AllocationOffset;
    UINT PatchOffset;
    UINT SplitOffset;
    static constexpr UINT SlotIdMask = 0x00FFFFFF;
};
VESSA_DDI_SIZE(D3DDDI_PATCHLOCATIONLIST, 24);
VESSA_DDI_OFFSET(D3DDDI_PATCHLOCATIONLIST, SplitOffset, 20);

// ---- Synchronisation objects --------------------------------------------------------------------
struct D3DDDI_SYNCHRONIZATIONOBJECTINFO {
    D3DDDI_SYNCHRONIZATIONOBJECT_TYPE Type;
    union {
        struct {
            BOOL InitialState;
        } SynchronizationMutex;
        struct {
            UINT MaxCount;
            UINT InitialCount;
        } Semaphore;
        struct {
            UINT Reserved[16];
        } Reserved;
    };
};
VESSA_DDI_SIZE(D3DDDI_SYNCHRONIZATIONOBJECTINFO, 68);
VESSA_DDI_OFFSET(D3DDDI_SYNCHRONIZATIONOBJECTINFO, SynchronizationMutex, 4);
VESSA_DDI_OFFSET(D3DDDI_SYNCHRONIZATIONOBJECTINFO, Semaphore, 4);
