// GpuEnumerator: enumeration of the display devices into one record per physical GPU, the
// vendor and configuration tables, and the kernel-thunk services keyed by a device key.
#include "GpuEnumerator.h"

#include "Report.h"

#include "platform/KernelThunks.h"

#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

namespace {

typedef std::basic_string<WCHAR> WideString;

constexpr DWORD kDisplayDeviceMirroringDriver = 0x00000008;
constexpr DWORD kDisplayDevicePrimaryDevice = 0x00000004;
constexpr uint32_t kUnknownBus = 0xFFFFFFFFu;
// A display driver that keeps answering would otherwise keep the enumeration going forever.
constexpr DWORD kMaxDisplayDevices = 256;
// The device interface name is a short path; a registry value far beyond it is corrupt.
constexpr DWORD kMaxInterfaceNameBytes = 64 * 1024;

const WCHAR kVolatileSettings[] = WSTR("VolatileSettings");
const WCHAR kInterfaceNameValue[] = WSTR("{5b45201d-f2f2-4f3b-85bb-30ff1f953599}");
const WCHAR kDisplayAdapterInterfaceClass[] = WSTR("#{1CA05180-A699-450A-9A0C-DE4FBE3DDD89}");

// ---- Kernel thunks ------------------------------------------------------------------------

NTSTATUS closeKernelAdapter(D3DKMT_HANDLE hAdapter) {
    D3DKMT_CLOSEADAPTER closeInfo = {};
    closeInfo.hAdapter = hAdapter;
    return KernelThunks::get().pfnCloseAdapter(&closeInfo);
}

// ---- Text helpers -------------------------------------------------------------------------

// A fixed-size text field of a display device, which a faulty driver may leave unterminated.
template <size_t N> WideString fieldText(const WCHAR (&field)[N]) {
    size_t length = 0;
    while (length < N && field[length])
        ++length;
    return WideString(field, length);
}

size_t findText(const WideString& text, const char* marker) {
    WideString wideMarker;
    for (const char* p = marker; *p; ++p)
        wideMarker += static_cast<WCHAR>(*p);
    return text.find(wideMarker);
}

int hexDigit(WCHAR c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the adapter's device interface name from the device key's "VolatileSettings" and
// turns it into the display adapter interface name. Empty when it cannot be read.
WideString deviceInterfaceName(const WCHAR* deviceKey) {
    WideString key = deviceKey ? WideString(deviceKey) : WideString();
    size_t system = findText(key, "System");
    if (system == WideString::npos) {
        VESSA_REPORT(Warning, 0, "systemPos != NULL", "device key %s has no System part",
                     text::narrow(key.c_str()).c_str());
        return WideString();
    }
    WideString subKey = key.substr(system) + WSTR("\\") + kVolatileSettings;

    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) !=
        ERROR_SUCCESS)
        return WideString();
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueExW(hKey, kInterfaceNameValue, nullptr, &type, nullptr, &size);
    WideString name;
    if (result == ERROR_SUCCESS && size <= kMaxInterfaceNameBytes) {
        // The value's size plus one character, so the text can always be terminated.
        std::vector<WCHAR> data(size / sizeof(WCHAR) + 1, 0);
        DWORD readSize = size;
        result = RegQueryValueExW(hKey, kInterfaceNameValue, nullptr, &type,
                                  reinterpret_cast<LPBYTE>(data.data()), &readSize);
        if (result == ERROR_SUCCESS) {
            data[readSize / sizeof(WCHAR)] = 0;
            name = data.data();
        }
    }
    RegCloseKey(hKey);
    if (name.empty())
        return name;

    size_t hash = name.rfind(static_cast<WCHAR>('#'));
    if (hash == WideString::npos) {
        VESSA_REPORT(Warning, 0, "hashPos != NULL", "device interface name %s has no '#'",
                     text::narrow(name.c_str()).c_str());
        return WideString();
    }
    return name.substr(0, hash) + kDisplayAdapterInterfaceClass;
}

int vendorEnum(uint32_t vendorId) {
    switch (vendorId) {
    case 0x10DE:
        return kGpuVendorNvidia;
    case 0x1002:
        return kGpuVendorAti;
    case 0x8086:
        return kGpuVendorIntel;
    default:
        return kGpuVendorUnknown;
    }
}

