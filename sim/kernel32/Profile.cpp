// kernel32.dll: private-profile (ini file) reads.
#include "IniFile.h"

#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <string.h>

namespace {

const char kModule[] = "kernel32.dll";

// A file name without a folder is looked for in the Windows folder, as Windows does.
std::u16string profilePath(LPCWSTR fileName) {
    std::u16string name = fileName ? sim::wideOf(fileName) : u"win.ini";
    if (name.find_first_of(u"\\/:") == std::u16string::npos)
        return u"C:\\Windows\\" + name;
    return name;
}

// Copies a value into the caller's buffer, cut to size - 1 characters.
DWORD copyValue(const std::u16string& value, LPWSTR buffer, DWORD size) {
    size_t n = value.size() < size ? value.size() : size - 1;
    memcpy(buffer, value.data(), n * sizeof(WCHAR));
    buffer[n] = 0;
    return static_cast<DWORD>(n);
}

// Copies a list of names, each terminated and the list terminated once more. A list that
// does not fit is cut, still ends in two terminators, and returns size - 2.
DWORD copyList(const std::vector<std::u16string>& names, LPWSTR buffer, DWORD size) {
    std::u16string joined;
    for (const std::u16string& name : names) {
        joined += name;
        joined += u'\0';
    }
    if (joined.size() + 1 <= size) {
        memcpy(buffer, joined.data(), joined.size() * sizeof(WCHAR));
        buffer[joined.size()] = 0;
        return static_cast<DWORD>(joined.size() > 0 ? joined.size() : 0);
    }
    if (size < 2) {
        buffer[0] = 0;
        return 0;
    }
    memcpy(buffer, joined.data(), (size - 2) * sizeof(WCHAR));
    buffer[size - 2] = 0;
    buffer[size - 1] = 0;
    return size - 2;
}

} // namespace

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                                      LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    sim::Call call(kModule, "GetPrivateProfileStringW");
    std::u16string path = profilePath(fileName);
    call.args("section=%s key=%s size=%u file=%s",
              section ? sim::toUtf8(sim::wideOf(section)).c_str() : "(null)",
              key ? sim::toUtf8(sim::wideOf(key)).c_str() : "(null)", size,
              sim::toUtf8(path).c_str());
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(0u);
    }
    if (!buffer || size == 0)
        return call.finish(0u);

    // The default loses its trailing blanks, as Windows trims it.
    std::u16string fallback = sim::wideOf(defaultValue);
    while (!fallback.empty() && fallback.back() == u' ')
        fallback.pop_back();

    std::string bytes;
    if (!sim::Machine::instance().root().readFile(path, bytes)) {
        sim::setLastError(ERROR_FILE_NOT_FOUND);
        if (!section || !key) {
            buffer[0] = 0;
            if (size > 1)
                buffer[1] = 0;
            return call.finish(0u);
        }
        return call.finish(copyValue(fallback, buffer, size));
    }
    sim::IniFile ini(bytes);
    if (!section)
        return call.finish(copyList(ini.sectionNames(), buffer, size));
    if (!key) {
        auto names = ini.keyNames(sim::wideOf(section));
        return call.finish(copyList(names ? *names : std::vector<std::u16string>{}, buffer, size));
    }
    auto value = ini.value(sim::wideOf(section), sim::wideOf(key));
    if (!value)
        sim::setLastError(ERROR_FILE_NOT_FOUND);
    return call.finish(copyValue(value ? *value : fallback, buffer, size));
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue,
                                  LPCWSTR fileName) {
    WCHAR text[64];
    DWORD n = GetPrivateProfileStringW(section, key, u"", text, 64, fileName);
    if (n == 0)
        return static_cast<UINT>(defaultValue);
    // Leading digits in base 10 with an optional sign; anything after them is ignored.
    size_t i = 0;
    bool negative = false;
    if (text[i] == u'-' || text[i] == u'+')
        negative = text[i++] == u'-';
    long long result = 0;
    while (text[i] >= u'0' && text[i] <= u'9' && result < 0x100000000ll)
        result = result * 10 + (text[i++] - u'0');
    return static_cast<UINT>(negative ? -result : result);
}
