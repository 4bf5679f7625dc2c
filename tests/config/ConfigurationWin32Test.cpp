// The configuration store against the machine's own registry, files and library loader:
// Wine's real ones on the Windows build, the simulated machine's on Linux. Everything is
// set up with ordinary Win32 calls, as an installer and a user would.
#include "Configuration.h"
#include "XencCodec.h"

#include "platform/win.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

typedef std::basic_string<WCHAR> WideString;

WideString directoryOf(const WCHAR* path) {
    WideString full(path);
    size_t slash = full.find_last_of(WSTR("\\/"));
    return slash == WideString::npos ? WideString() : full.substr(0, slash);
}

void writeDriverString(const WCHAR* name, const WideString& value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, WSTR("SOFTWARE\\Quorvex\\VessaDriver"), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))));
    RegCloseKey(key);
}

void writeFile(const WideString& path, const std::string& contents) {
    FILE* file = _wfopen(path.c_str(), WSTR("wb"));
    ASSERT_NE(file, nullptr);
    fwrite(contents.data(), 1, contents.size(), file);
    fclose(file);
}

/// Installs the store's files the way the product is installed: the library's folder as the
/// installation directory, the per-user folder as the database's directory.
class ConfigurationWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        // The library as it was built, found by name as any module is.
        HMODULE library = LoadLibraryW(WSTR("ConfigurationController.dll"));
        ASSERT_NE(library, nullptr);
        WCHAR libraryPath[MAX_PATH] = {};
        ASSERT_GT(GetModuleFileNameW(library, libraryPath, MAX_PATH), 0u);
        m_installDir = directoryOf(libraryPath);
        if (m_installDir.size() > 127)
            GTEST_SKIP() << "the build folder is too deep for a 127-character registry value";

        WCHAR profile[MAX_PATH] = {};
        DWORD length = GetEnvironmentVariableW(WSTR("USERPROFILE"), profile, MAX_PATH);
        ASSERT_GT(length, 0u);
        ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
        m_userFolder = WideString(profile) + WSTR("\\Quorvex");
        CreateDirectoryW(m_userFolder.c_str(), nullptr);
        DeleteFileW((m_userFolder + WSTR("\\vessa.xenc")).c_str());
        DeleteFileW((m_userFolder + WSTR("\\vessaloader.ini")).c_str());

        writeDriverString(WSTR("InstallDirectory"), m_installDir);
        writeDriverString(WSTR("ConfigFileDirectory"), m_userFolder);

        // The section of this test executable: its lower-case name without extension.
        WCHAR exePath[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, exePath, MAX_PATH);
        std::string name = text::narrow(exePath);
        name = name.substr(name.find_last_of("\\/") + 1);
        name = name.substr(0, name.rfind('.'));
        for (char& c : name)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        m_application = name;
    }

    /// A database: every property 0 in the default section, orr_margin `application` in
    /// this executable's section.
    std::string database(const char* application) const {
        std::string xml = "<kora><default><all>";
        for (const ConfigPropertyInfo& row : kConfigProperties) {
            if (row.id >= 1 && row.id <= 25)
                xml += std::string("<") + row.name + ">0</" + row.name + ">";
        }
        xml += "</all></default><app exact_name=\"" + m_application + "\"><g><orr_margin>" +
               application + "</orr_margin></g></app></kora>";
        return xml;
    }

    WideString m_installDir;
    WideString m_userFolder;
    std::string m_application;
};

TEST_F(ConfigurationWin32, InstalledDatabaseAndUserSettingsAreReadThroughTheLibrary) {
    writeFile(m_userFolder + WSTR("\\vessa.xml"), database("44"));
    writeFile(m_userFolder + WSTR("\\userSettings.xml"),
              "<userSettings><default><in_game_icon_mode>timed</in_game_icon_mode>"
              "</default></userSettings>");

    Configuration* configuration = Configuration::getInstance();
    ASSERT_NE(configuration, nullptr);
    EXPECT_EQ(configuration->getIntProperty(ConfigProperty::orr_margin), 44);
    EXPECT_EQ(configuration->getPropertySource(ConfigProperty::orr_margin),
              ConfigSource::Application);
    EXPECT_EQ(configuration->getIntProperty(ConfigProperty::vessa_icon_show), 2);
    EXPECT_EQ(configuration->getIntProperty(ConfigProperty::use_orr_dx9), 0);
    EXPECT_EQ(text::narrow(configuration->getProperty(ConfigProperty::vessa_install_dir)),
              text::narrow(m_installDir.c_str()));
    EXPECT_EQ(text::narrow(configuration->getConfigFilePath()),
              text::narrow((m_userFolder + WSTR("\\vessa.xml")).c_str()));
}

TEST_F(ConfigurationWin32, ObfuscatedDatabaseWinsOverThePlainOne) {
    writeFile(m_userFolder + WSTR("\\vessa.xml"), database("3"));
    std::string plain = database("7");
    std::vector<uint8_t> encoded =
        xenc::encode(reinterpret_cast<const uint8_t*>(plain.data()), plain.size());
    writeFile(m_userFolder + WSTR("\\vessa.xenc"), std::string(encoded.begin(), encoded.end()));

    Configuration* configuration = Configuration::getInstance();
    ASSERT_NE(configuration, nullptr);
    EXPECT_EQ(configuration->getIntProperty(ConfigProperty::orr_margin), 7);
}

TEST_F(ConfigurationWin32, UnreadableDatabaseLeavesTheBuiltInDefaults) {
    writeFile(m_userFolder + WSTR("\\vessa.xml"), "<kora><default>");
    DeleteFileW((m_userFolder + WSTR("\\userSettings.xml")).c_str());

    Configuration* configuration = Configuration::getInstance();
    ASSERT_NE(configuration, nullptr);
    EXPECT_EQ(configuration->getIntProperty(ConfigProperty::orr_margin), 20);
    EXPECT_EQ(text::narrow(configuration->getProperty(ConfigProperty::vessa_icon_corner)), "UL");
}

} // namespace
