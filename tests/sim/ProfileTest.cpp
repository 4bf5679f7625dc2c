// Private-profile reads (GetPrivateProfileStringW) of the simulated kernel32.dll.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char16_t kIni[] = u"C:\\Users\\Player\\Quorvex\\vessaloader.ini";

void writeIni(const char* text) {
    ASSERT_TRUE(sim::Machine::instance().root().writeFile(kIni, text));
}

std::u16string read(const char16_t* section, const char16_t* key, const char16_t* fallback,
                    DWORD size = 260, DWORD* returned = nullptr) {
    WCHAR buffer[260] = {};
    DWORD n = GetPrivateProfileStringW(section, key, fallback, buffer, size, kIni);
    if (returned)
        *returned = n;
    return std::u16string(buffer);
}

} // namespace

TEST(Profiles, MissingFileSectionOrKeyGiveTheDefault) {
    SetLastError(0);
    EXPECT_EQ(read(u"GENERAL", u"CRASH_HANDLER_ACTIVE", u"0"), u"0");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    writeIni("[GENERAL]\r\nOTHER=1\r\n");
    EXPECT_EQ(read(u"GENERAL", u"CRASH_HANDLER_ACTIVE", u"0"), u"0");
    EXPECT_EQ(read(u"Driver", u"DLL_DIR", u"C:\\Vessa"), u"C:\\Vessa");
    EXPECT_EQ(read(u"Driver", u"DLL_DIR", nullptr), u"");
    EXPECT_EQ(read(u"Driver", u"DLL_DIR", u"trailing   "), u"trailing");
}

TEST(Profiles, SectionsAndKeysIgnoreCaseAndValuesAreTrimmedAndUnquoted) {
    writeIni("; loader settings\n"
             "[General]\n"
             "  crash_handler_active = 10  \n"
             "[game.exe]\n"
             "ACTIVE=1\n"
             "VA=32\n"
             "Quoted=\"  spaced  \"\n"
             "NoValue\n");
    EXPECT_EQ(read(u"GENERAL", u"CRASH_HANDLER_ACTIVE", u"0"), u"10");
    EXPECT_EQ(read(u"GAME.EXE", u"active", u"0"), u"1");
    EXPECT_EQ(read(u"game.exe", u"VA", u"0"), u"32");
    EXPECT_EQ(read(u"game.exe", u"Quoted", u""), u"  spaced  ");
    EXPECT_EQ(read(u"game.exe", u"NoValue", u"default"), u"");
    EXPECT_EQ(GetPrivateProfileIntW(u"game.exe", u"VA", 7, kIni), 32u);
    EXPECT_EQ(GetPrivateProfileIntW(u"game.exe", u"Missing", 7, kIni), 7u);
}

TEST(Profiles, TheFirstOfDuplicateSectionsAndKeysWins) {
    writeIni("[Driver]\nDLL_DIR=first\nDLL_DIR=second\n[driver]\nDLL_DIR=third\nOnlyLater=x\n");
    EXPECT_EQ(read(u"Driver", u"DLL_DIR", u""), u"first");
    EXPECT_EQ(read(u"Driver", u"OnlyLater", u"none"), u"none");
}

TEST(Profiles, ValuesAreCutToTheBuffer) {
    writeIni("[game.exe]\nACTIVE=123456789012\n");
    DWORD n = 0;
    EXPECT_EQ(read(u"game.exe", u"ACTIVE", u"0", 10, &n), u"123456789");
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(read(u"game.exe", u"Missing", u"defaultvalue", 4, &n), u"def");
    EXPECT_EQ(n, 3u);
    WCHAR one[1] = {u'x'};
    EXPECT_EQ(GetPrivateProfileStringW(u"game.exe", u"ACTIVE", u"0", one, 1, kIni), 0u);
    EXPECT_EQ(one[0], 0);
    EXPECT_EQ(GetPrivateProfileStringW(u"game.exe", u"ACTIVE", u"0", nullptr, 10, kIni), 0u);
}

TEST(Profiles, NullSectionOrKeyListsNamesDoublyTerminated) {
    writeIni("[One]\na=1\nb=2\n[Two]\n[one]\nc=3\n");
    WCHAR buffer[32];
    DWORD n = GetPrivateProfileStringW(nullptr, nullptr, u"", buffer, 32, kIni);
    EXPECT_EQ(n, 8u); // up to the final terminator
    EXPECT_EQ(std::u16string(buffer, n + 1), std::u16string(u"One\0Two\0\0", 9));
    n = GetPrivateProfileStringW(u"ONE", nullptr, u"", buffer, 32, kIni);
    EXPECT_EQ(std::u16string(buffer, n + 1), std::u16string(u"a\0b\0\0", 5));
    n = GetPrivateProfileStringW(nullptr, nullptr, u"", buffer, 6, kIni);
    EXPECT_EQ(n, 4u); // cut lists return size - 2
    EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"One\0\0", 5));
}

TEST(Profiles, Utf16FilesAreReadToo) {
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("[S]\r\nk=v\r\n")) {
        bytes += c;
        bytes += '\0';
    }
    ASSERT_TRUE(sim::Machine::instance().root().writeFile(kIni, bytes));
    EXPECT_EQ(read(u"s", u"K", u""), u"v");
}
