// The loader's table of modules (kernel32.dll internals).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace sim {

/// The modules the process knows, keyed by base address (the HMODULE, as on Windows: the
/// address of the module's mapped image).
///
/// Modules mapped by the dynamic linker at start-up (kernel32.dll, gdi32.dll, ...) count as
/// statically imported: they are found by name and address, but LoadLibrary never runs
/// their DllMain and FreeLibrary never unloads them. Modules that LoadLibrary maps itself
/// get DllMain(DLL_PROCESS_ATTACH) once, and DllMain(DLL_PROCESS_DETACH) when the last
/// reference is freed. The loader lock (recursive, as Windows') is held across DllMain.
class ModuleTable {
public:
    static ModuleTable& instance();

    /// Loads a module by Windows name or path; null with the last error set on failure.
    void* load(const std::u16string& name);
    /// Drops one reference; false with the last error set for an unknown module.
    bool free(void* module);
    /// The base of a loaded module by Windows name or path (no reference taken); null when
    /// not loaded. A null name is the main executable.
    void* find(const char16_t* name);
    /// The base of the module containing `address`; null when none.
    void* findByAddress(const void* address);
    /// Takes a reference (or pins the module); false for an unknown module.
    bool addReference(void* module, bool pin);
    /// An exported symbol of the module; null with the last error set.
    void* symbol(void* module, const char* name);
    /// The Windows path of a module; false with the last error set.
    bool windowsPath(void* module, std::u16string& path);

private:
    ModuleTable();

    struct Module {
        std::string hostPath;
        void* dlHandle = nullptr;
        unsigned references = 0;
        bool fromLoader = false; // mapped by LoadLibrary (not by the dynamic linker)
        bool pinned = false;
    };

    Module* lookup(uintptr_t base);
    Module* adoptMapped(uintptr_t base);
    void* exportOf(uintptr_t base, Module& module, const char* name);
    void callDllMain(uintptr_t base, Module& module, uint32_t reason, bool& result);

    std::recursive_mutex m_loaderLock;
    std::map<uintptr_t, Module> m_modules;
};

} // namespace sim
