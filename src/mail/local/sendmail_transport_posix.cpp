// Hands each message to the system's sendmail program: run as a child (no
// shell), the message written to its standard input, its exit status and
// first error line turned into the send result.
#include "mail/local/sendmail_transport_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <utility>

#include "mail/message/message_writer.h"
#include "text/credential_mask.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// A program that neither reads nor writes for this long is stopped, so that
// an unattended run cannot hang on it for ever.
constexpr std::chrono::milliseconds kIdleLimit = std::chrono::minutes(5);
// After the exit, what is left of its complaints is read for this long at
// most, never until the pipe closes: a process it started and left behind
// may hold its standard error open long after.
constexpr std::chrono::milliseconds kReadAfterExit{200};
// Only the first line of the program's complaints is logged; the rest is
// read and dropped so that the program never blocks on a full pipe.
constexpr std::size_t kErrorOutputKept = 4096;
constexpr std::size_t kReasonLineCodePoints = 200;
// The message goes to the program in pieces of about this size.
constexpr std::size_t kInputChunk = 64 * 1024;

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FirstLine(std::string_view text) {
  std::string line;
  for (;;) {
    const std::size_t end = text.find('\n');
    std::string_view candidate = text.substr(0, end);
    while (!candidate.empty() && (candidate.back() == '\r' || candidate.back() == ' ')) {
      candidate.remove_suffix(1);
    }
    while (!candidate.empty() && candidate.front() == ' ') candidate.remove_prefix(1);
    if (!candidate.empty() || end == std::string_view::npos) {
      line = std::string(candidate);
      break;
    }
    text.remove_prefix(end + 1);
  }
  // Bytes that are not UTF-8 become "?"; controls become blanks.
  line = PrintableText(line);
  return std::string(CutCodePoints(line, kReasonLineCodePoints));
}

// What became of one run of the program.
struct ProgramRun {
  bool started = false;
  std::string start_error;
  bool input_complete = false;  // the program took the whole message
  bool stopped_idle = false;
  ChildProcess::Exit exit;
  std::string error_output;
};

// Runs `program` with `arguments` and `message` on its standard input, taking
// the start of what it writes to standard error (standard output goes to the
// null device). A program that neither reads nor writes for kIdleLimit, or
// takes longer than that to exit once its pipes are closed, is stopped with
// whatever it started; otherwise what it started (a queue runner holding its
// standard error) runs on and does not hold up the run.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const MessageSegments& message) {
  ProgramRun run;
  ChildCommand command = ChildCommand::Program(program, arguments);
  command.output = ChildOutputStream::kStandardError;
  command.takes_input = true;
  ChildProcess child;
  if (!child.Start(command, &run.start_error)) {
    run.start_error = program + " を起動できませんでした (" + run.start_error + ")";
    return run;
  }
  run.started = true;
  ChildLimits limits;
  limits.idle = kIdleLimit;
  limits.kept = kErrorOutputKept;
  limits.linger = kReadAfterExit;
  ChildOutput errors;
  // The message is read out of its segments a buffer at a time, as the
  // program takes it.
  MessageSegments::Cursor cursor;
  std::string buffer;
  const ChildInput input = [&message, &cursor, &buffer]() {
    buffer.clear();
    message.Read(&cursor, &buffer, kInputChunk);
    return std::string_view(buffer);
  };
  const ChildExchange exchange = child.ExchangeFrom(input, limits, &errors);
  run.input_complete = exchange.input_complete;
  run.error_output = std::move(errors.text);
  run.stopped_idle = exchange.end == ChildEnd::kIdle ||
                     !child.Wait(std::chrono::steady_clock::now() + kIdleLimit, &run.exit);
  if (run.stopped_idle) {
    child.End();
  } else {
    child.Leave();
  }
  return run;
}

class SendmailTransport final : public MailTransport {
 public:
  SendmailTransport(std::string program, Mailbox sender, MessageStamps stamps)
      : program_(std::move(program)), sender_(std::move(sender)), stamps_(std::move(stamps)) {}

  MailResult SignOn(const std::string&, const std::string&) override;
  MailResult Send(const OutgoingMessage& message) override;
  void SignOff() override {}

 private:
  std::string program_;  // as configured; empty means the system's default
  std::string chosen_;   // the program signed on with
  // Never passed on; masked should the program print it.
  std::string password_;
  Mailbox sender_;
  MessageStamps stamps_;
};

// The credentials are for SMTP servers; sendmail never sees them.
MailResult SendmailTransport::SignOn(const std::string&, const std::string& password) {
  chosen_.clear();
  password_ = password;
  if (!program_.empty()) {
    if (program_.front() == '/' && IsExecutableFile(program_)) chosen_ = program_;
  } else {
    for (std::string_view path : kSendmailPaths) {
      if (IsExecutableFile(std::string(path))) {
        chosen_ = std::string(path);
        break;
      }
    }
  }
  if (chosen_.empty()) {
    return MailResult::Failed(
        "sendmail が見つからないか実行できません: " +
        (program_.empty() ? std::string("/usr/sbin/sendmail, /usr/lib/sendmail") : program_));
  }
  if (!IsPlainAddress(sender_.address)) {
    return MailResult::Failed("差出人のアドレスがありません (From)");
  }
  return MailResult::Done();
}

MailResult SendmailTransport::Send(const OutgoingMessage& message) {
  if (chosen_.empty()) return MailResult::Failed(std::string(kNotSignedOnReason));
  if (!IsPlainAddress(message.recipient_address)) {
    return MailResult::Failed(std::string(kBadAddressReason));
  }
  const MessageFields fields = FieldsFor(message, sender_, stamps_);

  const ProgramRun run = RunProgram(chosen_, SendmailArguments(sender_.address, fields.to.address),
                                    WriteMessageSegments(fields, "\n"));
  if (!run.started) return MailResult::Failed(run.start_error);
  if (run.stopped_idle) return MailResult::Failed(chosen_ + ": 応答がないため停止しました");
  if (!run.exit.exited || run.exit.code != 0) {
    return MailResult::Failed(SendmailFailureReason(run.exit, run.error_output, password_));
  }
  // Status 0 after leaving part of the message unread would be a truncated
  // message reported as sent.
  if (!run.input_complete) {
    return MailResult::Failed(chosen_ + ": メッセージを最後まで読みませんでした");
  }
  return MailResult::Done(fields.message_id);
}

}  // namespace

std::vector<std::string> SendmailArguments(std::string_view sender_address,
                                           std::string_view recipient_address) {
  return {"-i", "-f", std::string(sender_address), "--", std::string(recipient_address)};
}

std::string SendmailFailureReason(const ChildProcess::Exit& exit, std::string_view error_output,
                                  std::string_view password) {
  std::string reason = exit.exited ? "終了状態 " + std::to_string(exit.code)
                                   : "シグナル " + std::to_string(exit.code) + " で終了";
  const std::string line = FirstLine(MaskCredentials(error_output, {}, password));
  if (!line.empty()) reason += ": " + line;
  return reason;
}

std::unique_ptr<MailTransport> MakeSendmailTransport(std::string program, const Mailbox& sender,
                                                     const MessageStamps& stamps) {
  return std::make_unique<SendmailTransport>(std::move(program), sender, stamps);
}

}  // namespace pinemail
