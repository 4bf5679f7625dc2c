// The two exports of ConfigurationController.dll.
#include "ConfigController.h"
#include "ConfigManagerImpl.h"
#include "FileReader.h"
#include "Guarded.h"

#include <libxml/parser.h>

namespace {

// libxml2 keeps process-wide tables; they are set up once, before the first parse, by
// whichever thread opens a file first.
void initialiseParserOnce() {
    static const bool s_initialised = [] {
        xmlInitParser();
        return true;
    }();
    (void)s_initialised;
}

} // namespace

VESSA_EXPORT ConfigManager* CreateConfigManager(int reserved, const WCHAR* path) {
    return configctl::guarded<ConfigManager*>(nullptr, [&]() -> ConfigManager* {
        if (reserved != 0)
            return nullptr;
        std::vector<uint8_t> bytes;
        if (configctl::readWholeFile(path, kConfigMaxFileBytes, bytes) != configctl::ReadStatus::Ok)
            return nullptr;
        initialiseParserOnce();
        return configctl::ConfigManagerImpl::fromBytes(path, bytes);
    });
}

VESSA_EXPORT void CleanupConfigManager(ConfigManager* manager) {
    configctl::guardedVoid([&] { delete configctl::ConfigManagerImpl::from(manager); });
}
