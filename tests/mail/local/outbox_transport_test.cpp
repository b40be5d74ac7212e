// Tests of the outbox transport: folder creation, numbering across runs,
// whole files only, refused addresses.
#include "mail/local/outbox_transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace pinemail {
namespace {

namespace fs = std::filesystem;
using pinemail::testing::PathExists;
using pinemail::testing::ReadBytes;
using pinemail::testing::ScratchFolder;
using pinemail::testing::WriteBytes;

fs::path NativePath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// The names in `folder`, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(NativePath(folder))) {
    std::u8string name = entry.path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  std::sort(names.begin(), names.end());
  return names;
}

OutgoingMessage Message(const std::string& address, const std::string& subject) {
  return OutgoingMessage{"佐藤 花子", address, subject, "本文\r\n"};
}

const Mailbox kSender{"山田 太郎", "taro@example.jp"};

TEST(OutboxTransportTest, CreatesTheFolderAndWritesNumberedMessagesInOrder) {
  ScratchFolder scratch;
  std::string folder = scratch / "送信箱/nested";
  OutboxTransport outbox(folder, kSender, SystemMessageStamps());
  const MailResult signed_on = outbox.SignOn("user", "secret");
  ASSERT_TRUE(signed_on.ok()) << signed_on.reason;
  for (const char* subject : {"first", "second", "third"}) {
    MailResult result = outbox.Send(Message("hanako@example.com", subject));
    EXPECT_TRUE(result.ok()) << result.reason;
  }
  outbox.SignOff();
  EXPECT_EQ(Names(folder),
            (std::vector<std::string>{"00000001.eml", "00000002.eml", "00000003.eml"}));
  std::string first = ReadBytes(folder + "/00000001.eml");
  EXPECT_NE(first.find("\r\nSubject: first\r\n"), std::string::npos);
  EXPECT_NE(first.find("\r\nTo: =?UTF-8?B?"), std::string::npos);
  EXPECT_NE(first.find("<hanako@example.com>\r\n"), std::string::npos);
  EXPECT_NE(first.find("\r\nMessage-ID: <"), std::string::npos);
  EXPECT_EQ(first.find("secret"), std::string::npos);
  EXPECT_NE(ReadBytes(folder + "/00000003.eml").find("Subject: third"), std::string::npos);
}

TEST(OutboxTransportTest, ContinuesNumberingAfterEarlierRunsAndForeignFiles) {
  ScratchFolder scratch;
  std::string folder = scratch.path() + "out";
  {
    OutboxTransport first_run(folder, kSender, SystemMessageStamps());
    ASSERT_TRUE(first_run.SignOn("", "").ok());
    EXPECT_TRUE(first_run.Send(Message("a@example.jp", "one")).ok());
    EXPECT_TRUE(first_run.Send(Message("a@example.jp", "two")).ok());
  }
  // Files that are not final names do not move the counter; a gap does not
  // make it go back.
  WriteBytes(folder + "/00000007.eml", "older message");
  WriteBytes(folder + "/notes.txt", "x");
  WriteBytes(folder + "/99.eml.bak", "x");
  WriteBytes(folder + "/+8.eml", "x");
  OutboxTransport second_run(folder, kSender, SystemMessageStamps());
  ASSERT_TRUE(second_run.SignOn("", "").ok());
  EXPECT_TRUE(second_run.Send(Message("a@example.jp", "three")).ok());
  EXPECT_EQ(ReadBytes(folder + "/00000007.eml"), "older message");
  EXPECT_NE(ReadBytes(folder + "/00000008.eml").find("Subject: three"), std::string::npos);

  // A file that appears under the next name meanwhile is never replaced.
  WriteBytes(folder + "/00000009.eml", "written by someone else");
  EXPECT_TRUE(second_run.Send(Message("a@example.jp", "four")).ok());
  EXPECT_EQ(ReadBytes(folder + "/00000009.eml"), "written by someone else");
  EXPECT_NE(ReadBytes(folder + "/00000010.eml").find("Subject: four"), std::string::npos);

  // No temporary file is left behind, whatever happened.
  for (const std::string& name : Names(folder)) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
}

