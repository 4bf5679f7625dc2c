// kernel32.dll: module loading by Windows names.
#include "ModuleTable.h"

#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <string.h>

using sim::ModuleTable;

namespace {

const char kModule[] = "kernel32.dll";

// Copies a path into a caller's buffer as GetModuleFileName does: truncated to size - 1
// characters and terminated; a truncated copy returns `size` with
// ERROR_INSUFFICIENT_BUFFER.
template <class Char>
DWORD copyModulePath(const std::basic_string<Char>& path, Char* buffer, DWORD size) {
    if (!buffer || size == 0) {
        sim::setLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(Char));
        return static_cast<DWORD>(path.size());
    }
    memcpy(buffer, path.c_str(), (size - 1) * sizeof(Char));
    buffer[size - 1] = 0;
    sim::setLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

HMODULE loadLibrary(const char* entry, const char16_t* fileName) {
    sim::Call call(kModule, entry);
    call.args("name=%s", sim::toUtf8(sim::wideOf(fileName)).c_str());
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(static_cast<HMODULE>(nullptr));
    }
    if (!fileName) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(static_cast<HMODULE>(nullptr));
    }
    if (!*fileName) {
        sim::setLastError(ERROR_MOD_NOT_FOUND);
        return call.finish(static_cast<HMODULE>(nullptr));
    }
    return call.finish(static_cast<HMODULE>(ModuleTable::instance().load(fileName)));
}

} // namespace

HMODULE WINAPI LoadLibraryW(LPCWSTR fileName) {
    return loadLibrary("LoadLibraryW", fileName);
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    if (!fileName)
        return loadLibrary("LoadLibraryA", nullptr);
    std::u16string wide = sim::fromUtf8(fileName);
    return loadLibrary("LoadLibraryA", wide.c_str());
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    sim::Call call(kModule, "FreeLibrary");
    call.args("module=%p", static_cast<void*>(module));
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(FALSE);
    }
    return call.finish(ModuleTable::instance().free(module) ? TRUE : FALSE);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
    void* module = ModuleTable::instance().find(moduleName);
    if (!module)
        sim::setLastError(ERROR_MOD_NOT_FOUND);
    return static_cast<HMODULE>(module);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (!moduleName)
        return GetModuleHandleW(nullptr);
    std::u16string wide = sim::fromUtf8(moduleName);
    return GetModuleHandleW(wide.c_str());
}

BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* result) {
    const DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN |
                        GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    bool pin = flags & GET_MODULE_HANDLE_EX_FLAG_PIN;
    bool unchanged = flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (result)
        *result = nullptr;
    if (!result || (flags & ~known) || (pin && unchanged)) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ModuleTable& table = ModuleTable::instance();
    void* module = (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
                       ? table.findByAddress(moduleName)
                       : table.find(moduleName);
    if (!module) {
        sim::setLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (!unchanged)
        table.addReference(module, pin);
    *result = static_cast<HMODULE>(module);
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    sim::Call call(kModule, "GetProcAddress");
    bool byOrdinal = reinterpret_cast<uintptr_t>(procName) < 0x10000;
    call.args("module=%p proc=%s", static_cast<void*>(module), byOrdinal ? "#" : procName);
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(static_cast<FARPROC>(nullptr));
    }
    void* address = ModuleTable::instance().symbol(module, procName);
    return call.finish(reinterpret_cast<FARPROC>(address));
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    std::u16string path;
    if (!ModuleTable::instance().windowsPath(module, path))
        return 0;
    return copyModulePath(path, fileName, size);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    std::u16string path;
    if (!ModuleTable::instance().windowsPath(module, path))
        return 0;
    return copyModulePath(sim::toUtf8(path), fileName, size);
}
