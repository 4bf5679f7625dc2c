// The caller test: whether an address lies in a module's image, from the module's own
// headers (PE under Wine, the loaded ELF segments on the simulated machine).
#include "Imposer.h"

#include <gtest/gtest.h>

namespace {

int localFunction() {
    return 1;
}

TEST(CallerTest, AnExportLiesInItsModulesImageAndNotInAnother) {
    HMODULE user32 = LoadLibraryA("user32.dll");
    HMODULE gdi32 = LoadLibraryA("gdi32.dll");
    ASSERT_NE(user32, nullptr);
    ASSERT_NE(gdi32, nullptr);
    const void* exported =
        reinterpret_cast<const void*>(GetProcAddress(user32, "EnumDisplayDevicesW"));
    ASSERT_NE(exported, nullptr);
    EXPECT_TRUE(Imposer::isAddressInModule(exported, 0, 0, user32));
    EXPECT_FALSE(Imposer::isAddressInModule(exported, 0, 0, gdi32));
    EXPECT_FALSE(
        Imposer::isAddressInModule(reinterpret_cast<const void*>(&localFunction), 0, 0, user32));
    EXPECT_TRUE(Imposer::isCalledFrom(exported, "user32.dll"));
    EXPECT_FALSE(Imposer::isCalledFrom(exported, "no-such-module.dll"));
    EXPECT_FALSE(Imposer::isAddressInModule(exported, 0, 0, nullptr));
}

TEST(CallerTest, AGivenRangeCountsBothEnds) {
    HMODULE user32 = LoadLibraryA("user32.dll");
    ASSERT_NE(user32, nullptr);
    const char* base = reinterpret_cast<const char*>(user32);
    EXPECT_TRUE(Imposer::isAddressInModule(base + 0x10, 0x10, 0x10, user32));
    EXPECT_TRUE(Imposer::isAddressInModule(base + 0x20, 0x10, 0x10, user32));
    EXPECT_FALSE(Imposer::isAddressInModule(base + 0x21, 0x10, 0x10, user32));
    EXPECT_FALSE(Imposer::isAddressInModule(base + 0x0F, 0x10, 0x10, user32));
}

TEST(CallerTest, WithoutImageHeadersASizeOfZeroIsOneByte) {
    static char notAModule[4096] = {};
    HMODULE fake = reinterpret_cast<HMODULE>(notAModule);
    EXPECT_TRUE(Imposer::isAddressInModule(notAModule, 0, 0, fake));
    EXPECT_FALSE(Imposer::isAddressInModule(notAModule + 1, 0, 0, fake));
}

} // namespace
