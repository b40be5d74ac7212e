// The project's profile reader and writer against the system's profile
// functions: the same files must give the same values and, where the system
// keeps a file's shape, the same bytes after the same writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ini_file.h"
#include "config/profile.h"
#include "test_support.h"
#include "text/file_io.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

struct Query {
  std::string section;
  std::string key;
};

class ProfileDifferentialTest : public ::testing::Test {
 protected:
  // A new name for every file: the system caches profile files it has read.
  std::string NewPath() { return dir_ / ("case" + std::to_string(++count_) + ".ini"); }

  void ExpectSameValues(const std::string& content, const std::vector<Query>& queries) {
    std::string path = NewPath();
    WriteBytes(path, content);
    IniFileProfile own(path);
    auto system = OpenProfile(path);
    for (const Query& query : queries) {
      SCOPED_TRACE("[" + query.section + "] " + query.key);
      EXPECT_EQ(own.Read(query.section, query.key), system->Read(query.section, query.key));
    }
  }

  struct Write {
    std::string section;
    std::string key;
    std::string value;
  };

  // Applies the same writes to two copies of `content` (or to no file when
  // `content` is null) and compares the resulting bytes.
  void ExpectSameFiles(const std::string* content, const std::vector<Write>& writes) {
    std::string own_path = NewPath();
    std::string system_path = NewPath();
    if (content != nullptr) {
      WriteBytes(own_path, *content);
      WriteBytes(system_path, *content);
    }
    IniFileProfile own(own_path);
    auto system = OpenProfile(system_path);
    for (const Write& write : writes) {
      EXPECT_EQ(own.Write(write.section, write.key, write.value),
                system->Write(write.section, write.key, write.value));
    }
    EXPECT_EQ(ReadBytes(own_path), ReadBytes(system_path));
  }

  ScratchFolder dir_;
  int count_ = 0;
};

TEST_F(ProfileDifferentialTest, NamesAndSections) {
  ExpectSameValues(
      "[Config]\r\nUser Name=a\r\n  Password  =b\r\n\tTabbed\t=c\r\n"
      "[ Spaced Sec ]\r\nKey=d\r\n[\tTab Sec\t]\r\nKey=e\r\n"
      "[Other]\r\nUser Name=f\r\n[CONFIG]\r\nLate=g\r\nUser Name=h\r\n",
      {{"Config", "User Name"},
       {"config", "USER NAME"},
       {"Config", "Password"},
       {"Config", "Tabbed"},
       {"Spaced Sec", "Key"},
       {" Spaced Sec ", "key"},
       {"Tab Sec", "Key"},
       {"Other", "User Name"},
       {"Config", "Late"},
       {"Config", "Missing"},
       {"Missing", "Key"}});
}

TEST_F(ProfileDifferentialTest, ValueTrimmingAndQuotes) {
  ExpectSameValues(
      "[Config]\r\n"
      "plain=value\r\nblanks=   value   \r\ntabs=\t\tvalue\t\r\ninner=a  b\r\n"
      "dq=\"abc\"\r\nsq='abc'\r\nspaced=\"  x  \"\r\nempty=\"\"\r\nemptysq=''\r\n"
      "open=\"abc\r\nclose=abc\"\r\nmiddle=a\"b\"c\r\ntrailing=\"abc\"   \r\n"
      "mixed=\"abc'\r\nlone=\"\r\nnested=\"'x'\"\r\ntwice=\"\"x\"\"\r\n"
      "quotedblank=\" \"\r\nonlyblanks=    \r\nnothing=\r\n",
      {{"Config", "plain"},      {"Config", "blanks"}, {"Config", "tabs"},
       {"Config", "inner"},      {"Config", "dq"},     {"Config", "sq"},
       {"Config", "spaced"},     {"Config", "empty"},  {"Config", "emptysq"},
       {"Config", "open"},       {"Config", "close"},  {"Config", "middle"},
       {"Config", "trailing"},   {"Config", "mixed"},  {"Config", "lone"},
       {"Config", "nested"},     {"Config", "twice"},  {"Config", "quotedblank"},
       {"Config", "onlyblanks"}, {"Config", "nothing"}});
}

TEST_F(ProfileDifferentialTest, DuplicatesCommentsAndOddLines) {
  ExpectSameValues(
      "; a comment\r\n[Config]\r\nKey=first\r\nKEY=second\r\nNoEquals\r\n"
      "semi=a;b ; c\r\nequals=a=b=c\r\n# hash=1\r\n"
      "[Config]\r\nKey=other section\r\nOnlyHere=x\r\n",
      {{"Config", "Key"},
       {"Config", "NoEquals"},
       {"Config", "semi"},
       {"Config", "equals"},
       {"Config", "OnlyHere"},
       {"Config", "# hash"}});
}

TEST_F(ProfileDifferentialTest, OddWhitespaceAndHeaders) {
  ExpectSameValues(
      "Loose=before\r\n[Config] ; trailing text\r\nfw=\x81\x40" "abc\x81\x40\r\n"
      "vt=\vabc\f\r\neof=abc\x1A\r\n[Broken\r\nAfter=1\r\n[]\r\nEmpty=2\r\n",
      {{"Config", "fw"}, {"Config", "vt"}, {"Config", "eof"}, {"Config", "After"},
       {"Config", "[Broken"}, {"Config", "Loose"}, {"Config", "Empty"}});
}

