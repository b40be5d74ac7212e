// Tests of the sendmail transport against small shell scripts standing in
// for the program: sign-on checks, large messages, early exits and floods of
// error output.
#include "mail/local/sendmail_transport_posix.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "test_support.h"

namespace pinemail {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

const Mailbox kSender{"Sender", "sender@example.org"};

// Writes an executable shell script; `body` may use $DIR, the scratch folder.
std::string Script(const ScratchFolder& folder, const std::string& name, const std::string& body) {
  const std::string path = folder / name;
  WriteBytes(path, "#!/bin/sh\nDIR='" + folder.path() + "'\n" + body + "\n");
  chmod(path.c_str(), 0755);
  return path;
}

OutgoingMessage Message(std::string address, std::size_t body_size = 10) {
  return {"Recipient", std::move(address), "subject", std::string(body_size, 'x') + "\r\n"};
}

TEST(SendmailSignOn, NeedsAnExecutableRegularFileNamedByAbsolutePath) {
  ScratchFolder folder;
  const std::string good = Script(folder, "good", "exit 0");
  WriteBytes(folder / "plain", "#!/bin/sh\n");  // not executable

  EXPECT_TRUE(MakeSendmailTransport(good, kSender, SystemMessageStamps())->SignOn("u", "p").ok());
  EXPECT_FALSE(MakeSendmailTransport(folder / "missing", kSender, SystemMessageStamps())
                   ->SignOn("u", "p")
                   .ok());
  EXPECT_FALSE(MakeSendmailTransport(folder / "plain", kSender, SystemMessageStamps())
                   ->SignOn("u", "p")
                   .ok());
  EXPECT_FALSE(
      MakeSendmailTransport(folder.path(), kSender, SystemMessageStamps())->SignOn("u", "p").ok());
  EXPECT_FALSE(
      MakeSendmailTransport("good", kSender, SystemMessageStamps())->SignOn("u", "p").ok());
  // A sender that is no plain address cannot be handed over as "-f".
  EXPECT_FALSE(MakeSendmailTransport(good, Mailbox{"", "-oQ/tmp"}, SystemMessageStamps())
                   ->SignOn("u", "p")
                   .ok());
}

TEST(SendmailSend, ArgumentsAndTheWholeMessageReachTheProgram) {
  ScratchFolder folder;
  const std::string program = Script(folder, "sendmail",
                                     "printf '%s\\n' \"$@\" > \"$DIR/args\"\n"
                                     "cat > \"$DIR/message\"");
  auto transport = MakeSendmailTransport(program, kSender, SystemMessageStamps());
  ASSERT_TRUE(transport->SignOn("user", "secret-pass").ok());

  // Far more than a pipe holds, so the writer must keep up with the reader.
  const MailResult result = transport->Send(Message("to@example.org", 1 << 20));
  ASSERT_TRUE(result.ok()) << result.reason;
  EXPECT_EQ(ReadBytes(folder / "args"), "-i\n-f\nsender@example.org\n--\nto@example.org\n");
  const std::string message = ReadBytes(folder / "message");
  EXPECT_GT(message.size(), std::size_t{1} << 20);
  EXPECT_EQ(message.find('\r'), std::string::npos);  // LF lines for a local program
  EXPECT_NE(message.find("\nTo: Recipient <to@example.org>\n"), std::string::npos);
}

TEST(SendmailSend, AddressesThatCouldBeOptionsNeverStartTheProgram) {
  ScratchFolder folder;
  const std::string program = Script(folder, "sendmail", "touch \"$DIR/ran\"; cat >/dev/null");
  auto transport = MakeSendmailTransport(program, kSender, SystemMessageStamps());
  ASSERT_TRUE(transport->SignOn("", "").ok());
  for (std::string address : {"-C/tmp/x", "-bt", "a b@example.org", ""}) {
    const MailResult result = transport->Send(Message(address));
    EXPECT_FALSE(result.ok()) << address;
    EXPECT_FALSE(result.reason.empty());
  }
  EXPECT_FALSE(testing::PathExists(folder / "ran"));
}

TEST(SendmailSend, FailuresCarryTheStatusAndFirstErrorLine) {
  ScratchFolder folder;
  auto run = [&](const std::string& body, std::size_t size = 10) {
    auto transport =
        MakeSendmailTransport(Script(folder, "sendmail", body), kSender, SystemMessageStamps());
    EXPECT_TRUE(transport->SignOn("", "").ok());
    return transport->Send(Message("to@example.org", size));
  };

  MailResult refused =
      run("cat >/dev/null\necho >&2\necho 'sendmail: fatal: no queue' >&2\n"
          "echo 'second line' >&2\nexit 75");
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.reason, "終了状態 75: sendmail: fatal: no queue");

