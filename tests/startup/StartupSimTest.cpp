// Process start-up on the simulated machine: the library's own load, the GPU roles, the
// crash-handler switch, the developer switches, application entries of the loader ini,
// the registry readers' reports, and bad input in the environment and the ini.
#include "AppHandling.h"
#include "CrashHandoff.h"
#include "GpuEnumerator.h"
#include "OpenAdapter.h"
#include "RegManager.h"

#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

const char16_t kProfile[] = u"C:\\Users\\tester";
const char16_t kIniPath[] = u"C:\\Users\\tester\\Quorvex\\vessaloader.ini";

sim::Machine& machine() {
    return sim::Machine::instance();
}

std::string logText() {
    std::string contents;
    machine().root().readFile(u"c:\\vessa.log", contents);
    return contents;
}

std::string narrow(const WCHAR* text) {
    return text ? text::narrow(text) : std::string("(none)");
}

// A machine with a known user profile and, when `ini` is given, that loader ini.
void setUp(const char* ini) {
    machine().environment().set(u"USERPROFILE", kProfile);
    if (ini) {
        ASSERT_TRUE(machine().root().writeFile(kIniPath, ini));
    }
}

template <typename Fn> Fn moduleExport(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

} // namespace

TEST(LibraryStartup, LoadingTheLibraryFixesTheRolesAndFindsBothGpus) {
    HMODULE library = LoadLibraryW(WSTR("vessad3d9u.dll"));
    ASSERT_NE(nullptr, library);

    auto roles = moduleExport<void (*)(int*, int*)>(library, "vessaProbeGpuRoles");
    auto enumerator = moduleExport<GpuEnumerator* (*)()>(library, "vessaProbeGpuEnumerator");
    ASSERT_NE(nullptr, roles);
    ASSERT_NE(nullptr, enumerator);
    int rendering = -2;
    int presenting = -2;
    roles(&rendering, &presenting);
    EXPECT_EQ(1, rendering);
    EXPECT_EQ(0, presenting);

    // The library's own enumerator, created inside the module on first use.
    GpuEnumerator* gpus = enumerator();
    ASSERT_NE(nullptr, gpus);
    ASSERT_NE(nullptr, gpus->m_pDevicePropArray[0]);
    ASSERT_NE(nullptr, gpus->m_pDevicePropArray[1]);
    EXPECT_EQ(nullptr, gpus->m_pDevicePropArray[2]);
    EXPECT_EQ(0x8086u, gpus->m_pDevicePropArray[0]->vendorId);
    EXPECT_TRUE(gpus->m_pDevicePropArray[0]->isPrimary);
    EXPECT_EQ(0x10DEu, gpus->m_pDevicePropArray[1]->vendorId);
    EXPECT_FALSE(gpus->m_pDevicePropArray[1]->isPrimary);
    EXPECT_EQ(kGpuConfigIntelNv, gpus->getGpuConfiguration());
}

TEST(LibraryStartup, RolesAreUnsetUntilStartupAndFixedAfterIt) {
    setUp(nullptr);
    EXPECT_EQ(-1, OpenAdapter::renderingGPU());
    EXPECT_EQ(-1, OpenAdapter::presentingGPU());
    EXPECT_FALSE(isProcessInitialized());
    EXPECT_TRUE(initProcess());
    EXPECT_EQ(1, OpenAdapter::renderingGPU());
    EXPECT_EQ(0, OpenAdapter::presentingGPU());
    EXPECT_TRUE(isProcessInitialized());
    EXPECT_FALSE(isCrashHandoffArmed());
    // Start-up reads no display device: the enumerator is created on first use only.
    EXPECT_EQ(0u, machine().journal().count("user32.dll", "EnumDisplayDevicesW"));

    // A second start-up changes nothing, even when the ini has changed since.
    ASSERT_TRUE(machine().root().writeFile(kIniPath, "[GENERAL]\nCRASH_HANDLER_ACTIVE=1\n"));
    EXPECT_TRUE(initProcess());
    EXPECT_FALSE(isCrashHandoffArmed());
}

TEST(LibraryStartup, CrashHandlerSwitchArmsTheHandoffAtStartup) {
    setUp("[GENERAL]\nCRASH_HANDLER_ACTIVE=10\n");
    initProcess();
    EXPECT_TRUE(isCrashHandoffArmed());
}

