// Folders, attributes, PathFileExistsW and the file-system search.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::u16string> search(const char16_t* pattern) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    return names;
}

} // namespace

TEST(Files, InvalidParametersAndMissingPathsFail) {
    WIN32_FIND_DATAW data;
    EXPECT_EQ(FindFirstFileW(nullptr, &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(FindFirstFileW(u"C:\\nowhere\\*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FindFirstFileW(u"C:\\Windows\\*.none", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FindClose(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_FALSE(FindNextFileW(reinterpret_cast<HANDLE>(0x1234), &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(PathFileExistsW(nullptr));
    EXPECT_EQ(GetFileAttributesW(u"C:\\nowhere\\x"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(u"C:\\Windows\\missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Files, CreateDirectoryMakesOneLevelAndReportsExistingOnes) {
    EXPECT_TRUE(CreateDirectoryW(u"C:\\Users\\Player\\Quorvex", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"c:\\users\\player\\QUORVEX", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryW(u"C:\\a\\b\\c", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(u"C:\\Users\\Player\\Quorvex") & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(PathFileExistsW(u"C:\\USERS\\player\\quorvex"));
    EXPECT_TRUE(RemoveDirectoryW(u"C:\\Users\\Player\\Quorvex"));
    EXPECT_FALSE(PathFileExistsW(u"C:\\Users\\Player\\Quorvex"));
}

TEST(Files, SearchMatchesWildcardsCaseInsensitivelyInNameOrder) {
    sim::RootFolder& root = sim::Machine::instance().root();
    ASSERT_TRUE(root.writeFile(u"C:\\Cfg\\vessa.xml", "<a/>"));
    ASSERT_TRUE(root.writeFile(u"C:\\Cfg\\Beta.XML", "<b/>"));
    ASSERT_TRUE(root.writeFile(u"C:\\Cfg\\notes.txt", "n"));
    ASSERT_TRUE(root.writeFile(u"C:\\Cfg\\README", "r"));
    EXPECT_EQ(search(u"c:\\cfg\\*.xml"), (std::vector<std::u16string>{u"Beta.XML", u"vessa.xml"}));
    EXPECT_EQ(search(u"C:\\Cfg\\*"),
              (std::vector<std::u16string>{u".", u"..", u"Beta.XML", u"notes.txt", u"README",
                                           u"vessa.xml"}));
    EXPECT_EQ(search(u"C:\\Cfg\\*.*").size(), 6u);
    EXPECT_EQ(search(u"C:\\Cfg\\?ot*"), (std::vector<std::u16string>{u"notes.txt"}));
    EXPECT_EQ(search(u"C:\\Cfg\\VESSA.XML"), (std::vector<std::u16string>{u"vessa.xml"}));

    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(u"C:\\Cfg\\notes.txt", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeLow, 1u);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    FindClose(find);
    // The drive's root has no "." entries.
    for (const std::u16string& name : search(u"C:\\*"))
        EXPECT_NE(name, u".");
}
