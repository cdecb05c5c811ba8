#include <gtest/gtest.h>

#include "net/TextKit.h"

namespace brenvik {
namespace {

TEST(CodePages, GbkRoundTripAndGb18030Superset) {
    EXPECT_EQ(ToGbk("中文abc"),
              "\xD6\xD0\xCE\xC4"
              "abc");
    EXPECT_EQ(FromCodePage("\xD6\xD0\xCE\xC4"
                           "abc",
                           kCodePageGbk),
              "中文abc");
    EXPECT_EQ(FromCodePage("\xD6\xD0", kCodePageAnsi), "中");
    // Four-byte GB18030 sequence for U+20000, which GBK itself cannot hold.
    EXPECT_EQ(FromCodePage("\x95\x32\x82\x36", kCodePageGbk), "\U00020000");
}

TEST(CodePages, OtherPages) {
    EXPECT_EQ(FromCodePage("\xA4\xA4\xA4\xE5", kCodePageBig5), "中文");
    EXPECT_EQ(FromCodePage("\xC7\xD1\xB1\xDB", kCodePageEucKr), "한글");
    EXPECT_EQ(FromCodePage("\xE4\xB8\xAD", kCodePageUtf8), "中");
    EXPECT_EQ(FromCodePage("", kCodePageUtf8), "");
}

TEST(CodePages, InvalidInputBecomesReplacementCharacter) {
    EXPECT_EQ(FromCodePage("a\xFF"
                           "b",
                           kCodePageUtf8),
              "a\uFFFDb");
    EXPECT_EQ(FromCodePage("ab\xE4\xB8", kCodePageUtf8), "ab\uFFFD");
    EXPECT_EQ(FromCodePage("\xED\xA0\x80", kCodePageUtf8).find('\xED'), std::string::npos);
    EXPECT_EQ(FromCodePage("a\xD6", kCodePageGbk), "a\uFFFD");
    EXPECT_EQ(FromCodePage("\x80\x41", kCodePageBig5).back(), 'A');
    EXPECT_TRUE(
        IsUtf8(FromCodePage(std::string("\xD6\x00\xD0\xFF\xFE", 5), kCodePageGbk) + "\xC3\xA9"));
}

TEST(CodePages, Utf8IsDecodedStrictly) {
    const std::string r = "\uFFFD";
    // Beyond U+10FFFF, the old five- and six-byte forms, overlong forms and surrogates:
    // each broken piece becomes one replacement character.
    EXPECT_EQ(FromCodePage("a\xF4\x90\x80\x80z", kCodePageUtf8), "a" + r + r + r + r + "z");
    EXPECT_EQ(FromCodePage("\xF5\x80\x80\x80", kCodePageUtf8), r + r + r + r);
    EXPECT_EQ(FromCodePage("\xF8\x88\x80\x80\x80", kCodePageUtf8), r + r + r + r + r);
    EXPECT_EQ(FromCodePage("\xFC\x84\x80\x80\x80\x80", kCodePageUtf8), r + r + r + r + r + r);
    EXPECT_EQ(FromCodePage("\xC0\xAF", kCodePageUtf8), r + r);
    EXPECT_EQ(FromCodePage("\xE0\x80\xAF", kCodePageUtf8), r + r + r);
    EXPECT_EQ(FromCodePage("\xF0\x80\x80\xAF", kCodePageUtf8), r + r + r + r);
    EXPECT_EQ(FromCodePage("\xED\xA0\x80", kCodePageUtf8), r + r + r);
    // A sequence cut short by another character loses only itself.
    EXPECT_EQ(FromCodePage("\xE4\xB8z\xF0\x9F\x98", kCodePageUtf8), r + "z" + r);
    // The edges of what is valid stay as they are.
    for (const char* valid :
         {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF",
          "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_EQ(FromCodePage(valid, kCodePageUtf8), valid);
    }
    EXPECT_EQ(FromCodePage(std::string("a\0b", 3), kCodePageUtf8), std::string("a\0b", 3));
    // UTF-16 built from such text holds no code unit made from the broken bytes.
    EXPECT_EQ(ToUtf16("\xF4\x90\x80\x80"), std::u16string(4, u'\uFFFD'));
}

TEST(CodePages, CharactersGbkLacksBecomeQuestionMarks) {
    EXPECT_EQ(ToGbk("a\U0001F600b"), "a?b");
    EXPECT_EQ(ToGbk("x\xFFy"), "x?y");
    EXPECT_EQ(ToGbk(""), "");
}

}  // namespace
}  // namespace brenvik
