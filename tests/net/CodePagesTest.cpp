#include <gtest/gtest.h>

#include "net/StringCtrl.h"

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

TEST(CodePages, CharactersGbkLacksBecomeQuestionMarks) {
    EXPECT_EQ(ToGbk("a\U0001F600b"), "a?b");
    EXPECT_EQ(ToGbk("x\xFFy"), "x?y");
    EXPECT_EQ(ToGbk(""), "");
}

}  // namespace
}  // namespace brenvik
