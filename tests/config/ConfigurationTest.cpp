// The configuration store on the simulated machine: where values come from, the GPU count,
// the accessors, the start-up check and bad databases.
#include "../soak/HeapUsage.h"
#include "ConfigSceneFixture.h"
#include "XencCodec.h"

#include <stdint.h>
#include <thread>

namespace configtest {
namespace {

// ---- Precedence of the database's sections -----------------------------------------------

struct PrecedenceCase {
    const char* what;
    std::string extraDefault;
    std::string applications;
    const char* expectedValue;
    const char* expectedSource;
};

void PrintTo(const PrecedenceCase& c, std::ostream* os) {
    *os << c.what;
}

class DatabasePrecedence : public ConfigStoreTest,
                           public ::testing::WithParamInterface<PrecedenceCase> {};

TEST_P(DatabasePrecedence, SleepOnStartupComesFromTheMostSpecificSection) {
    m_scene.database =
        database({{"sleep_on_startup", "1"}}, GetParam().extraDefault, GetParam().applications);
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::sleep_on_startup), GetParam().expectedValue);
    EXPECT_EQ(source(configuration, ConfigProperty::sleep_on_startup), GetParam().expectedSource);
}

INSTANTIATE_TEST_SUITE_P(
    ConfigStore, DatabasePrecedence,
    ::testing::Values(
        PrecedenceCase{"defaultOnly", "", "", "1", "default"},
        PrecedenceCase{"defaultConfiguration", configGroup("intel_nv", "sleep_on_startup", "2"), "",
                       "2", "default+configuration"},
        PrecedenceCase{"otherConfigurationIgnored",
                       configGroup("intel_ati", "sleep_on_startup", "2"), "", "1", "default"},
        PrecedenceCase{"application", configGroup("intel_nv", "sleep_on_startup", "2"),
                       application("game", group("sleep_on_startup", "3")), "3", "application"},
        PrecedenceCase{"applicationConfiguration", "",
                       application("game", group("sleep_on_startup", "3") +
                                               configGroup("intel_nv", "sleep_on_startup", "4")),
                       "4", "application+configuration"},
        PrecedenceCase{"otherApplicationIgnored", "",
                       application("other", group("sleep_on_startup", "3")), "1", "default"},
        PrecedenceCase{
            "emptyApplicationTextFallsToDefault", configGroup("intel_nv", "sleep_on_startup", "2"),
            application("game", group("sleep_on_startup", "")), "2", "default+configuration"},
        PrecedenceCase{"exactNameComparesLowerCase", "",
                       application("Game", group("sleep_on_startup", "3")), "1", "default"}),
    [](const ::testing::TestParamInfo<PrecedenceCase>& info) {
        return std::string(info.param.what);
    });

TEST_F(ConfigStoreTest, UpperCaseExecutableIsQueriedUnderItsLowerCaseNameWithoutExtension) {
    m_scene.executablePath = u"C:\\Games\\Game.EXE";
    m_scene.database = database({}, "", application("game", group("use_zari_dx9", "1")));
    Configuration& configuration = load();
    EXPECT_EQ(text::narrow(configuration.getProcessName()), "game.exe");
    EXPECT_EQ(text::narrow(configuration.getProcessDir()), "c:\\games\\");
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::use_zari_dx9), 1);
}

TEST_F(ConfigStoreTest, AnApostropheInTheExecutableNameStillFindsItsSection) {
    m_scene.executablePath = u"C:\\Games\\Tom's Game.exe";
    m_scene.database = database({}, "", application("tom's game", group("use_zari_dx9", "1")));
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::use_zari_dx9), 1);
}

TEST_F(ConfigStoreTest, LoaderIniEntryNamesTheApplicationByItsLastPathComponents) {
    m_scene.executablePath = u"C:\\Games\\Bin\\game.exe";
    m_scene.loaderIni = "[Bin\\game.exe]\r\nACTIVE=1\r\nVA=32\r\n";
    m_scene.database = database({}, "",
                                application("bin\\game", group("use_zari_dx9", "1")) +
                                    application("game", group("use_zari_dx9", "2")));
    Configuration& configuration = load();
    EXPECT_EQ(text::narrow(configuration.getProcessName()), "bin\\game.exe");
    EXPECT_EQ(text::narrow(configuration.getProcessDir()), "c:\\games\\");
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::use_zari_dx9), 1);
}