TEST(LibraryStartup, CrashHandlerSwitchCountsOnlyItsFirstCharacter) {
    struct Case {
        const char* ini;
        bool active;
    };
    const Case cases[] = {
        {"[GENERAL]\nCRASH_HANDLER_ACTIVE=10\n", true},
        {"[GENERAL]\nCRASH_HANDLER_ACTIVE=1\n", true},
        {"[GENERAL]\nCRASH_HANDLER_ACTIVE=yes\n", false},
        {"[GENERAL]\nCRASH_HANDLER_ACTIVE=0\n", false},
        {"[GENERAL]\n", false},
        {"[general]\ncrash_handler_active=1\n", true},
    };
    for (const Case& c : cases) {
        setUp(c.ini);
        EXPECT_EQ(c.active, isCrashHandlerActive()) << c.ini;
    }
    machine().root().writeFile(kIniPath, "");
    DeleteFileW(text::w(kIniPath));
    EXPECT_FALSE(isCrashHandlerActive());
}

TEST(AppInit, ModeAndDllDirectoryFollowTheDeveloperSwitches) {
    struct Case {
        const char16_t* debug;   // null: unset
        const char16_t* release; // null: unset
        int mode;
        const char* directory;
    };
    const std::u16string longValue(400, u'x');
    const Case cases[] = {
        {nullptr, nullptr, 0, "D:\\Interop"},
        {u"1", nullptr, 1, "DEBUG_ROOT64"},
        {nullptr, u"1", 2, "RELEASE_ROOT64"},
        {u"1", u"1", 2, "RELEASE_ROOT64"},
        {u"", u"", 0, "D:\\Interop"},
        {u"1", u"", 1, "DEBUG_ROOT64"},
        // Set and non-empty even when longer than the buffer it is read with.
        {longValue.c_str(), nullptr, 1, "DEBUG_ROOT64"},
    };
    setUp("[Driver]\nDLL_DIR=D:\\Interop\n");
    for (const Case& c : cases) {
        auto& environment = machine().environment();
        environment.unset(u"DEBUG_APPINIT");
        environment.unset(u"RELEASE_APPINIT");
        if (c.debug)
            environment.set(u"DEBUG_APPINIT", c.debug);
        if (c.release)
            environment.set(u"RELEASE_APPINIT", c.release);
        EXPECT_EQ(c.mode, getAppInitMode()) << c.directory;
        WCHAR directory[kAppPathChars];
        ASSERT_TRUE(getDllDirectory(WSTR("C:\\Default"), directory));
        EXPECT_EQ(c.directory, narrow(directory));
    }
}

