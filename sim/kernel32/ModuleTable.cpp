// The loader: Windows module names over the dynamic linker.
#include "ModuleTable.h"

#include "platform/sim/win32_api.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

struct MappedObject {
    uintptr_t base;
    std::string path; // "" for the main executable
};

uintptr_t pageDown(uintptr_t address) {
    uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    return address & ~(page - 1);
}

int collectMapped(struct dl_phdr_info* info, size_t, void* data) {
    auto* out = static_cast<std::vector<MappedObject>*>(data);
    uintptr_t lowest = UINTPTR_MAX;
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest)
            lowest = info->dlpi_phdr[i].p_vaddr;
    if (lowest == UINTPTR_MAX)
        return 0;
    std::string name = info->dlpi_name ? info->dlpi_name : "";
    if (!out->empty() && name.empty())
        return 0; // the vDSO and other nameless objects are not modules
    out->push_back(MappedObject{pageDown(info->dlpi_addr + lowest), name});
    return 0;
}

// Every object the dynamic linker has mapped; the first is the main executable.
std::vector<MappedObject> mappedObjects() {
    std::vector<MappedObject> objects;
    dl_iterate_phdr(collectMapped, &objects);
    return objects;
}

uintptr_t baseOfAddress(const void* address) {
    Dl_info info;
    if (!address || !dladdr(address, &info) || !info.dli_fbase)
        return 0;
    return reinterpret_cast<uintptr_t>(info.dli_fbase);
}

uintptr_t baseOfHandle(void* handle) {
    struct link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return 0;
    return baseOfAddress(map->l_ld);
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool isFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool hasDirectory(const std::u16string& name) {
    return name.find_first_of(u"\\/:") != std::u16string::npos;
}

// The Windows rules for a module name: no extension means ".dll"; a trailing dot means
// "no extension at all".
std::u16string normalizedName(std::u16string name) {
    size_t lastSeparator = name.find_last_of(u"\\/");
    size_t start = lastSeparator == std::u16string::npos ? 0 : lastSeparator + 1;
    if (!name.empty() && name.back() == u'.')
        name.pop_back();
    else if (name.find(u'.', start) == std::u16string::npos)
        name += u".dll";
    return name;
}

std::string executableHostPath() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    path[n] = 0;
    return path;
}

} // namespace

ModuleTable& ModuleTable::instance() {
    // Never destroyed: modules may be freed from other static destructors.
    static ModuleTable* s_table = new ModuleTable();
    return *s_table;
}

// Every process of a Windows desktop has these mapped, whether or not the executable
// imports from them (the system resolves kernel thunks and native calls from them by name).
// The dynamic linker maps only what an executable uses, so the loader maps the rest.
ModuleTable::ModuleTable() {
    const char* const alwaysMapped[] = {"ntdll.dll", "kernel32.dll", "advapi32.dll", "user32.dll",
                                        "gdi32.dll"};
    std::string directory = Machine::instance().modules().buildDirectory();
    for (const char* name : alwaysMapped) {
        std::string path = directory + "/" + name;
        if (isFile(path) && !dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD))
            dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
}

ModuleTable::Module* ModuleTable::lookup(uintptr_t base) {
    auto it = m_modules.find(base);
    return it == m_modules.end() ? adoptMapped(base) : &it->second;
}

// A module the dynamic linker mapped (or anyone else) that the table does not know yet.
ModuleTable::Module* ModuleTable::adoptMapped(uintptr_t base) {
    std::vector<MappedObject> objects = mappedObjects();
    for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i].base != base)
            continue;
        Module module;
        if (i == 0) {
            module.hostPath = executableHostPath();
            module.dlHandle = dlopen(nullptr, RTLD_NOW);
        } else {
            module.hostPath = objects[i].path;
            module.dlHandle = dlopen(objects[i].path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        }
        if (!module.dlHandle)
            return nullptr;
        return &m_modules.emplace(base, module).first->second;
    }
    return nullptr;
}

void* ModuleTable::exportOf(uintptr_t base, Module& module, const char* name) {
    void* address = dlsym(module.dlHandle, name);
    // dlsym also searches the module's dependencies; Windows exports are the module's own.
    if (!address || baseOfAddress(address) != base)
        return nullptr;
    return address;
}

void ModuleTable::callDllMain(uintptr_t base, Module& module, uint32_t reason, bool& result) {
    result = true;
    void* entry = exportOf(base, module, "DllMain");
    if (!entry)
        return;
    auto dllMain = reinterpret_cast<PDLL_MAIN>(entry);
    result = dllMain(reinterpret_cast<HINSTANCE>(base), reason, nullptr) != FALSE;
}

