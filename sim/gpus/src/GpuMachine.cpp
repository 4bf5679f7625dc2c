// Installing machine descriptions, and the machine every process starts with.
#include "sim/gpus/GpuMachine.h"

#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/WideString.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"
#include "sim/gpus/ScenarioLoader.h"

#include <filesystem>
#include <stdio.h>
#include <stdlib.h>

namespace sim {

namespace {

const char16_t* const kVideoRoot =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Video";

bool writeRegistry(const MachineDesc& desc, std::string* error) {
    Registry& registry = Machine::instance().registry();
    // The video keys belong to the installed machine alone.
    registry.removeKey(kVideoRoot);
    registry.createKey(kVideoRoot);
    for (const DisplayDeviceDesc& display : desc.displays) {
        std::u16string key = fromUtf8(desc.deviceKeyOf(display));
        if (!registry.createKey(key)) {
            if (error)
                *error = "cannot create registry key " + desc.deviceKeyOf(display);
            return false;
        }
        if (display.mirroring() || !desc.gpus[display.gpu].writeInterfaceValue)
            continue;
        // Windows stores the path as bytes without a terminator; the reader terminates it.
        std::vector<uint8_t> data =
            utf16Bytes(desc.gpus[display.gpu].registryInterfacePath(), false);
        std::u16string subkey = key + u"\\" + fromUtf8(kVolatileSettingsSubkey);
        registry.setBinary(subkey, fromUtf8(kInterfaceValueName), data.data(), data.size());
    }
    for (const RegistryValueDesc& value : desc.registry) {
        if (!registry.setValue(fromUtf8(value.key), fromUtf8(value.name),
                               RegistryValue{value.type, value.data})) {
            if (error)
                *error = "cannot set registry value " + value.key + "\\" + value.name;
            return false;
        }
    }
    return true;
}

bool writeFiles(const MachineDesc& desc, std::string* error) {
    for (const FileDesc& file : desc.files) {
        if (!Machine::instance().root().writeFile(fromUtf8(file.path), file.content)) {
            if (error)
                *error = "cannot write file " + file.path;
            return false;
        }
    }
    return true;
}

// A product module the build keeps out of the module search path, so that only an
// installation finds it (the interop library, in "interop" beside the modules folder); empty
// when there is none.
std::string outsideSearchPath(Machine& machine, const std::string& name) {
    std::error_code failure;
    std::filesystem::path modules(machine.modules().buildDirectory());
    if (!modules.has_filename())
        modules = modules.parent_path(); // a trailing separator
    std::filesystem::path candidate = modules.parent_path() / "interop" / name;
    return std::filesystem::is_regular_file(candidate, failure) ? candidate.string()
                                                                : std::string();
}

// Copies the product's files from the build into their installation folders. The copy keeps
// the host file's permissions, so a copied module loads as the built one does.
bool installProducts(const MachineDesc& desc, std::string* error) {
    Machine& machine = Machine::instance();
    for (const InstallDesc& install : desc.installs) {
        std::u16string folder = fromUtf8(install.directory);
        if (!machine.root().createFolder(folder)) {
            if (error)
                *error = "cannot create installation folder " + install.directory;
            return false;
        }
        for (const std::string& name : install.files) {
            std::string built = machine.modules().find(name);
            if (built.empty())
                built = outsideSearchPath(machine, name);
            std::string target = machine.root().toHost(folder + u"\\" + fromUtf8(name));
            if (!built.empty() && built == target)
                continue; // already in place (the folder is in the search path)
            std::error_code failure;
            if (built.empty() ||
                !std::filesystem::copy_file(
                    built, target, std::filesystem::copy_options::overwrite_existing, failure)) {
                if (error)
                    *error =
                        "cannot install " + name + " into " + install.directory +
                        (built.empty() ? ": no such module was built" : ": " + failure.message());
                return false;
            }
        }
    }
    return true;
}

std::mutex& installLock() {
    static std::mutex* s_pLock = new std::mutex();
    return *s_pLock;
}

std::shared_ptr<const MachineDesc>& installed() {
    static auto* s_pInstalled = new std::shared_ptr<const MachineDesc>();
    return *s_pInstalled;
}

// Every process starts on a machine: the scenario named by VESSA_SCENARIO, or the default
// hybrid machine. Runs when the library loads, after the machine core it depends on.
__attribute__((constructor)) void installStartMachine() {
    MachineDesc desc = presets::defaultMachine();
    const char* scenario = getenv("VESSA_SCENARIO");
    if (scenario && *scenario) {
        std::string error;
        MachineDesc loaded;
        // The parts that own other section kinds load after this library; they read
        // their own sections themselves.
        if (ScenarioLoader::loadFile(scenario, loaded, &error,
                                     ScenarioLoader::UnknownSections::Skip))
            desc = loaded;
        else
            fprintf(stderr, "simulated machine: %s; using the default machine\n", error.c_str());
    }
    std::string error;
    if (!installMachine(desc, &error))
        fprintf(stderr, "simulated machine: %s\n", error.c_str());
}

} // namespace

bool installMachine(const MachineDesc& desc, std::string* error) {
    std::string problem = desc.validate();
    if (!problem.empty()) {
        if (error)
            *error = "invalid machine: " + problem;
        return false;
    }
    std::lock_guard<std::mutex> guard(installLock());
    auto pDesc = std::make_shared<const MachineDesc>(desc);
    installed() = pDesc;
    // Each machine starts its own clock: a virtual one at its epoch, so runs repeat.
    Clock::instance().setMode(desc.virtualClock ? Clock::Mode::Virtual : Clock::Mode::Real);
    Kernel::instance().reset(pDesc);
    Display::instance().clear();
    return writeRegistry(desc, error) && writeFiles(desc, error) && installProducts(desc, error);
}

std::shared_ptr<const MachineDesc> installedMachine() {
    std::lock_guard<std::mutex> guard(installLock());
    if (!installed())
        installed() = std::make_shared<const MachineDesc>(presets::defaultMachine());
    return installed();
}

} // namespace sim
