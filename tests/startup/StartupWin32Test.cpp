// Start-up services against the machine's own registry, files and environment: Wine's real
// ones on the Windows build, the simulated machine's on Linux. Nothing here seeds the
// machine through a back door; every value is written with the ordinary Win32 calls.
#include "AppHandling.h"
#include "GpuEnumerator.h"
#include "RegManager.h"

#include "platform/win.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

typedef std::basic_string<WCHAR> WideString;

const WCHAR kDriverKey[] = WSTR("SOFTWARE\\Quorvex\\VessaDriver");

// Writes a REG_SZ value of `byteCount` bytes (the text and, when it fits, its terminator).
void writeDriverValue(const WCHAR* name, const WideString& value, DWORD byteCount) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             byteCount));
    RegCloseKey(key);
}

void writeDriverString(const WCHAR* name, const WideString& value) {
    writeDriverValue(name, value, static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

WideString environmentValue(const WCHAR* name) {
    WCHAR value[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length < 1024 ? WideString(value) : WideString();
}

WideString userFolder() {
    return environmentValue(WSTR("USERPROFILE")) + WSTR("\\Quorvex");
}

// Writes a file into the per-user folder (creating the folder).
void writeUserFile(const WCHAR* name, const std::string& contents) {
    WideString folder = userFolder();
    CreateDirectoryW(folder.c_str(), nullptr);
    WideString path = folder + WSTR("\\") + name;
    FILE* file = _wfopen(path.c_str(), WSTR("wb"));
    ASSERT_NE(nullptr, file);
    fwrite(contents.data(), 1, contents.size(), file);
    fclose(file);
}

void writeLoaderIni(const std::string& contents) {
    writeUserFile(WSTR("vessaloader.ini"), contents);
}

void removeLoaderIni() {
    DeleteFileW((userFolder() + WSTR("\\vessaloader.ini")).c_str());
}

std::string narrow(const WCHAR* text) {
    return text::narrow(text);
}

} // namespace

TEST(RegistryReaders, BothReadersReadAValueWrittenWithRegSetValueEx) {
    const WideString installDir = WSTR("C:\\Program Files\\Quorvex\\Vessa");
    writeDriverString(WSTR("InstallDirectory"), installDir);
    const DWORD expectedBytes = static_cast<DWORD>((installDir.size() + 1) * sizeof(WCHAR));

    WCHAR win32Value[128] = {};
    DWORD win32Size = sizeof win32Value;
    ASSERT_TRUE(RegManager::readDriverValue(WSTR("InstallDirectory"), win32Value, &win32Size));
    EXPECT_EQ(narrow(installDir.c_str()), narrow(win32Value));
    EXPECT_EQ(expectedBytes, win32Size);

    WCHAR nativeValue[128] = {};
    DWORD nativeSize = sizeof nativeValue;
    ASSERT_TRUE(RegManager::readDriverValueNt(WSTR("InstallDirectory"), nativeValue, &nativeSize));
    EXPECT_EQ(narrow(installDir.c_str()), narrow(nativeValue));
    EXPECT_EQ(expectedBytes, nativeSize);
}

TEST(RegistryReaders, MissingValueFailsAndLeavesTheBufferAlone) {
    WCHAR value[16] = {'k', 'e', 'p', 't', 0};
    DWORD size = sizeof value;
    EXPECT_FALSE(RegManager::readDriverValue(WSTR("NoSuchValueForStartupTests"), value, &size));
    EXPECT_FALSE(RegManager::readDriverValueNt(WSTR("NoSuchValueForStartupTests"), value, &size));
    EXPECT_EQ("kept", narrow(value));
    EXPECT_EQ(sizeof value, size);
}

TEST(RegistryReaders, ValueLongerThanTheBufferIsRefusedByBoth) {
    // The configuration store reads with 256 bytes: 127 characters and the terminator.
    writeDriverString(WSTR("StartupTestLongValue"), WideString(200, 'x'));
    WCHAR value[128] = {'k', 'e', 'p', 't', 0};
    value[127] = '!';
    DWORD size = sizeof value;
    EXPECT_FALSE(RegManager::readDriverValue(WSTR("StartupTestLongValue"), value, &size));
    size = sizeof value;
    EXPECT_FALSE(RegManager::readDriverValueNt(WSTR("StartupTestLongValue"), value, &size));
    EXPECT_EQ("kept", narrow(value));
    EXPECT_EQ('!', value[127]);
}

TEST(RegistryReaders, UnterminatedTextIsTerminatedOrRefused) {
    // Stored without its terminator: 4 characters, 8 bytes (Wine's registry adds one).
    writeDriverValue(WSTR("StartupTestUnterminated"), WSTR("abcd"), 4 * sizeof(WCHAR));

    WCHAR roomy[8];
    memset(roomy, 0x55, sizeof roomy);
    DWORD size = sizeof roomy;
    ASSERT_TRUE(RegManager::readDriverValue(WSTR("StartupTestUnterminated"), roomy, &size));
    EXPECT_EQ("abcd", narrow(roomy));
    memset(roomy, 0x55, sizeof roomy);
    size = sizeof roomy;
    ASSERT_TRUE(RegManager::readDriverValueNt(WSTR("StartupTestUnterminated"), roomy, &size));
    EXPECT_EQ("abcd", narrow(roomy));

    // Exactly the four characters fit, the terminator does not: a caller would read past
    // the end, so both readers refuse.
    WCHAR tight[4];
    size = sizeof tight;
    EXPECT_FALSE(RegManager::readDriverValue(WSTR("StartupTestUnterminated"), tight, &size));
    size = sizeof tight;
    EXPECT_FALSE(RegManager::readDriverValueNt(WSTR("StartupTestUnterminated"), tight, &size));
}

TEST(PerUserFolder, IsQuorvexUnderUserProfile) {
    WCHAR folder[kAppPathChars];
    DWORD size = kAppPathChars;
    ASSERT_TRUE(getUserFolder(folder, &size));
    EXPECT_EQ(narrow(userFolder().c_str()), narrow(folder));
    EXPECT_EQ(userFolder().size(), size);

    // A buffer too small for the folder gets nothing.
    WCHAR small[4];
    DWORD smallSize = 4;
    EXPECT_FALSE(getUserFolder(small, &smallSize));
    EXPECT_EQ(4u, smallSize);
}

TEST(PerUserFolder, FilePathExistsOnlyForExistingFiles) {
    // A file of its own: the loader ini belongs to the LoaderIni test, which may run at the
    // same time in the same per-user folder.
    const WCHAR name[] = WSTR("startup-test-probe.txt");
    const WideString expected = userFolder() + WSTR("\\") + name;
    DeleteFileW(expected.c_str());
    WCHAR path[kAppPathChars];
    DWORD size = kAppPathChars;
    EXPECT_FALSE(getUserFilePath(name, path, &size));

    writeUserFile(name, "probe");
    size = kAppPathChars;
    ASSERT_TRUE(getUserFilePath(name, path, &size));
    EXPECT_EQ(narrow(expected.c_str()), narrow(path));
    EXPECT_EQ(expected.size(), size);

    // The path does not fit: no overrun, no success.
    WCHAR small[8];
    DWORD smallSize = 8;
    EXPECT_FALSE(getUserFilePath(name, small, &smallSize));
    DeleteFileW(expected.c_str());
}

// The loader ini's readers, in one test: every test of this suite shares the one per-user
// folder of the machine, so the ini is written and read in a single process.
TEST(LoaderIni, SwitchesDirectoriesAndApplicationEntries) {
    const int code = GpuEnumerator::getInstance()->getGpuConfiguration();
    const std::string matching = std::to_string(1u << code);
    const std::string other = std::to_string(1u << ((code + 1) % 9));

    writeLoaderIni("[GENERAL]\r\nCRASH_HANDLER_ACTIVE=10\r\n"
                   "[Driver]\r\nDLL_DIR=D:\\Interop\\Bin\r\n"
                   "[game.exe]\r\nACTIVE=1\r\nVA=" +
                   matching +
                   "\r\n"
                   "[other.exe]\r\nACTIVE=1\r\nVA=" +
                   other +
                   "\r\n"
                   "[off.exe]\r\nACTIVE=0\r\nVA=" +
                   matching + "\r\n");
    EXPECT_TRUE(isCrashHandlerActive());

    WCHAR directory[kAppPathChars];
    ASSERT_TRUE(getDllDirectory(WSTR("C:\\Default"), directory));
    EXPECT_EQ("D:\\Interop\\Bin", narrow(directory));
    WCHAR library[kAppPathChars];
    ASSERT_TRUE(getInteropLibraryPath(WSTR("vessaInterop.dll"), library));
    EXPECT_EQ("D:\\Interop\\Bin\\vessaInterop.dll", narrow(library));

    const WCHAR game[] = WSTR("C:\\Games\\Bin\\game.exe");
    EXPECT_EQ(game + 13, getMultiLevelAppName(game));
    EXPECT_EQ(nullptr, getMultiLevelAppName(WSTR("C:\\Games\\other.exe")));
    EXPECT_EQ(nullptr, getMultiLevelAppName(WSTR("C:\\Games\\off.exe")));
    EXPECT_EQ(nullptr, getMultiLevelAppName(WSTR("C:\\Games\\unlisted.exe")));

    // Only the first character of the switch counts.
    writeLoaderIni("[GENERAL]\r\nCRASH_HANDLER_ACTIVE=yes\r\n");
    EXPECT_FALSE(isCrashHandlerActive());

    // Without DLL_DIR the registry's installation directory is the default.
    writeDriverString(WSTR("InstallDirectory"), WSTR("C:\\Program Files\\Quorvex\\Vessa"));
    ASSERT_TRUE(getInteropLibraryPath(WSTR("vessaInterop.dll"), library));
    EXPECT_EQ("C:\\Program Files\\Quorvex\\Vessa\\vessaInterop.dll", narrow(library));

    // No loader ini: no switch, no entry, no directory.
    removeLoaderIni();
    EXPECT_FALSE(isCrashHandlerActive());
    EXPECT_EQ(nullptr, getMultiLevelAppName(game));
    EXPECT_FALSE(getDllDirectory(WSTR("C:\\Default"), directory));
    EXPECT_FALSE(getInteropLibraryPath(WSTR("vessaInterop.dll"), library));
}