// Configuration code by vendor enum of the primary (row) and the secondary GPU (column),
// in the order NVIDIA, ATI, Intel.
const int kConfigurationTable[3][3] = {
    {kGpuConfigNvNv, kGpuConfigNvAti, kGpuConfigNvIntel},
    {kGpuConfigAtiNv, kGpuConfigAtiAti, kGpuConfigAtiIntel},
    {kGpuConfigIntelNv, kGpuConfigIntelAti, kGpuConfigNone},
};

void resetDisplayDevices(DISPLAY_DEVICEW& displayDeviceW, DISPLAY_DEVICEA& displayDeviceA) {
    memset(&displayDeviceW, 0, sizeof displayDeviceW);
    memset(&displayDeviceA, 0, sizeof displayDeviceA);
    displayDeviceW.cb = sizeof displayDeviceW;
    displayDeviceA.cb = sizeof displayDeviceA;
}

} // namespace

GpuEnumerator* GpuEnumerator::s_pInstance = nullptr;

GpuEnumerator::GpuEnumerator() : m_pDevicePropArray{} {}

GpuEnumerator::~GpuEnumerator() {
    clear();
}

GpuEnumerator* GpuEnumerator::getInstance() {
    // Two runtime threads may open their adapters at the same moment: a function-local
    // static runs the creation exactly once, and the others wait for its table.
    static const bool s_created = (createInstance(), true);
    (void)s_created;
    // Only a caller during process exit, after the destruction, gets here without one.
    if (!s_pInstance)
        createInstance();
    return s_pInstance;
}

void GpuEnumerator::createInstance() {
    auto* instance = new GpuEnumerator();
    instance->enumerate();
    s_pInstance = instance;
    atexit(destroyInstance);
}

void GpuEnumerator::destroyInstance() {
    delete s_pInstance;
    s_pInstance = nullptr;
}

void GpuEnumerator::clear() {
    for (auto& record : m_pDevicePropArray) {
        delete record;
        record = nullptr;
    }
}

bool GpuEnumerator::enumerate() {
    clear();

    DISPLAY_DEVICEW displayDeviceW;
    DISPLAY_DEVICEA displayDeviceA;
    resetDisplayDevices(displayDeviceW, displayDeviceA);
    if (!EnumDisplayDevicesW(nullptr, 0, &displayDeviceW, 0))
        return false;

    bool found = false;
    for (DWORD i = 0; i < kMaxDisplayDevices; ++i) {
        resetDisplayDevices(displayDeviceW, displayDeviceA);
        if (!EnumDisplayDevicesW(nullptr, i, &displayDeviceW, 0))
            break;
        if (displayDeviceW.StateFlags & kDisplayDeviceMirroringDriver)
            continue;

        WideString deviceKey = fieldText(displayDeviceW.DeviceKey);
        D3DKMT_ADAPTERADDRESS address = {};
        D3DKMT_QUERYADAPTERINFO query = {};
        query.Type = KMTQAITYPE_ADAPTERADDRESS;
        query.pPrivateDriverData = &address;
        query.PrivateDriverDataSize = sizeof address;
        if (!queryAdapterInfoByKey(deviceKey.c_str(), &query) || address.BusNumber == kUnknownBus)
            continue;

        bool primary = (displayDeviceW.StateFlags & kDisplayDevicePrimaryDevice) != 0;
        found = true;

        // Every output of one GPU shares its bus number: merge it into the GPU's record.
        DeviceProp* existing = nullptr;
        for (DeviceProp* record : m_pDevicePropArray) {
            if (record && record->busNumber == address.BusNumber)
                existing = record;
        }
        if (existing) {
            existing->isPrimary |= primary ? 1 : 0;
            continue;
        }

        BOOL res = EnumDisplayDevicesA(nullptr, i, &displayDeviceA, 0);
        VESSA_CHECK(Error, 0, res, "EnumDisplayDevicesA returned false");
        addRecord(displayDeviceW, displayDeviceA, address.BusNumber, primary);
    }
    if (!found)
        return false;

    int primaryIndex = -1;
    for (int i = 0; i < kMaxGpus && primaryIndex < 0; ++i) {
        if (m_pDevicePropArray[i] && m_pDevicePropArray[i]->isPrimary)
            primaryIndex = i;
    }
    if (!VESSA_CHECK(Warning, 0, primaryIndex >= 0, "No primary device found!"))
        return false;
    if (primaryIndex != 0) {
        DeviceProp* first = m_pDevicePropArray[0];
        m_pDevicePropArray[0] = m_pDevicePropArray[primaryIndex];
        m_pDevicePropArray[primaryIndex] = first;
    }
    return true;
}