TEST_F(ConfigStoreTest, ObfuscatedDatabaseIsPreferredToThePlainOne) {
    std::string obfuscatedXml = database({{"orr_margin", "7"}});
    std::vector<uint8_t> encoded =
        xenc::encode(reinterpret_cast<const uint8_t*>(obfuscatedXml.data()), obfuscatedXml.size());
    m_scene.database = database({{"orr_margin", "3"}});
    m_scene.otherDatabase = std::string(encoded.begin(), encoded.end());
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::orr_margin), 7);
    EXPECT_NE(text::narrow(configuration.getConfigFilePath()).find("vessa.xenc"),
              std::string::npos);
}

struct MachineCase {
    const char* gpus;
    int32_t expected;
};

class ConfigurationGroupByMachine : public ConfigStoreTest,
                                    public ::testing::WithParamInterface<MachineCase> {};

TEST_P(ConfigurationGroupByMachine, IntelNvGroupAppliesOnlyOnIntelNvMachines) {
    m_scene.gpus = GetParam().gpus;
    m_scene.database =
        database({}, "",
                 application("game", group("use_api_copy_dx9", "2") +
                                         configGroup("intel_nv", "use_api_copy_dx9", "5")));
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::use_api_copy_dx9), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(ConfigStore, ConfigurationGroupByMachine,
                         ::testing::Values(MachineCase{"intel_nv", 5}, MachineCase{"nv_intel", 2},
                                           MachineCase{"intel_ati", 2}, MachineCase{"none", 2}),
                         [](const ::testing::TestParamInfo<MachineCase>& info) {
                             return std::string(info.param.gpus);
                         });

TEST_F(ConfigStoreTest, UnsupportedMachineQueriesWithoutConfigurationGroupAndWarns) {
    m_scene.gpus = "none";
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::orr_margin), "0");
    EXPECT_TRUE(reported("Warning", 11165, "Configuration for 0 is not supported"));
}

// ---- GPU count ------------------------------------------------------------------------------

struct GpuCountCase {
    const char* what;
    const char* gpus;
    const char* text;
    int32_t effective;
    int reportCode; // 0: none expected
};

void PrintTo(const GpuCountCase& c, std::ostream* os) {
    *os << c.what;
}

class GpuCount : public ConfigStoreTest, public ::testing::WithParamInterface<GpuCountCase> {};

TEST_P(GpuCount, DatabaseLimitsTheGpusFound) {
    m_scene.gpus = GetParam().gpus;
    m_scene.database = database({{"gpu_count", GetParam().text}});
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getEffectiveGpuCount(), GetParam().effective);
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::gpu_count), GetParam().effective);
    EXPECT_EQ(source(configuration, ConfigProperty::gpu_count), "computed");
    if (GetParam().reportCode == 10575) {
        EXPECT_TRUE(
            reported("Error", 10575, "config file specifies gpu_count to be lower than 2..."));
    } else if (GetParam().reportCode == 10576) {
        EXPECT_TRUE(reported("Warning", 10576, "is not a number"));
    } else {
        EXPECT_EQ(log().find("gpu_count"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ConfigStore, GpuCount,
    ::testing::Values(GpuCountCase{"zeroMeansAll", "intel_nv", "0", 2, 0},
                      GpuCountCase{"oneIsAnError", "intel_nv", "1", 1, 10575},
                      GpuCountCase{"oneOnASingleGpuMachine", "none", "1", 1, 10575},
                      GpuCountCase{"threeLimitedToTheTwoFound", "intel_nv", "3", 2, 0},
                      GpuCountCase{"twoOnASingleGpuMachine", "none", "2", 1, 0},
                      GpuCountCase{"surroundingBlanks", "intel_nv", " 1 ", 1, 10575},
                      GpuCountCase{"notANumber", "intel_nv", "abc", 2, 10576},
                      GpuCountCase{"trailingLetters", "intel_nv", "1abc", 2, 10576},
                      GpuCountCase{"negative", "intel_nv", "-3", 2, 10576},
                      GpuCountCase{"overflow", "intel_nv", "99999999999", 2, 10576}),
    [](const ::testing::TestParamInfo<GpuCountCase>& info) {
        return std::string(info.param.what);
    });

// ---- Accessors ----------------------------------------------------------------------------

TEST_F(ConfigStoreTest, SetPropertyWinsOverTheDatabaseAtOnce) {
    m_scene.database = database({{"use_zari_dx9", "1"}}, "",
                                application("game", configGroup("intel_nv", "use_zari_dx9", "1")));
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::use_zari_dx9, 0), 1);
    const WCHAR* before = configuration.getProperty(ConfigProperty::use_zari_dx9);
    ASSERT_NE(before, nullptr);
    configuration.setProperty(ConfigProperty::use_zari_dx9, 0, 0);
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::use_zari_dx9, 0), 0);
    EXPECT_EQ(source(configuration, ConfigProperty::use_zari_dx9), "run-time");
    configuration.setProperty(ConfigProperty::orr_margin, -2147483647 - 1);
    EXPECT_EQ(value(configuration, ConfigProperty::orr_margin), "-2147483648");
}

