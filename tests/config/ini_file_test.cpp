// The project's profile-file reader and writer: matching rules, in-place
// updates and the file on disk.
#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "config/startup.h"
#include "test_support.h"
#include "text/codepage_testing.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

using testing::PathExists;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;
using namespace std::string_literals;

std::string Lookup(std::string_view content, std::string_view key,
                   std::string_view section = "Config") {
  return LookupProfileValue(content, section, key);
}

std::string Update(std::string_view content, std::string_view key, std::string_view value,
                   std::string_view section = "Config") {
  std::string updated = "(unchanged)";
  EXPECT_TRUE(UpdateProfileContent(content, section, key, value, &updated));
  return updated;
}

TEST(ProfileLookupTest, NamesMatchWithoutCaseAndSurroundingBlanks) {
  const std::string file =
      "[ Spaced Sec ]\r\n  User Name\t =  taro \r\n[config]\r\nPASSWORD=pw\r\n";
  EXPECT_EQ(Lookup(file, "user name", "spaced sec"), "taro");
  EXPECT_EQ(Lookup(file, "User Name", " Spaced Sec\t"), "taro");
  EXPECT_EQ(Lookup(file, "password"), "pw");
  EXPECT_EQ(Lookup(file, "Password", "Spaced"), "");
  EXPECT_EQ(Lookup(file, "User"), "");
  EXPECT_EQ(Lookup(file, "", ""), "");
  EXPECT_EQ(Lookup("", "Password"), "");
}

TEST(ProfileLookupTest, ValuesLoseBlanksTabsAndOnePairOfQuotes) {
  const std::string file =
      "[Config]\r\n"
      "a=\t value with  inner blanks \t\r\n"
      "controls=\v\f x \x1A\r\n"
      "fullwidth=\x81\x40x\x81\x40\r\n"
      "dq=\"abc\"\r\n"
      "sq='abc'\r\n"
      "inner=\"  x  \"\r\n"
      "empty=\"\"\r\n"
      "open=\"abc\r\n"
      "middle=a\"b\"c\r\n"
      "trailing=\"abc\"   \r\n"
      "mixed=\"abc'\r\n"
      "lone=\"\r\n"
      "twice=\"\"x\"\"\r\n"
      "semicolon=a;b ; c\r\n"
      "equals=a=b\r\n";
  EXPECT_EQ(Lookup(file, "a"), "value with  inner blanks");
  EXPECT_EQ(Lookup(file, "controls"), "x");
  EXPECT_EQ(Lookup(file, "fullwidth"), "\x81\x40x\x81\x40");  // an ideographic space stays
  EXPECT_EQ(Lookup(file, "dq"), "abc");
  EXPECT_EQ(Lookup(file, "sq"), "abc");
  EXPECT_EQ(Lookup(file, "inner"), "  x  ");
  EXPECT_EQ(Lookup(file, "empty"), "");
  EXPECT_EQ(Lookup(file, "open"), "\"abc");
  EXPECT_EQ(Lookup(file, "middle"), "a\"b\"c");
  EXPECT_EQ(Lookup(file, "trailing"), "abc");
  EXPECT_EQ(Lookup(file, "mixed"), "\"abc'");
  EXPECT_EQ(Lookup(file, "lone"), "\"");
  EXPECT_EQ(Lookup(file, "twice"), "\"x\"");
  EXPECT_EQ(Lookup(file, "semicolon"), "a;b ; c");
  EXPECT_EQ(Lookup(file, "equals"), "a=b");
}

TEST(ProfileLookupTest, FirstKeyAndFirstSectionWin) {
  const std::string file =
      "Key=before any section\r\n"
      "[Other]\r\nKey=other\r\n"
      "[Config]\r\n; Key=commented\r\nKey\r\nKey=first\r\nkey=second\r\n"
      "[Config]\r\nKey=second section\r\nOnly=second section\r\n";
  EXPECT_EQ(Lookup(file, "Key"), "first");
  EXPECT_EQ(Lookup(file, "Only"), "");
  EXPECT_EQ(Lookup(file, "Key", "Other"), "other");
  EXPECT_EQ(Lookup(file, "; Key"), "");
}

TEST(ProfileLookupTest, AcceptsEveryLineEndAndAByteOrderMark) {
  const std::string file = "\xEF\xBB\xBF[Config]\nA=1\rB=2\r\nC=3\n\rD=4";
  EXPECT_EQ(Lookup(file, "A"), "1");
  EXPECT_EQ(Lookup(file, "B"), "2");
  EXPECT_EQ(Lookup(file, "C"), "3");
  EXPECT_EQ(Lookup(file, "D"), "4");
}

