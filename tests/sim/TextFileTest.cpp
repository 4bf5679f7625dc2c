// _wfopen: Windows paths into the machine's root and Windows text mode.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <string>

namespace {

std::string bytesOf(const char16_t* windowsPath) {
    std::string contents;
    EXPECT_TRUE(sim::Machine::instance().root().readFile(windowsPath, contents));
    return contents;
}

void writeWith(const char16_t* path, const char16_t* mode, const char* text) {
    FILE* f = _wfopen(path, mode);
    ASSERT_NE(f, nullptr);
    fputs(text, f);
    fclose(f);
}

std::string readWith(const char16_t* path, const char16_t* mode) {
    FILE* f = _wfopen(path, mode);
    EXPECT_NE(f, nullptr);
    if (!f)
        return "";
    std::string out;
    char buffer[64];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out.append(buffer, n);
    fclose(f);
    return out;
}

} // namespace

TEST(TextFiles, InvalidArgumentsAndMissingFoldersFail) {
    errno = 0;
    EXPECT_EQ(_wfopen(nullptr, u"w"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(_wfopen(u"c:\\x.txt", nullptr), nullptr);
    EXPECT_EQ(_wfopen(u"c:\\x.txt", u"q"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(_wfopen(u"c:\\no\\such\\folder\\x.txt", u"w"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(_wfopen(u"c:\\missing.txt", u"r"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(TextFiles, TextModeWritesCrLfAndBinaryModeWritesBytesAsGiven) {
    writeWith(u"c:\\vessa.log", u"w", "one\ntwo\r\n");
    EXPECT_EQ(bytesOf(u"C:\\vessa.log"), "one\r\ntwo\r\r\n");
    writeWith(u"c:\\vessa.log", u"a", "three\n");
    EXPECT_EQ(bytesOf(u"C:\\vessa.log"), "one\r\ntwo\r\r\nthree\r\n");
    writeWith(u"c:\\raw.bin", u"wb", "a\nb");
    EXPECT_EQ(bytesOf(u"C:\\raw.bin"), "a\nb");
    writeWith(u"c:\\text.txt", u"wt", "a\nb");
    EXPECT_EQ(bytesOf(u"C:\\text.txt"), "a\r\nb");
}

TEST(TextFiles, TextModeReadsCrLfAsLfAndStopsAtCtrlZ) {
    ASSERT_TRUE(sim::Machine::instance().root().writeFile(u"C:\\in.txt", "x\r\ny\rz\r\n\x1Atail"));
    EXPECT_EQ(readWith(u"c:\\in.txt", u"r"), "x\ny\rz\n");
    EXPECT_EQ(readWith(u"c:\\in.txt", u"rb"), "x\r\ny\rz\r\n\x1Atail");
}

TEST(TextFiles, PathsFindExistingFilesInAnyCaseAndAcceptBothSeparators) {
    sim::Machine& machine = sim::Machine::instance();
    ASSERT_TRUE(machine.root().writeFile(u"C:\\Data\\Settings.ini", "k=v"));
    EXPECT_EQ(readWith(u"c:/DATA/settings.INI", u"rb"), "k=v");
    EXPECT_EQ(readWith(u"C:\\data\\SETTINGS.ini", u"rb"), "k=v");
}
