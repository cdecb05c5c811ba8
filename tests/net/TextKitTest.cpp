#include "net/TextKit.h"

#include <gtest/gtest.h>

namespace brenvik {
namespace {

TEST(TextBetween, FindsFirstPairAndConsumesOnlyPastStartMarker) {
    std::string source = "a[b]c[d]";
    EXPECT_EQ(TextBetween(source, "[", "]"), "b");
    EXPECT_EQ(source, "a[b]c[d]");

    EXPECT_EQ(TextBetween(source, "[", "]", kTextConsume), "b");
    EXPECT_EQ(source, "b]c[d]");
    EXPECT_EQ(TextBetween(source, "[", "]", kTextConsume), "d");
    EXPECT_EQ(source, "d]");
}

TEST(TextBetween, RemainderFlagWithoutEndMarker) {
    std::string source = "a[b]c[d]";
    EXPECT_EQ(TextBetween(source, "[", "}", kTextRemainder), "b]c[d]");
    EXPECT_EQ(TextBetween(source, "[", "}"), "");
    EXPECT_EQ(TextBetween(source, "[", "]", kTextRemainder), "b");
}

TEST(TextBetween, AbsentStartMarkerLeavesSourceEvenWhenConsuming) {
    std::string source = "a[b]c";
    EXPECT_EQ(TextBetween(source, "<", "]", kTextConsume | kTextRemainder), "");
    EXPECT_EQ(source, "a[b]c");
    const std::string fixed = "\"name\":\"相册\",\"id\":3";
    EXPECT_EQ(TextBetween(fixed, "\"name\":\"", "\""), "相册");
    EXPECT_EQ(TextBetween(fixed, "\"none\":\"", "\""), "");
}

TEST(SkipPastKeepBefore, PositionsAndEdits) {
    std::string text = "abcXYdef";
    EXPECT_EQ(SkipPast("XY", false, text), 3);
    EXPECT_EQ(text, "XYdef");
    EXPECT_EQ(SkipPast("XY", true, text), 0);
    EXPECT_EQ(text, "def");
    EXPECT_EQ(SkipPast("zz", true, text), -1);
    EXPECT_EQ(text, "def");

    text = "abc</div>tail";
    EXPECT_EQ(KeepBefore("</div>", text), 3);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(KeepBefore("<", text), -1);
    EXPECT_EQ(text, "abc");

    EXPECT_EQ(TextBefore("key=value", "="), "key");
    EXPECT_EQ(TextBefore("keyvalue", "="), "");
}

TEST(CountOccurrences, NonOverlappingLeftToRight) {
    EXPECT_EQ(CountOccurrences("aaaa", "aa"), 2u);
    EXPECT_EQ(CountOccurrences("aaa", "aa"), 1u);
    EXPECT_EQ(CountOccurrences("abc", "x"), 0u);
    EXPECT_EQ(CountOccurrences("abc", ""), 0u);
    EXPECT_EQ(CountOccurrences("相册相册", "相册"), 2u);
}

TEST(Split, PieceCounts) {
    Pieces pieces;
    SplitAll("x", ",", pieces);
    EXPECT_TRUE(pieces.empty());

    SplitAll("a,b,", ",", pieces);
    EXPECT_EQ(pieces, (Pieces{"a", "b", ""}));

    SplitAll(",a,,b", ",", pieces);
    EXPECT_EQ(pieces, (Pieces{"", "a", "", "b"}));

    SplitAll("a<>b<>c", "<>", pieces);
    EXPECT_EQ(pieces, (Pieces{"a", "b", "c"}));
}

TEST(Split, SplitNBeyondSeparatorsRepeatsRemainder) {
    Pieces pieces{"stale"};
    SplitN("a,b", ",", 3, pieces);
    EXPECT_EQ(pieces, (Pieces{"a", "b", "b", "b"}));
    SplitN("a,b,c", ",", 1, pieces);
    EXPECT_EQ(pieces, (Pieces{"a", "b"}));
    SplitN("a,b", ",", 0, pieces);
    EXPECT_EQ(pieces, (Pieces{"a"}));
}

TEST(StripTags, RemovesTagsUntilAnUnclosedOne) {
    EXPECT_EQ(StripTags("<b>x</b>"), "x");
    EXPECT_EQ(StripTags("<p class=\"a\">one<br/>two</p>"), "onetwo");
    EXPECT_EQ(StripTags("a < b"), "a < b");
    EXPECT_EQ(StripTags("<i>x</i> <b"), "x <b");
    EXPECT_EQ(StripTags("plain"), "plain");
}

TEST(UnescapeUnicode, EscapesShortPiecesAndSurrogates) {
    EXPECT_EQ(UnescapeUnicode("\\u4e2d\\u6587"), "中文");
    EXPECT_EQ(UnescapeUnicode("x\\u41y"), "x41y");
    EXPECT_EQ(UnescapeUnicode("a\\u0041bc"), "aAbc");
    EXPECT_EQ(UnescapeUnicode("no escapes"), "no escapes");
    // Hex reading stops at the first non-hex character; the 4 characters are consumed.
    EXPECT_EQ(UnescapeUnicode("\\u4zzzrest"), "\x04rest");
    // A pair of escapes forms one astral character.
    EXPECT_EQ(UnescapeUnicode("\\ud83d\\ude00!"), "\U0001F600!");
    // Lone halves never become invalid UTF-8.
    EXPECT_EQ(UnescapeUnicode("\\ud83dx"), "\uFFFDx");
    EXPECT_EQ(UnescapeUnicode("\\ude00"), "\uFFFD");
    EXPECT_EQ(UnescapeUnicode("\\ud83d\\u0041"), "\uFFFDA");
    // A non-hex multi-byte character counts as one of the four.
    EXPECT_EQ(UnescapeUnicode("\\u中文ab"), "");
}

TEST(DecodeEntities, OrderMatters) {
    std::string text = "&amp;quot;";
    DecodeEntities(text);
    EXPECT_EQ(text, "&quot;");
    text = "&amp;lt;";
    DecodeEntities(text);
    EXPECT_EQ(text, "<");
    text = "&quot;a&quot; &gt; b&nbsp;c&hellip;&#39;&#40;&copy;";
    DecodeEntities(text);
    EXPECT_EQ(text, "\"a\" > b c\u2026'&#40;&copy;");
}

TEST(UrlDecodeUtf8, DecodesWithoutLengthLimit) {
    EXPECT_EQ(UrlDecodeUtf8("%E4%B8%AD%E6%96%87"), "中文");
    EXPECT_EQ(UrlDecodeUtf8("a%20b"), "a b");
    EXPECT_EQ(UrlDecodeUtf8("ab%2"), "ab");
    EXPECT_EQ(UrlDecodeUtf8("ab%zz%41"), "ab");
    std::string longText;
    for (int i = 0; i < 2000; ++i) {
        longText += "%E4%B8%AD";
    }
    EXPECT_EQ(CharCount(UrlDecodeUtf8(longText)), 2000u);
}

TEST(JsonString, EscapesWhatJsonForbidsAndRepairsInvalidBytes) {
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString("1\n2\r3\t4\x01"), "\"1\\n2\\r3\\t4\\u0001\"");
    EXPECT_EQ(JsonString("名\xFF"), "\"名\xEF\xBF\xBD\"");
}

TEST(IsUtf8, StrictTest) {
    EXPECT_TRUE(IsUtf8("\xE4\xB8\xAD"));
    EXPECT_FALSE(IsUtf8("abc"));
    EXPECT_FALSE(IsUtf8("\xC3"));
    EXPECT_FALSE(IsUtf8(""));
    EXPECT_FALSE(IsUtf8("\x80"));
    EXPECT_FALSE(IsUtf8("\xC3\x41"));
    EXPECT_TRUE(IsUtf8("a\xC3\xA9z"));
    EXPECT_FALSE(IsUtf8("\xD6\xD0\xCE\xC4"));  // GBK "中文"
    EXPECT_TRUE(IsUtf8("\xF0\x9F\x98\x80"));
    EXPECT_TRUE(IsUtf8("\xF8\x80\x80\x80\x80"));
    EXPECT_FALSE(IsUtf8("\xFC\x80\x80\x80\x80"));
    EXPECT_TRUE(IsUtf8("\xFC\x80\x80\x80\x80\x80"));
}

TEST(RandomFraction, FormatFitsAnAddress) {
    const std::string text = RandomFraction();
    ASSERT_EQ(text.size(), 18u);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_TRUE(text.starts_with("0.") || text == "1.0000000000000000");
}

TEST(Characters, CountAndCutAtBoundaries) {
    EXPECT_EQ(CharCount("a中b"), 3u);
    EXPECT_EQ(FirstChars("a中b", 2), "a中");
    EXPECT_EQ(FirstChars("ab", 5), "ab");
    EXPECT_EQ(FirstChars("中文", 0), "");
}

}  // namespace
}  // namespace brenvik
