// The machine's environment through the C runtime and kernel32.dll.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <string>

TEST(Environment, InvalidParametersGiveEinval) {
    size_t required = 99;
    WCHAR buffer[8];
    EXPECT_EQ(_wgetenv_s(nullptr, buffer, 8, u"USERPROFILE"), EINVAL);
    EXPECT_EQ(_wgetenv_s(&required, nullptr, 8, u"USERPROFILE"), EINVAL);
    EXPECT_EQ(_wgetenv_s(&required, buffer, 8, nullptr), EINVAL);
    char narrow[8];
    EXPECT_EQ(getenv_s(nullptr, narrow, 8, "X"), EINVAL);
    EXPECT_FALSE(SetEnvironmentVariableW(u"A=B", u"x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Environment, ValuesAreReadWithTheCRuntimeContract) {
    sim::Environment& environment = sim::Machine::instance().environment();
    environment.set(u"USERPROFILE", u"C:\\Users\\Tester");
    size_t required = 0;
    WCHAR buffer[260];
    EXPECT_EQ(_wgetenv_s(&required, buffer, 260, u"userprofile"), 0);
    EXPECT_EQ(required, 16u); // characters with the terminator
    EXPECT_EQ(std::u16string(buffer), u"C:\\Users\\Tester");

    EXPECT_EQ(_wgetenv_s(&required, nullptr, 0, u"USERPROFILE"), 0);
    EXPECT_EQ(required, 16u);
    WCHAR small[4] = {u'x'};
    EXPECT_EQ(_wgetenv_s(&required, small, 4, u"USERPROFILE"), ERANGE);
    EXPECT_EQ(required, 16u);

    environment.unset(u"USERPROFILE");
    buffer[0] = u'x';
    EXPECT_EQ(_wgetenv_s(&required, buffer, 260, u"USERPROFILE"), 0);
    EXPECT_EQ(required, 0u);
    EXPECT_EQ(buffer[0], 0);
}

TEST(Environment, NarrowAndWin32FunctionsShareTheVariables) {
    EXPECT_TRUE(SetEnvironmentVariableW(u"RELEASE_APPINIT", u"1"));
    size_t required = 0;
    char narrow[260];
    EXPECT_EQ(getenv_s(&required, narrow, 260, "release_appinit"), 0);
    EXPECT_STREQ(narrow, "1");
    EXPECT_EQ(required, 2u);
    WCHAR wide[8];
    EXPECT_EQ(GetEnvironmentVariableW(u"Release_AppInit", wide, 8), 1u);
    EXPECT_EQ(GetEnvironmentVariableW(u"Release_AppInit", wide, 1), 2u); // size needed
    EXPECT_TRUE(SetEnvironmentVariableW(u"RELEASE_APPINIT", nullptr));
    EXPECT_EQ(GetEnvironmentVariableW(u"RELEASE_APPINIT", wide, 8), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_EQ(getenv_s(&required, narrow, 260, "RELEASE_APPINIT"), 0);
    EXPECT_EQ(required, 0u);
}

TEST(Environment, StartsWithTheVariablesOfAWindowsProcessAndNotTheHosts) {
    WCHAR buffer[260];
    EXPECT_GT(GetEnvironmentVariableW(u"SystemRoot", buffer, 260), 0u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\Windows");
    EXPECT_EQ(GetEnvironmentVariableW(u"PATH", buffer, 260), 0u);
}
