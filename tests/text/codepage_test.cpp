// CP932 conversions, the system code page, byte-order marks and the decoder.
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

TEST(ByteOrderMarkTest, FindsUtf8AndBothUtf16Marks) {
  EXPECT_EQ(FindByteOrderMark("\xEF\xBB\xBFx").encoding, TextEncoding::kUtf8);
  EXPECT_EQ(FindByteOrderMark("\xFF\xFEx\0").encoding, TextEncoding::kUtf16Le);
  EXPECT_EQ(FindByteOrderMark("\xFE\xFF\0x").size, 2u);
  EXPECT_EQ(FindByteOrderMark("\xFE\xFF\0x").encoding, TextEncoding::kUtf16Be);
  for (std::string_view none : {"", "\xEF\xBB", "\xFF", "x\xFF\xFE", "\x93\xFA"}) {
    EXPECT_EQ(FindByteOrderMark(none).size, 0u);
    EXPECT_EQ(FindByteOrderMark(none).encoding, TextEncoding::kSystem);
  }
}

TEST_F(SystemCodePageTest, DecidedEncodingsHoldWhateverTheCodePage) {
  SetSystemCodePageForTesting("932");
  TextDecoder utf8(TextEncoding::kUtf8);
  EXPECT_EQ(utf8.Decode("日本"), "日本");
  EXPECT_EQ(utf8.Decode("\x93\xFA"), "\uFFFD\uFFFD");
  SetSystemCodePageForTesting("UTF-8");
  TextDecoder cp932(TextEncoding::kCp932);
  EXPECT_EQ(cp932.Decode("\xD0\xBD\xDE\xB7"), "ﾐｽﾞｷ");  // valid UTF-8 all the same
}

// A file that could not be checked whole beforehand is decided line by line.
TEST_F(SystemCodePageTest, UndecidedFileSwitchesToCp932AtItsFirstInvalidLine) {
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