TEST_F(ProfileDifferentialTest, LineEnds) {
  ExpectSameValues("[Config]\nA=1\nB=2\r\nC=3\r\n\r\n\nD=4",
                   {{"Config", "A"}, {"Config", "B"}, {"Config", "C"}, {"Config", "D"}});
}

TEST_F(ProfileDifferentialTest, LongAndShiftJisValues) {
  const std::string hyo = "\x95\x5C";             // 表, trail byte 0x5C
  const std::string yamada = "\x8E\x52\x93\x63";  // 山田
  std::string long_sjis;
  for (int i = 0; i < 300; ++i) long_sjis += hyo;
  ExpectSameValues("[Config]\r\nv510=" + std::string(510, 'a') +
                       "\r\nv511=" + std::string(511, 'b') + "\r\nv600=" + std::string(600, 'c') +
                       "\r\nsjis=" + yamada + "\r\nback=x" + hyo + "\r\nlong=" + long_sjis +
                       "\r\nquoted=\"" + std::string(520, 'q') +
                       "\"\r\nstraddle=" + std::string(509, 'x') + hyo + hyo + "\r\n",
                   {{"Config", "v510"},
                    {"Config", "v511"},
                    {"Config", "v600"},
                    {"Config", "sjis"},
                    {"Config", "back"},
                    {"Config", "long"},
                    {"Config", "quoted"},
                    {"Config", "straddle"}});
}

TEST_F(ProfileDifferentialTest, WritesGiveTheSameFiles) {
  ExpectSameFiles(
      nullptr,
      {{"Config", "User Name", ""}, {"Config", "Password", ""}, {"Config", "Subst Key Word", ""}});
  const std::string canonical = "[Config]\r\nUser Name=taro\r\nPassword=old\r\n[Other]\r\nA=1\r\n";
  ExpectSameFiles(&canonical, {{"Config", "Password", "new"}});
  ExpectSameFiles(&canonical, {{"config", "password", ""}});
  ExpectSameFiles(&canonical, {{"Config", "Subst Key Word", ""}});
  ExpectSameFiles(&canonical, {{"Other", "B", "2"}});
  ExpectSameFiles(&canonical, {{"New", "Key", "v"}});
  ExpectSameFiles(&canonical, {{"Config", "Password", "  padded  "}});
}

// Files saved as Unicode (a byte-order mark: UTF-16 LE, BE, UTF-8) are read
// as text, their values handed over in the code page, and rewritten in their
// own encoding. (Characters the code page lacks are left out here: the
// system substitutes best-fit look-alikes where the project writes "?".)
TEST_F(ProfileDifferentialTest, UnicodeFiles) {
  std::string hyo;
  for (int i = 0; i < 300; ++i) hyo += "表";
  std::string text =
      "; 設定\r\n[Config]\r\nUser Name=山田 太郎\r\n  Password =  'ﾐｽﾞｷ' \r\n"
      "Ext=①髙～\r\nlf=a\nnext=b\rcr=c\r\nquoted=\"  q  \"\r\n";
  text += std::string("nul=a\0b\r\n", 8);
  text += "long=" + hyo + "\r\nv600=" + std::string(600, 'v') + "\r\n";
  text +=
      "straddle=" + std::string(509, 'x') + "表表\r\neven=" + std::string(508, 'x') + "表表\r\n";
  text += "[ Spaced ]\r\nKey=d\r\n";
  const std::string canonical = "[Config]\r\nUser Name=taro\r\nPassword=old\r\n[Other]\r\nA=1\r\n";
  const std::vector<Query> queries = {
      {"Config", "User Name"}, {"config", "password"}, {"Config", "Ext"},      {"Config", "lf"},
      {"Config", "next"},      {"Config", "cr"},       {"Config", "quoted"},   {"Config", "nul"},
      {"Config", "long"},      {"Config", "v600"},     {"Config", "straddle"}, {"Config", "even"},
      {"Spaced", "Key"},       {"Config", "Missing"}};
  for (ByteOrder order : {ByteOrder::kLittleEndian, ByteOrder::kBigEndian}) {
    const std::string mark = order == ByteOrder::kLittleEndian ? "\xFF\xFE" : "\xFE\xFF";
    ExpectSameValues(mark + Utf8ToUtf16(text, order), queries);
    const std::string file = mark + Utf8ToUtf16(canonical, order);
    ExpectSameFiles(&file, {{"Config", "Password", "\x8E\x52\x93\x63"}});
    ExpectSameFiles(&file, {{"Config", "Subst Key Word", ""}, {"New", "Key", "v"}});
  }
  ExpectSameValues("\xEF\xBB\xBF" + text, queries);
}

// A folder name that the ANSI code page cannot spell still reaches the file.
TEST(Win32ProfileTest, WorksInAFolderOutsideTheAnsiCodePage) {
  ScratchFolder dir;
  const std::string folder = dir / "設定é😀";
  ASSERT_TRUE(MakeFolders(folder, nullptr));
  const std::string path = folder + "\\pinemail.ini";
  auto profile = OpenProfile(path);
  ASSERT_TRUE(profile->Write("Config", "User Name", ""));
  EXPECT_EQ(ReadBytes(path), "[Config]\r\nUser Name=\r\n");
  WriteBytes(path,
             "[Config]\r\nUser Name=\x8E\x52\x93\x63\r\nLong=" + std::string(600, 'v') + "\r\n");
  EXPECT_EQ(profile->Read("config", "user name"), "\x8E\x52\x93\x63");
  EXPECT_EQ(profile->Read("Config", "Long"), std::string(510, 'v'));
}

}  // namespace
}  // namespace pinemail
