// The configuration store on a simulated machine for the fuzz targets: the scene is set up
// once, then each input replaces one file and the store reads it again.
#pragma once

#include "ConfigProperty.h"
#include "ConfigScene.h"
#include "Configuration.h"
#include "FuzzSupport.h"

#include "sim/Machine.h"

#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <string>

namespace fuzz {

/// A sample file of the installation (config/), empty when it cannot be read.
inline std::string sampleFile(const std::string& name) {
    std::ifstream file(std::string(VESSA_FUZZ_SAMPLE_DIR) + "/" + name, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

/// Installs a game on an intel_nv machine with the sample user settings, a loader ini and
/// `database`, and creates the store on it. Properties the first database holds are cached
/// at once and never looked up again; the others are looked up in every input's database.
inline Configuration& createStore(const std::string& database) {
    useBuildModules();
    vessaconfig::ConfigScene scene;
    scene.database = database;
    scene.userSettings = sampleFile("userSettings.xml");
    if (scene.database->empty() || scene.userSettings->empty())
        abort();
    scene.loaderIni = "[game.exe]\nACTIVE=1\nVA=96\n";
    std::string error;
    if (!vessaconfig::installConfigScene(scene, error))
        abort();
    Configuration* configuration = Configuration::getInstance();
    if (!configuration)
        abort();
    // A slot past the last GPU is refused whatever the files hold, and each refusal writes
    // to the log, so it is tried once here rather than with every input.
    if (configuration->getProperty(static_cast<ConfigProperty>(kConfigGpuProperties[0].base),
                                   kConfigGpuSlots))
        abort();
    return *configuration;
}

/// Replaces a file of the scene's folder `folder`.
inline void replaceFile(const std::u16string& folder, const char16_t* name,
                        const std::string& contents) {
    sim::Machine::instance().root().writeFile(folder + u"\\" + name, contents);
}

/// Reads every property for every GPU slot, as the driver's entries do, through each
/// accessor.
inline void readEveryProperty(Configuration& configuration) {
    for (const ConfigPropertyInfo& row : kConfigProperties) {
        auto property = static_cast<ConfigProperty>(row.id);
        configuration.getProperty(property);
        configuration.getIntProperty(property);
        configuration.getPropertySource(property);
    }
    for (const ConfigGpuPropertyInfo& row : kConfigGpuProperties) {
        auto property = static_cast<ConfigProperty>(row.base);
        for (int gpu = 0; gpu < kConfigGpuSlots; ++gpu) {
            configuration.getProperty(property, gpu);
            configuration.getIntProperty(property, gpu);
        }
    }
    configuration.getEffectiveGpuCount();
    configuration.getConfigurationName();
}

} // namespace fuzz
