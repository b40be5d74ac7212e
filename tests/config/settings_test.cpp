// Loading the settings through the platform's profile functions.
#include "config/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/product.h"
#include "test_support.h"

namespace pinemail {
namespace {

using testing::PathExists;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

class SettingsFileTest : public ::testing::Test {
 protected:
  std::string path() const { return dir_ / kSettingsFileName; }
  Settings Load() { return LoadSettings(*OpenProfile(path())); }

  ScratchFolder dir_;
};

TEST_F(SettingsFileTest, AMissingFileIsCreatedWithTheKeysToFillIn) {
  Settings settings = Load();
  EXPECT_EQ(settings.user_name, "");
  EXPECT_EQ(settings.password, "");
  EXPECT_EQ(settings.keyword_list, "");
  EXPECT_FALSE(settings.SuppressBanner);
  EXPECT_EQ(settings.mail_server, "");
  EXPECT_EQ(settings.from, "");
  EXPECT_EQ(ReadBytes(path()), "[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n");
  // A second run finds nothing to add.
  Load();
  EXPECT_EQ(ReadBytes(path()), "[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n");
}

TEST_F(SettingsFileTest, ValuesAreReadTrimmedUnquotedAndDecoded) {
  // "山田", "年賀" and "ﾐｱ" in Shift-JIS; "ﾐｱ" alone would be valid UTF-8 ("б").
  WriteBytes(path(),
             "[Config]\r\nUser Name=\x8E\x52\x93\x63  \r\nPassword=\"  p w  \"\r\n"
             "Subst Key Word= NAME,\x94\x4E\x89\xEA,GOBI\t\r\n"
             "Mail Server=smtp://localhost:2525\r\nFrom='\xD0\xB1 <taro@example.jp>'\r\n");
  const std::string before = ReadBytes(path());
  Settings settings = Load();
  EXPECT_EQ(settings.user_name, "山田");
  EXPECT_EQ(settings.password, "  p w  ");
  EXPECT_EQ(settings.keyword_list, "NAME,年賀,GOBI");
  EXPECT_EQ(settings.mail_server, "smtp://localhost:2525");
  EXPECT_EQ(settings.from, "ﾐｱ <taro@example.jp>");
  // Every key was there: the file is not touched.
  EXPECT_EQ(ReadBytes(path()), before);
}

TEST_F(SettingsFileTest, TheRefreshTokenIsReadWholeWhereOtherValuesAreCut) {
  const std::string token(3000, 't');
  WriteBytes(path(), "[Config]\r\nUser Name=u\r\nPassword=\r\nSubst Key Word=\r\nFrom=" +
                         std::string(600, 'f') + "\r\n");
  ASSERT_TRUE(OpenProfile(path())->Write(kConfigSection, kRefreshTokenKey, token));
  Settings settings = Load();
  EXPECT_EQ(settings.oauth_refresh_token, token);
  EXPECT_EQ(settings.from, std::string(510, 'f'));
}

TEST_F(SettingsFileTest, OnlyExactlyTrueSuppressesTheBanner) {
  auto suppressed = [&](const std::string& value) {
    WriteBytes(path(),
               "[Config]\r\nUser Name=u\r\nPassword=p\r\nSubst Key Word=K\r\n"
               "NO_INSERT_TEXT=" +
                   value + "\r\n");
    return Load().SuppressBanner;
  };
  EXPECT_TRUE(suppressed("TRUE"));
  EXPECT_TRUE(suppressed("  TRUE "));   // blanks go before the comparison
  EXPECT_TRUE(suppressed("\"TRUE\""));  // and so do quotes
  EXPECT_FALSE(suppressed("true"));
  EXPECT_FALSE(suppressed("True"));
  EXPECT_FALSE(suppressed("TRUE1"));
  EXPECT_FALSE(suppressed("1"));
  EXPECT_FALSE(suppressed(""));
}

TEST_F(SettingsFileTest, EmptyKeysAreRewrittenInPlaceAndOthersNeverCreated) {
  WriteBytes(path(), "[Config]\r\nPassword=\"\"\r\nUser Name=  \r\nExtra=1\r\n");
  Settings settings = Load();
  EXPECT_EQ(settings.password, "");
  EXPECT_EQ(ReadBytes(path()),
            "[Config]\r\nPassword=\r\nUser Name=\r\nExtra=1\r\nSubst Key Word=\r\n");
}

// A profile that records the calls and can refuse writes.
class RecordingProfile : public Profile {
 public:
  std::string Read(std::string_view, std::string_view key) const override {
    reads_.emplace_back(key);
    return key == "User Name" ? std::string("ab\0cd", 5) : std::string();
  }
  bool Write(std::string_view, std::string_view key, std::string_view value) override {
    writes_.push_back(std::string(key) + "=" + std::string(value));
    return false;
  }
  mutable std::vector<std::string> reads_;
  std::vector<std::string> writes_;
};

TEST(LoadSettingsTest, ReadsInOrderAndCreatesOnlyTheFirstThreeKeys) {
  RecordingProfile profile;
  Settings settings = LoadSettings(profile);  // every write fails: ignored
  EXPECT_EQ(settings.user_name, "ab");        // text ends at a NUL
  EXPECT_EQ(profile.reads_,
            (std::vector<std::string>{"User Name", "Password", "Subst Key Word", "NO_INSERT_TEXT",
                                      "Mail Server", "From", "Send Rate", "Messages Per Connection",
                                      "Daily Limit", "Auth", "OAuth Provider", "OAuth Client ID",
                                      "OAuth Client Secret", "OAuth Refresh Token",
                                      "Password Command", "Attach Key Word"}));
  EXPECT_EQ(profile.writes_, (std::vector<std::string>{"Password=", "Subst Key Word="}));
  EXPECT_EQ(ReadSetting(profile, kConfigSection, "From", false), "");
  EXPECT_EQ(profile.writes_.size(), 2u);
}

}  // namespace
}  // namespace pinemail
