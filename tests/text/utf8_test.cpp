// Code point counting and cutting, blank trimming and validation of UTF-8;
// UTF-16 conversion.
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

// Every way of cutting a text in three pieces gives the same verdict as the
// whole text.
TEST(Utf8CheckerTest, PiecesGiveTheVerdictOfTheWhole) {
  for (std::string_view text :
       {"a\U0001F600b日本", "\xC3\xBD\xE3\x81\x82", "ok\xE3\x81", "\xE0\x80\x80", "\xED\xA0\x80x",
        "x\xF0\x9F\x98", "\x80\x80\x80\x80", "\x93\xFA\x96\x7B", "\xD0\xBD\xDE\xB7"}) {
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      for (std::size_t second = cut; second <= text.size(); ++second) {
        Utf8Checker checker;
        checker.Add(text.substr(0, cut));
        checker.Add(text.substr(cut, second - cut));
        checker.Add(text.substr(second));
        EXPECT_EQ(checker.Finish(), IsValidUtf8(text)) << ::testing::PrintToString(text) << cut;
      }
    }
  }
}

TEST(Utf16Test, ConvertsBothByteOrdersAndSurrogatePairs) {
  const std::string text = "a日\U0001F600\r\n";
  const std::string little("a\0\xE5\x65\x3D\xD8\x00\xDE\r\0\n\0", 12);
  const std::string big("\0a\x65\xE5\xD8\x3D\xDE\x00\0\r\0\n", 12);
  EXPECT_EQ(Utf8ToUtf16(text, ByteOrder::kLittleEndian), little);
  EXPECT_EQ(Utf8ToUtf16(text, ByteOrder::kBigEndian), big);
  std::string out;
  EXPECT_EQ(AppendUtf16AsUtf8(little, ByteOrder::kLittleEndian, true, out), little.size());
  EXPECT_EQ(out, text);
  out.clear();
  EXPECT_EQ(AppendUtf16AsUtf8(big, ByteOrder::kBigEndian, true, out), big.size());
  EXPECT_EQ(out, text);
}

TEST(Utf16Test, LeavesCutOffUnitsForTheNextPieceAndReplacesStrayOnes) {
  // "a", then a surrogate pair cut after its high half, then an odd byte.
  const std::string pieces(
      "a\0\x3D\xD8\x00\xDE"
      "b",
      7);
  std::string out;
  EXPECT_EQ(AppendUtf16AsUtf8(pieces.substr(0, 4), ByteOrder::kLittleEndian, false, out), 2u);
  EXPECT_EQ(AppendUtf16AsUtf8(pieces.substr(2), ByteOrder::kLittleEndian, false, out), 4u);
  EXPECT_EQ(out, "a\U0001F600");
  EXPECT_EQ(AppendUtf16AsUtf8("b", ByteOrder::kLittleEndian, true, out), 1u);
  EXPECT_EQ(out, "a\U0001F600\uFFFD");
  // Lone halves of a pair, also at the end.
  out.clear();
  AppendUtf16AsUtf8(std::string("\x00\xDEx\0\x3D\xD8x\0\x3D\xD8", 10), ByteOrder::kLittleEndian,
                    true, out);
  EXPECT_EQ(out, "\uFFFDx\uFFFDx\uFFFD");
}

TEST(Utf8Test, BlankControlsTurnsEachLineBreakerIntoOneBlank) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"a\nb\rc\td"s, "a b c d"},
      {"nul\0esc\x1b[31mdel\x7f"s, "nul esc [31mdel "},
      {"c1\u0085\u009f\u00a0", "c1  \u00a0"},  // NEL and APC; no-break space stays
      {"ls\u2028ps\u2029end", "ls ps end"},
      {"\u200e\u200f\u202a\u202e\u2066\u2069\u200d\u2070", "      \u200d\u2070"},  // bidi
      {"田中\u3000太郎", "田中\u3000太郎"},
      // A lone byte that is no UTF-8 stays, even one that would be C1 in Latin-1.
      {"\x85\xC2", "\x85\xC2"},
  };
  for (const auto& [text, blanked] : cases) {
    EXPECT_EQ(BlankControls(text), blanked) << ::testing::PrintToString(text);
  }
}

TEST(Utf8Test, HeaderControlsKeepTheSeparatorsAndMayKeepTheTab) {
  const std::string text = "a\tb\r\nc\u0085d\u2028e";
  EXPECT_EQ(BlankControls(text, Controls::kHeader), "a b  c d\u2028e");
  EXPECT_EQ(BlankControls(text, Controls::kHeaderButTab), "a\tb  c d\u2028e");
}

TEST(Utf8Test, PrintableTextIsOneLineAndMarksBytesOfAnUnknownEncoding) {
  const std::pair<std::string, std::string> cases[] = {
      {"550 宛先\r\nなし\u2028", "550 宛先  なし "},
      // CP932 from a server: every byte above 0x7F becomes "?".
      {"451 \x83\x65\x83X\x83g\tbusy\x01", "451 ?e?X?g busy "},
  };
  for (const auto& [text, printable] : cases) {
    EXPECT_EQ(PrintableText(text), printable) << ::testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace pinemail