TEST(ProfileLookupTest, LongValuesAreCutTo510BytesOnACharacterBoundary) {
  auto value_of = [](const std::string& value) { return Lookup("[Config]\r\nK=" + value, "K"); };
  EXPECT_EQ(value_of(std::string(600, 'a')), std::string(510, 'a'));
  EXPECT_EQ(value_of(std::string(511, 'a')), std::string(510, 'a'));
  EXPECT_EQ(value_of(std::string(510, 'a')), std::string(510, 'a'));
  // Quotes come off before the cut.
  const std::string quoted_q = std::string(1, '"').append(510, 'q').append(1, '"');
  EXPECT_EQ(value_of(quoted_q), std::string(510, 'q'));

  // CP932: "表" is 0x95 0x5C; a character that would straddle byte 510 is
  // left out whole, and a trail byte 0x5C is not mistaken for a lead.
  const std::string hyo = "\x95\x5C";
  EXPECT_EQ(value_of(std::string(509, 'x') + hyo + hyo), std::string(509, 'x'));
  EXPECT_EQ(value_of(std::string(508, 'x') + hyo + hyo), std::string(508, 'x') + hyo);
  std::string all_hyo;
  for (int i = 0; i < 300; ++i) all_hyo += hyo;
  EXPECT_EQ(value_of(all_hyo), all_hyo.substr(0, 510));
  EXPECT_EQ(value_of("x" + hyo), "x" + hyo);  // a value ending in 0x5C comes back whole

  // UTF-8: "あ" is three bytes; 170 of them make 510.
  std::string utf8;
  for (int i = 0; i < 200; ++i) utf8 += "あ";
  const std::string a_utf8 = std::string("a").append(utf8);
  EXPECT_EQ(value_of(a_utf8), a_utf8.substr(0, 508));
  EXPECT_EQ(value_of(utf8), utf8.substr(0, 510));
}

TEST(ProfileLookupTest, NulAndGarbageBytesNeitherCrashNorLeak) {
  EXPECT_EQ(Lookup("[Config]\r\nK=ab\0cd\r\n"s, "K"), "ab");
  std::string garbage;
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(random() & 0xFF);
  EXPECT_LE(Lookup(garbage, "K").size(), kMaxProfileValueBytes);
  EXPECT_EQ(Lookup(garbage + "\r\n[Config]\r\nZZ=found\r\n", "ZZ"), "found");
  EXPECT_EQ(CutProfileValue("\x81"), "\x81");  // a lone lead byte is short enough
}

// Files saved as Unicode, as the system's profile functions take them (see
// profile_win32_test.cpp): text whose values are handed over and taken in
// the code page, written back in the file's own encoding.
class ProfileUnicodeTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetSystemCodePageForTesting(); }

  struct Marked {
    std::string mark;
    std::function<std::string(std::string_view)> encode;
  };
  const std::vector<Marked> encodings_ = {
      {"\xFF\xFE", [](std::string_view t) { return Utf8ToUtf16(t, ByteOrder::kLittleEndian); }},
      {"\xFE\xFF", [](std::string_view t) { return Utf8ToUtf16(t, ByteOrder::kBigEndian); }},
      {"\xEF\xBB\xBF", [](std::string_view t) { return std::string(t); }}};
};

TEST_F(ProfileUnicodeTest, ValuesComeInTheCodePageCutOnACharacter) {
  std::string hyo_300;
  for (int i = 0; i < 300; ++i) hyo_300 += "表";
  const std::string text = "[Config]\r\nUser Name=山田\r\nPassword= 'ﾐｽﾞｷ' \nLong=" + hyo_300 +
                           "\rStraddle=" + std::string(509, 'x') + "表\r\n";
  for (const Marked& marked : encodings_) {
    const std::string file = marked.mark + marked.encode(text);
    SetSystemCodePageForTesting("932");
    EXPECT_EQ(Lookup(file, "user name"), "\x8E\x52\x93\x63");
    EXPECT_EQ(Lookup(file, "Password"), "\xD0\xBD\xDE\xB7");
    std::string hyo_255;
    for (int i = 0; i < 255; ++i) hyo_255 += "\x95\x5C";
    EXPECT_EQ(Lookup(file, "Long"), hyo_255);
    EXPECT_EQ(Lookup(file, "Straddle"), std::string(509, 'x'));
    SetSystemCodePageForTesting("UTF-8");
    EXPECT_EQ(Lookup(file, "User Name"), "山田");
    EXPECT_EQ(Lookup(file, "Long"), hyo_300.substr(0, 170 * 3));
  }
}