  // Exits at once without reading a large message: no SIGPIPE may end this
  // process, and the status is still reported.
  MailResult early = run("exit 3", 1 << 20);
  EXPECT_FALSE(early.ok());
  EXPECT_EQ(early.reason, "終了状態 3");

  // Status 0 without having read the message is no delivery.
  MailResult unread = run("exit 0", 1 << 20);
  EXPECT_FALSE(unread.ok());
  EXPECT_NE(unread.reason.find("読みませんでした"), std::string::npos);

  MailResult killed = run("kill -9 $$");
  EXPECT_FALSE(killed.ok());
  EXPECT_EQ(killed.reason, "シグナル 9 で終了");
}

TEST(SendmailSend, ErrorFloodBeforeReadingDoesNotDeadlock) {
  ScratchFolder folder;
  // 1 MiB of complaints before the program reads anything.
  const std::string program = Script(folder, "sendmail",
                                     "head -c 1048576 /dev/zero | tr '\\0' 'e' >&2\n"
                                     "cat > \"$DIR/message\"");
  auto transport = MakeSendmailTransport(program, kSender, SystemMessageStamps());
  ASSERT_TRUE(transport->SignOn("", "").ok());
  const MailResult result = transport->Send(Message("to@example.org", 1 << 20));
  EXPECT_TRUE(result.ok()) << result.reason;
  EXPECT_GT(ReadBytes(folder / "message").size(), std::size_t{1} << 20);
}

TEST(SendmailSend, AProcessLeftHoldingStandardErrorDoesNotHoldUpTheSend) {
  ScratchFolder folder;
  // The program hands the message to a background process that keeps its
  // standard error (as a queue runner may), complains, and exits.
  auto send = [&](const std::string& status) {
    const std::string body =
        "cat > \"$DIR/message\"\nsleep 60 &\necho $! > \"$DIR/holder\"\n"
        "echo 'sendmail: queued for later' >&2\nexit " +
        status;
    const std::string program = Script(folder, "sendmail", body);
    auto transport = MakeSendmailTransport(program, kSender, SystemMessageStamps());
    EXPECT_TRUE(transport->SignOn("", "").ok());
    const MailResult result = transport->Send(Message("to@example.org"));
    // The send came back while the holder still runs (not even a zombie).
    const pid_t holder = std::stoi(ReadBytes(folder / "holder"));
    const std::string stat = ReadBytes("/proc/" + std::to_string(holder) + "/stat");
    EXPECT_NE(stat.find(") S "), std::string::npos) << "the send waited for the holder: " << stat;
    kill(holder, SIGKILL);
    return result;
  };
  const MailResult sent = send("0");
  EXPECT_TRUE(sent.ok()) << sent.reason;
  EXPECT_NE(ReadBytes(folder / "message").find("To: Recipient <to@example.org>"),
            std::string::npos);
  // What it wrote before its exit is still read.
  const MailResult refused = send("75");
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.reason, "終了状態 75: sendmail: queued for later");
}

TEST(SendmailFailure, ReasonTextIsOneSafeLine) {
  EXPECT_EQ(SendmailFailureReason({true, 1}, ""), "終了状態 1");
  EXPECT_EQ(SendmailFailureReason({true, 64}, "\n  \r\n bad\taddress \r\nmore\n"),
            "終了状態 64: bad address");
  EXPECT_EQ(SendmailFailureReason({true, 2}, "\x83\x65\x83X\x83g\n"), "終了状態 2: ?e?X?g");
  EXPECT_EQ(SendmailFailureReason({true, 1}, std::string(1000, 'z')).size(),
            std::string("終了状態 1: ").size() + 200);

  // The password is masked before the line is cut, so no start of it survives the cut.
  EXPECT_EQ(SendmailFailureReason({true, 1}, std::string(195, 'z') + " hunter2\n", "hunter2"),
            "終了状態 1: " + std::string(195, 'z') + " ****");
}

}  // namespace
}  // namespace pinemail
