// UTF-8 <-> UTF-16 conversion of the platform's text helpers, on both builds.
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

struct Conversion {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

// One row per encoded length: 1, 2 and 3 UTF-8 bytes are one UTF-16 unit, 4 are a pair.
const Conversion kConversions[] = {
    {"ascii", "vessa.log", u"vessa.log"},
    {"twoBytes", "caf\xC3\xA9", u"caf\u00E9"},
    {"threeBytes", "\xE2\x82\xAC", u"\u20AC"},
    {"fourBytesAsSurrogatePair", "\xF0\x9F\x98\x80", u"\U0001F600"},
    {"highestCodePoint", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
};

TEST(Text, ConvertsBothWaysForEveryEncodedLength) {
    for (const Conversion& row : kConversions) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(text::widen(row.utf8.c_str()), row.utf16);
        EXPECT_EQ(text::narrow(row.utf16), row.utf8);
        EXPECT_EQ(text::narrow(text::w(row.utf16)), row.utf8);
    }
}

TEST(Text, InvalidUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(text::widen("a\xFF!"), u"a\uFFFD!");
    EXPECT_EQ(text::widen("a\xC3!"), u"a\uFFFD!"); // lead byte without its continuation
}

TEST(Text, NullConvertsToEmpty) {
    EXPECT_EQ(text::widen(nullptr), u"");
    EXPECT_EQ(text::narrow(static_cast<const WCHAR*>(nullptr)), "");
}

} // namespace