TEST(OutboxTransportTest, RefusesAnAddressThatIsNotPlainWithoutWritingAFile) {
  ScratchFolder scratch;
  std::string folder = scratch / "out";
  OutboxTransport outbox(folder, kSender, SystemMessageStamps());
  ASSERT_TRUE(outbox.SignOn("", "").ok());
  for (const char* address :
       {"", "no-at-sign", "a@b\r\nBcc: c@d", "a b@example.jp", "山田 <a@b>", "a@b, c@d"}) {
    MailResult result = outbox.Send(Message(address, "x"));
    EXPECT_FALSE(result.ok()) << address;
    EXPECT_FALSE(result.reason.empty()) << address;
  }
  EXPECT_TRUE(Names(folder).empty());
  // The next good message still gets the first number; one that is no
  // dot-atom goes quoted.
  EXPECT_TRUE(outbox.Send(Message(".hana@ezweb.ne.jp", "x")).ok());
  EXPECT_EQ(Names(folder), std::vector<std::string>{"00000001.eml"});
  EXPECT_NE(ReadBytes(folder + "/00000001.eml").find("<\".hana\"@ezweb.ne.jp>\r\n"),
            std::string::npos);
}

TEST(OutboxTransportTest, SignOnFailsWhenThePathIsAFile) {
  ScratchFolder scratch;
  WriteBytes(scratch / "taken", "a file");
  OutboxTransport on_file(scratch / "taken", kSender, SystemMessageStamps());
  const MailResult refused = on_file.SignOn("", "");
  EXPECT_FALSE(refused.ok());
  EXPECT_FALSE(refused.reason.empty());
  OutboxTransport below_file(scratch / "taken/inner", kSender, SystemMessageStamps());
  EXPECT_FALSE(below_file.SignOn("", "").ok());
  EXPECT_EQ(ReadBytes(scratch / "taken"), "a file");
}

TEST(OutboxTransportTest, ReportsAFailedWriteAndLeavesNoFile) {
  ScratchFolder scratch;
  std::string folder = scratch / "out";
  OutboxTransport outbox(folder, kSender, SystemMessageStamps());
  ASSERT_TRUE(outbox.SignOn("", "").ok());
  ASSERT_TRUE(outbox.Send(Message("a@example.jp", "x")).ok());
  // The folder goes away in the middle of the run.
  fs::remove_all(NativePath(folder));
  MailResult result = outbox.Send(Message("a@example.jp", "y"));
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.reason.empty());
  EXPECT_FALSE(PathExists(folder));
}

TEST(OutboxTransportTest, NewNamesSortLastWhateverNumbersTheFolderHolds) {
  const std::vector<std::vector<std::string>> before = {
      {"99999999.eml"},
      {"18446744073709551615.eml", "00000003.eml"},
      {"99999999999999999999.eml", "abc.eml", "7.eml"},
      {"5.eml", "00000042.eml", "-1.eml", "1e3.eml"},
  };
  auto is_numbered = [](const std::string& name) {
    return name.find_first_not_of("0123456789") == name.size() - 4 && name.ends_with(".eml");
  };
  for (const std::vector<std::string>& names : before) {
    ScratchFolder scratch;
    const std::string folder = scratch / "out";
    fs::create_directory(NativePath(folder));
    for (const std::string& name : names) WriteBytes(folder + "/" + name, name);
    OutboxTransport outbox(folder, kSender, SystemMessageStamps());
    ASSERT_TRUE(outbox.SignOn("", "").ok());
    for (const char* subject : {"first", "second", "third"}) {
      EXPECT_TRUE(outbox.Send(Message("a@example.jp", subject)).ok());
    }
    // In name order, the numbered files end with this run's, in sending order.
    std::vector<std::string> numbered;
    for (const std::string& name : Names(folder)) {
      if (is_numbered(name)) numbered.push_back(name);
    }
    ASSERT_GE(numbered.size(), 3u);
    const std::size_t ours = numbered.size() - 3;
    EXPECT_NE(ReadBytes(folder + "/" + numbered[ours]).find("Subject: first"), std::string::npos)
        << names[0];
    EXPECT_NE(ReadBytes(folder + "/" + numbered[ours + 2]).find("Subject: third"),
              std::string::npos)
        << names[0];
    for (const std::string& name : names) EXPECT_EQ(ReadBytes(folder + "/" + name), name);
    EXPECT_EQ(Names(folder).size(), names.size() + 3);
  }
}

}  // namespace
}  // namespace pinemail
