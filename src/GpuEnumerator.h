// GpuEnumerator: the machine's physical GPUs, found once per process from the display
// devices Windows reports, the primary (display-owning) GPU first.
#pragma once

#include "platform/win.h"

#include <stdint.h>

/// Vendor of an enumerated GPU, in the numbering the OpenAdapter exports also use.
enum GpuVendor : int {
    kGpuVendorNvidia = 1,
    kGpuVendorAti = 2,
    kGpuVendorIntel = 3,
    kGpuVendorUnknown = 4,
};

/// GPU configuration code: the vendors of the primary GPU (first) and the secondary GPU.
enum GpuConfiguration : int {
    kGpuConfigNone = 0,
    kGpuConfigNvNv = 1,
    kGpuConfigAtiAti = 2,
    kGpuConfigNvAti = 3,
    kGpuConfigAtiNv = 4,
    kGpuConfigIntelNv = 5,  // "intel_nv"
    kGpuConfigIntelAti = 6, // "intel_ati"
    kGpuConfigNvIntel = 7,  // "nv_intel": the discrete GPU owns the display
    kGpuConfigAtiIntel = 8, // "ati_intel": the discrete GPU owns the display
};

/// One physical GPU: the PCI ids parsed from its display device's DeviceID, its bus number
/// (which identifies it: outputs on one bus are one GPU), whether any of its outputs is the
/// primary display, and the display device records of its first output.
struct DeviceProp {
    uint32_t deviceId;
    uint32_t vendorId;
    uint32_t busNumber;
    BYTE isPrimary;
    DISPLAY_DEVICEW displayDeviceW;
    DISPLAY_DEVICEA displayDeviceA;
};

/// The process-wide GPU table and the kernel-thunk services keyed by a display device's
/// registry key. Created and filled by the first getInstance(), freed at process exit.
class GpuEnumerator {
public:
    static constexpr int kMaxGpus = 4;

    /// The records, slot 0 the primary GPU; occupied slots are contiguous from 0. This is
    /// the first member, so callers may index it directly.
    DeviceProp* m_pDevicePropArray[kMaxGpus];

    /// The enumerator; the first call creates it, enumerates, and registers its destruction
    /// at process exit.
    static GpuEnumerator* getInstance();

    /// (Re)builds the table from the display devices. False when no GPU was found or none
    /// of them owns the display.
    bool enumerate();

    /// Number of recorded GPUs.
    int getGpuNum() const;

    /// Vendor of record `index`; kGpuVendorUnknown (reported) for others or a missing record.
    int getGPUVendorIdEnum(int index) const;

    /// The machine's GPU configuration code from the vendors of records 0 and 1.
    int getGpuConfiguration() const;

    /// The display device of record 1; null (reported) with fewer than two GPUs.
    const DISPLAY_DEVICEW* getSecondaryDisplayDevice() const;

    /// The narrow display device of record `index`; null (reported) for a bad index.
    const DISPLAY_DEVICEA* getDisplayDeviceA(int index) const;

    /// Opens the kernel adapter of the display device with registry key `deviceKey` (its
    /// DeviceKey) into `openInfo` (handle and LUID). The caller closes the adapter.
    static NTSTATUS openAdapterFromKey(const WCHAR* deviceKey,
                                       D3DKMT_OPENADAPTERFROMDEVICENAME* openInfo);

    /// Runs `query` (type, buffer and size filled in) on the adapter of `deviceKey`: opens
    /// the adapter, sets the handle, queries, closes. False, reported, on failure.
    static bool queryAdapterInfoByKey(const WCHAR* deviceKey, D3DKMT_QUERYADAPTERINFO* query);

    /// The Direct3D 9 user-mode driver file name of the adapter of `deviceKey`
    /// (KMTQAITYPE_UMDRIVERNAME into `info`, terminated). False, reported, on failure.
    static bool queryUmdFileName(const WCHAR* deviceKey, D3DKMT_UMDFILENAMEINFO& info);

    /// True when the open adapter `hAdapter` and the display device of `deviceKey` are one
    /// GPU (same bus number).
    static bool isSameAdapter(const WCHAR* deviceKey, D3DKMT_HANDLE hAdapter);

    /// The PCI id after `marker` ("VEN_" or "DEV_") in a display device's DeviceID text of at
    /// most `capacity` characters (PCI\VEN_10DE&DEV_0A75&... gives 0x10DE and 0x0A75). The
    /// field ends at the next "&" or the end of the text. A missing marker, or a field that is
    /// not 1 to 8 hex digits, gives 0 with a Warning.
    static uint32_t parseDeviceIdField(const WCHAR* deviceId, size_t capacity, const char* marker);

    GpuEnumerator(const GpuEnumerator&) = delete;
    GpuEnumerator& operator=(const GpuEnumerator&) = delete;

private:
    GpuEnumerator();
    ~GpuEnumerator();

    void clear();
    bool addRecord(const DISPLAY_DEVICEW& displayDeviceW, const DISPLAY_DEVICEA& displayDeviceA,
                   uint32_t busNumber, bool primary);
    static void createInstance();
    static void destroyInstance();

    static GpuEnumerator* s_pInstance;
};
