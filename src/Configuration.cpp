// Configuration: the property table, the load of the application database through
// ConfigurationController.dll, the lookups and the value cache.
#include "Configuration.h"

#include "AppHandling.h"
#include "GpuEnumerator.h"
#include "RegManager.h"
#include "Report.h"
#include "userSettingsTranslator.h"

#include <new>
#include <string.h>
#include <string>
#include <thread>
#include <vector>

namespace {

// Report codes of this file.
constexpr int kCreateEntryMissing = 10000;
constexpr int kCleanupEntryMissing = 10001;
constexpr int kLibraryLoadFailed = 10002;
constexpr int kReloadUninitialised = 10003;
constexpr int kDatabaseUnreadable = 10004;
constexpr int kInstallDirMissing = 10005;
constexpr int kGpuCountBelowTwo = 10575;
constexpr int kGpuCountNotNumber = 10576;
constexpr int kConfigurationUnsupportedQuery = 11165;
constexpr int kConfigurationUnsupportedName = 11166;

// Registry reads of this store pass 256 bytes: values of up to 127 characters.
constexpr DWORD kRegistryValueBytes = 256;
// MB_TOPMOST | MB_ICONERROR: the missing-default box must not hide behind the game window.
constexpr UINT kMissingDefaultBoxStyle = 0x00040010;

const char kApplicationPrefixStart[] = "kora/*[@exact_name=";
const char kDefaultPrefix[] = "kora/default/";
const char kAnyGroup[] = "*/";

/// The groups of the GPU configurations that have their own sections in the files.
struct ConfigurationGroup {
    int code;
    const char* elementName; // element of the user settings file
    const char* pathSegment; // step of a database query
};
constexpr ConfigurationGroup kConfigurationGroups[] = {
    {kGpuConfigIntelNv, "intel_nv", "intel_nv/*/"},
    {kGpuConfigIntelAti, "intel_ati", "intel_ati/*/"},
    {kGpuConfigNvIntel, "nv_intel", "nv_intel/*/"},
    {kGpuConfigAtiIntel, "ati_intel", "ati_intel/*/"},
};

const ConfigurationGroup* findGroup(int code) {
    for (const ConfigurationGroup& group : kConfigurationGroups) {
        if (group.code == code)
            return &group;
    }
    return nullptr;
}

std::u16string u16(const WCHAR* s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}

std::u16string u16(const char* s) {
    return text::widen(s ? s : "");
}

// Lower case as file names compare: the ASCII letters (the names this store looks up are
// ASCII; other letters are kept as they are).
char16_t lowerAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

// Copies `source` lower-cased into `buffer` (kPathChars); false when it had to be cut.
bool copyLower(WCHAR* buffer, const char16_t* begin, const char16_t* end) {
    size_t length = static_cast<size_t>(end - begin);
    bool fits = length < Configuration::kPathChars;
    if (!fits)
        length = Configuration::kPathChars - 1;
    for (size_t i = 0; i < length; ++i)
        buffer[i] = static_cast<WCHAR>(lowerAscii(begin[i]));
    buffer[length] = 0;
    return fits;
}

// An XPath string literal holding `value`. XPath 1.0 has no escapes: a value with an
// apostrophe (a legal file-name character) is quoted with double quotes, which file names
// cannot contain, so a name never changes the shape of the query.
std::u16string xpathLiteral(const std::u16string& value) {
    const char16_t quote = value.find(u'\'') == std::u16string::npos ? u'\'' : u'"';
    std::u16string literal(1, quote);
    for (char16_t c : value) {
        if (c != quote) // a double quote cannot occur in a file name; drop it if it does
            literal += c;
    }
    literal += quote;
    return literal;
}

// The decimal text of a 32-bit value.
std::u16string decimalText(int64_t value) {
    bool negative = value < 0;
    uint64_t magnitude =
        negative ? uint64_t(0) - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude);
    if (negative)
        digits.insert(digits.begin(), u'-');
    return digits;
}