TEST_F(ProfileUnicodeTest, WritesKeepTheFilesEncoding) {
  SetSystemCodePageForTesting("932");
  const std::string text = "[Config]\r\nUser Name=x\r\n";
  for (const Marked& marked : encodings_) {
    const std::string file = marked.mark + marked.encode(text);
    EXPECT_EQ(Update(file, "User Name", "\x8E\x52\x93\x63"),
              marked.mark + marked.encode("[Config]\r\nUser Name=山田\r\n"));
    EXPECT_EQ(Update(file, "Password", ""), marked.mark + marked.encode(text + "Password=\r\n"));
    EXPECT_EQ(Update(marked.mark, "Password", ""),
              marked.mark + marked.encode("[Config]\r\nPassword=\r\n"));
  }
}

TEST(ProfileUpdateTest, ReplacesAnExistingLineAndKeepsEveryOtherByte) {
  const std::string file =
      "; settings\n\n[Other]\nPassword=other\n[CONFIG]\n user name = old \n"
      "Password=\"secret\"\r\n\r\n[Tail]\rX=1";
  EXPECT_EQ(Update(file, "Password", "new"),
            "; settings\n\n[Other]\nPassword=other\n[CONFIG]\n user name = old \n"
            "Password=new\r\n\r\n[Tail]\rX=1");
  // The key keeps the file's spelling; the value is stored trimmed.
  EXPECT_EQ(Update(file, "User Name", "  "),
            "; settings\n\n[Other]\nPassword=other\n[CONFIG]\nuser name=\n"
            "Password=\"secret\"\r\n\r\n[Tail]\rX=1");
  EXPECT_EQ(Update("[Config]\r\nK=1\r\nK=2\r\n[Config]\r\nK=3\r\n", "k", "x"),
            "[Config]\r\nK=x\r\nK=2\r\n[Config]\r\nK=3\r\n");
}

TEST(ProfileUpdateTest, AddsMissingKeysAfterTheSectionsLastKey) {
  EXPECT_EQ(Update("[Config]\r\nA=1\r\n\r\n; about B\r\n[Next]\r\nC=3\r\n", "B", ""),
            "[Config]\r\nA=1\r\nB=\r\n\r\n; about B\r\n[Next]\r\nC=3\r\n");
  EXPECT_EQ(Update("[Config]\n[Next]\n", "B", "2"), "[Config]\nB=2\r\n[Next]\n");
  EXPECT_EQ(Update("[Config]", "B", "2"), "[Config]\r\nB=2\r\n");
  EXPECT_EQ(Update("[Config]\r\nA=1", "B", "2"), "[Config]\r\nA=1\r\nB=2\r\n");
  // A second section of the same name is never touched.
  EXPECT_EQ(Update("[Config]\r\n[Config]\r\nB=old\r\n", "B", "new"),
            "[Config]\r\nB=new\r\n[Config]\r\nB=old\r\n");
}

TEST(ProfileUpdateTest, AppendsAMissingSection) {
  EXPECT_EQ(Update("", "User Name", ""), "[Config]\r\nUser Name=\r\n");
  EXPECT_EQ(Update("", " K\t", " \ta b "), "[Config]\r\nK=a b \r\n");
  EXPECT_EQ(Update("[Other]\r\nA=1\r\n", "B", "2"), "[Other]\r\nA=1\r\n[Config]\r\nB=2\r\n");
  EXPECT_EQ(Update("[Other]\nA=1", "B", "2"), "[Other]\nA=1\r\n[Config]\r\nB=2\r\n");
  EXPECT_EQ(Update("\xEF\xBB\xBF", "B", "2"), "\xEF\xBB\xBF[Config]\r\nB=2\r\n");
}

TEST(ProfileUpdateTest, RefusesWhatAProfileLineCannotHold) {
  std::string updated = "kept";
  EXPECT_FALSE(UpdateProfileContent("", "Config", "A=B", "1", &updated));
  EXPECT_FALSE(UpdateProfileContent("", "Config", "A", "1\r\nPassword=injected", &updated));
  EXPECT_FALSE(UpdateProfileContent("", "Config", "A", std::string("a\0b", 3), &updated));
  EXPECT_FALSE(UpdateProfileContent("", "Config", " ", "1", &updated));
  EXPECT_FALSE(UpdateProfileContent("", "", "A", "1", &updated));
  EXPECT_FALSE(UpdateProfileContent("", "Con\nfig", "A", "1", &updated));
  EXPECT_FALSE(UpdateProfileContent("", "Config", ";A", "1", &updated));
  EXPECT_EQ(updated, "kept");
}

