// CP932 conversions, the system code page and the per-file decoder.
#include "text/codepage.h"

#include <gtest/gtest.h>

#include "text/codepage_testing.h"

namespace pinemail {
namespace {

// Pairs of UTF-8 text and its CP932 bytes.
struct Cp932Case {
  std::string_view utf8;
  std::string_view cp932;
};

constexpr Cp932Case kRoundTrips[] = {
    {"日本語", "\x93\xFA\x96\x7B\x8C\xEA"},
    {"山田 太郎", "\x8E\x52\x93\x63\x20\x91\xBE\x98\x59"},
    {"C:\\dir\\~x", "C:\\dir\\~x"},          // 0x5C and 0x7E are ASCII
    {"表示ソ", "\x95\x5C\x8E\xA6\x83\x5C"},  // second bytes equal to 0x5C
    {"ｱｲｳ", "\xB1\xB2\xB3"},                 // half-width kana
    {"①髙", "\x87\x40\xFB\xFC"},             // NEC and IBM extensions
    {"＼－～￣∥―￥", "\x81\x5F\x81\x7C\x81\x60\x81\x50\x81\x61\x81\x5C\x81\x8F"},
};

TEST(Cp932Test, RoundTripsJapaneseTextAndExtensions) {
  for (const Cp932Case& c : kRoundTrips) {
    EXPECT_EQ(DecodeCp932(c.cp932), c.utf8);
    EXPECT_EQ(EncodeCp932(c.utf8), c.cp932) << c.utf8;
  }
}

TEST(Cp932Test, NecSelectedIbmExtensionEncodesAsTheIbmForm) {
  EXPECT_EQ(DecodeCp932("\xED\x40"), "纊");
  EXPECT_EQ(EncodeCp932("纊"), "\xFA\x5C");
}

TEST(Cp932Test, UndecodableBytesBecomeReplacementCharactersAndNothingIsDropped) {
  EXPECT_EQ(DecodeCp932("ab\x93"), "ab\uFFFD");     // trailing lead byte
  EXPECT_EQ(DecodeCp932("\x81\x20x"), "\uFFFD x");  // lead byte, bad trail
  EXPECT_EQ(DecodeCp932("\x80\xA0\xFD\xFF"), "\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(DecodeCp932("\x93\xFA\xFF\x96\x7B"), "日\uFFFD本");
}

TEST(Cp932Test, EncodeReplacesMissingCharactersVisiblyOrByLookAlikes) {
  // The JIS forms of these characters have CP932 look-alikes.
  EXPECT_EQ(EncodeCp932("\u2212\u301C\u203E\u2016\u2014\u00A5"),
            "\x81\x7C\x81\x60\x81\x50\x81\x61\x81\x5C\x81\x8F");
  // One "?" per character CP932 lacks, whatever its length in UTF-8.
  EXPECT_EQ(EncodeCp932("a\u00E9b\U0001F600c\uD55C"), "a?b?c?");
  EXPECT_EQ(EncodeCp932("x\xFFy"), "x?y");
}

class SystemCodePageTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetSystemCodePageForTesting(); }
};

TEST_F(SystemCodePageTest, Cp932SystemConvertsBothWays) {
  for (std::string_view name : {"932", "CP932", "SHIFT_JIS"}) {
    SetSystemCodePageForTesting(name);
    EXPECT_FALSE(SystemCodePageIsUtf8());
    EXPECT_EQ(DecodeSystemText("\x93\xFA\x96\x7B"), "日本");
    EXPECT_EQ(EncodeSystemText("日本\u2212"), "\x93\xFA\x96\x7B\x81\x7C");
  }
}

TEST_F(SystemCodePageTest, Utf8AndCLocaleKeepUtf8AndReadCp932Values) {
  for (std::string_view name : {"UTF-8", "65001", "C", "ANSI_X3.4-1968"}) {
    SetSystemCodePageForTesting(name);
    EXPECT_TRUE(SystemCodePageIsUtf8()) << name;
    EXPECT_EQ(DecodeSystemText("日本"), "日本");
    EXPECT_EQ(DecodeSystemText("\x93\xFA\x96\x7B"), "日本");
    EXPECT_EQ(EncodeSystemText("日本\u2212"), "日本\u2212");
    EXPECT_EQ(EncodeSystemText("a\xFF"), "a\uFFFD");
  }
}

TEST_F(SystemCodePageTest, OtherCodePagesConvertThroughTheSystem) {
  SetSystemCodePageForTesting("1252");
  EXPECT_FALSE(SystemCodePageIsUtf8());
  EXPECT_EQ(DecodeSystemText("caf\xE9"), "café");
  EXPECT_EQ(EncodeSystemText("café 日"), "caf\xE9 ?");
}

TEST_F(SystemCodePageTest, ByteOrderMarkMeansUtf8WhateverTheCodePage) {
  SetSystemCodePageForTesting("932");
  TextDecoder decoder;
  EXPECT_EQ(decoder.Decode("\xEF\xBB\xBF日本"), "日本");
  EXPECT_EQ(decoder.Decode("語"), "語");
  EXPECT_EQ(decoder.Decode("\x93\xFA"), "\uFFFD\uFFFD");
  // Only the start of a file can carry the mark.
  TextDecoder fresh;
  EXPECT_EQ(fresh.Decode("\x93\xFA"), "日");
  EXPECT_EQ(fresh.Decode("\xEF\xBB\xBF"), "\uFFFDｻｿ");
}

TEST_F(SystemCodePageTest, InvalidUtf8SwitchesTheRestOfTheFileToCp932) {
  SetSystemCodePageForTesting("UTF-8");
  TextDecoder decoder;
  // C3 BD is "ý" in UTF-8 and "ﾃｽ" in CP932.
  EXPECT_EQ(decoder.Decode("\xC3\xBD"), "\u00FD");
  EXPECT_EQ(decoder.Decode("\x93\xFA\x96\x7B"), "日本");
  EXPECT_EQ(decoder.Decode("\xC3\xBD"), "ﾃｽ");
  // The choice belongs to one file.
  TextDecoder next_file;
  EXPECT_EQ(next_file.Decode("\xC3\xBD"), "\u00FD");
}

}  // namespace
}  // namespace pinemail
