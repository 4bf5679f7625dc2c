// The registry of the simulated machine through advapi32.dll and ntdll.dll.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <string.h>
#include <vector>

namespace {

const char16_t kDriverKey[] = u"SOFTWARE\\Quorvex\\VessaDriver";

void seedDriverKey() {
    sim::Registry& registry = sim::Machine::instance().registry();
    registry.setString(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver", u"InstallDirectory",
                       u"C:\\Program Files\\Vessa");
    registry.setDword(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver", u"Level", 3);
    const uint8_t bytes[] = {1, 2, 3};
    registry.setBinary(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver", u"Blob", bytes, 3);
    registry.setMultiString(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver", u"List", {u"a", u"bc"});
}

/// The native functions, resolved from ntdll.dll as the system resolves them.
struct Native {
    decltype(&NtOpenKey) openKey;
    decltype(&NtQueryValueKey) queryValueKey;
    decltype(&NtClose) close;
    decltype(&RtlInitUnicodeString) initUnicodeString;

    Native() {
        HMODULE ntdll = GetModuleHandleW(u"ntdll.dll");
        EXPECT_NE(ntdll, nullptr);
        openKey = resolve<decltype(openKey)>(ntdll, "NtOpenKey");
        queryValueKey = resolve<decltype(queryValueKey)>(ntdll, "NtQueryValueKey");
        close = resolve<decltype(close)>(ntdll, "NtClose");
        initUnicodeString = resolve<decltype(initUnicodeString)>(ntdll, "RtlInitUnicodeString");
    }

    template <class T> static T resolve(HMODULE module, const char* name) {
        void* address = reinterpret_cast<void*>(GetProcAddress(module, name));
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<T>(address);
    }

    NTSTATUS open(const char16_t* path, HANDLE* key, ULONG attributes = OBJ_CASE_INSENSITIVE) {
        UNICODE_STRING name;
        initUnicodeString(&name, path);
        OBJECT_ATTRIBUTES oa;
        InitializeObjectAttributes(&oa, &name, attributes, nullptr, nullptr);
        return openKey(key, GENERIC_READ, &oa);
    }
};

} // namespace

TEST(Registry, InvalidParametersFailWithWindowsStatuses) {
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE", 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nobody", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
    DWORD size = 4;
    BYTE data[4];
    EXPECT_EQ(RegQueryValueExW(reinterpret_cast<HKEY>(0x1234), u"x", nullptr, nullptr, data, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, u"x", nullptr, nullptr, data, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS); // predefined keys close fine
}

TEST(Registry, ValuesReadBackWithTypeAndSizeAndKeyNamesIgnoreCase) {
    seedDriverKey();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\QUORVEX\\vessadriver", 0,
                            KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    WCHAR text[64];
    DWORD type = 0;
    DWORD size = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key, u"installdirectory", nullptr, &type,
                               reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, sizeof(u"C:\\Program Files\\Vessa"));
    EXPECT_EQ(std::u16string(text), u"C:\\Program Files\\Vessa");

    DWORD level = 0;
    size = sizeof level;
    EXPECT_EQ(
        RegQueryValueExW(key, u"Level", nullptr, &type, reinterpret_cast<BYTE*>(&level), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(level, 3u);

    BYTE blob[8];
    size = sizeof blob;
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, blob, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size, 3u);

    WCHAR list[16];
    size = sizeof list;
    EXPECT_EQ(RegQueryValueExW(key, u"List", nullptr, &type, reinterpret_cast<BYTE*>(list), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(std::u16string(list, size / 2), std::u16string(u"a\0bc\0\0", 6));

    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, blob, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST(Registry, SizeQueriesAndTooSmallBuffersReportTheSizeNeeded) {
    seedDriverKey();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    const DWORD needed = sizeof(u"C:\\Program Files\\Vessa");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallDirectory", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, needed);

    WCHAR small[4] = {u'x', u'x', u'x', u'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallDirectory", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(small[0], u'x'); // the buffer is left alone
    RegCloseKey(key);
}

TEST(Registry, CreatedKeysAndValuesAreVisibleToLaterOpensAndEnumeration) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Vessa\\Test", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    DWORD value = 42;
    EXPECT_EQ(
        RegSetValueExW(key, u"Answer", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"Bad", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    RegCloseKey(key);

    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\vessa\\TEST", 0, nullptr, 0, KEY_READ,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);

    sim::RegistryValue stored;
    ASSERT_TRUE(sim::Machine::instance().registry().getValue(
        u"HKEY_CURRENT_USER\\Software\\Vessa\\Test", u"answer", stored));
    EXPECT_EQ(stored.type, static_cast<uint32_t>(REG_DWORD));

    // Subkeys enumerate in case-insensitive name order.
    sim::Registry& registry = sim::Machine::instance().registry();
    registry.createKey(u"HKCU\\Software\\Vessa\\beta");
    registry.createKey(u"HKCU\\Software\\Vessa\\Alpha");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Vessa", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    std::vector<std::u16string> names;
    WCHAR name[32];
    for (DWORD i = 0;; ++i) {
        DWORD length = 32;
        LSTATUS status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(length, std::u16string(name).size());
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Alpha", u"beta", u"Test"}));
    DWORD tooShort = 3;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &tooShort, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    RegCloseKey(key);
}

TEST(Registry, DeletingKeysAndValues) {
    sim::Registry& registry = sim::Machine::instance().registry();
    registry.setDword(u"HKLM\\SOFTWARE\\Gone\\Child", u"v", 1);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Gone"), ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Gone\\Child", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"V"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Gone\\child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Gone\\child"), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(registry.keyExists(u"HKLM\\SOFTWARE\\Gone\\Child"));
}

TEST(NativeRegistry, InvalidParametersFailWithNativeStatuses) {
    Native nt;
    HANDLE key = reinterpret_cast<HANDLE>(1);
    UNICODE_STRING name;
    nt.initUnicodeString(&name, u"\\Registry\\Machine");
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    EXPECT_EQ(nt.openKey(nullptr, GENERIC_READ, &oa), STATUS_ACCESS_VIOLATION);
    EXPECT_EQ(nt.openKey(&key, GENERIC_READ, nullptr), STATUS_ACCESS_VIOLATION);
    oa.Length = 0;
    EXPECT_EQ(nt.openKey(&key, GENERIC_READ, &oa), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(nt.open(u"Machine\\Software", &key), STATUS_OBJECT_PATH_SYNTAX_BAD);
    EXPECT_EQ(nt.open(u"\\Registry\\Machine\\Software\\Nobody", &key),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(nt.open(u"\\Nowhere\\Machine", &key), STATUS_OBJECT_PATH_NOT_FOUND);
    EXPECT_EQ(nt.close(reinterpret_cast<HANDLE>(0x1234)), STATUS_INVALID_HANDLE);
    ULONG length = 0;
    UNICODE_STRING value;
    nt.initUnicodeString(&value, u"x");
    EXPECT_EQ(nt.queryValueKey(reinterpret_cast<HANDLE>(0x1234), &value, KeyValuePartialInformation,
                               nullptr, 0, &length),
              STATUS_INVALID_HANDLE);
}

TEST(NativeRegistry, RtlInitUnicodeStringCountsBytes) {
    Native nt;
    UNICODE_STRING s;
    nt.initUnicodeString(&s, u"abc");
    EXPECT_EQ(s.Length, 6);
    EXPECT_EQ(s.MaximumLength, 8);
    nt.initUnicodeString(&s, nullptr);
    EXPECT_EQ(s.Length, 0);
    EXPECT_EQ(s.MaximumLength, 0);
    EXPECT_EQ(s.Buffer, nullptr);
}

TEST(NativeRegistry, PartialInformationReportsTooSmallOverflowAndSuccess) {
    seedDriverKey();
    Native nt;
    HANDLE key = nullptr;
    ASSERT_EQ(nt.open(u"\\Registry\\Machine\\Software\\Quorvex\\VessaDriver", &key),
              STATUS_SUCCESS);
    UNICODE_STRING name;
    nt.initUnicodeString(&name, u"InstallDirectory");
    const ULONG dataLength = sizeof(u"C:\\Program Files\\Vessa");
    const ULONG header = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    alignas(8) uint8_t buffer[1600];
    auto* info = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buffer);

    ULONG length = 0;
    EXPECT_EQ(nt.queryValueKey(key, &name, KeyValuePartialInformation, buffer, header - 1, &length),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, header + dataLength);

    memset(buffer, 0xAB, sizeof buffer);
    EXPECT_EQ(nt.queryValueKey(key, &name, KeyValuePartialInformation, buffer, header + 4, &length),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(length, header + dataLength);
    EXPECT_EQ(info->Type, static_cast<ULONG>(REG_SZ));
    EXPECT_EQ(info->DataLength, dataLength);

    EXPECT_EQ(
        nt.queryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof buffer, &length),
        STATUS_SUCCESS);
    EXPECT_EQ(length, header + dataLength);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(info->Data)),
              u"C:\\Program Files\\Vessa");

    UNICODE_STRING missing;
    nt.initUnicodeString(&missing, u"Missing");
    EXPECT_EQ(
        nt.queryValueKey(key, &missing, KeyValuePartialInformation, buffer, sizeof buffer, &length),
        STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(nt.close(key), STATUS_SUCCESS);
    EXPECT_EQ(nt.close(key), STATUS_INVALID_HANDLE);
}

TEST(NativeRegistry, NativeAndWin32HandlesAreTheSameKeys) {
    seedDriverKey();
    Native nt;
    HANDLE machine = nullptr;
    ASSERT_EQ(nt.open(u"\\REGISTRY\\MACHINE", &machine), STATUS_SUCCESS);
    // A relative open below a native handle, then a Win32 read through the same handle.
    UNICODE_STRING name;
    nt.initUnicodeString(&name, u"software\\quorvex\\vessadriver");
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE, machine, nullptr);
    HANDLE driver = nullptr;
    ASSERT_EQ(nt.openKey(&driver, GENERIC_READ, &oa), STATUS_SUCCESS);
    DWORD level = 0;
    DWORD size = sizeof level;
    EXPECT_EQ(RegQueryValueExW(static_cast<HKEY>(driver), u"Level", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&level), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(level, 3u);
    EXPECT_EQ(RegCloseKey(static_cast<HKEY>(driver)), ERROR_SUCCESS);
    EXPECT_EQ(nt.close(machine), STATUS_SUCCESS);
}

TEST(Registry, FaultInjectionFailsAnEntryWithTheGivenStatus) {
    seedDriverKey();
    sim::Machine& machine = sim::Machine::instance();
    machine.journal().clear();
    machine.faults().failNth("advapi32.dll", "RegOpenKeyExW", 1, ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    machine.faults().clear();
    EXPECT_EQ(machine.journal().count("advapi32.dll", "RegOpenKeyExW"), 2u);
}

TEST(RegistryFiles, RegeditTextIsImported) {
    sim::Registry& registry = sim::Machine::instance().registry();
    registry.setString(u"HKLM\\SOFTWARE\\Old", u"x", u"y");
    const char text[] = "Windows Registry Editor Version 5.00\r\n"
                        "\r\n"
                        "; the installation key\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvex\\VessaDriver]\r\n"
                        "\"InstallDirectory\"=\"C:\\\\Program Files\\\\Vessa\"\r\n"
                        "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
                        "\"Level\"=dword:0000002a\r\n"
                        "\"Blob\"=hex:01,02,\\\r\n"
                        "  03\r\n"
                        "\"List\"=hex(7):61,00,00,00,00,00\r\n"
                        "@=\"default\"\r\n"
                        "\r\n"
                        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n";
    size_t errorLine = 99;
    ASSERT_TRUE(registry.importText(text, &errorLine));
    EXPECT_EQ(errorLine, 0u);

    const char16_t key[] = u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver";
    sim::RegistryValue value;
    ASSERT_TRUE(registry.getValue(key, u"InstallDirectory", value));
    EXPECT_EQ(value.type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(value.data.data())),
              u"C:\\Program Files\\Vessa");
    ASSERT_TRUE(registry.getValue(key, u"Quote", value));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(value.data.data())), u"say \"hi\"");
    ASSERT_TRUE(registry.getValue(key, u"Level", value));
    EXPECT_EQ(value.type, static_cast<uint32_t>(REG_DWORD));
    EXPECT_EQ(value.data, (std::vector<uint8_t>{42, 0, 0, 0}));
    ASSERT_TRUE(registry.getValue(key, u"Blob", value));
    EXPECT_EQ(value.data, (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_TRUE(registry.getValue(key, u"List", value));
    EXPECT_EQ(value.type, static_cast<uint32_t>(REG_MULTI_SZ));
    ASSERT_TRUE(registry.getValue(key, u"", value));
    EXPECT_FALSE(registry.keyExists(u"HKLM\\SOFTWARE\\Old"));
}

TEST(RegistryFiles, MalformedLinesAreReportedByNumber) {
    sim::Registry& registry = sim::Machine::instance().registry();
    size_t errorLine = 0;
    EXPECT_FALSE(registry.importText("not a registry file\n", &errorLine));
    EXPECT_EQ(errorLine, 1u);
    EXPECT_FALSE(registry.importText("REGEDIT4\n\n\"orphan\"=\"value\"\n", &errorLine));
    EXPECT_EQ(errorLine, 3u);
    EXPECT_FALSE(registry.importText("REGEDIT4\n[HKLM\\X]\n\"v\"=dword:xyz\n", &errorLine));
    EXPECT_EQ(errorLine, 3u);
    EXPECT_FALSE(registry.importText("REGEDIT4\n[NOWHERE\\X]\n", &errorLine));
    EXPECT_EQ(errorLine, 2u);
}
