// Display-device structures and functions of the Windows API (user32/gdi32) as the simulated
// machine provides them on Linux, with the x64 layouts of <windows.h>.
//
// Included at the end of platform/sim/win32_api.h; the implementations live in sim/.
#pragma once

#include <stddef.h>

typedef struct _POINTL {
    LONG x;
    LONG y;
} POINTL, *PPOINTL;

typedef struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
} PALETTEENTRY, *PPALETTEENTRY, *LPPALETTEENTRY;

// ---- Display devices ---------------------------------------------------------------------------
// `cb` must hold the structure's size before EnumDisplayDevices is called.
typedef struct _DISPLAY_DEVICEA {
    DWORD cb;
    CHAR DeviceName[32];
    CHAR DeviceString[128];
    DWORD StateFlags;
    CHAR DeviceID[128];
    CHAR DeviceKey[128];
} DISPLAY_DEVICEA, *PDISPLAY_DEVICEA, *LPDISPLAY_DEVICEA;

typedef struct _DISPLAY_DEVICEW {
    DWORD cb;
    WCHAR DeviceName[32];
    WCHAR DeviceString[128];
    DWORD StateFlags;
    WCHAR DeviceID[128];
    WCHAR DeviceKey[128];
} DISPLAY_DEVICEW, *PDISPLAY_DEVICEW, *LPDISPLAY_DEVICEW;

static_assert(sizeof(DISPLAY_DEVICEA) == 424, "DISPLAY_DEVICEA size");
static_assert(offsetof(DISPLAY_DEVICEA, StateFlags) == 164, "DISPLAY_DEVICEA::StateFlags");
static_assert(offsetof(DISPLAY_DEVICEA, DeviceKey) == 296, "DISPLAY_DEVICEA::DeviceKey");
static_assert(sizeof(DISPLAY_DEVICEW) == 840, "DISPLAY_DEVICEW size");
static_assert(offsetof(DISPLAY_DEVICEW, DeviceString) == 68, "DISPLAY_DEVICEW::DeviceString");
static_assert(offsetof(DISPLAY_DEVICEW, StateFlags) == 324, "DISPLAY_DEVICEW::StateFlags");
static_assert(offsetof(DISPLAY_DEVICEW, DeviceID) == 328, "DISPLAY_DEVICEW::DeviceID");
static_assert(offsetof(DISPLAY_DEVICEW, DeviceKey) == 584, "DISPLAY_DEVICEW::DeviceKey");

// StateFlags of an adapter output.
#define DISPLAY_DEVICE_ATTACHED_TO_DESKTOP 0x00000001
#define DISPLAY_DEVICE_MULTI_DRIVER 0x00000002
#define DISPLAY_DEVICE_PRIMARY_DEVICE 0x00000004
#define DISPLAY_DEVICE_MIRRORING_DRIVER 0x00000008
#define DISPLAY_DEVICE_VGA_COMPATIBLE 0x00000010
#define DISPLAY_DEVICE_REMOVABLE 0x00000020
#define DISPLAY_DEVICE_MODESPRUNED 0x08000000
// StateFlags of a monitor.
#define DISPLAY_DEVICE_ACTIVE 0x00000001
#define DISPLAY_DEVICE_ATTACHED 0x00000002

// EnumDisplayDevices flag: DeviceID holds the device interface name.
#define EDD_GET_DEVICE_INTERFACE_NAME 0x00000001

// ---- Display settings ---------------------------------------------------------------------------
// The printer and display members share a union, as in <windows.h>.
typedef struct _devicemodeA {
    BYTE dmDeviceName[32];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    union {
        struct {
            short dmOrientation;
            short dmPaperSize;
            short dmPaperLength;
            short dmPaperWidth;
            short dmScale;
            short dmCopies;
            short dmDefaultSource;
            short dmPrintQuality;
        };
        struct {
            POINTL dmPosition;
            DWORD dmDisplayOrientation;
            DWORD dmDisplayFixedOutput;
        };
    };
    short dmColor;
    short dmDuplex;
    short dmYResolution;
    short dmTTOption;
    short dmCollate;
    BYTE dmFormName[32];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    union {
        DWORD dmDisplayFlags;
        DWORD dmNup;
    };
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
    DWORD dmPanningWidth;
    DWORD dmPanningHeight;
} DEVMODEA, *PDEVMODEA, *LPDEVMODEA;

