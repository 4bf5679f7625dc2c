// ntdll.dll: the native registry calls over the machine's registry, and the string helper
// that goes with them.
//
// Native paths are absolute ("\Registry\Machine\Software\...") or relative to an open key
// (RootDirectory). Names compare case-insensitively whether or not OBJ_CASE_INSENSITIVE is
// given: Windows' object manager ignores case by default, and the registry always does.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <string.h>

namespace {

const char kModule[] = "ntdll.dll";

std::u16string textOf(const UNICODE_STRING* s) {
    if (!s || !s->Buffer)
        return u"";
    return std::u16string(s->Buffer, s->Length / sizeof(WCHAR));
}

// Fills one KEY_VALUE_*_INFORMATION: the fixed part when it fits, the variable part only
// when everything fits, and the size needed in all cases.
NTSTATUS fill(const void* fixed, ULONG fixedSize, const void* tail, ULONG tailSize, void* info,
              ULONG length, ULONG* resultLength) {
    *resultLength = fixedSize + tailSize;
    if (length < fixedSize)
        return STATUS_BUFFER_TOO_SMALL;
    memcpy(info, fixed, fixedSize);
    if (length < fixedSize + tailSize)
        return STATUS_BUFFER_OVERFLOW;
    if (tailSize)
        memcpy(static_cast<uint8_t*>(info) + fixedSize, tail, tailSize);
    return STATUS_SUCCESS;
}

} // namespace

void WINAPI RtlInitUnicodeString(PUNICODE_STRING target, PCWSTR source) {
    if (!target)
        return;
    size_t bytes = sim::wideLength(source) * sizeof(WCHAR);
    if (bytes > 0xFFFC)
        bytes = 0xFFFC; // the longest length a UNICODE_STRING can describe
    target->Buffer = const_cast<PWSTR>(source);
    target->Length = static_cast<USHORT>(bytes);
    target->MaximumLength = source ? static_cast<USHORT>(bytes + sizeof(WCHAR)) : 0;
}

NTSTATUS WINAPI NtOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes) {
    sim::Call call(kModule, "NtOpenKey");
    std::u16string name = attributes ? textOf(attributes->ObjectName) : u"";
    call.args("name=%s access=0x%x", sim::toUtf8(name).c_str(), access);
    if (call.faulted())
        return call.finish(static_cast<NTSTATUS>(call.faultStatus()));
    if (!key || !attributes)
        return call.finish(STATUS_ACCESS_VIOLATION);
    *key = nullptr;
    if (attributes->Length != sizeof(OBJECT_ATTRIBUTES))
        return call.finish(STATUS_INVALID_PARAMETER);
    const UNICODE_STRING* objectName = attributes->ObjectName;
    if (objectName && (objectName->Length % sizeof(WCHAR) != 0 ||
                       objectName->Length > objectName->MaximumLength ||
                       (objectName->Length && !objectName->Buffer)))
        return call.finish(STATUS_OBJECT_NAME_INVALID);

    sim::Machine& machine = sim::Machine::instance();
    sim::Registry& registry = machine.registry();
    sim::RegistryKey base;
    std::u16string relative;
    if (attributes->RootDirectory) {
        auto root = machine.handles().getAs<sim::RegistryKeyObject>(attributes->RootDirectory);
        if (!root)
            return call.finish(STATUS_INVALID_HANDLE);
        if (!name.empty() && name[0] == u'\\')
            return call.finish(STATUS_OBJECT_PATH_SYNTAX_BAD);
        base = root->key();
        relative = name;
    } else {
        if (name.empty() || name[0] != u'\\')
            return call.finish(STATUS_OBJECT_PATH_SYNTAX_BAD);
        size_t next = name.find(u'\\', 1);
        std::u16string first = name.substr(1, next == std::u16string::npos ? next : next - 1);
        if (!sim::equalNoCase(first, u"REGISTRY"))
            return call.finish(next == std::u16string::npos ? STATUS_OBJECT_NAME_NOT_FOUND
                                                            : STATUS_OBJECT_PATH_NOT_FOUND);
        base = registry.rootKey();
        relative = next == std::u16string::npos ? u"" : name.substr(next + 1);
    }
    sim::RegistryKey opened = registry.open(base, relative);
    if (!opened)
        return call.finish(STATUS_OBJECT_NAME_NOT_FOUND);
    *key = machine.handles().add(std::make_shared<sim::RegistryKeyObject>(opened));
    return call.finish(STATUS_SUCCESS);
}

NTSTATUS WINAPI NtQueryValueKey(HANDLE key, PUNICODE_STRING valueName,
                                KEY_VALUE_INFORMATION_CLASS infoClass, PVOID info, ULONG length,
                                PULONG resultLength) {
    sim::Call call(kModule, "NtQueryValueKey");
    std::u16string name = textOf(valueName);
    call.args("key=%p name=%s class=%d length=%u", key, sim::toUtf8(name).c_str(),
              static_cast<int>(infoClass), length);
    if (call.faulted())
        return call.finish(static_cast<NTSTATUS>(call.faultStatus()));
    sim::Machine& machine = sim::Machine::instance();
    auto object = machine.handles().getAs<sim::RegistryKeyObject>(key);
    if (!object)
        return call.finish(STATUS_INVALID_HANDLE);
    if (!valueName || !resultLength || (!info && length))
        return call.finish(STATUS_ACCESS_VIOLATION);
    if (infoClass != KeyValuePartialInformation && infoClass != KeyValueBasicInformation)
        return call.finish(STATUS_INVALID_PARAMETER);
    sim::RegistryValue value;
    if (!machine.registry().queryValue(object->key(), name, value))
        return call.finish(STATUS_OBJECT_NAME_NOT_FOUND);

    if (infoClass == KeyValuePartialInformation) {
        KEY_VALUE_PARTIAL_INFORMATION fixed = {};
        fixed.Type = value.type;
        fixed.DataLength = static_cast<ULONG>(value.data.size());
        return call.finish(fill(&fixed, offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data),
                                value.data.data(), fixed.DataLength, info, length, resultLength));
    }
    KEY_VALUE_BASIC_INFORMATION fixed = {};
    fixed.Type = value.type;
    fixed.NameLength = static_cast<ULONG>(name.size() * sizeof(WCHAR));
    return call.finish(fill(&fixed, offsetof(KEY_VALUE_BASIC_INFORMATION, Name), name.data(),
                            fixed.NameLength, info, length, resultLength));
}

NTSTATUS WINAPI NtClose(HANDLE handle) {
    sim::Call call(kModule, "NtClose");
    call.args("handle=%p", handle);
    if (call.faulted())
        return call.finish(static_cast<NTSTATUS>(call.faultStatus()));
    if (!sim::Machine::instance().handles().close(handle))
        return call.finish(STATUS_INVALID_HANDLE);
    return call.finish(STATUS_SUCCESS);
}
