#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace kavri {
namespace {

TEST(Text, Utf8AndUtf16RoundTrip) {
    // ASCII, Latin, CJK and a character outside the basic plane.
    // Expected: UTF-16 with a surrogate pair for the last, and the same UTF-8 back.
    const std::string text = "Caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, u"Caf\u00E9 \u65E5 \U0001F600");
    EXPECT_EQ(wide.size(), 9u);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    EXPECT_TRUE(IsValidUtf8(text));
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
    // Hostile byte sequences: a lone continuation byte, a truncated sequence at the
    // end, an overlong slash, an encoded surrogate, a lone UTF-16 surrogate.
    // Expected: each bad sequence gives U+FFFD, nothing is read past the end.
    EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a\uFFFDz");
    EXPECT_EQ(Utf8ToUtf16("ab\xE6\x97"), u"ab\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_FALSE(IsValidUtf8("a\x80z"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD"));  // a genuine U+FFFD is fine
    const std::u16string lone = {u'x', char16_t(0xD800), u'y'};
    EXPECT_EQ(Utf16ToUtf8(lone), "x\xEF\xBF\xBDy");
    // Made valid in one step: good text as it is, bad bytes replaced.
    EXPECT_EQ(ValidUtf8("Zo\xC3\xAB"), "Zo\xC3\xAB");
    EXPECT_EQ(ValidUtf8("a\x80z\xE6\x97"), "a\xEF\xBF\xBDz\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Text, TruncationNeverSplitsACharacter) {
    // A two-byte and a four-byte character cut at each possible byte count.
    // Expected: the cut falls before a character that would not fit.
    const std::string text = "a\xC3\xA9\xF0\x9F\x98\x80";  // a, é, emoji: 1 + 2 + 4 bytes
    EXPECT_EQ(TruncateUtf8(text, 0), "");
    EXPECT_EQ(TruncateUtf8(text, 1), "a");
    EXPECT_EQ(TruncateUtf8(text, 2), "a");
    EXPECT_EQ(TruncateUtf8(text, 3), "a\xC3\xA9");
    EXPECT_EQ(TruncateUtf8(text, 6), "a\xC3\xA9");
    EXPECT_EQ(TruncateUtf8(text, 7), text);
    EXPECT_EQ(TruncateUtf8(text, 100), text);
}

TEST(Text, AsciiFoldingLeavesUtf8Alone) {
    // Letter case of keys and tokens: only A-Z and a-z fold; an accented
    // capital in UTF-8 and bytes next to the letter ranges stay.
    // Expected: equal apart from ASCII case, never across other bytes.
    EXPECT_EQ(LowerAscii("MiXeD-09_\xC3\x89"), "mixed-09_\xC3\x89");
    EXPECT_EQ(UpperAscii('@'), '@');
    EXPECT_EQ(UpperAscii('['), '[');
    EXPECT_EQ(LowerAscii('`'), '`');
    EXPECT_TRUE(EqualsFoldedAscii("ConnectTimeout", "CONNECTTIMEOUT"));
    EXPECT_FALSE(EqualsFoldedAscii("\xC3\x89", "\xC3\xA9"));
    EXPECT_FALSE(EqualsFoldedAscii("abc", "abcd"));
}

TEST(Text, TrimmingAndDigits) {
    // Blanks are space and tab only; controls include line breaks and DEL.
    // Expected: inner characters stay; an all-blank text becomes empty.
    EXPECT_EQ(TrimBlanks(" \tkey = v \t"), "key = v");
    EXPECT_EQ(TrimBlanks("\r\nx\r\n"), "\r\nx\r\n");
    EXPECT_EQ(TrimControls("\x7F\r\n a b\x01 "), "a b");
    EXPECT_EQ(TrimControls(" \t "), "");
    EXPECT_EQ(HexValue('0'), 0);
    EXPECT_EQ(HexValue('f'), 15);
    EXPECT_EQ(HexValue('F'), 15);
    EXPECT_EQ(HexValue('g'), -1);
    EXPECT_EQ(HexValue('/'), -1);
    EXPECT_EQ(Quoted("a \"b\""), "\"a \"b\"\"");
}

}  // namespace
}  // namespace kavri
