// The configuration store on a simulated machine for the fuzz targets: the scene is set up
// once, then each input replaces one file and the store reads it again.
#pragma once

#include "ConfigProperty.h"
#include "ConfigScene.h"
#include "Configuration.h"
#include "FuzzSupport.h"

#include "sim/Machine.h"

#include <stdlib.h>
#include <string>

namespace fuzz {

/// Installs a game on an intel_nv machine with a small valid database, user settings and
/// loader ini, and creates the store on it.
inline Configuration& createStore() {
    useBuildModules();
    vessaconfig::ConfigScene scene;
    scene.database = "<kora><default><all><gpu_count>2</gpu_count></all></default></kora>";
    scene.userSettings = "<userSettings><default/></userSettings>";
    scene.loaderIni = "[game.exe]\nACTIVE=1\nVA=96\n";
    std::string error;
    if (!vessaconfig::installConfigScene(scene, error))
        abort();
    Configuration* configuration = Configuration::getInstance();
    if (!configuration)
        abort();
    return *configuration;
}

/// Replaces a file of the scene's folder `folder`.
inline void replaceFile(const std::u16string& folder, const char16_t* name,
                        const std::string& contents) {
    sim::Machine::instance().root().writeFile(folder + u"\\" + name, contents);
}

/// Reads every property for every GPU slot (and one slot too many), as the driver's
/// entries do, through each accessor.
inline void readEveryProperty(Configuration& configuration) {
    for (const ConfigPropertyInfo& row : kConfigProperties) {
        auto property = static_cast<ConfigProperty>(row.id);
        configuration.getProperty(property);
        configuration.getIntProperty(property);
        configuration.getPropertySource(property);
    }
    for (const ConfigGpuPropertyInfo& row : kConfigGpuProperties) {
        auto property = static_cast<ConfigProperty>(row.base);
        for (int gpu = 0; gpu <= kConfigGpuSlots; ++gpu) {
            configuration.getProperty(property, gpu);
            configuration.getIntProperty(property, gpu);
        }
    }
    configuration.getEffectiveGpuCount();
    configuration.getConfigurationName();
}

} // namespace fuzz