bool isCSpace(WCHAR c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A base-10 integer as the C library's strtol reads one: leading white space, an optional
// sign, the digits up to the first other character, none giving 0. Values outside 32 bits
// clamp to the nearest limit, as they do where long is 32 bits.
int32_t parseInt32(const WCHAR* text) {
    if (!text)
        return 0;
    const WCHAR* p = text;
    while (isCSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= INT64_C(0x80000000))
            value = value * 10 + (*p - '0');
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The gpu_count text as an unsigned 32-bit number: digits only, surrounding white space
// allowed. False for anything else ("abc", "2abc", "-1", "", an overflow).
bool parseCount(const WCHAR* text, uint32_t& count) {
    const WCHAR* p = text;
    while (isCSpace(*p))
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > UINT32_MAX)
            return false;
    }
    while (isCSpace(*p))
        ++p;
    if (*p)
        return false;
    count = static_cast<uint32_t>(value);
    return true;
}

bool isEmptyText(const WCHAR* text) {
    return !text || !text[0];
}

// A function of a loaded module as the type it has.
template <typename F> F procAs(FARPROC proc) {
    static_assert(sizeof(F) == sizeof(FARPROC), "function pointers of one size");
    F function;
    memcpy(&function, &proc, sizeof function);
    return function;
}

// The built-in defaults as wide text, made once and kept for the life of the process.
const std::vector<std::u16string>& wideDefaults() {
    static const std::vector<std::u16string>* s_pDefaults = [] {
        auto* pDefaults = new std::vector<std::u16string>();
        for (const ConfigPropertyInfo& row : kConfigProperties)
            pDefaults->push_back(u16(row.builtInDefault ? row.builtInDefault : ""));
        return pDefaults;
    }();
    return *s_pDefaults;
}

} // namespace

std::map<int32_t, const char*> Configuration::s_propertyNames;
HMODULE Configuration::s_configModule = nullptr;
PFN_CreateConfigManager Configuration::s_CreateConfigManager = nullptr;
PFN_CleanupConfigManager Configuration::s_CleanupConfigManager = nullptr;
std::atomic<Configuration*> Configuration::s_pInstance{nullptr};
std::atomic<int32_t> Configuration::s_creationGuard{0};
std::atomic<bool> Configuration::s_creationFailed{false};

const char* configSourceName(ConfigSource source) {
    switch (source) {
    case ConfigSource::None:
        return "none";
    case ConfigSource::BuiltIn:
        return "built-in";
    case ConfigSource::Default:
        return "default";
    case ConfigSource::DefaultConfiguration:
        return "default+configuration";
    case ConfigSource::Application:
        return "application";
    case ConfigSource::ApplicationConfiguration:
        return "application+configuration";
    case ConfigSource::UserSettings:
        return "user-settings";
    case ConfigSource::Computed:
        return "computed";
    case ConfigSource::RunTime:
        return "run-time";
    }
    return "none";
}

// ---- Creation ------------------------------------------------------------------------------

Configuration* Configuration::getInstance() {
    if (Configuration* pInstance = s_pInstance.load(std::memory_order_acquire))
        return pInstance;

    // The first caller to raise the guard builds the store; the others wait for it. A failed
    // allocation is published too, so nobody waits for a store that will never come.
    if (s_creationGuard.fetch_add(1, std::memory_order_acq_rel) == 0) {
        if (!s_pInstance.load(std::memory_order_acquire)) {
            s_creationFailed.store(false, std::memory_order_release);
            Configuration* pInstance = new (std::nothrow) Configuration();
            s_pInstance.store(pInstance, std::memory_order_release);
            if (!pInstance)
                s_creationFailed.store(true, std::memory_order_release);
        }
    } else {
        while (!s_pInstance.load(std::memory_order_acquire) &&
               !s_creationFailed.load(std::memory_order_acquire))
            std::this_thread::yield();
    }
    s_creationGuard.fetch_sub(1, std::memory_order_acq_rel);
    return s_pInstance.load(std::memory_order_acquire);
}

Configuration::Configuration()
    : m_processName{}, m_processDir{}, m_configFilePath{}, m_userSettingsXMLPath{}, m_installDir{},
      m_configRoot(nullptr), m_userSettingsRoot(nullptr), m_gpuCount(-1), m_effectiveGpuCount(-1) {
    std::lock_guard<std::mutex> guard(m_lock);
    fillTables();
    initialLoad();
    checkDefaults();
}

