// advapi32.dll: the Win32 registry functions over the machine's registry.
//
// Statuses follow Windows: ERROR_INVALID_HANDLE for a handle that is not an open key,
// ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_MORE_DATA with the size needed
// when a buffer is too small, ERROR_BAD_PATHNAME for a subkey path with a leading '\'.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <string.h>

namespace {

const char kModule[] = "advapi32.dll";

// The predefined keys, by their sign-extended handle values.
const char16_t* predefinedPath(HKEY key) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(key);
    if (value == reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE))
        return u"HKEY_LOCAL_MACHINE";
    if (value == reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER))
        return u"HKEY_CURRENT_USER";
    if (value == reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT))
        return u"HKEY_CLASSES_ROOT";
    if (value == reinterpret_cast<uintptr_t>(HKEY_USERS))
        return u"HKEY_USERS";
    return nullptr;
}

sim::RegistryKey keyOf(HKEY key) {
    sim::Machine& machine = sim::Machine::instance();
    if (const char16_t* path = predefinedPath(key))
        return machine.registry().keyOfPath(path);
    auto object = machine.handles().getAs<sim::RegistryKeyObject>(key);
    return object ? object->key() : nullptr;
}

HKEY openHandle(const sim::RegistryKey& key) {
    return static_cast<HKEY>(
        sim::Machine::instance().handles().add(std::make_shared<sim::RegistryKeyObject>(key)));
}

