// User settings: the five ranked queries of "userSettings.xml" and the translation of the
// settings found into configuration properties.
#include "userSettingsTranslator.h"

#include "Configuration.h"
#include "Report.h"

#include <libxml/tree.h>

#include <string>
#include <vector>

namespace {

constexpr int kUserSettingsPathEmpty = 10876;
constexpr int kUserSettingsCorrupt = 10877;
constexpr int kCopyFailed = 10895;

// Capacity of a formatted query, in characters with the terminator.
constexpr size_t kQueryChars = 260;

std::u16string u16(const char* s) {
    return text::widen(s ? s : "");
}

char16_t lowerAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

bool equalsNoCase(const char16_t* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (lowerAscii(*a) != lowerAscii(static_cast<char16_t>(static_cast<unsigned char>(*b))))
            return false;
    }
    return *a == 0 && *b == 0;
}

// See xpathLiteral in Configuration.cpp: a process name with an apostrophe is quoted with
// double quotes, so it can never change the query's shape.
std::u16string xpathLiteral(const WCHAR* value) {
    std::u16string text(reinterpret_cast<const char16_t*>(value));
    const char16_t quote = text.find(u'\'') == std::u16string::npos ? u'\'' : u'"';
    std::u16string literal(1, quote);
    for (char16_t c : text) {
        if (c != quote)
            literal += c;
    }
    literal += quote;
    return literal;
}

// Text read from the file, as wide text of at most kTextChars characters (a character
// outside the basic plane is not split).
std::u16string limitedText(const std::string& utf8) {
    std::u16string wide = text::widen(utf8.c_str());
    size_t limit = userSettingsTranslator::kTextChars;
    if (wide.size() > limit) {
        if (wide[limit - 1] >= 0xD800 && wide[limit - 1] < 0xDC00)
            --limit;
        wide.resize(limit);
    }
    return wide;
}

// The text of a setting element: its own text and CDATA, in order (a comment inside the
// element is not part of the value). Empty for an element without text.
std::string elementText(const xmlNode* element) {
    std::string value;
    for (const xmlNode* child = element->children; child; child = child->next) {
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
            child->content)
            value += reinterpret_cast<const char*>(child->content);
    }
    return value;
}

// The ranked queries, most specific first.
std::vector<std::u16string> rankedQueries(const WCHAR* processName, const char* groupName) {
    std::u16string process = xpathLiteral(processName);
    std::vector<std::u16string> queries;
    if (groupName) {
        queries.push_back(u"/userSettings/victims/*[exact_name=" + process + u"]/" +
                          u16(groupName) + u"[1]/*[1]");
    }
    queries.push_back(u"/userSettings/victims/*[exact_name=" + process + u"][1]/*[1]");
    if (groupName)
        queries.push_back(u"/userSettings/default/" + u16(groupName) + u"[1]/*[1]");
    queries.push_back(u"/userSettings/default/*[1]");
    queries.push_back(u"/userSettings/*[1]");
    return queries;
}

} // namespace

bool loadUserSettings(Configuration& configuration) {
    const WCHAR* path = configuration.m_userSettingsXMLPath;
    if (!VESSA_CHECK(Error, kUserSettingsPathEmpty, path[0] != 0,
                     "m_userSettingsXMLPath isn't containing the full path"))
        return false;
    if (!PathFileExistsW(path))
        return false;
    // Without the library no file can be read; its absence was reported when it was loaded.
    if (!Configuration::s_CreateConfigManager)
        return false;
    ConfigManager* settings = Configuration::s_CreateConfigManager(0, path);
    if (!VESSA_CHECK(Error, kUserSettingsCorrupt, settings != nullptr,
                     "userSetting file is corrupt"))
        return false;

    userSettingsTranslator translator(configuration);
    const char* groupName = configuration.getConfigurationName();
    for (const std::u16string& query : rankedQueries(configuration.m_processName, groupName)) {
        if (!VESSA_CHECK(Warning, 0, query.size() < kQueryChars,
                         "user settings query too long, skipped: %.60s",
                         text::narrow(query).c_str()))
            continue;
        if (ConfigNode* node = settings->pOps->getNode(settings, text::w(query))) {
            translator.apply(node);
            settings->pOps->releaseNode(settings, node);
        }
    }
    configuration.keepUserSettings(settings);
    return true;
}

userSettingsTranslator::userSettingsTranslator(Configuration& configuration)
    : m_configuration(configuration) {}

void userSettingsTranslator::apply(ConfigNode* node) {
    if (!node)
        return;
    for (const xmlNode* element = node->pOps->getXmlNode(node); element; element = element->next) {
        if (element->type != XML_ELEMENT_NODE)
            continue;
        std::u16string name = limitedText(reinterpret_cast<const char*>(element->name));
        std::u16string value = limitedText(elementText(element));
        applySetting(name.c_str(), value.c_str());
    }
}

void userSettingsTranslator::applySetting(const char16_t* name, const char16_t* value) {
    auto has = [this](ConfigProperty property) {
        return m_configuration.hasValue(static_cast<int32_t>(property));
    };

    if (!has(ConfigProperty::vessa_icon_show) && equalsNoCase(name, "in_game_icon_mode")) {
        const char16_t* mode = equalsNoCase(value, "show")    ? u"1"
                               : equalsNoCase(value, "timed") ? u"2"
                                                              : u"0";
        store(ConfigProperty::vessa_icon_show, mode);
        return;
    }
    if (!has(ConfigProperty::vessa_icon_corner) && equalsNoCase(name, "in_game_icon_corner")) {
        store(ConfigProperty::vessa_icon_corner, value);
        return;
    }
    if (!has(ConfigProperty::use_orr_dx10) && !has(ConfigProperty::use_orr_dx9) &&
        equalsNoCase(name, "performance_bar")) {
        // -999 is the bar's "off" position: no ORR, and the margin back at its default.
        bool off = equalsNoCase(value, "-999");
        store(ConfigProperty::use_orr_dx9, off ? u"0" : u"1");
        store(ConfigProperty::use_orr_dx10, off ? u"0" : u"1");
        store(ConfigProperty::orr_margin, off ? u"20" : value);
    }
}

void userSettingsTranslator::store(ConfigProperty property, const char16_t* value) {
    const WCHAR* source = text::w(value);
    size_t length = text::wlen(source);
    std::unique_ptr<WCHAR[]> copy(new WCHAR[length + 1]());
    VESSA_CHECK(Error, kCopyFailed, text::wcopy(copy.get(), length + 1, source),
                "wmemcpy_s failed");
    m_configuration.putValue(static_cast<int32_t>(property), std::move(copy),
                             ConfigSource::UserSettings);
}
