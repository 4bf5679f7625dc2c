// File-version queries of the simulated version.dll.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void seedDriverVersion() {
    sim::FileVersion version;
    const uint16_t file[4] = {8, 17, 12, 6658};
    for (int i = 0; i < 4; ++i)
        version.fileVersion[i] = version.productVersion[i] = file[i];
    version.strings = {{u"CompanyName", u"Simulated Vendor"}, {u"ProductName", u"Driver"}};
    sim::Machine::instance().fileVersions().set(u"nvd3dumx.dll", version);
}

std::vector<uint8_t> infoOf(const char16_t* name) {
    DWORD handle = 7;
    DWORD size = GetFileVersionInfoSizeW(name, &handle);
    EXPECT_EQ(handle, 0u);
    std::vector<uint8_t> data(size);
    if (size) {
        EXPECT_TRUE(GetFileVersionInfoW(name, 0, size, data.data()));
    }
    return data;
}

} // namespace

TEST(FileVersion, FilesWithoutVersionDataReportWhy) {
    DWORD handle = 0;
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeW(u"C:\\nowhere\\missing.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileVersionInfoSizeW(u"kernel32.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_FALSE(GetFileVersionInfoW(u"kernel32.dll", 0, 16, &handle));
}

TEST(FileVersion, TheFixedInfoTranslationAndStringsAreQueryable) {
    seedDriverVersion();
    std::vector<uint8_t> data = infoOf(u"C:\\Windows\\System32\\NVD3DUMX.DLL");
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(GetFileVersionInfoSizeA("nvd3dumx.dll", nullptr), data.size());

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), u"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, (8u << 16) | 17u);
    EXPECT_EQ(fixed->dwFileVersionLS, (12u << 16) | 6658u);

    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), u"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(*translation, 0x04B00409u);

    char16_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), u"\\StringFileInfo\\040904B0\\productname",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_EQ(std::u16string(product), u"Driver");
    EXPECT_EQ(length, 7u); // characters with the terminator
    void* missing = nullptr;
    EXPECT_FALSE(
        VerQueryValueW(data.data(), u"\\StringFileInfo\\040904B0\\Nothing", &missing, &length));
}

TEST(FileVersion, APathEntryWinsOverANameEntry) {
    seedDriverVersion();
    sim::Machine::instance().journal().clear();
    sim::FileVersion other;
    other.fileVersion[0] = 9;
    sim::Machine::instance().fileVersions().set(u"C:\\Drivers\\nvd3dumx.dll", other);
    std::vector<uint8_t> data = infoOf(u"c:/drivers/NVD3DUMX.dll");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), u"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS >> 16, 9u);
    EXPECT_EQ(sim::Machine::instance().journal().count("version.dll", "GetFileVersionInfoW"), 1u);
}
