// Setting up the simulated machine for the configuration store.
#include "ConfigScene.h"

#include "sim/Machine.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <filesystem>
#include <system_error>

namespace vessaconfig {

namespace {

const char16_t kDriverKey[] = u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver";

std::u16string widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// The discrete ATI GPU owns the display and the Intel GPU has no monitor: no preset has it.
sim::MachineDesc atiPrimary() {
    sim::MachineDesc machine;
    int ati = machine.addGpu(sim::presets::atiGpu());
    sim::GpuDesc intelDesc = sim::presets::intelGpu();
    int intel = machine.addGpu(intelDesc);
    sim::DisplayMode mode;
    mode.width = 1920;
    mode.height = 1080;
    machine.addOutput(ati, true, mode);
    machine.addInactive(intel);
    return machine;
}

bool machineFor(const std::string& name, sim::MachineDesc& machine) {
    if (name == "intel_nv")
        machine = sim::presets::defaultMachine();
    else if (name == "intel_ati")
        machine = sim::presets::intelAti();
    else if (name == "nv_intel")
        machine = sim::presets::nvidiaPrimary();
    else if (name == "ati_intel")
        machine = atiPrimary();
    else if (name == "none")
        machine = sim::presets::oneGpu();
    else
        return false;
    return true;
}

bool writeFile(const std::u16string& folder, const std::string& name, const std::string& contents,
               std::string& error) {
    std::u16string path = folder + u"\\" + widen(name);
    if (sim::Machine::instance().root().writeFile(path, contents))
        return true;
    error = "cannot write " + name + " into the simulated machine";
    return false;
}

// The driver loads the library from its installation directory by full path, so the built
// module is placed there as an installer would.
bool installLibrary(std::string& error) {
    sim::Machine& machine = sim::Machine::instance();
    std::string built = machine.modules().find("ConfigurationController.dll");
    if (built.empty()) {
        error = "ConfigurationController.dll is not in the modules folder";
        return false;
    }
    std::u16string target = std::u16string(kInstallDirectory) + u"\\ConfigurationController.dll";
    machine.root().createFolder(kInstallDirectory);
    std::error_code failure;
    std::filesystem::copy_file(built, machine.root().toHost(target),
                               std::filesystem::copy_options::overwrite_existing, failure);
    if (failure) {
        error = "cannot install ConfigurationController.dll: " + failure.message();
        return false;
    }
    return true;
}

} // namespace

const std::vector<std::string>& gpuConfigurationNames() {
    static const std::vector<std::string> s_names = {"intel_nv", "intel_ati", "nv_intel",
                                                     "ati_intel", "none"};
    return s_names;
}

bool installConfigScene(const ConfigScene& scene, std::string& error) {
    sim::MachineDesc desc;
    if (!machineFor(scene.gpus, desc)) {
        error = "unknown GPU configuration '" + scene.gpus + "'";
        return false;
    }
    if (!sim::installMachine(desc, &error))
        return false;

    sim::Machine& machine = sim::Machine::instance();
    machine.setExecutablePath(scene.executablePath);
    if (scene.installKey) {
        machine.registry().setString(kDriverKey, u"InstallDirectory", kInstallDirectory);
        machine.registry().setString(kDriverKey, u"ConfigFileDirectory", kConfigDirectory);
    }
    machine.root().createFolder(kConfigDirectory);
    if (scene.installLibrary && !installLibrary(error))
        return false;
    if (scene.database && !writeFile(kConfigDirectory, scene.databaseName, *scene.database, error))
        return false;
    if (scene.otherDatabase &&
        !writeFile(kConfigDirectory, scene.otherDatabaseName, *scene.otherDatabase, error))
        return false;

    if (scene.userProfile) {
        machine.environment().set(u"USERPROFILE", kUserProfile);
        machine.root().createFolder(kUserFolder);
    } else {
        machine.environment().unset(u"USERPROFILE");
    }
    if (scene.userSettings &&
        !writeFile(kUserFolder, "userSettings.xml", *scene.userSettings, error))
        return false;
    if (scene.loaderIni && !writeFile(kUserFolder, "vessaloader.ini", *scene.loaderIni, error))
        return false;
    return true;
}

} // namespace vessaconfig
