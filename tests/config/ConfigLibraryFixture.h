// Shared set-up of the configuration library's tests: the library loaded by name as the
// driver loads it, and files written where the library can read them.
#pragma once

#include "ConfigController.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>

/// Loads ConfigurationController.dll and resolves its two exports.
class ConfigLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryW(WSTR("ConfigurationController.dll"));
        ASSERT_NE(m_module, nullptr);
        FARPROC create = GetProcAddress(m_module, "CreateConfigManager");
        FARPROC cleanup = GetProcAddress(m_module, "CleanupConfigManager");
        ASSERT_NE(create, nullptr);
        ASSERT_NE(cleanup, nullptr);
        memcpy(&m_create, &create, sizeof m_create);
        memcpy(&m_cleanup, &cleanup, sizeof m_cleanup);
    }

    void TearDown() override {
        for (ConfigManager* manager : m_opened)
            m_cleanup(manager);
    }

    /// Writes `contents` to a file of the test's own (relative path) and returns its path.
    std::u16string writeFile(const std::string& name, const std::string& contents) {
        std::u16string path = text::widen(("cfglib_" + name).c_str());
        FILE* f = _wfopen(text::w(path), WSTR("wb"));
        EXPECT_NE(f, nullptr);
        if (f) {
            fwrite(contents.data(), 1, contents.size(), f);
            fclose(f);
        }
        return path;
    }

    /// Opens a file through the export; the manager is cleaned up after the test.
    ConfigManager* open(const std::u16string& path) {
        ConfigManager* manager = m_create(0, text::w(path));
        if (manager)
            m_opened.push_back(manager);
        return manager;
    }

    ConfigManager* openText(const std::string& name, const std::string& contents) {
        return open(writeFile(name, contents));
    }

    /// The text of the first element `xpath` selects, "<none>" when nothing is selected.
    static std::string textOf(ConfigManager* manager, const char* xpath) {
        std::u16string query = text::widen(xpath);
        ConfigNode* node = manager->pOps->getNode(manager, text::w(query));
        if (!node)
            return "<none>";
        std::string value = text::narrow(node->pOps->getText(node));
        manager->pOps->releaseNode(manager, node);
        return value;
    }

    HMODULE m_module = nullptr;
    PFN_CreateConfigManager m_create = nullptr;
    PFN_CleanupConfigManager m_cleanup = nullptr;
    std::vector<ConfigManager*> m_opened;
};
