// User settings: the five ranked groups, the translations, the first-wins rule, and files
// that are missing or broken.
#include "ConfigSceneFixture.h"

namespace configtest {
namespace {

std::string settings(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<userSettings>" + body + "</userSettings>\n";
}

std::string victim(const std::string& exactName, const std::string& body) {
    return "<victims><v><exact_name>" + exactName + "</exact_name>" + body + "</v></victims>";
}

std::string mode(const std::string& value) {
    return "<in_game_icon_mode>" + value + "</in_game_icon_mode>";
}

struct RankCase {
    const char* what;
    std::string file;
    const char* iconShow;
};

void PrintTo(const RankCase& c, std::ostream* os) {
    *os << c.what;
}

class UserSettingsRank : public ConfigStoreTest, public ::testing::WithParamInterface<RankCase> {};

TEST_P(UserSettingsRank, TheMostSpecificGroupNamingASettingDecidesIt) {
    m_scene.userSettings = settings(GetParam().file);
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_show), GetParam().iconShow);
    EXPECT_EQ(source(configuration, ConfigProperty::vessa_icon_show), "user-settings");
}

INSTANTIATE_TEST_SUITE_P(
    UserSettings, UserSettingsRank,
    ::testing::Values(
        // Rank 1 (the victim's configuration group) over rank 2 (the victim itself).
        RankCase{"timedInConfigurationOverShow",
                 victim("game.exe", "<intel_nv>" + mode("Timed") + "</intel_nv>" + mode("show")),
                 "2"},
        RankCase{"victimOverDefault",
                 victim("game.exe", mode("show")) + "<default>" + mode("timed") + "</default>",
                 "1"},
        RankCase{"defaultConfigurationOverDefault",
                 "<default><intel_nv>" + mode("timed") + "</intel_nv>" + mode("show") +
                     "</default>",
                 "2"},
        RankCase{"otherConfigurationIgnored",
                 "<default><intel_ati>" + mode("timed") + "</intel_ati>" + mode("show") +
                     "</default>",
                 "1"},
        RankCase{"exactNameIsCaseSensitive",
                 victim("Game.exe", mode("show")) + "<default>" + mode("timed") + "</default>",
                 "2"},
        RankCase{"rootLevelWhenNothingElseMatches",
                 victim("other.exe", mode("timed")) + mode("show"), "1"},
        RankCase{"firstOccurrenceInAGroupWins",
                 "<default>" + mode("timed") + mode("show") + "</default>", "2"},
        RankCase{"emptySettingIsOff", "<default><in_game_icon_mode/></default>", "0"},
        RankCase{"unknownModeIsOff", "<default>" + mode("blink") + "</default>", "0"},
        RankCase{"namesAndValuesIgnoreCase",
                 "<default><IN_GAME_ICON_MODE>SHOW</IN_GAME_ICON_MODE></default>", "1"},
        RankCase{"commentsAreNotPartOfTheValue",
                 "<default><in_game_icon_mode><!-- on -->show</in_game_icon_mode></default>", "1"}),
    [](const ::testing::TestParamInfo<RankCase>& info) { return std::string(info.param.what); });

struct BarCase {
    const char* text;
    const char* orr;
    const char* margin;
};

class PerformanceBar : public ConfigStoreTest, public ::testing::WithParamInterface<BarCase> {};

TEST_P(PerformanceBar, DrivesTheOrrFlagsAndMargin) {
    m_scene.userSettings = settings(std::string("<default><performance_bar>") + GetParam().text +
                                    "</performance_bar></default>");
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::use_orr_dx9), GetParam().orr);
    EXPECT_EQ(value(configuration, ConfigProperty::use_orr_dx10), GetParam().orr);
    EXPECT_EQ(value(configuration, ConfigProperty::orr_margin), GetParam().margin);
    EXPECT_EQ(source(configuration, ConfigProperty::orr_margin), "user-settings");
}

