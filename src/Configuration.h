// Configuration: the one place every tunable of the driver is read.
//
// A property's value comes, highest first, from a value set at run time or taken from the
// user settings file, from the application database "vessa.xenc"/"vessa.xml" (the
// application's section, then the default section, each with the GPU configuration's group
// first), and from the built-in default. The database is parsed by ConfigurationController.dll,
// loaded at run time and driven by position through the tables of ConfigController.h.
#pragma once

#include "ConfigController.h"
#include "ConfigProperty.h"
#include "platform/win.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdint.h>
#include <vector>

class userSettingsTranslator;

/// Where a property's current value came from, as far as the store knows it.
enum class ConfigSource {
    None,                     ///< no value anywhere
    BuiltIn,                  ///< the built-in default, or the store's own fallback
    Default,                  ///< database, default section, any group
    DefaultConfiguration,     ///< database, default section, the GPU configuration's group
    Application,              ///< database, the application's section, any group
    ApplicationConfiguration, ///< database, the application's section, configuration group
    UserSettings,             ///< the user settings file
    Computed,                 ///< computed at load (GPU count, installation directory)
    RunTime,                  ///< set through setProperty
};

/// The source's name as tools print it ("application+configuration", "built-in", ...).
const char* configSourceName(ConfigSource source);

/// The process-wide configuration store, created and loaded on first use, never destroyed.
/// Safe for concurrent use: the runtime enters the driver on several threads at once, and
/// every entry reads properties. One lock covers the value cache, the tables and the
/// database queries (reads cache what they find, so a read changes the store).
class Configuration {
public:
    /// Capacity, in characters with the terminator, of the store's path and name buffers.
    static constexpr size_t kPathChars = 256;

    /// The store; the first call constructs it and runs the initial load.
    static Configuration* getInstance();

    // The store's operations, in the order of its operation table.

    /// Frees every cached value. The database and the library stay: they live as long as
    /// the process.
    virtual ~Configuration();
    /// The property's text parsed as a base-10 integer (white space and a sign first, up to
    /// the first non-digit, clamped to 32 bits); 0 when there is no value or no digits.
    virtual int32_t getIntProperty(ConfigProperty property, int gpuIndex = 0);
    /// The property's text, or null. It belongs to the store and stays valid for the life of
    /// the store, even after the property is set again (another thread may still read it).
    virtual const WCHAR* getProperty(ConfigProperty property, int gpuIndex = 0);
    /// Stores the decimal text of `value`; it wins over every other source from now on.
    virtual void setProperty(ConfigProperty property, int32_t value, int gpuIndex = 0);

    /// Where the value getProperty returns comes from, without looking anything up: a
    /// database value counts once getProperty has read it (before that the answer is the
    /// built-in default's, or none).
    ConfigSource getPropertySource(ConfigProperty property, int gpuIndex = 0) const;

    /// The GPU count the driver works with: the GPUs found, limited by the database's
    /// gpu_count. -1 before the first load.
    int32_t getEffectiveGpuCount() const;
    /// The GPUs the enumerator found; -1 before the first load.
    int32_t getGpuCount() const;
    /// The process name the configuration is looked up under (lower case).
    const WCHAR* getProcessName() const { return m_processName; }
    /// The directory of the executable, with its trailing backslash (lower case).
    const WCHAR* getProcessDir() const { return m_processDir; }
    /// The database file in use; empty when none was found.
    const WCHAR* getConfigFilePath() const { return m_configFilePath; }
    /// The user settings file; empty when the per-user folder is unknown.
    const WCHAR* getUserSettingsPath() const { return m_userSettingsXMLPath; }

    /// The element name of this machine's GPU configuration in the user settings file
    /// ("intel_nv", ...), or null (with a Warning) for a machine the files have no group for.
    const char* getConfigurationName() const;

    /// Reads the database again and re-applies the user settings. Cached values stay.
    void reload();

    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;

private:
    friend class userSettingsTranslator;
    friend bool loadUserSettings(Configuration& configuration);

    Configuration();

    void fillTables();
    void initialLoad();
    /// reload() with the lock held.
    void reloadLocked();
    /// getProperty() with the lock held.
    const WCHAR* propertyLocked(ConfigProperty property, int gpuIndex);
    void findProcessName();
    void findDatabase();
    void loadLibrary();
    void computeGpuCount();
    void checkDefaults();

    /// The element of a property in the database (application section first, then the
    /// default section), or null; `source` tells which query found it.
    ConfigNode* findNode(const char* name, ConfigSource& source);
    /// One query below `prefix`: the GPU configuration's group first, then any group.
    ConfigNode* queryConfiguration(const std::u16string& prefix, const char* name,
                                   bool& inConfiguration);
    void releaseNode(ConfigNode* node);

    /// The id an accessor works on: per-GPU bases plus the GPU index. -1 for a GPU index
    /// outside 0..3 on a per-GPU property (reported).
    static int32_t slotId(ConfigProperty property, int gpuIndex);
    /// Stores an owned value and the source it came from. An equal text keeps the stored
    /// one, so setting a property to its value again costs nothing. A replaced text that
    /// getProperty never handed out is freed (every other read finishes under the lock);
    /// one it did hand out is kept, since a reader may still hold it, and is stored again
    /// when the property returns to that text. So a property keeps at most one text per
    /// distinct value handed out, however often it is set.
    void putValue(int32_t id, std::unique_ptr<WCHAR[]> value, ConfigSource source);
    void putText(int32_t id, const WCHAR* text, ConfigSource source);
    bool hasValue(int32_t id) const { return m_values.count(id) != 0; }
    /// Keeps the user settings document for as long as the store needs it, freeing the one
    /// of an earlier load.
    void keepUserSettings(ConfigManager* settings);

    WCHAR m_processName[kPathChars];
    WCHAR m_processDir[kPathChars];
    WCHAR m_configFilePath[kPathChars];
    WCHAR m_userSettingsXMLPath[kPathChars];
    WCHAR m_installDir[kPathChars];
    ConfigManager* m_configRoot;
    ConfigManager* m_userSettingsRoot;
    /// A property's current text, and whether getProperty has given it to a caller.
    struct StoredText {
        std::unique_ptr<WCHAR[]> text;
        bool handedOut = false;
    };
    std::map<int32_t, StoredText> m_values;
    int32_t m_gpuCount;
    int32_t m_effectiveGpuCount;
    std::map<int32_t, const WCHAR*> m_defaults;
    std::map<int32_t, ConfigSource> m_sources;
    /// Replaced texts that were handed out, by property id.
    std::multimap<int32_t, std::unique_ptr<WCHAR[]>> m_replacedValues;
    mutable std::mutex m_lock;

    static std::map<int32_t, const char*> s_propertyNames;
    static HMODULE s_configModule;
    static PFN_CreateConfigManager s_CreateConfigManager;
    static PFN_CleanupConfigManager s_CleanupConfigManager;
    static std::atomic<Configuration*> s_pInstance;
    static std::atomic<int32_t> s_creationGuard;
    static std::atomic<bool> s_creationFailed;
};