Configuration::~Configuration() = default;

void Configuration::fillTables() {
    const std::vector<std::u16string>& defaults = wideDefaults();
    for (size_t i = 0; i < sizeof kConfigProperties / sizeof kConfigProperties[0]; ++i) {
        const ConfigPropertyInfo& row = kConfigProperties[i];
        if (row.builtInDefault)
            m_defaults[row.id] = text::w(defaults[i]);
        else
            m_defaults.erase(row.id);
        s_propertyNames[row.id] = row.name;
    }
    for (const ConfigGpuPropertyInfo& row : kConfigGpuProperties) {
        for (int gpu = 0; gpu < kConfigGpuSlots; ++gpu)
            m_defaults.erase(row.base + gpu);
        s_propertyNames[row.base] = row.name;
    }
}

// ---- Loading -------------------------------------------------------------------------------

void Configuration::initialLoad() {
    findProcessName();
    findDatabase();

    DWORD size = kPathChars;
    VESSA_CHECK(Error, 0, getUserFilePath(WSTR("userSettings.xml"), m_userSettingsXMLPath, &size),
                "can't find userSetting.xml");

    loadLibrary();
    reloadLocked();
}

void Configuration::findProcessName() {
    WCHAR modulePath[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    if (!VESSA_CHECK(Warning, 0, length > 0 && length < MAX_PATH,
                     "the executable's path is unknown; no application section applies"))
        return;

    const WCHAR* name = getMultiLevelAppName(modulePath);
    if (!name) {
        name = modulePath;
        for (const WCHAR* p = modulePath; *p; ++p) {
            if (*p == '\\' || *p == '/')
                name = p + 1;
        }
    }
    const char16_t* begin = reinterpret_cast<const char16_t*>(modulePath);
    const char16_t* nameBegin = reinterpret_cast<const char16_t*>(name);
    const char16_t* end = begin + length;
    VESSA_CHECK(Warning, 0, copyLower(m_processName, nameBegin, end),
                "process name too long, cut to %u characters", unsigned(kPathChars - 1));
    copyLower(m_processDir, begin, nameBegin);
}

void Configuration::findDatabase() {
    m_configFilePath[0] = 0;
    WCHAR directory[kRegistryValueBytes / sizeof(WCHAR)] = {};
    DWORD size = kRegistryValueBytes;
    if (!RegManager::readDriverValue(WSTR("ConfigFileDirectory"), directory, &size))
        return;
    directory[kRegistryValueBytes / sizeof(WCHAR) - 1] = 0;
    // An empty directory would make "\vessa.xml" of it: a file in the root of whatever
    // drive is current, which anyone may have put there. No directory, no database (the
    // load then reports the missing database).
    if (directory[0] == 0)
        return;

    // The obfuscated form is what installations ship; a plain file is for development.
    for (const char* fileName : {"vessa.xenc", "vessa.xml"}) {
        std::u16string path = u16(directory) + u"\\" + u16(fileName);
        if (!text::wcopy(m_configFilePath, kPathChars, text::w(path)))
            continue;
        if (PathFileExistsW(m_configFilePath))
            return;
    }
    m_configFilePath[0] = 0;
}

void Configuration::loadLibrary() {
    if (!s_configModule) {
        DWORD size = kRegistryValueBytes;
        if (!RegManager::readDriverValue(WSTR("InstallDirectory"), m_installDir, &size))
            m_installDir[0] = 0;
        // Without an installation directory the path would name the library in the root of
        // the current drive, and whatever lies there would run inside every game: nothing
        // is loaded, and the store serves its built-in defaults.
        if (!VESSA_CHECK(Error, kLibraryLoadFailed, m_installDir[0] != 0,
                         "ConfigurationController.dll failed to load!"))
            return;
        std::u16string path = u16(m_installDir) + u"\\ConfigurationController.dll";
        s_configModule = LoadLibraryW(text::w(path));
        if (!VESSA_CHECK(Error, kLibraryLoadFailed, s_configModule != nullptr,
                         "ConfigurationController.dll failed to load!"))
            return;
    }
    if (!s_CreateConfigManager) {
        s_CreateConfigManager =
            procAs<PFN_CreateConfigManager>(GetProcAddress(s_configModule, "CreateConfigManager"));
        s_CleanupConfigManager = procAs<PFN_CleanupConfigManager>(
            GetProcAddress(s_configModule, "CleanupConfigManager"));
        VESSA_CHECK(Error, kCreateEntryMissing, s_CreateConfigManager != nullptr,
                    "Create entrypoint not found");
        VESSA_CHECK(Error, kCleanupEntryMissing, s_CleanupConfigManager != nullptr,
                    "Cleanup entrypoint not found");
    }
}

void Configuration::reload() {
    std::lock_guard<std::mutex> guard(m_lock);
    reloadLocked();
}

void Configuration::reloadLocked() {
    if (VESSA_CHECK(Error, kReloadUninitialised, s_CreateConfigManager != nullptr,
                    "Configuration reloaded without being initialized, or memory corruption "
                    "occurred.")) {
        if (m_configRoot) {
            m_configRoot->pOps->destroy(m_configRoot, kConfigDestroyFree);
            m_configRoot = nullptr;
        }
        m_configRoot = s_CreateConfigManager(0, m_configFilePath);
        VESSA_CHECK(Error, kDatabaseUnreadable, m_configRoot != nullptr,
                    "Configuration file is corrupt or missing");
    }

    // Without readable user settings the icon is shown, top left, so that a user sees the
    // driver is active.
    if (!loadUserSettings(*this)) {
        putText(static_cast<int32_t>(ConfigProperty::vessa_icon_show), WSTR("1"),
                ConfigSource::BuiltIn);
        putText(static_cast<int32_t>(ConfigProperty::vessa_icon_corner), WSTR("UL"),
                ConfigSource::BuiltIn);
    }

    computeGpuCount();
    fillTables();

    WCHAR installDir[kRegistryValueBytes / sizeof(WCHAR)] = {};
    DWORD size = kRegistryValueBytes;
    if (!VESSA_CHECK(Error, kInstallDirMissing,
                     RegManager::readDriverValue(WSTR("InstallDirectory"), installDir, &size),
                     "Install directory not present in registry"))
        return;
    installDir[kRegistryValueBytes / sizeof(WCHAR) - 1] = 0;
    putText(static_cast<int32_t>(ConfigProperty::vessa_install_dir), installDir,
            ConfigSource::Computed);
}

void Configuration::computeGpuCount() {
    m_gpuCount = GpuEnumerator::getInstance()->getGpuNum();
    int32_t effective = m_gpuCount;

    ConfigSource source = ConfigSource::None;
    if (ConfigNode* node = findNode("gpu_count", source)) {
        const WCHAR* value = node->pOps->getText(node);
        uint32_t requested = 0;
        if (isEmptyText(value)) {
            // nothing given: every GPU found is used
        } else if (!parseCount(value, requested)) {
            // A count that cannot be read limits nothing: better all GPUs than a guess.
            VESSA_REPORT(Warning, kGpuCountNotNumber, "parseCount(value, requested)",
                         "gpu_count '%.40s' in the configuration file is not a number; %d GPUs "
                         "are used",
                         text::narrow(value).c_str(), m_gpuCount);
        } else if (requested == 1) {
            VESSA_REPORT(Error, kGpuCountBelowTwo, "xmlGpuCount < 2",
                         "config file specifies gpu_count to be lower than 2...");
            effective = m_gpuCount < 1 ? m_gpuCount : 1;
        } else if (requested >= 2 && static_cast<uint32_t>(m_gpuCount) > requested) {
            effective = static_cast<int32_t>(requested);
        }
        releaseNode(node);
    }

    m_effectiveGpuCount = effective;
    putText(static_cast<int32_t>(ConfigProperty::gpu_count), text::w(decimalText(effective)),
            ConfigSource::Computed);
}

void Configuration::checkDefaults() {
    // Without a database (missing, unreadable, or no library to read it) every default
    // would be "missing": one box per property in front of the game. That database was
    // reported once by the load; the built-in defaults serve.
    if (!m_configRoot)
        return;
    for (const ConfigPropertyInfo& row : kConfigProperties) {
        if (row.id < 1 || row.id > 25 || hasValue(row.id))
            continue;
        bool inConfiguration = false;
        if (ConfigNode* node = queryConfiguration(u16(kDefaultPrefix), row.name, inConfiguration)) {
            releaseNode(node);
            continue;
        }
        std::u16string message = u"Missing " + u16(row.name) + u" default value in vessa.xml";
        MessageBoxW(nullptr, text::w(message), WSTR("Orbel Loading Error"),
                    kMissingDefaultBoxStyle);
    }
}

// ---- Lookups -------------------------------------------------------------------------------

const char* Configuration::getConfigurationName() const {
    int code = GpuEnumerator::getInstance()->getGpuConfiguration();
    const ConfigurationGroup* group = findGroup(code);
    if (!group) {
        VESSA_REPORT(Warning, kConfigurationUnsupportedName, "false",
                     "Configuration for %d is not supported", code);
        return nullptr;
    }
    return group->elementName;
}

ConfigNode* Configuration::queryConfiguration(const std::u16string& prefix, const char* name,
                                              bool& inConfiguration) {
    inConfiguration = false;
    // A per-GPU slot above its base has no element name: nothing to look for.
    if (!m_configRoot || !name || !name[0])
        return nullptr;
    std::u16string element = u16(name);
    for (char16_t& c : element)
        c = lowerAscii(c);

    int code = GpuEnumerator::getInstance()->getGpuConfiguration();
    if (const ConfigurationGroup* group = findGroup(code)) {
        std::u16string query = prefix + u16(group->pathSegment) + element;
        if (ConfigNode* node = m_configRoot->pOps->getNode(m_configRoot, text::w(query))) {
            inConfiguration = true;
            return node;
        }
    } else {
        VESSA_REPORT(Warning, kConfigurationUnsupportedQuery, "false",
                     "Configuration for %d is not supported", code);
    }
    std::u16string query = prefix + u16(kAnyGroup) + element;
    return m_configRoot->pOps->getNode(m_configRoot, text::w(query));
}

ConfigNode* Configuration::findNode(const char* name, ConfigSource& source) {
    source = ConfigSource::None;
    std::u16string application = u16(m_processName);
    size_t dot = application.rfind(u'.');
    if (dot != std::u16string::npos)
        application.resize(dot);
    std::u16string prefix = u16(kApplicationPrefixStart) + xpathLiteral(application) + u"]/";

    bool inConfiguration = false;
    ConfigNode* node = queryConfiguration(prefix, name, inConfiguration);
    if (node && !isEmptyText(node->pOps->getText(node))) {
        source =
            inConfiguration ? ConfigSource::ApplicationConfiguration : ConfigSource::Application;
        return node;
    }
    // An empty element in the application's section means "no opinion": the default
    // section decides.
    releaseNode(node);
    node = queryConfiguration(u16(kDefaultPrefix), name, inConfiguration);
    if (node)
        source = inConfiguration ? ConfigSource::DefaultConfiguration : ConfigSource::Default;
    return node;
}

void Configuration::keepUserSettings(ConfigManager* settings) {
    if (m_userSettingsRoot && m_userSettingsRoot != settings)
        m_userSettingsRoot->pOps->destroy(m_userSettingsRoot, kConfigDestroyFree);
    m_userSettingsRoot = settings;
}

void Configuration::releaseNode(ConfigNode* node) {
    if (node && m_configRoot)
        m_configRoot->pOps->releaseNode(m_configRoot, node);
}

// ---- Values --------------------------------------------------------------------------------

int32_t Configuration::slotId(ConfigProperty property, int gpuIndex) {
    int32_t id = static_cast<int32_t>(property);
    if (!isConfigGpuBase(id))
        return id;
    // Another index would read a slot of the next per-GPU property.
    if (!VESSA_CHECK(Warning, 0, gpuIndex >= 0 && gpuIndex < kConfigGpuSlots,
                     "GPU index %d out of range for property %d", gpuIndex, int(id)))
        return -1;
    return id + gpuIndex;
}

void Configuration::putValue(int32_t id, std::unique_ptr<WCHAR[]> value, ConfigSource source) {
    m_sources[id] = source;
    StoredText& slot = m_values[id];
    if (slot.text && value && u16(slot.text.get()) == u16(value.get()))
        return;
    std::unique_ptr<WCHAR[]> current = std::move(slot.text);
    const bool currentHandedOut = slot.handedOut;
    slot.handedOut = false;
    // A text handed out before is taken back rather than copied again, so a property set
    // back and forth keeps a bounded set of texts.
    if (value) {
        auto range = m_replacedValues.equal_range(id);
        for (auto kept = range.first; kept != range.second; ++kept) {
            if (u16(kept->second.get()) == u16(value.get())) {
                value = std::move(kept->second);
                m_replacedValues.erase(kept);
                slot.handedOut = true;
                break;
            }
        }
    }
    slot.text = std::move(value);
    // A reader on another thread may still hold the text getProperty gave it.
    if (current && currentHandedOut)
        m_replacedValues.emplace(id, std::move(current));
}

void Configuration::putText(int32_t id, const WCHAR* value, ConfigSource source) {
    size_t length = text::wlen(value);
    std::unique_ptr<WCHAR[]> copy(new WCHAR[length + 1]());
    text::wcopy(copy.get(), length + 1, value);
    putValue(id, std::move(copy), source);
}

const WCHAR* Configuration::getProperty(ConfigProperty property, int gpuIndex) {
    std::lock_guard<std::mutex> guard(m_lock);
    const WCHAR* text = propertyLocked(property, gpuIndex);
    // The caller reads the text after the lock is gone: it must outlive a replacement.
    int32_t id = slotId(property, gpuIndex);
    auto stored = id < 0 ? m_values.end() : m_values.find(id);
    if (stored != m_values.end() && stored->second.text.get() == text)
        stored->second.handedOut = true;
    return text;
}

const WCHAR* Configuration::propertyLocked(ConfigProperty property, int gpuIndex) {
    int32_t id = slotId(property, gpuIndex);
    if (id < 0)
        return nullptr;
    auto cached = m_values.find(id);
    if (cached != m_values.end())
        return cached->second.text.get();

    auto name = s_propertyNames.find(id);
    ConfigSource source = ConfigSource::None;
    ConfigNode* node = findNode(name != s_propertyNames.end() ? name->second : nullptr, source);
    if (node) {
        const WCHAR* value = node->pOps->getText(node);
        if (!isEmptyText(value)) {
            // Found values are kept for the life of the store.
            putText(id, value, source);
            releaseNode(node);
            return m_values[id].text.get();
        }
        releaseNode(node);
    }
    auto fallback = m_defaults.find(id);
    return fallback != m_defaults.end() ? fallback->second : nullptr;
}

int32_t Configuration::getIntProperty(ConfigProperty property, int gpuIndex) {
    std::lock_guard<std::mutex> guard(m_lock);
    return parseInt32(propertyLocked(property, gpuIndex));
}

void Configuration::setProperty(ConfigProperty property, int32_t value, int gpuIndex) {
    std::lock_guard<std::mutex> guard(m_lock);
    int32_t id = slotId(property, gpuIndex);
    if (id < 0)
        return;
    putText(id, text::w(decimalText(value)), ConfigSource::RunTime);
}

ConfigSource Configuration::getPropertySource(ConfigProperty property, int gpuIndex) const {
    std::lock_guard<std::mutex> guard(m_lock);
    int32_t id = slotId(property, gpuIndex);
    if (id < 0)
        return ConfigSource::None;
    auto source = m_sources.find(id);
    if (source != m_sources.end())
        return source->second;
    return m_defaults.count(id) ? ConfigSource::BuiltIn : ConfigSource::None;
}

int32_t Configuration::getEffectiveGpuCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_effectiveGpuCount;
}

int32_t Configuration::getGpuCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_gpuCount;
}