bool GpuEnumerator::addRecord(const DISPLAY_DEVICEW& displayDeviceW,
                              const DISPLAY_DEVICEA& displayDeviceA, uint32_t busNumber,
                              bool primary) {
    int deviceIndex = 0;
    while (deviceIndex < kMaxGpus && m_pDevicePropArray[deviceIndex])
        ++deviceIndex;
    if (deviceIndex >= kMaxGpus) {
        VESSA_REPORT(Error, 0, "deviceIndex<4", "Device index is too big!");
        return false;
    }

    m_pDevicePropArray[deviceIndex] = new (std::nothrow) DeviceProp();
    if (!VESSA_CHECK(Error, 10698, m_pDevicePropArray[deviceIndex],
                     "m_pDevicePropArray[deviceIndex] is NULL"))
        return false;

    DeviceProp& record = *m_pDevicePropArray[deviceIndex];
    const size_t idChars = sizeof displayDeviceW.DeviceID / sizeof displayDeviceW.DeviceID[0];
    record.deviceId = parseDeviceIdField(displayDeviceW.DeviceID, idChars, "DEV_");
    record.vendorId = parseDeviceIdField(displayDeviceW.DeviceID, idChars, "VEN_");
    record.busNumber = busNumber;
    record.isPrimary = primary ? 1 : 0;
    record.displayDeviceW = displayDeviceW;
    record.displayDeviceA = displayDeviceA;
    return true;
}

uint32_t GpuEnumerator::parseDeviceIdField(const WCHAR* deviceIdText, size_t capacity,
                                           const char* marker) {
    size_t length = 0;
    while (deviceIdText && length < capacity && deviceIdText[length])
        ++length;
    WideString deviceId = deviceIdText ? WideString(deviceIdText, length) : WideString();
    size_t start = findText(deviceId, marker);
    if (start == WideString::npos) {
        VESSA_REPORT(Warning, 0, "markerPos != NULL", "DeviceID %s has no %s field",
                     text::narrow(deviceId.c_str()).c_str(), marker);
        return 0;
    }
    start += strlen(marker);
    size_t end = deviceId.find(static_cast<WCHAR>('&'), start);
    if (end == WideString::npos)
        end = deviceId.size();
    uint32_t value = 0;
    bool valid = end > start && end - start <= 8;
    for (size_t i = start; valid && i < end; ++i) {
        int digit = hexDigit(deviceId[i]);
        valid = digit >= 0;
        value = (value << 4) | static_cast<uint32_t>(digit < 0 ? 0 : digit);
    }
    if (!valid) {
        VESSA_REPORT(Warning, 0, "isHexId", "DeviceID %s has a malformed %s field",
                     text::narrow(deviceId.c_str()).c_str(), marker);
        return 0;
    }
    return value;
}

int GpuEnumerator::getGpuNum() const {
    int count = 0;
    for (const DeviceProp* record : m_pDevicePropArray) {
        if (record)
            ++count;
    }
    return count;
}

int GpuEnumerator::getGPUVendorIdEnum(int index) const {
    const DeviceProp* record = index >= 0 && index < kMaxGpus ? m_pDevicePropArray[index] : nullptr;
    uint32_t vendorId = record ? record->vendorId : 0;
    int vendor = record ? vendorEnum(vendorId) : kGpuVendorUnknown;
    VESSA_CHECK(Error, 10016, vendor != kGpuVendorUnknown,
                "getGPUVendorIdEnum: unrecognized GPU %d, %p, %x", index,
                static_cast<const void*>(record), vendorId);
    return vendor;
}

int GpuEnumerator::getGpuConfiguration() const {
    int count = getGpuNum();
    if (count < 2 || count > kMaxGpus)
        return kGpuConfigNone;
    int primary = getGPUVendorIdEnum(0);
    int secondary = getGPUVendorIdEnum(1);
    if (primary == kGpuVendorUnknown || secondary == kGpuVendorUnknown)
        return kGpuConfigNone;
    return kConfigurationTable[primary - 1][secondary - 1];
}