TEST_F(ConfigStoreTest, APropertySetOverAndOverKeepsTheStoreBounded) {
    Configuration& configuration = load();
    configuration.setProperty(ConfigProperty::orr_margin, 1);
    const WCHAR* one = configuration.getProperty(ConfigProperty::orr_margin);
    configuration.setProperty(ConfigProperty::orr_margin, 2);
    const WCHAR* two = configuration.getProperty(ConfigProperty::orr_margin);

    const size_t before = soak::heapBytesInUse();
    for (int i = 0; i < 20000; ++i) {
        // A property read as text and set back and forth, and one only ever read as a
        // number, set to a new value each time.
        configuration.setProperty(ConfigProperty::orr_margin, 1 + i % 2);
        configuration.getProperty(ConfigProperty::orr_margin);
        configuration.setProperty(ConfigProperty::sleep_on_startup, i);
        configuration.getIntProperty(ConfigProperty::sleep_on_startup);
    }
    const size_t after = soak::heapBytesInUse();
    EXPECT_LT(after, before + 64 * 1024) << "grew from " << before << " to " << after;

    // The texts handed out are still there, unchanged, and are what the property holds again.
    EXPECT_EQ(text::narrow(one), "1");
    EXPECT_EQ(text::narrow(two), "2");
    EXPECT_EQ(configuration.getProperty(ConfigProperty::orr_margin), two);
    configuration.setProperty(ConfigProperty::orr_margin, 1);
    EXPECT_EQ(configuration.getProperty(ConfigProperty::orr_margin), one);
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::sleep_on_startup), 19999);
}

TEST_F(ConfigStoreTest, PerGpuPropertiesAddTheGpuIndexToTheirBase) {
    m_scene.database = database({}, "<ids><gpu_vendor_id>32902</gpu_vendor_id></ids>");
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::gpu_vendor_id, 0), "32902");
    EXPECT_EQ(value(configuration, ConfigProperty::gpu_vendor_id, 2), "<none>");
    configuration.setProperty(ConfigProperty::gpu_vendor_id, 4318, 2);
    EXPECT_EQ(value(configuration, ConfigProperty::gpu_vendor_id, 2), "4318");
    EXPECT_EQ(value(configuration, static_cast<ConfigProperty>(502), 0), "4318"); // id 502
    EXPECT_EQ(value(configuration, ConfigProperty::gpu_device_id, 2), "<none>");
    // Other properties ignore the GPU index.
    EXPECT_EQ(configuration.getProperty(ConfigProperty::orr_margin, 3),
              configuration.getProperty(ConfigProperty::orr_margin, 0));
}

TEST_F(ConfigStoreTest, GpuIndexOutsideTheFourSlotsReadsAndWritesNothing) {
    Configuration& configuration = load();
    configuration.setProperty(ConfigProperty::gpu_vendor_id, 1, 4); // would be gpu_device_id
    EXPECT_EQ(value(configuration, ConfigProperty::gpu_device_id, 0), "<none>");
    EXPECT_EQ(configuration.getProperty(ConfigProperty::gpu_vendor_id, -1), nullptr);
    EXPECT_TRUE(reported("Warning", 0, "GPU index 4 out of range for property 500"));
}

TEST_F(ConfigStoreTest, PropertiesWithoutAnyValueReadAsNoneAndZero) {
    m_scene.database = database({{"single_mode", nullptr}, {"partial_copy", nullptr}});
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getProperty(ConfigProperty::single_mode), nullptr);
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::single_mode), 0);
    EXPECT_EQ(source(configuration, ConfigProperty::single_mode), "none");
    EXPECT_EQ(configuration.getProperty(static_cast<ConfigProperty>(15)), nullptr);
    EXPECT_EQ(configuration.getProperty(static_cast<ConfigProperty>(9999)), nullptr);
}