typedef struct _devicemodeW {
    WCHAR dmDeviceName[32];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    union {
        struct {
            short dmOrientation;
            short dmPaperSize;
            short dmPaperLength;
            short dmPaperWidth;
            short dmScale;
            short dmCopies;
            short dmDefaultSource;
            short dmPrintQuality;
        };
        struct {
            POINTL dmPosition;
            DWORD dmDisplayOrientation;
            DWORD dmDisplayFixedOutput;
        };
    };
    short dmColor;
    short dmDuplex;
    short dmYResolution;
    short dmTTOption;
    short dmCollate;
    WCHAR dmFormName[32];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    union {
        DWORD dmDisplayFlags;
        DWORD dmNup;
    };
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
    DWORD dmPanningWidth;
    DWORD dmPanningHeight;
} DEVMODEW, *PDEVMODEW, *LPDEVMODEW;

static_assert(sizeof(DEVMODEA) == 156, "DEVMODEA size");
static_assert(offsetof(DEVMODEA, dmFields) == 40, "DEVMODEA::dmFields");
static_assert(offsetof(DEVMODEA, dmPosition) == 44, "DEVMODEA::dmPosition");
static_assert(offsetof(DEVMODEA, dmBitsPerPel) == 104, "DEVMODEA::dmBitsPerPel");
static_assert(offsetof(DEVMODEA, dmPelsWidth) == 108, "DEVMODEA::dmPelsWidth");
static_assert(offsetof(DEVMODEA, dmDisplayFrequency) == 120, "DEVMODEA::dmDisplayFrequency");
static_assert(sizeof(DEVMODEW) == 220, "DEVMODEW size");
static_assert(offsetof(DEVMODEW, dmFields) == 72, "DEVMODEW::dmFields");
static_assert(offsetof(DEVMODEW, dmBitsPerPel) == 168, "DEVMODEW::dmBitsPerPel");
static_assert(offsetof(DEVMODEW, dmDisplayFrequency) == 184, "DEVMODEW::dmDisplayFrequency");

// dmFields bits.
#define DM_POSITION 0x00000020
#define DM_DISPLAYORIENTATION 0x00000080
#define DM_BITSPERPEL 0x00040000
#define DM_PELSWIDTH 0x00080000
#define DM_PELSHEIGHT 0x00100000
#define DM_DISPLAYFLAGS 0x00200000
#define DM_DISPLAYFREQUENCY 0x00400000
#define DM_DISPLAYFIXEDOUTPUT 0x20000000

// Mode numbers of EnumDisplaySettings that name no list entry.
#define ENUM_CURRENT_SETTINGS ((DWORD)-1)
#define ENUM_REGISTRY_SETTINGS ((DWORD)-2)

#ifdef __cplusplus
extern "C" {
#endif

// The simulated user32.dll and gdi32.dll export exactly these names.
#pragma GCC visibility push(default)

// lpDevice null enumerates the adapters' outputs; a device name enumerates its monitors.
BOOL WINAPI EnumDisplayDevicesA(LPCSTR lpDevice, DWORD iDevNum, PDISPLAY_DEVICEA lpDisplayDevice,
                                DWORD dwFlags);
BOOL WINAPI EnumDisplayDevicesW(LPCWSTR lpDevice, DWORD iDevNum, PDISPLAY_DEVICEW lpDisplayDevice,
                                DWORD dwFlags);
// lpszDeviceName null means the primary display; iModeNum ENUM_CURRENT_SETTINGS the current mode.
BOOL WINAPI EnumDisplaySettingsA(LPCSTR lpszDeviceName, DWORD iModeNum, DEVMODEA* lpDevMode);
HDC WINAPI CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort, const DEVMODEA* pdm);
BOOL WINAPI DeleteDC(HDC hdc);

#pragma GCC visibility pop

#ifdef __cplusplus
} // extern "C"
#endif
