#include <gtest/gtest.h>

#include "vtplatform/text.hpp"

namespace {

TEST(Text, Utf16WithSurrogatePairsRoundTrips) {
    std::u16string original = u"Box \u00e9\u4e2d \U0001F600 & <\">";
    std::string utf8 = vt::Utf16ToUtf8(original);
    EXPECT_EQ(utf8, "Box \xc3\xa9\xe4\xb8\xad \xf0\x9f\x98\x80 & <\">");
    EXPECT_EQ(vt::Utf8ToUtf16(utf8), original);
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
    // Lone surrogates in UTF-16.
    std::u16string lone = {u'a', 0xD800, u'b', 0xDC00};
    EXPECT_EQ(vt::Utf16ToUtf8(lone),
              "a\xef\xbf\xbd"
              "b\xef\xbf\xbd");
    // Truncated, overlong and stray bytes in UTF-8.
    EXPECT_EQ(vt::Utf8ToUtf16("\xe4\xb8"), std::u16string(u"\ufffd\ufffd"));
    EXPECT_EQ(vt::Utf8ToUtf16("\xc0\xaf"), std::u16string(u"\ufffd\ufffd"));
    EXPECT_EQ(vt::Utf8ToUtf16("\x80x"), std::u16string(u"\ufffdx"));
    EXPECT_EQ(vt::Utf8ToUtf16("\xed\xa0\x80"), std::u16string(u"\ufffd\ufffd\ufffd"));
}

TEST(Text, CuttingNeverSplitsASequence) {
    // "a" + 2-byte + 3-byte + 4-byte sequences.
    std::string s = "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80";
    EXPECT_EQ(vt::Utf8PrefixLength(s, 1), 1u);
    EXPECT_EQ(vt::Utf8PrefixLength(s, 2), 1u);
    EXPECT_EQ(vt::Utf8PrefixLength(s, 3), 3u);
    EXPECT_EQ(vt::Utf8PrefixLength(s, 5), 3u);
    EXPECT_EQ(vt::Utf8PrefixLength(s, 6), 6u);
    EXPECT_EQ(vt::Utf8PrefixLength(s, 9), 6u);
    EXPECT_EQ(vt::Utf8PrefixLength(s, 10), 10u);

    char field[6];
    EXPECT_FALSE(vt::CopyUtf8(field, sizeof field, s));
    EXPECT_STREQ(field, "a\xc3\xa9");
    EXPECT_TRUE(vt::CopyUtf8(field, sizeof field, "abc"));
    EXPECT_STREQ(field, "abc");

    std::u16string pair = u"ab\U0001F600";
    char16_t units[4];
    EXPECT_FALSE(vt::CopyUtf16(units, 4, pair));  // room for 3 units: the pair does not fit
    EXPECT_EQ(std::u16string(units), u"ab");
    char16_t wide[5];
    EXPECT_TRUE(vt::CopyUtf16(wide, 5, pair));
    EXPECT_EQ(std::u16string(wide), pair);
}

TEST(Text, Utf16ViewStopsAtTerminatorOrLimit) {
    char16_t full[3] = {u'x', u'y', u'z'};  // no terminator
    EXPECT_EQ(vt::Utf16View(full, 3), u"xyz");
    char16_t shortName[8] = {u'a', 0};
    EXPECT_EQ(vt::Utf16View(shortName, 8), u"a");
}

TEST(Text, EqualsIgnoreCase) {
    EXPECT_TRUE(vt::EqualsIgnoreCase("DATA.zip", "data.ZIP"));
    EXPECT_FALSE(vt::EqualsIgnoreCase("DATA.zip", "DATA.zi"));
}

}  // namespace