struct IntCase {
    const char* text;
    int32_t expected;
};

class IntegerText : public ConfigStoreTest, public ::testing::WithParamInterface<IntCase> {};

TEST_P(IntegerText, IsReadAsTheCLibraryReadsBaseTen) {
    m_scene.database = database({{"orr_margin", GetParam().text}});
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::orr_margin), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(ConfigStore, IntegerText,
                         ::testing::Values(IntCase{"35", 35}, IntCase{"abc", 0},
                                           IntCase{"12abc", 12}, IntCase{" -3", -3},
                                           IntCase{"\n\t+7 ", 7}, IntCase{"- 3", 0},
                                           IntCase{"99999999999", INT32_MAX},
                                           IntCase{"-99999999999", INT32_MIN}, IntCase{"0x10", 0}));

// ---- Start-up check and failures -----------------------------------------------------------

TEST_F(ConfigStoreTest, EachMissingDefaultShowsOneMessageBox) {
    m_scene.database =
        database({{"drop_draw_dx9", nullptr}, {"single_mode", nullptr}, {"gpu_count", nullptr}});
    Configuration& configuration = load();
    std::vector<sim::MessageBoxRecord> boxes = sim::Machine::instance().messageBoxes().records();
    ASSERT_EQ(boxes.size(), 2u); // gpu_count has its computed value: not checked
    EXPECT_EQ(text::narrow(boxes[0].text), "Missing drop_draw_dx9 default value in vessa.xml");
    EXPECT_EQ(text::narrow(boxes[1].text), "Missing single_mode default value in vessa.xml");
    EXPECT_EQ(text::narrow(boxes[0].title), "Orbel Loading Error");
    EXPECT_EQ(boxes[0].style, 0x40010u);
    EXPECT_EQ(value(configuration, ConfigProperty::drop_draw_dx9), "0"); // built-in
}

TEST_F(ConfigStoreTest, CompleteDatabaseLoadsWithoutReportsOrBoxes) {
    m_scene.userSettings = "<userSettings/>";
    Configuration& configuration = load();
    EXPECT_TRUE(messageBoxes().empty());
    EXPECT_EQ(log(), "");
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_install_dir),
              "C:\\Program Files\\Quorvex\\Vessa");
    EXPECT_EQ(source(configuration, ConfigProperty::vessa_install_dir), "computed");
}

