// Code point counting and cutting, blank trimming and validation of UTF-8.
#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace pinemail {
namespace {

TEST(Utf8Test, CountsCodePointsAndEachInvalidByteAsOne) {
  EXPECT_EQ(CountCodePoints(""), 0u);
  EXPECT_EQ(CountCodePoints("abc"), 3u);
  EXPECT_EQ(CountCodePoints("日本語"), 3u);
  EXPECT_EQ(CountCodePoints("a\U0001F600b"), 3u);
  EXPECT_EQ(CountCodePoints("\xFF\xFE"), 2u);
  EXPECT_EQ(CountCodePoints("\xE3\x81"), 2u);      // cut-off sequence
  EXPECT_EQ(CountCodePoints("\xC0\xAF"), 2u);      // overlong "/"
  EXPECT_EQ(CountCodePoints("\xED\xA0\x80"), 3u);  // surrogate
  EXPECT_EQ(CountCodePoints("\xE3\x81"
                            "a"),
            3u);  // lead byte before ASCII
}

TEST(Utf8Test, CutsWholeCodePointsOnly) {
  EXPECT_EQ(CutCodePoints("日本語", 2), "日本");
  EXPECT_EQ(CutCodePoints("日本語", 0), "");
  EXPECT_EQ(CutCodePoints("日本語", 99), "日本語");
  EXPECT_EQ(CutCodePoints("a\U0001F600b", 2), "a\U0001F600");
  EXPECT_EQ(CutCodePoints("\xFF"
                          "あ",
                          1),
            "\xFF");
  // A 63-character subject made of 3-byte characters is 189 bytes.
  std::string kana;
  for (int i = 0; i < 100; ++i) kana += "か";
  EXPECT_EQ(CutCodePoints(kana, 63).size(), 189u);
}

TEST(Utf8Test, TrimsSpacesAndIdeographicSpacesButNotTabs) {
  EXPECT_EQ(TrimBlanks("  abc  "), "abc");
  EXPECT_EQ(TrimBlanks("　 山田　太郎 　"), "山田　太郎");
  EXPECT_EQ(TrimBlanks("\tabc\t"), "\tabc\t");
  EXPECT_EQ(TrimBlanks(" \tabc "), "\tabc");
  EXPECT_EQ(TrimBlanks("　　 "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  // Half of an ideographic space is not a blank.
  EXPECT_EQ(TrimBlanks("a\xE3\x80"), "a\xE3\x80");
}

TEST(Utf8Test, ValidatesWellFormedSequencesOnly) {
  for (std::string_view good :
       {"", "plain", "日本語", "\U0001F600", "\xF4\x8F\xBF\xBF", "\xEF\xBB\xBF"}) {
    EXPECT_TRUE(IsValidUtf8(good)) << good;
  }
  for (std::string_view bad :
       {"\x80", "\xC3", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
        "\xF5\x80\x80\x80", "\x93\xFA\x96\x7B", "ok\xE3\x81"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << ::testing::PrintToString(bad);
  }
}

TEST(Utf8Test, AppendsAndDecodesEveryLengthAndReplacesNonCharacters) {
  for (char32_t code_point :
       {0x00u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFDu, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    std::string text;
    AppendUtf8(text, code_point);
    char32_t decoded = 0;
    EXPECT_EQ(DecodeCodePoint(text, 0, &decoded), text.size());
    EXPECT_EQ(decoded, code_point);
  }
  std::string replaced;
  AppendUtf8(replaced, 0xD800);
  AppendUtf8(replaced, 0x110000);
  EXPECT_EQ(replaced, "\uFFFD\uFFFD");
}

TEST(Utf8Test, SanitizeReplacesEachInvalidByte) {
  EXPECT_EQ(SanitizeUtf8("a\xFF"
                         "b\xE3\x81"),
            "a\uFFFD"
            "b\uFFFD\uFFFD");
  EXPECT_EQ(SanitizeUtf8("日本"), "日本");
}

TEST(Utf8Test, BlankControlsTurnsEachLineBreakerIntoOneBlank) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"a\nb\rc\td"s, "a b c d"},
      {"nul\0esc\x1b[31mdel\x7f"s, "nul esc [31mdel "},
      {"c1\u0085\u009f\u00a0", "c1  \u00a0"},  // NEL and APC; no-break space stays
      {"ls\u2028ps\u2029end", "ls ps end"},
      {"田中\u3000太郎", "田中\u3000太郎"},
      // A lone byte that is no UTF-8 stays, even one that would be C1 in Latin-1.
      {"\x85\xC2", "\x85\xC2"},
  };
  for (const auto& [text, blanked] : cases) {
    EXPECT_EQ(BlankControls(text), blanked) << ::testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace pinemail
