// RegManager: the Win32 and the native reader of the driver's registry key.
#include "RegManager.h"

#include "Report.h"

#include <string.h>

namespace {

const WCHAR kDriverKey[] = WSTR("SOFTWARE\\Quorvex\\VessaDriver");
const WCHAR kDriverKeyNative[] = WSTR("\\Registry\\Machine\\Software\\Quorvex\\VessaDriver");

// Registry value types whose data is wide text.
constexpr DWORD kRegSz = 1;
constexpr DWORD kRegExpandSz = 2;
constexpr DWORD kRegMultiSz = 7;

bool isTextType(DWORD type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Makes sure a text value of `length` bytes in `data` (capacity `capacity` bytes) ends in a
// terminator, adding one when there is room. The registry does not guarantee one, and every
// caller uses the value as a terminated string.
bool terminateText(void* data, DWORD length, DWORD capacity) {
    auto* bytes = static_cast<unsigned char*>(data);
    DWORD chars = length / sizeof(WCHAR);
    WCHAR last = 0;
    if (chars > 0)
        memcpy(&last, bytes + (chars - 1) * sizeof(WCHAR), sizeof last);
    if (chars > 0 && last == 0)
        return true;
    if ((chars + 1) * sizeof(WCHAR) > capacity)
        return false;
    const WCHAR terminator = 0;
    memcpy(bytes + chars * sizeof(WCHAR), &terminator, sizeof terminator);
    return true;
}

// The native registry structures, x64 layouts. The functions are resolved at run time, so
// the structures are spelled out here rather than taken from the DDK headers.
struct NativeUnicodeString {
    USHORT Length;
    USHORT MaximumLength;
    WCHAR* Buffer;
};

struct NativeObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    NativeUnicodeString* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};

struct NativeKeyValuePartialInformation {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    unsigned char Data[1];
};

static_assert(sizeof(NativeUnicodeString) == 16, "UNICODE_STRING is 16 bytes on x64");
static_assert(sizeof(NativeObjectAttributes) == 48, "OBJECT_ATTRIBUTES is 48 bytes on x64");
static_assert(offsetof(NativeKeyValuePartialInformation, Data) == 12,
              "KEY_VALUE_PARTIAL_INFORMATION data starts at 12");

constexpr ULONG kObjCaseInsensitive = 0x00000040;
constexpr ACCESS_MASK kGenericRead = 0x80000000u;
constexpr int kKeyValuePartialInformation = 2;
constexpr ULONG kQueryBufferSize = 1600;

typedef NTSTATUS(WINAPI* PfnNtOpenKey)(HANDLE* key, ACCESS_MASK access,
                                       NativeObjectAttributes* attributes);
typedef NTSTATUS(WINAPI* PfnNtQueryValueKey)(HANDLE key, NativeUnicodeString* valueName,
                                             int informationClass, PVOID information, ULONG length,
                                             ULONG* resultLength);
typedef NTSTATUS(WINAPI* PfnNtClose)(HANDLE handle);
typedef void(WINAPI* PfnRtlInitUnicodeString)(NativeUnicodeString* target, const WCHAR* source);

// GetProcAddress's FARPROC as the function's own type, through the generic function type
// that any function pointer may be cast to and from.
template <typename Pfn> Pfn asFunction(FARPROC proc) {
    return reinterpret_cast<Pfn>(reinterpret_cast<void (*)(void)>(proc));
}

struct NativeRegistry {
    PfnNtOpenKey openKey = nullptr;
    PfnNtQueryValueKey queryValueKey = nullptr;
    PfnNtClose close = nullptr;
    PfnRtlInitUnicodeString initUnicodeString = nullptr;

    bool resolve() {
        HMODULE ntdll = GetModuleHandleW(WSTR("ntdll.dll"));
        if (!ntdll)
            return false;
        openKey = asFunction<PfnNtOpenKey>(GetProcAddress(ntdll, "NtOpenKey"));
        queryValueKey = asFunction<PfnNtQueryValueKey>(GetProcAddress(ntdll, "NtQueryValueKey"));
        close = asFunction<PfnNtClose>(GetProcAddress(ntdll, "NtClose"));
        initUnicodeString =
            asFunction<PfnRtlInitUnicodeString>(GetProcAddress(ntdll, "RtlInitUnicodeString"));
        return openKey && queryValueKey && close && initUnicodeString;
    }
};

bool ntSuccess(NTSTATUS status) {
    return status >= 0;
}

} // namespace

bool RegManager::readDriverValue(const WCHAR* name, void* data, DWORD* size) {
    if (!VESSA_CHECK(Error, 1113, name && data && size, "fail to Query registry key"))
        return false;
    const DWORD capacity = *size;

    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_QUERY_VALUE, &key);
    if (!VESSA_CHECK(Error, 1112, ERROR_SUCCESS == result, "fail to open registry key"))
        return false;

    DWORD type = 0;
    DWORD length = capacity;
    result = RegQueryValueExW(key, name, nullptr, &type, static_cast<LPBYTE>(data), &length);
    bool read = VESSA_CHECK(Error, 1113, ERROR_SUCCESS == result, "fail to Query registry key");
    if (read && isTextType(type)) {
        // A text value that fills the buffer without its terminator would be read past the
        // end by every caller; it is refused like one that is too long.
        read = VESSA_CHECK(Error, 1113, terminateText(data, length, capacity),
                           "fail to Query registry key");
    }
    result = RegCloseKey(key);
    VESSA_CHECK(Error, 1114, ERROR_SUCCESS == result, "fail to close registry key");
    if (!read)
        return false;

    *size = length;
    return true;
}

bool RegManager::readDriverValueNt(const WCHAR* name, void* data, DWORD* size) {
    if (!name || !data || !size)
        return false;
    NativeRegistry nt;
    if (!nt.resolve())
        return false;

    NativeUnicodeString keyName;
    nt.initUnicodeString(&keyName, kDriverKeyNative);
    NativeObjectAttributes attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = nullptr;
    attributes.ObjectName = &keyName;
    attributes.Attributes = kObjCaseInsensitive;

    HANDLE key = nullptr;
    if (!ntSuccess(nt.openKey(&key, kGenericRead, &attributes)))
        return false;

    NativeUnicodeString valueName;
    nt.initUnicodeString(&valueName, name);
    // ULONG storage keeps the structure's fields aligned.
    ULONG buffer[kQueryBufferSize / sizeof(ULONG)] = {};
    auto* info = reinterpret_cast<NativeKeyValuePartialInformation*>(buffer);
    ULONG resultLength = 0;
    NTSTATUS status = nt.queryValueKey(key, &valueName, kKeyValuePartialInformation, info,
                                       kQueryBufferSize, &resultLength);
    nt.close(key);
    if (!ntSuccess(status))
        return false;

    const ULONG maxData = kQueryBufferSize - offsetof(NativeKeyValuePartialInformation, Data);
    const ULONG length = info->DataLength;
    // A value cut to the caller's buffer would be a wrong path, not a shorter one: refuse it.
    if (length > maxData || length > *size)
        return false;
    if (isTextType(info->Type)) {
        ULONG chars = length / sizeof(WCHAR);
        bool terminated = chars > 0 && reinterpret_cast<const WCHAR*>(info->Data)[chars - 1] == 0;
        if (!terminated && (chars + 1) * sizeof(WCHAR) > *size)
            return false;
    }
    memcpy(data, info->Data, length);
    if (isTextType(info->Type))
        terminateText(data, length, *size);
    *size = length;
    return true;
}