TEST_F(ConfigStoreTest, MissingDatabaseIsReportedOnceAndBuiltInDefaultsServe) {
    m_scene.database.reset();
    Configuration& configuration = load();
    EXPECT_EQ(reportCount("Error", 10004, "Configuration file is corrupt or missing"), 1);
    EXPECT_EQ(text::narrow(configuration.getConfigFilePath()), "");
    EXPECT_EQ(value(configuration, ConfigProperty::orr_margin), "20");
    EXPECT_EQ(source(configuration, ConfigProperty::orr_margin), "built-in");
    // No box per property in front of the game: the one report says it all.
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(ConfigStoreTest, MissingLibraryIsReportedAndDefaultsStillServe) {
    m_scene.installLibrary = false;
    Configuration& configuration = load();
    EXPECT_EQ(reportCount("Error", 10002, "ConfigurationController.dll failed to load!"), 1);
    EXPECT_TRUE(reported("Error", 10003, "Configuration reloaded without being initialized"));
    EXPECT_EQ(value(configuration, ConfigProperty::use_orr_dx9), "1");
    EXPECT_EQ(configuration.getEffectiveGpuCount(), 2);
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(ConfigStoreTest, EmptyDirectoriesInTheRegistryLoadAndReadNothingFromTheDriveRoot) {
    Configuration* configuration = nullptr;
    {
        std::string error;
        ASSERT_TRUE(vessaconfig::installConfigScene(m_scene, error)) << error;
        sim::Machine& machine = sim::Machine::instance();
        const std::u16string key = u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver";
        ASSERT_TRUE(machine.registry().setString(key, u"InstallDirectory", u""));
        ASSERT_TRUE(machine.registry().setString(key, u"ConfigFileDirectory", u""));
        // What "\\ConfigurationController.dll" and "\\vessa.xml" would name: the root of
        // the current drive, where anyone may have left files.
        std::string library;
        ASSERT_TRUE(machine.root().readFile(std::u16string(vessaconfig::kInstallDirectory) +
                                                u"\\ConfigurationController.dll",
                                            library));
        ASSERT_TRUE(machine.root().writeFile(u"C:\\ConfigurationController.dll", library));
        ASSERT_TRUE(machine.root().writeFile(u"C:\\vessa.xml", database({{"orr_margin", "5"}})));
        machine.journal().clear();
        configuration = Configuration::getInstance();
    }
    ASSERT_NE(configuration, nullptr);
    EXPECT_EQ(GetModuleHandleW(WSTR("ConfigurationController.dll")), nullptr);
    for (const sim::JournalEntry& load :
         sim::Machine::instance().journal().find("kernel32.dll", "LoadLibraryW"))
        EXPECT_EQ(load.arguments.find("ConfigurationController"), std::string::npos);
    EXPECT_EQ(text::narrow(configuration->getConfigFilePath()), "");
    EXPECT_EQ(reportCount("Error", 10002, "ConfigurationController.dll failed to load!"), 1);
    EXPECT_EQ(value(*configuration, ConfigProperty::orr_margin), "20");
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(ConfigStoreTest, MissingRegistryKeyLeavesNoDatabaseAndNoInstallDirectory) {
    m_scene.installKey = false;
    Configuration& configuration = load();
    EXPECT_TRUE(reported("Error", 1112, "fail to open registry key"));
    EXPECT_TRUE(reported("Error", 10005, "Install directory not present in registry"));
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_install_dir), "");
    EXPECT_EQ(source(configuration, ConfigProperty::vessa_install_dir), "built-in");
}

struct BadDatabase {
    const char* what;
    std::string contents;
};

void PrintTo(const BadDatabase& c, std::ostream* os) {
    *os << c.what;
}

class UnreadableDatabase : public ConfigStoreTest,
                           public ::testing::WithParamInterface<BadDatabase> {};

TEST_P(UnreadableDatabase, IsReportedAndBuiltInDefaultsServe) {
    m_scene.database = GetParam().contents;
    Configuration& configuration = load();
    EXPECT_EQ(reportCount("Error", 10004, "Configuration file is corrupt or missing"), 1);
    EXPECT_TRUE(messageBoxes().empty());
    EXPECT_EQ(value(configuration, ConfigProperty::should_umd_sync_copy), "1");
    EXPECT_EQ(configuration.getEffectiveGpuCount(), 2);
}

std::string nestedDatabase(int depth) {
    std::string inner;
    for (int i = 0; i < depth; ++i)
        inner = "<n>" + inner + "</n>";
    return "<kora><default>" + inner + "</default></kora>";
}

INSTANTIATE_TEST_SUITE_P(
    ConfigStore, UnreadableDatabase,
    ::testing::Values(BadDatabase{"empty", ""}, BadDatabase{"notXml", "orr_margin = 5\n"},
                      BadDatabase{"truncated", database().substr(0, 200)},
                      BadDatabase{"deeplyNested", nestedDatabase(3000)},
                      BadDatabase{"latin1Bytes",
                                  "<kora><default><g><x>caf\xe9</x></g></default></kora>"},
                      BadDatabase{"megabytes", "<kora>" + std::string(20u << 20, ' ') + "</kora>"}),
    [](const ::testing::TestParamInfo<BadDatabase>& info) { return std::string(info.param.what); });

TEST_F(ConfigStoreTest, DatabaseWithAnotherRootHasNoDefaults) {
    m_scene.database =
        "<configuration><default><g><orr_margin>5</orr_margin></g></default></configuration>";
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::orr_margin), "20");
    EXPECT_EQ(messageBoxes().size(), 20u);
}

TEST_F(ConfigStoreTest, MegabyteValuesAreKeptWhole) {
    std::string big(1u << 20, '4');
    m_scene.database = database({{"partial_copy", big.c_str()}});
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::partial_copy).size(), big.size());
}

TEST_F(ConfigStoreTest, ThreadsAskingAtOnceGetOneStoreLoadedOnce) {
    m_scene.database = database({{"drop_draw_dx9", nullptr}}); // one box per load
    std::string error;
    ASSERT_TRUE(vessaconfig::installConfigScene(m_scene, error)) << error;

    std::vector<Configuration*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = Configuration::getInstance(); });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_NE(seen[0], nullptr);
    for (Configuration* configuration : seen)
        EXPECT_EQ(configuration, seen[0]);
    EXPECT_EQ(Configuration::getInstance(), seen[0]);
    EXPECT_EQ(messageBoxes().size(), 1u);
}

} // namespace
} // namespace configtest