const DISPLAY_DEVICEW* GpuEnumerator::getSecondaryDisplayDevice() const {
    if (!VESSA_CHECK(Error, 0, getGpuNum() >= 2 && m_pDevicePropArray[1], "Bad GPU index"))
        return nullptr;
    return &m_pDevicePropArray[1]->displayDeviceW;
}

const DISPLAY_DEVICEA* GpuEnumerator::getDisplayDeviceA(int index) const {
    if (!VESSA_CHECK(Error, 0, index >= 0 && index < getGpuNum() && m_pDevicePropArray[index],
                     "Bad GPU index"))
        return nullptr;
    return &m_pDevicePropArray[index]->displayDeviceA;
}

NTSTATUS GpuEnumerator::openAdapterFromKey(const WCHAR* deviceKey,
                                           D3DKMT_OPENADAPTERFROMDEVICENAME* openInfo) {
    if (!openInfo)
        return static_cast<NTSTATUS>(STATUS_INVALID_PARAMETER);
    WideString name = deviceInterfaceName(deviceKey);
    NTSTATUS ntStatus = static_cast<NTSTATUS>(STATUS_INVALID_PARAMETER);
    // Without a name the kernel would only refuse the call; it is not made.
    if (!name.empty()) {
        openInfo->pDeviceName = name.c_str();
        ntStatus = KernelThunks::get().pfnOpenAdapterFromDeviceName(openInfo);
    }
    openInfo->pDeviceName = nullptr;
    if (!NT_SUCCESS(ntStatus))
        VESSA_REPORT(Warning, 10968, "(((LONG)(ntStatus)) >= 0)",
                     "D3DKMTOpenAdapterFromDeviceName failed");
    return ntStatus;
}

bool GpuEnumerator::queryAdapterInfoByKey(const WCHAR* deviceKey, D3DKMT_QUERYADAPTERINFO* query) {
    if (!query)
        return false;
    D3DKMT_OPENADAPTERFROMDEVICENAME openInfo = {};
    NTSTATUS ntStatus = openAdapterFromKey(deviceKey, &openInfo);
    if (!VESSA_CHECK(Warning, 0, NT_SUCCESS(ntStatus), "ntStatus=%x for openAdapterFromKey",
                     static_cast<unsigned>(ntStatus)))
        return false;
    query->hAdapter = openInfo.hAdapter;
    ntStatus = KernelThunks::get().pfnQueryAdapterInfo(query);
    bool queried = VESSA_CHECK(Warning, 0, NT_SUCCESS(ntStatus), "Could not query adapter info");
    closeKernelAdapter(openInfo.hAdapter);
    return queried;
}

bool GpuEnumerator::queryUmdFileName(const WCHAR* deviceKey, D3DKMT_UMDFILENAMEINFO& info) {
    info = D3DKMT_UMDFILENAMEINFO{};
    info.Version = KMTUMDVERSION_DX9;
    D3DKMT_QUERYADAPTERINFO query = {};
    query.Type = KMTQAITYPE_UMDRIVERNAME;
    query.pPrivateDriverData = &info;
    query.PrivateDriverDataSize = sizeof info;
    if (!queryAdapterInfoByKey(deviceKey, &query))
        return false;
    info.UmdFileName[MAX_PATH - 1] = 0;
    return true;
}

bool GpuEnumerator::isSameAdapter(const WCHAR* deviceKey, D3DKMT_HANDLE hAdapter) {
    if (hAdapter == 0)
        return false;
    D3DKMT_ADAPTERADDRESS keyAddress = {};
    D3DKMT_QUERYADAPTERINFO query = {};
    query.Type = KMTQAITYPE_ADAPTERADDRESS;
    query.pPrivateDriverData = &keyAddress;
    query.PrivateDriverDataSize = sizeof keyAddress;
    // A device key whose adapter cannot be queried names no GPU, so it matches none, not
    // one that happens to report the unknown bus number too.
    if (!queryAdapterInfoByKey(deviceKey, &query))
        return false;

    D3DKMT_ADAPTERADDRESS handleAddress = {};
    query.hAdapter = hAdapter;
    query.pPrivateDriverData = &handleAddress;
    if (!NT_SUCCESS(KernelThunks::get().pfnQueryAdapterInfo(&query)))
        return false;
    return keyAddress.BusNumber == handleAddress.BusNumber;
}