std::string narrow(LPCWSTR s) {
    return s ? sim::toUtf8(sim::wideOf(s)) : "(null)";
}

} // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    sim::Call call(kModule, "RegOpenKeyExW");
    call.args("key=%p subKey=%s access=0x%x", static_cast<void*>(key), narrow(subKey).c_str(),
              access);
    if (result)
        *result = nullptr;
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    if (!result)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    sim::RegistryKey base = keyOf(key);
    if (!base)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    if (subKey && subKey[0] == u'\\')
        return call.finish(static_cast<LSTATUS>(ERROR_BAD_PATHNAME));
    sim::RegistryKey opened = sim::Machine::instance().registry().open(base, sim::wideOf(subKey));
    if (!opened)
        return call.finish(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    *result = openHandle(opened);
    return call.finish(static_cast<LSTATUS>(ERROR_SUCCESS));
}

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY result, LPDWORD disposition) {
    sim::Call call(kModule, "RegCreateKeyExW");
    call.args("key=%p subKey=%s", static_cast<void*>(key), narrow(subKey).c_str());
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    if (!result || !subKey)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    *result = nullptr;
    sim::RegistryKey base = keyOf(key);
    if (!base)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    if (subKey[0] == u'\\')
        return call.finish(static_cast<LSTATUS>(ERROR_BAD_PATHNAME));
    bool created = false;
    sim::RegistryKey opened =
        sim::Machine::instance().registry().create(base, sim::wideOf(subKey), created);
    if (!opened)
        return call.finish(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = openHandle(opened);
    return call.finish(static_cast<LSTATUS>(ERROR_SUCCESS));
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD size) {
    sim::Call call(kModule, "RegSetValueExW");
    call.args("key=%p name=%s type=%u size=%u", static_cast<void*>(key), narrow(valueName).c_str(),
              type, size);
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    sim::RegistryKey target = keyOf(key);
    if (!target)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    if (!data && size)
        return call.finish(static_cast<LSTATUS>(ERROR_NOACCESS));
    sim::RegistryValue value;
    value.type = type;
    value.data.assign(data, data ? data + size : data);
    sim::Machine::instance().registry().setValue(target, sim::wideOf(valueName), std::move(value));
    return call.finish(static_cast<LSTATUS>(ERROR_SUCCESS));
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) {
    sim::Call call(kModule, "RegQueryValueExW");
    call.args("key=%p name=%s size=%u", static_cast<void*>(key), narrow(valueName).c_str(),
              size ? *size : 0u);
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    sim::RegistryKey target = keyOf(key);
    if (!target)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    if (reserved || (data && !size))
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    sim::RegistryValue value;
    if (!sim::Machine::instance().registry().queryValue(target, sim::wideOf(valueName), value))
        return call.finish(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    if (type)
        *type = value.type;
    DWORD needed = static_cast<DWORD>(value.data.size());
    LSTATUS status = ERROR_SUCCESS;
    if (data) {
        if (*size < needed)
            status = ERROR_MORE_DATA; // the caller's buffer is left as it was
        else if (needed)
            memcpy(data, value.data.data(), needed);
    }
    if (size)
        *size = needed;
    return call.finish(status);
}

LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                             LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                             PFILETIME lastWriteTime) {
    sim::Call call(kModule, "RegEnumKeyExW");
    call.args("key=%p index=%u", static_cast<void*>(key), index);
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    sim::RegistryKey target = keyOf(key);
    if (!target)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    if (!name || !nameLength || reserved)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    std::u16string subkey;
    if (!sim::Machine::instance().registry().subkeyName(target, index, subkey))
        return call.finish(static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
    if (subkey.size() >= *nameLength)
        return call.finish(static_cast<LSTATUS>(ERROR_MORE_DATA));
    memcpy(name, subkey.c_str(), (subkey.size() + 1) * sizeof(WCHAR));
    *nameLength = static_cast<DWORD>(subkey.size());
    if (keyClass && classLength && *classLength)
        keyClass[0] = 0;
    if (classLength)
        *classLength = 0;
    if (lastWriteTime)
        *lastWriteTime = FILETIME{0, 0};
    return call.finish(static_cast<LSTATUS>(ERROR_SUCCESS));
}

LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                             LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    sim::Call call(kModule, "RegEnumValueW");
    call.args("key=%p index=%u", static_cast<void*>(key), index);
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    sim::RegistryKey target = keyOf(key);
    if (!target)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    if (!name || !nameLength || reserved || (data && !size))
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    std::u16string valueName;
    sim::RegistryValue value;
    if (!sim::Machine::instance().registry().valueAt(target, index, valueName, value))
        return call.finish(static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
    DWORD needed = static_cast<DWORD>(value.data.size());
    if (valueName.size() >= *nameLength || (data && *size < needed)) {
        if (size)
            *size = needed;
        return call.finish(static_cast<LSTATUS>(ERROR_MORE_DATA));
    }
    memcpy(name, valueName.c_str(), (valueName.size() + 1) * sizeof(WCHAR));
    *nameLength = static_cast<DWORD>(valueName.size());
    if (type)
        *type = value.type;
    if (data && needed)
        memcpy(data, value.data.data(), needed);
    if (size)
        *size = needed;
    return call.finish(static_cast<LSTATUS>(ERROR_SUCCESS));
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    sim::Call call(kModule, "RegDeleteValueW");
    call.args("key=%p name=%s", static_cast<void*>(key), narrow(valueName).c_str());
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    sim::RegistryKey target = keyOf(key);
    if (!target)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    bool deleted = sim::Machine::instance().registry().deleteValue(target, sim::wideOf(valueName));
    return call.finish(static_cast<LSTATUS>(deleted ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND));
}

LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    sim::Call call(kModule, "RegDeleteKeyW");
    call.args("key=%p subKey=%s", static_cast<void*>(key), narrow(subKey).c_str());
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    sim::RegistryKey base = keyOf(key);
    if (!base)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    if (!subKey || !*subKey)
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    std::u16string path = sim::wideOf(subKey);
    size_t slash = path.find_last_of(u'\\');
    std::u16string parentPath = slash == std::u16string::npos ? u"" : path.substr(0, slash);
    std::u16string leaf = slash == std::u16string::npos ? path : path.substr(slash + 1);
    sim::Registry& registry = sim::Machine::instance().registry();
    sim::RegistryKey parent = registry.open(base, parentPath);
    if (!parent || !registry.open(parent, leaf))
        return call.finish(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    // A key with subkeys of its own cannot be deleted in one call.
    bool deleted = registry.deleteLeafKey(parent, leaf);
    return call.finish(static_cast<LSTATUS>(deleted ? ERROR_SUCCESS : ERROR_ACCESS_DENIED));
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    sim::Call call(kModule, "RegCloseKey");
    call.args("key=%p", static_cast<void*>(key));
    if (call.faulted())
        return call.finish(static_cast<LSTATUS>(call.faultStatus()));
    if (predefinedPath(key))
        return call.finish(static_cast<LSTATUS>(ERROR_SUCCESS));
    sim::HandleTable& handles = sim::Machine::instance().handles();
    if (!handles.getAs<sim::RegistryKeyObject>(key) || !handles.close(key))
        return call.finish(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    return call.finish(static_cast<LSTATUS>(ERROR_SUCCESS));
}
