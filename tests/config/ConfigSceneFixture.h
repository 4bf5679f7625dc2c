// Shared set-up of the configuration store's tests: a simulated machine with the files a
// test gives, the store created on it, and what the load reported.
#pragma once

#include "ConfigScene.h"
#include "Configuration.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace configtest {

/// A database whose default section holds every property that has a built-in default slot
/// (so the start-up check stays quiet), each set to "0" unless `values` says otherwise. A
/// value of nullptr leaves the property out. `extraDefault` is added inside the default
/// section, `applications` after it.
inline std::string database(const std::map<std::string, const char*>& values = {},
                            const std::string& extraDefault = "",
                            const std::string& applications = "") {
    std::string xml = "<?xml version=\"1.0\"?>\n<kora>\n <default>\n  <all>\n";
    for (const ConfigPropertyInfo& row : kConfigProperties) {
        if (row.id < 1 || row.id > 25)
            continue;
        auto it = values.find(row.name);
        const char* value = it == values.end() ? "0" : it->second;
        if (value)
            xml += std::string("   <") + row.name + ">" + value + "</" + row.name + ">\n";
    }
    xml += "  </all>\n" + extraDefault + " </default>\n" + applications + "</kora>\n";
    return xml;
}

/// An application section of the database.
inline std::string application(const std::string& exactName, const std::string& body) {
    return " <app exact_name=\"" + exactName + "\">" + body + "</app>\n";
}

/// A group holding one property.
inline std::string group(const std::string& name, const std::string& value) {
    return "<g><" + name + ">" + value + "</" + name + "></g>";
}

/// The same group inside a GPU configuration element.
inline std::string configGroup(const std::string& configuration, const std::string& name,
                               const std::string& value) {
    return "<" + configuration + ">" + group(name, value) + "</" + configuration + ">";
}

/// Installs a scene and creates the store on it.
class ConfigStoreTest : public ::testing::Test {
protected:
    /// The scene every test starts from: intel_nv, game.exe, a complete database.
    ConfigStoreTest() { m_scene.database = database(); }

    Configuration& load() {
        std::string error;
        EXPECT_TRUE(vessaconfig::installConfigScene(m_scene, error)) << error;
        Configuration* configuration = Configuration::getInstance();
        EXPECT_NE(configuration, nullptr);
        return *configuration;
    }

    static std::string value(Configuration& configuration, ConfigProperty property, int gpu = 0) {
        const WCHAR* text = configuration.getProperty(property, gpu);
        return text ? text::narrow(text) : "<none>";
    }

    static std::string source(Configuration& configuration, ConfigProperty property, int gpu = 0) {
        return configSourceName(configuration.getPropertySource(property, gpu));
    }

    /// The diagnostic log written so far.
    static std::string log() {
        std::string contents;
        sim::Machine::instance().root().readFile(u"C:\\vessa.log", contents);
        return contents;
    }

    /// True when the log holds a report of this level and code with this message.
    static bool reported(const std::string& level, int code, const std::string& message) {
        std::string contents = log();
        std::string codeLine = level + " code: " + std::to_string(code) + "\r\n";
        return contents.find(codeLine) != std::string::npos &&
               contents.find(message) != std::string::npos;
    }

    /// How many reports of this level and code the log holds; every one must carry
    /// `message` (on its second line).
    static int reportCount(const std::string& level, int code, const std::string& message) {
        const std::string contents = log();
        const std::string codeLine = level + " code: " + std::to_string(code) + "\r\n";
        int count = 0;
        for (size_t at = contents.find(codeLine); at != std::string::npos;
             at = contents.find(codeLine, at + codeLine.size())) {
            size_t second = contents.find('\n', at) + 1;
            size_t end = contents.find('\n', second);
            if (contents.substr(second, end - second).find(message) == std::string::npos)
                return -1;
            ++count;
        }
        return count;
    }

    static std::vector<std::string> messageBoxes() {
        std::vector<std::string> texts;
        for (const sim::MessageBoxRecord& box : sim::Machine::instance().messageBoxes().records())
            texts.push_back(text::narrow(box.text));
        return texts;
    }

    vessaconfig::ConfigScene m_scene;
};

} // namespace configtest
