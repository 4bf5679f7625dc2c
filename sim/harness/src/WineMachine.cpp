// The simulated machine inside a real Windows process: hooks and registry (WineMachine.h).
#include "sim/harness/WineMachine.h"

#include "hook/Hook.h"
#include "sim/WideString.h"
#include "sim/gpus/GpuMachine.h"

#include <windows.h>

#include <mutex>
#include <string.h>
#include <vector>

namespace sim {
namespace harness {

namespace {

using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
using EnumDisplayDevicesWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, PDISPLAY_DEVICEW, DWORD);
using EnumDisplayDevicesAFn = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);

GetProcAddressFn s_realGetProcAddress = nullptr;
HMODULE s_gdi32 = nullptr;
HMODULE s_simGdi32 = nullptr;

// gdi32's kernel thunks come from the simulated kernel, whether or not Wine's gdi32 has
// the name (many it has are stubs); every other look-up is the system's.
FARPROC WINAPI harnessGetProcAddress(HMODULE module, LPCSTR name) {
    if (module && module == s_gdi32 && !IS_INTRESOURCE(name) && strncmp(name, "D3DKMT", 6) == 0)
        return s_realGetProcAddress(s_simGdi32, name);
    return s_realGetProcAddress(module, name);
}

void setError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
}

bool hookExport(HMODULE module, const char* name, void* replacement, void** real,
                std::string* error) {
    void* target = reinterpret_cast<void*>(GetProcAddress(module, name));
    if (!target) {
        setError(error, std::string("no ") + name + " to hook");
        return false;
    }
    *real = target;
    if (!hook::setHook(real, replacement)) {
        setError(error, std::string("cannot hook ") + name);
        return false;
    }
    return true;
}

bool installHooks(std::string* error) {
    std::wstring directory = WineMachine::executableDirectory();
    s_simGdi32 = LoadLibraryW((directory + L"\\simgdi32.dll").c_str());
    HMODULE simUser32 = LoadLibraryW((directory + L"\\simuser32.dll").c_str());
    s_gdi32 = LoadLibraryW(L"gdi32.dll");
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (!s_simGdi32 || !simUser32 || !s_gdi32 || !user32 || !kernel32) {
        setError(error, "cannot load simgdi32.dll, simuser32.dll or the system modules");
        return false;
    }
    // The replacements of user32 are simuser32's exports themselves; the real entries are
    // never called again.
    void* unusedW = nullptr;
    void* unusedA = nullptr;
    void* simEnumW = reinterpret_cast<void*>(GetProcAddress(simUser32, "EnumDisplayDevicesW"));
    void* simEnumA = reinterpret_cast<void*>(GetProcAddress(simUser32, "EnumDisplayDevicesA"));
    if (!simEnumW || !simEnumA) {
        setError(error, "simuser32.dll lacks EnumDisplayDevicesW/A");
        return false;
    }
    return hookExport(user32, "EnumDisplayDevicesW", simEnumW, &unusedW, error) &&
           hookExport(user32, "EnumDisplayDevicesA", simEnumA, &unusedA, error) &&
           hookExport(kernel32, "GetProcAddress", reinterpret_cast<void*>(harnessGetProcAddress),
                      reinterpret_cast<void**>(&s_realGetProcAddress), error);
}

bool setValue(const std::wstring& key, const std::wstring& name, DWORD type, const void* data,
              DWORD size, std::string* error) {
    HKEY hKey = nullptr;
    const REGSAM access = KEY_SET_VALUE | KEY_WOW64_64KEY;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, access, nullptr,
                                  &hKey, nullptr);
    // Wine keeps the video keys volatile (its display driver writes them at start-up);
    // what is created below them must be volatile too.
    if (result == ERROR_CHILD_MUST_BE_VOLATILE)
        result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                 access, nullptr, &hKey, nullptr);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExW(hKey, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(hKey);
    }
    if (result != ERROR_SUCCESS) {
        setError(error, "cannot write registry value " + toUtf8(asU16(key.c_str())) + "\\" +
                            toUtf8(asU16(name.c_str())) + " (error " + std::to_string(result) +
                            ")");
        return false;
    }
    return true;
}

std::wstring wide(const std::string& text) {
    std::u16string u16 = fromUtf8(text);
    return std::wstring(u16.begin(), u16.end());
}

// The machine's video keys, below HKLM as the product opens them: the display device key
// from its "System" part on, with the value that leads to the adapter's interface name.
bool writeVideoKeys(const MachineDesc& desc, std::string* error) {
    for (const DisplayDeviceDesc& display : desc.displays) {
        if (display.mirroring() || !desc.gpus[size_t(display.gpu)].writeInterfaceValue)
            continue;
        std::string key = desc.deviceKeyOf(display);
        size_t system = key.find("System");
        if (system == std::string::npos) {
            setError(error, "display device key without a System part: " + key);
            return false;
        }
        std::vector<uint8_t> data =
            utf16Bytes(desc.gpus[size_t(display.gpu)].registryInterfacePath(), false);
        if (!setValue(wide(key.substr(system) + "\\" + kVolatileSettingsSubkey),
                      wide(kInterfaceValueName), REG_BINARY, data.data(), DWORD(data.size()),
                      error))
            return false;
    }
    return true;
}

bool writeDriverKey(const std::wstring& productDirectory, std::string* error) {
    const std::wstring key = L"SOFTWARE\\Quorvex\\VessaDriver";
    const DWORD size = DWORD((productDirectory.size() + 1) * sizeof(wchar_t));
    return setValue(key, L"InstallDirectory", REG_SZ, productDirectory.c_str(), size, error) &&
           setValue(key, L"ConfigFileDirectory", REG_SZ, productDirectory.c_str(), size, error);
}

} // namespace

bool WineMachine::install(const MachineDesc& desc, const std::wstring& productDirectory,
                          std::string* error) {
    static std::once_flag s_hooks;
    static bool s_hooked = false;
    static std::string s_hookError;
    std::call_once(s_hooks, [] { s_hooked = installHooks(&s_hookError); });
    if (!s_hooked) {
        setError(error, s_hookError);
        return false;
    }
    return installMachine(desc, error) && writeVideoKeys(desc, error) &&
           writeDriverKey(productDirectory, error);
}

std::wstring WineMachine::executableDirectory() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length < MAX_PATH ? length : 0);
    size_t slash = text.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : text.substr(0, slash);
}

} // namespace harness
} // namespace sim
