// User settings: the per-user file "userSettings.xml" that overrides a few settings per
// application (the in-game icon and the performance bar), read at every configuration load.
#pragma once

#include "ConfigController.h"
#include "ConfigProperty.h"

class Configuration;

/// Reads the user settings file of `configuration` through the configuration library and
/// writes the translated settings into its value cache, where they win over the database.
/// Up to five groups are applied, the most specific first: the application's group for this
/// machine's GPU configuration, the application's own, the default group for the GPU
/// configuration, the default group, the settings directly below the root. True when the
/// file was opened, whether or not it held settings.
bool loadUserSettings(Configuration& configuration);

/// Translates user settings into configuration properties. A property that already has a
/// value is never changed, so the first group (and within a group the first element) that
/// names a setting decides it.
class userSettingsTranslator {
public:
    explicit userSettingsTranslator(Configuration& configuration);

    /// Applies the settings of the group that starts at `node`: the node's element and each
    /// following sibling element.
    void apply(ConfigNode* node);

    /// Longest element name or text read, in characters; longer ones are cut.
    static constexpr size_t kTextChars = 127;

private:
    void applySetting(const char16_t* name, const char16_t* value);
    void store(ConfigProperty property, const char16_t* value);

    Configuration& m_configuration;
};