TEST(MultiLevelAppName, LongestActiveEntryWhoseMaskHasTheConfigurationCode) {
    ASSERT_EQ(kGpuConfigIntelNv, GpuEnumerator::getInstance()->getGpuConfiguration());
    const WCHAR path[] = WSTR("C:\\Games\\Bin\\game.exe");
    struct Case {
        const char* ini;
        const char* name;
    };
    const Case cases[] = {
        {"[game.exe]\nACTIVE=1\nVA=32\n", "game.exe"},
        {"[game.exe]\nACTIVE=1\nVA=32\n[Bin\\game.exe]\nACTIVE=1\nVA=32\n", "Bin\\game.exe"},
        {"[game.exe]\nACTIVE=1\nVA=128\n", "(none)"},
        // Every decimal digit is read: 39 and 96 both hold the configuration's bit 5.
        {"[game.exe]\nACTIVE=1\nVA=39\n", "game.exe"},
        {"[game.exe]\nACTIVE=1\nVA=96\n", "game.exe"},
        // The longer active entry is the one whose mask counts.
        {"[game.exe]\nACTIVE=1\nVA=32\n[Bin\\game.exe]\nACTIVE=1\nVA=64\n", "(none)"},
        {"[game.exe]\nACTIVE=1\nVA=32\n[Bin\\game.exe]\nACTIVE=0\nVA=64\n", "game.exe"},
        // The whole path is no tail: only what follows a backslash names a section.
        {"[C:\\Games\\Bin\\game.exe]\nACTIVE=1\nVA=32\n", "(none)"},
        {"[game.exe]\nACTIVE=1\n", "(none)"},          // VA defaults to 0
        {"[game.exe]\nACTIVE=2\nVA=-1\n", "game.exe"}, // every code
        {"[game.exe]\nACTIVE=0\nVA=32\n", "(none)"},
        {"[other.exe]\nACTIVE=1\nVA=32\n", "(none)"},
        // Duplicate sections: the first one counts, as with the private-profile functions.
        {"[game.exe]\nACTIVE=1\nVA=32\n[game.exe]\nACTIVE=1\nVA=128\n", "game.exe"},
        // A value longer than the 9 characters read is cut, not overrun.
        {"[game.exe]\nACTIVE=1\nVA=0000000000000000032\n", "(none)"},
    };
    for (const Case& c : cases) {
        setUp(c.ini);
        EXPECT_EQ(c.name, narrow(getMultiLevelAppName(path))) << c.ini;
    }

    // A name is a tail of the caller's own path.
    setUp("[Games\\Bin\\game.exe]\nACTIVE=1\nVA=32\n");
    EXPECT_EQ(path + 3, getMultiLevelAppName(path));
    // Four levels at most.
    const WCHAR deep[] = WSTR("C:\\x\\y\\Games\\Bin\\game.exe");
    setUp("[y\\Games\\Bin\\game.exe]\nACTIVE=1\nVA=32\n");
    EXPECT_EQ("y\\Games\\Bin\\game.exe", narrow(getMultiLevelAppName(deep)));
    setUp("[x\\y\\Games\\Bin\\game.exe]\nACTIVE=1\nVA=32\n");
    EXPECT_EQ("(none)", narrow(getMultiLevelAppName(deep)));
    // Paths with fewer components than a level, and no path at all.
    setUp("[game.exe]\nACTIVE=1\nVA=32\n");
    EXPECT_EQ("game.exe", narrow(getMultiLevelAppName(WSTR("C:\\game.exe"))));
    EXPECT_EQ("(none)", narrow(getMultiLevelAppName(WSTR("game.exe"))));
    EXPECT_EQ(nullptr, getMultiLevelAppName(nullptr));
}

TEST(PerUserFolder, UserProfileLongerThanAPathIsRefusedWithAReport) {
    machine().environment().set(u"USERPROFILE", u"C:\\" + std::u16string(300, u'p'));
    WCHAR folder[kAppPathChars];
    DWORD size = kAppPathChars;
    EXPECT_FALSE(getUserFolder(folder, &size));
    EXPECT_FALSE(isCrashHandlerActive());
    EXPECT_NE(std::string::npos,
              logText().find("USERPROFILE is longer than 259 characters; no per-user folder"));

    // One that fits alone but not with "\Quorvex" is refused too.
    machine().environment().set(u"USERPROFILE", u"C:\\" + std::u16string(250, u'p'));
    size = kAppPathChars;
    EXPECT_FALSE(getUserFolder(folder, &size));
    EXPECT_NE(
        std::string::npos,
        logText().find("the per-user folder under USERPROFILE is longer than 259 characters"));
}

TEST(PerUserFolder, MissingOrEmptyUserProfileMeansNoPerUserFiles) {
    machine().environment().unset(u"USERPROFILE");
    WCHAR folder[kAppPathChars];
    DWORD size = kAppPathChars;
    EXPECT_FALSE(getUserFolder(folder, &size));
    machine().environment().set(u"USERPROFILE", u"");
    EXPECT_FALSE(getUserFolder(folder, &size));
    EXPECT_FALSE(getUserFilePath(WSTR("userSettings.xml"), folder, &size));
    EXPECT_FALSE(isCrashHandlerActive());
    EXPECT_EQ(nullptr, getMultiLevelAppName(WSTR("C:\\game.exe")));
}

TEST(PerUserFolder, IsComputedOnceAndCached) {
    setUp(nullptr);
    WCHAR folder[kAppPathChars];
    DWORD size = kAppPathChars;
    ASSERT_TRUE(getUserFolder(folder, &size));
    EXPECT_EQ("C:\\Users\\tester\\Quorvex", narrow(folder));
    EXPECT_EQ(23u, size);
    machine().environment().set(u"USERPROFILE", u"C:\\Users\\other");
    size = kAppPathChars;
    ASSERT_TRUE(getUserFolder(folder, &size));
    EXPECT_EQ("C:\\Users\\tester\\Quorvex", narrow(folder));
}