TEST(IniFileProfileTest, CreatesReadsAndRewritesTheFile) {
  ScratchFolder dir;
  const std::string path = dir / "pinemail.ini";
  IniFileProfile profile(path);
  EXPECT_EQ(profile.Read("Config", "User Name"), "");
  EXPECT_FALSE(PathExists(path));

  ASSERT_TRUE(profile.Write("Config", "User Name", ""));
  EXPECT_EQ(ReadBytes(path), "[Config]\r\nUser Name=\r\n");
  ASSERT_TRUE(profile.Write("Config", "Password", "pw"));
  ASSERT_TRUE(profile.Write("Config", "user name", "taro"));
  EXPECT_EQ(ReadBytes(path), "[Config]\r\nUser Name=taro\r\nPassword=pw\r\n");
  EXPECT_EQ(profile.Read("CONFIG", "password"), "pw");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(IniFileProfileTest, KeepsForeignBytesAndPermissions) {
  ScratchFolder dir;
  const std::string path = dir / "pinemail.ini";
  const std::string garbage =
      "\xFF\x00\x81\xFE\n[Config]\nUser Name=\x8E\x52\x93\x63\n\x00\x1A\xFF"s;
  WriteBytes(path, garbage);
  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  IniFileProfile profile(path);
  EXPECT_EQ(profile.Read("Config", "User Name"), "\x8E\x52\x93\x63");
  ASSERT_TRUE(profile.Write("Config", "Password", ""));
  std::string expected = garbage;
  expected.insert(expected.find("\x8E\x52\x93\x63\n") + 5, "Password=\r\n");
  EXPECT_EQ(ReadBytes(path), expected);
  if (kNativePathStyle == PathStyle::kPosix) {
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
}

TEST(IniFileProfileTest, ASymlinkedFileStaysALink) {
  if (kNativePathStyle != PathStyle::kPosix) GTEST_SKIP() << "links need privileges on Windows";
  ScratchFolder dir;
  WriteBytes(dir / "shared.ini", "[Config]\r\n");
  std::filesystem::create_symlink(dir / "shared.ini", dir / "pinemail.ini");
  ASSERT_TRUE(IniFileProfile(dir / "pinemail.ini").Write("Config", "User Name", ""));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "pinemail.ini"));
  EXPECT_EQ(ReadBytes(dir / "shared.ini"), "[Config]\r\nUser Name=\r\n");
}

TEST(IniFileProfileTest, FailuresAreReportedAndHarmless) {
  ScratchFolder dir;
  const char separator = FolderSeparator(kNativePathStyle);
  IniFileProfile in_missing_folder(dir / "no-such-folder" + separator + "pinemail.ini");
  EXPECT_FALSE(in_missing_folder.Write("Config", "User Name", ""));
  EXPECT_EQ(in_missing_folder.Read("Config", "User Name"), "");
  EXPECT_FALSE(PathExists(dir / "no-such-folder"));

  // A folder where the file should be: nothing may replace it.
  std::filesystem::create_directory(dir / "pinemail.ini");
  IniFileProfile on_folder(dir / "pinemail.ini");
  EXPECT_EQ(on_folder.Read("Config", "User Name"), "");
  EXPECT_FALSE(on_folder.Write("Config", "User Name", ""));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "pinemail.ini"));
}

TEST(IniFileProfileTest, HandlesATenMegabyteLine) {
  ScratchFolder dir;
  const std::string path = dir / "pinemail.ini";
  std::string big = "[Config]\r\nHuge=" + std::string(10 * 1024 * 1024, 'v') + "\r\nAfter=1\r\n";
  WriteBytes(path, big);
  IniFileProfile profile(path);
  EXPECT_EQ(profile.Read("Config", "Huge"), std::string(510, 'v'));
  EXPECT_EQ(profile.Read("Config", "After"), "1");
  ASSERT_TRUE(profile.Write("Config", "After", "2"));
  EXPECT_EQ(ReadBytes(path).size(), big.size());
}

}  // namespace
}  // namespace pinemail