void* ModuleTable::load(const std::u16string& requested) {
    std::lock_guard<std::recursive_mutex> guard(m_loaderLock);
    std::u16string name = normalizedName(requested);

    // A module already loaded under the same file name is used as it is, as Windows does
    // for names without a path.
    if (!hasDirectory(name)) {
        if (void* loaded = find(name.c_str())) {
            Module* module = lookup(reinterpret_cast<uintptr_t>(loaded));
            ++module->references;
            return loaded;
        }
    }

    Machine& machine = Machine::instance();
    std::string hostPath =
        hasDirectory(name) ? machine.root().toHost(name) : machine.modules().find(toUtf8(name));
    if (hostPath.empty() || !isFile(hostPath)) {
        setLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }

    // An object the dynamic linker mapped already (as a dependency, or under another
    // name) is used as it is; only a newly mapped module runs DllMain.
    void* probe = dlopen(hostPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    void* handle = probe ? probe : dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        setLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    uintptr_t base = baseOfHandle(handle);
    auto known = m_modules.find(base);
    if (known != m_modules.end()) {
        dlclose(handle); // the table's own handle keeps the module
        ++known->second.references;
        return reinterpret_cast<void*>(base);
    }
    if (probe) {
        Module& adopted = m_modules[base];
        adopted.hostPath = hostPath;
        adopted.dlHandle = probe;
        adopted.references = 1;
        return reinterpret_cast<void*>(base);
    }

    Module& module = m_modules[base];
    module.hostPath = hostPath;
    module.dlHandle = handle;
    module.references = 1;
    module.fromLoader = true;
    bool attached = false;
    callDllMain(base, module, DLL_PROCESS_ATTACH, attached);
    if (!attached) {
        // A module that refuses to attach is detached and unmapped again.
        bool ignored = false;
        callDllMain(base, module, DLL_PROCESS_DETACH, ignored);
        m_modules.erase(base);
        dlclose(handle);
        setLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return reinterpret_cast<void*>(base);
}

bool ModuleTable::free(void* moduleHandle) {
    std::lock_guard<std::recursive_mutex> guard(m_loaderLock);
    uintptr_t base = reinterpret_cast<uintptr_t>(moduleHandle);
    Module* module = moduleHandle ? lookup(base) : nullptr;
    if (!module) {
        setLastError(moduleHandle ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_HANDLE);
        return false;
    }
    if (module->references > 0)
        --module->references;
    if (!module->fromLoader || module->pinned || module->references > 0)
        return true;
    bool ignored = false;
    callDllMain(base, *module, DLL_PROCESS_DETACH, ignored);
    void* handle = module->dlHandle;
    m_modules.erase(base);
    dlclose(handle);
    return true;
}

void* ModuleTable::find(const char16_t* requested) {
    std::lock_guard<std::recursive_mutex> guard(m_loaderLock);
    std::vector<MappedObject> objects = mappedObjects();
    if (!requested)
        return objects.empty() ? nullptr : reinterpret_cast<void*>(objects[0].base);

    std::u16string name = normalizedName(requested);
    if (hasDirectory(name)) {
        std::string wanted = realPath(Machine::instance().root().toHost(name));
        for (size_t i = 1; i < objects.size(); ++i)
            if (realPath(objects[i].path) == wanted)
                return reinterpret_cast<void*>(objects[i].base);
        return nullptr;
    }
    std::string wanted = toUtf8(name);
    for (size_t i = 1; i < objects.size(); ++i)
        if (equalNoCase(std::string_view(baseName(objects[i].path)), wanted))
            return reinterpret_cast<void*>(objects[i].base);
    return nullptr;
}

void* ModuleTable::findByAddress(const void* address) {
    uintptr_t base = baseOfAddress(address);
    if (!base)
        return nullptr;
    std::lock_guard<std::recursive_mutex> guard(m_loaderLock);
    return lookup(base) ? reinterpret_cast<void*>(base) : nullptr;
}

bool ModuleTable::addReference(void* moduleHandle, bool pin) {
    std::lock_guard<std::recursive_mutex> guard(m_loaderLock);
    Module* module = moduleHandle ? lookup(reinterpret_cast<uintptr_t>(moduleHandle)) : nullptr;
    if (!module)
        return false;
    if (pin)
        module->pinned = true;
    else
        ++module->references;
    return true;
}

void* ModuleTable::symbol(void* moduleHandle, const char* name) {
    std::lock_guard<std::recursive_mutex> guard(m_loaderLock);
    if (!moduleHandle)
        moduleHandle = find(nullptr);
    uintptr_t base = reinterpret_cast<uintptr_t>(moduleHandle);
    Module* module = lookup(base);
    if (!module) {
        setLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Exports by ordinal (a "name" below 0x10000) do not exist on the machine.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        setLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* address = exportOf(base, *module, name);
    if (address && Machine::instance().faults().exportHidden(baseName(module->hostPath), name))
        address = nullptr;
    if (!address)
        setLastError(ERROR_PROC_NOT_FOUND);
    return address;
}

bool ModuleTable::windowsPath(void* moduleHandle, std::u16string& path) {
    std::lock_guard<std::recursive_mutex> guard(m_loaderLock);
    Machine& machine = Machine::instance();
    void* executable = find(nullptr);
    if (!moduleHandle || moduleHandle == executable) {
        path = machine.executablePath();
        if (path.empty())
            path = machine.root().toWindows(executableHostPath());
        return true;
    }
    Module* module = lookup(reinterpret_cast<uintptr_t>(moduleHandle));
    if (!module) {
        setLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    path = machine.root().toWindows(module->hostPath);
    return true;
}

} // namespace sim