TEST(InteropLibraryPath, NeedsADirectory) {
    // No InstallDirectory in the registry and no DLL_DIR in the ini.
    setUp("[GENERAL]\n");
    WCHAR library[kAppPathChars];
    EXPECT_FALSE(getInteropLibraryPath(WSTR("vessaInterop.dll"), library));
    EXPECT_NE(std::string::npos, logText().find("no directory for the interop library"));
    // The developer switches name their roots.
    machine().environment().set(u"DEBUG_APPINIT", u"1");
    ASSERT_TRUE(getInteropLibraryPath(WSTR("vessaInterop.dll"), library));
    EXPECT_EQ("DEBUG_ROOT64\\vessaInterop.dll", narrow(library));
}

TEST(InteropLibraryPath, LongDirectoryIsRefusedNotCut) {
    machine().registry().setString(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver", u"InstallDirectory",
                                   u"C:\\Program Files\\Quorvex");
    WCHAR library[kAppPathChars];
    setUp("[GENERAL]\n");
    ASSERT_TRUE(getInteropLibraryPath(WSTR("vessaInterop.dll"), library));
    EXPECT_EQ("C:\\Program Files\\Quorvex\\vessaInterop.dll", narrow(library));

    // A DLL_DIR line far longer than a path: the directory is cut to 259 characters and
    // the library's path cannot be formed.
    setUp(("[Driver]\nDLL_DIR=D:\\" + std::string(5000, 'd') + "\n").c_str());
    EXPECT_FALSE(getInteropLibraryPath(WSTR("vessaInterop.dll"), library));
    EXPECT_NE(std::string::npos,
              logText().find("the interop library path is longer than 259 characters"));
}

TEST(RegistryReaders, Win32ReaderReportsEachFailureWithItsCode) {
    // No key at all.
    WCHAR value[128];
    DWORD size = sizeof value;
    EXPECT_FALSE(RegManager::readDriverValue(WSTR("InstallDirectory"), value, &size));
    EXPECT_FALSE(RegManager::readDriverValueNt(WSTR("InstallDirectory"), value, &size));
    std::string log = logText();
    EXPECT_NE(std::string::npos, log.find("Error code: 1112\r\n"));
    EXPECT_NE(std::string::npos, log.find("Condition: ERROR_SUCCESS == result, "
                                          "fail to open registry key\r\r\n"));

    // Key without the value.
    machine().registry().createKey(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver");
    EXPECT_FALSE(RegManager::readDriverValue(WSTR("InstallDirectory"), value, &size));
    log = logText();
    EXPECT_NE(std::string::npos, log.find("Error code: 1113\r\n"));
    EXPECT_NE(std::string::npos, log.find("fail to Query registry key\r\r\n"));
    EXPECT_EQ(std::string::npos, log.find("Error code: 1114"));

    // Every report line has the fixed prefix: thread, date, time, file and line.
    std::regex line("TID:[0-9]+, [0-9]{2}/[0-9]{2}/[0-9]{2}, [0-9]{2}:[0-9]{2}:[0-9]{2}, "
                    "RegManager\\.cpp:[0-9]+ - Error code: 1112\r\n");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
}

TEST(RegistryReaders, UnterminatedValueThatFillsTheBufferIsRefused) {
    sim::RegistryValue raw;
    raw.type = REG_SZ;
    for (char c : std::string("abcd")) {
        raw.data.push_back(static_cast<uint8_t>(c));
        raw.data.push_back(0);
    }
    machine().registry().setValue(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver", u"Raw", raw);

    WCHAR tight[4] = {'k', 'e', 'p', 't'};
    DWORD size = sizeof tight;
    EXPECT_FALSE(RegManager::readDriverValueNt(WSTR("Raw"), tight, &size));
    EXPECT_EQ('k', tight[0]);
    EXPECT_FALSE(RegManager::readDriverValue(WSTR("Raw"), tight, &size));

    WCHAR roomy[5];
    size = sizeof roomy;
    ASSERT_TRUE(RegManager::readDriverValue(WSTR("Raw"), roomy, &size));
    EXPECT_EQ("abcd", narrow(roomy));
    EXPECT_EQ(8u, size);
    size = sizeof roomy;
    ASSERT_TRUE(RegManager::readDriverValueNt(WSTR("Raw"), roomy, &size));
    EXPECT_EQ("abcd", narrow(roomy));
    EXPECT_EQ(8u, size);
}