INSTANTIATE_TEST_SUITE_P(UserSettings, PerformanceBar,
                         ::testing::Values(BarCase{"-999", "0", "20"}, BarCase{"35", "1", "35"},
                                           BarCase{"abc", "1", "abc"}, BarCase{"", "1", ""}));

TEST_F(ConfigStoreTest, CornerIsCopiedUnchangedAndLongTextsAreCut) {
    std::string longCorner(200, 'L');
    m_scene.userSettings = settings("<default><in_game_icon_corner>" + longCorner +
                                    "</in_game_icon_corner></default>");
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_corner), longCorner.substr(0, 127));
}

TEST_F(ConfigStoreTest, UserSettingsWinOverTheDatabase) {
    m_scene.database =
        database({}, "", application("game", configGroup("intel_nv", "vessa_icon_show", "0")));
    m_scene.userSettings = settings("<default>" + mode("show") + "</default>");
    Configuration& configuration = load();
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::vessa_icon_show), 1);
    // Settings the file does not name still come from the database.
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_corner), "0");
    EXPECT_EQ(source(configuration, ConfigProperty::vessa_icon_corner), "default");
}

TEST_F(ConfigStoreTest, UnsupportedMachineSkipsTheConfigurationGroups) {
    m_scene.gpus = "none";
    m_scene.userSettings =
        settings(victim("game.exe", "<intel_nv>" + mode("timed") + "</intel_nv>" + mode("show")));
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_show), "1");
    EXPECT_TRUE(reported("Warning", 11166, "Configuration for 0 is not supported"));
}

TEST_F(ConfigStoreTest, MissingUserSettingsShowTheIconTopLeftSilently) {
    Configuration& configuration = load();
    EXPECT_TRUE(reported("Error", 0, "can't find userSetting.xml"));
    EXPECT_EQ(log().find("10876"), std::string::npos);
    EXPECT_EQ(log().find("10877"), std::string::npos);
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_show), "1");
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_corner), "UL");
    EXPECT_EQ(source(configuration, ConfigProperty::vessa_icon_corner), "built-in");
}

TEST_F(ConfigStoreTest, NoUserProfileMeansNoSettingsPath) {
    m_scene.userProfile = false;
    Configuration& configuration = load();
    EXPECT_TRUE(reported("Error", 10876, "m_userSettingsXMLPath isn't containing the full path"));
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_show), "1");
}

struct BrokenSettings {
    const char* what;
    std::string contents;
};

void PrintTo(const BrokenSettings& c, std::ostream* os) {
    *os << c.what;
}

class CorruptUserSettings : public ConfigStoreTest,
                            public ::testing::WithParamInterface<BrokenSettings> {};

TEST_P(CorruptUserSettings, AreReportedAndTheIconFallbackApplies) {
    m_scene.userSettings = GetParam().contents;
    Configuration& configuration = load();
    EXPECT_TRUE(reported("Error", 10877, "userSetting file is corrupt"));
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_show), "1");
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_corner), "UL");
}

INSTANTIATE_TEST_SUITE_P(
    UserSettings, CorruptUserSettings,
    ::testing::Values(BrokenSettings{"empty", ""}, BrokenSettings{"notXml", "show the icon"},
                      BrokenSettings{"truncated", "<userSettings><default><in_game_ic"},
                      BrokenSettings{"invalidUtf8",
                                     "<userSettings><x>\xc3\x28</x></userSettings>"}),
    [](const ::testing::TestParamInfo<BrokenSettings>& info) {
        return std::string(info.param.what);
    });

TEST_F(ConfigStoreTest, SettingsFileWithAnotherRootAppliesNothingButIsNotAFailure) {
    m_scene.userSettings = "<settings><in_game_icon_mode>show</in_game_icon_mode></settings>";
    Configuration& configuration = load();
    EXPECT_EQ(value(configuration, ConfigProperty::vessa_icon_show), "0"); // the database's
    EXPECT_EQ(source(configuration, ConfigProperty::vessa_icon_show), "default");
}

} // namespace
} // namespace configtest
