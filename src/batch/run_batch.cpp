// The batch run: loads the settings, opens the run log and the list, signs on
// and sends one message per list record, reporting each step in the log.
#include "batch/run_batch.h"

#include <cstdio>
#include <ctime>
#include <string_view>
#include <utility>

#include "config/product.h"
#include "config/startup.h"
#include "merge/banner.h"
#include "mail/credential_mask.h"
#include "merge/keywords.h"
#include "merge/record.h"
#include "merge/template_reader.h"
#include "text/codepage.h"
#include "text/file_io.h"
#include "text/line_reader.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::size_t kRuleLength = 57;

constexpr std::string_view kEmptyListLine = "指定のファイルは空です。";
constexpr std::string_view kNotRecognisedLine =
    "指定のファイルは pinemail.exe 用であるとは認識できませんでした。";
constexpr std::string_view kRejectedLine = "送信に十分なデータが取得できませんでした。";
constexpr std::string_view kSentLine = "メッセージ送信";
constexpr std::string_view kSendFailedLine = "送信に失敗しました。";
// The warning's reason when another run holds the log.
constexpr std::string_view kLogInUseReason = "別の実行が使用中です";
constexpr std::string_view kStoppedLine = "送信を中断しました。";

// Records lost in a row to a connection failure before the run stops: a
// server that stalls would otherwise cost its full wait on every record.
constexpr std::size_t kLostConnectionsToStop = 3;

constexpr std::string_view kUserNameLabel = "User Name: ";
constexpr std::string_view kPasswordLabel = "Password : ";
constexpr std::string_view kAddressLabel = "送信先アドレス: ";
constexpr std::string_view kNameLabel = "表示送信者名　: ";
constexpr std::string_view kTemplateLabel = "テンプレート　: ";
constexpr std::string_view kSubjectLabel = "件名　　　　　: ";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Collects the lines of one log block in memory, so that the block reaches
// the file in one write and a crash never leaves half a line behind. A value
// from outside (a field of the list, a subject, a setting) has its controls
// blanked, so that it cannot end its line and forge another.
class Block {
 public:
  Block& Line(std::string_view text = {}) {
    text_ += text;
    text_ += "\r\n";
    return *this;
  }
  Block& Line(std::string_view label, std::string_view value) {
    text_ += label;
    return Line(BlankControls(value));
  }
  Block& Rule(char mark) { return Line(std::string(kRuleLength, mark)); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Appends a block to the open run log in the system's code page, in one write
// that reaches the file at once, so that a crash loses at most the record in
// flight; a block the file took only part of is taken back whole. False with
// the system's reason when the block did not reach the file.
bool Append(std::FILE* log, const Block& block, std::string* reason) {
  return AppendWhole(log, EncodeSystemText(block.text()), reason);
}

// A transport's reason goes into one log line: control characters would
// break the line apart, and the password must never reach the log even if a
// transport echoed it.
std::string CleanReason(std::string_view reason, const Settings& settings) {
  return BlankControls(MaskCredentials(reason, settings.user_name, settings.password));
}

Settings LoadRunSettings(const BatchEnvironment& env) {
  std::unique_ptr<Profile> profile =
      env.open_profile ? env.open_profile()
                       : OpenProfile(env.app_folder + std::string(kSettingsFileName));
  // A settings file that cannot be read behaves as if every key were missing.
  if (!profile) return Settings{};
  return LoadSettings(*profile);
}

// Opens the list, noting the failure (OpenFile refuses a folder as well).
File OpenList(const std::string& path, std::vector<OpenFailure>& failures) {
  std::string reason;
  File file(OpenFile(path, "rb", &reason));
  if (!file) failures.push_back({path, reason});
  return file;
}

// Opens the log for this run alone: a run started meanwhile finds it in use
// and stops at the open, so that two runs' blocks never interleave.
File OpenLog(const std::string& path, std::vector<OpenFailure>& failures) {
  std::string reason;
  bool in_use = false;
  File file(OpenSoleWriter(path, &reason, &in_use));
  if (!file) failures.push_back({path, in_use ? std::string(kLogInUseReason) : reason});
  return file;
}

// One run over an opened log and list.
class BatchRun {
 public:
  BatchRun(const BatchEnvironment& env, Settings settings, std::FILE* log, std::FILE* list)
      : env_(env), settings_(std::move(settings)), log_(log), list_(list) {
    if (!settings_.SuppressBanner) banner_ = MailBanner();
    BuildKeywordTable(TrimBlanks(settings_.keyword_list), table_);
  }

  // A log that cannot be written stops the run: mail sent after that point
  // would leave no record of having been sent.
  BatchOutcome Run() {
    if (!WriteHeader() || !CheckFirstLine()) return BatchOutcome::kStoppedEarly;
    std::unique_ptr<MailTransport> transport = SignOn();
    if (!transport) return BatchOutcome::kStoppedEarly;
    std::string line;
    while (list_.Next(&line)) {
      std::string_view record_line = RecordLine(line);
      if (record_line.empty()) continue;
      if (!HandleRecord(record_line, *transport) || stopped_) {
        transport->SignOff();
        return BatchOutcome::kStoppedEarly;
      }
    }
    transport->SignOff();
    return progress_.rejected + progress_.failed == 0 ? BatchOutcome::kAllSent
                                                      : BatchOutcome::kSomeNotSent;
  }

  const BatchProgress& progress() const { return progress_; }
  // Why the log could not be written; empty when it could.
  const std::string& log_error() const { return log_error_; }

 private:
  bool Log(const Block& block) { return Append(log_, block, &log_error_); }

  bool WriteHeader() {
    std::string now = env_.now ? env_.now() : LocalTimestamp();
    return Log(Block().Rule('*').Line().Line(now).Line());
  }

  // The list must have a first line, and that line must carry the mark.
  bool CheckFirstLine() {
    std::string first;
    if (!list_.Next(&first)) {
      Log(Block().Line(kEmptyListLine).Line());
      return false;
    }
    if (!IsListMarked(first)) {
      Log(Block().Line(kNotRecognisedLine).Line());
      return false;
    }
    return true;
  }

  // Null when the transport cannot be made or refuses the sign-on; the log
  // then says so and the run ends without a sign-off.
  std::unique_ptr<MailTransport> SignOn() {
    std::string reason;
    std::unique_ptr<MailTransport> transport =
        env_.make_transport ? env_.make_transport(settings_, &reason) : nullptr;
    if (!Log(Block()
                 .Line(kUserNameLabel, settings_.user_name)
                 .Line(kPasswordLabel, PasswordMask(settings_.password))
                 .Line())) {
      return nullptr;
    }
    if (!transport || !transport->SignOn(settings_.user_name, settings_.password)) {
      Log(Block().Line(kSignOnFailedLine));
      if (env_.sign_on_failed) {
        if (transport) reason = transport->SignOnFailure();
        env_.sign_on_failed(CleanReason(reason, settings_));
      }
      return nullptr;
    }
    return transport;
  }

  // Stops the run, with its closing lines after the record's block, once
  // kLostConnectionsToStop records in a row were lost to a connection failure.
  void CountConnectionLoss(const SendResult& result, Block& block) {
    const bool lost = !result.sent && result.failure == SendFailure::kConnectionLost;
    lost_in_row_ = lost ? lost_in_row_ + 1 : 0;
    if (lost_in_row_ < kLostConnectionsToStop) return;
    const std::string reason =
        "サーバーとの接続に " + std::to_string(kLostConnectionsToStop) + " 件続けて失敗しました";
    block.Line(std::string(kStoppedLine) + "(" + reason + ")").Rule('=').Line();
    stopped_ = true;
  }

  // False when the record's lines could not be logged. A record that stops
  // the run sets stopped_.
  bool HandleRecord(std::string_view line, MailTransport& transport) {
    ParseRecord(line, record_, table_);
    OutgoingMessage message;
    message.recipient_name = record_.display_name;
    message.recipient_address = record_.address;
    std::string template_path = ResolveTemplatePath(record_.template_name, env_.app_folder);

    Block block;
    block.Line(kAddressLabel, record_.address)
        .Line(kNameLabel, record_.display_name)
        .Line(kTemplateLabel, record_.template_name);

    // Read in every case, even when the name or address is already empty.
    std::string body;
    bool have_template = ReadTemplate(template_path, message.subject, body);
    ++progress_.records;
    if (message.recipient_name.empty() || message.recipient_address.empty() || !have_template) {
      block.Line(kRejectedLine).Rule('=').Line();
      ++progress_.rejected;
    } else {
      SubstituteKeywords(body, table_);
      message.text = banner_ + body;
      SendResult result = transport.Send(message);
      block.Line(kSubjectLabel, message.subject);
      if (result.sent) {
        block.Line(kSentLine).Rule('-').Line();
        ++progress_.sent;
      } else {
        std::string reason = CleanReason(result.reason, settings_);
        block.Line(std::string(kSendFailedLine) + "(" + reason + ")").Rule('=').Line();
        ++progress_.failed;
      }
      CountConnectionLoss(result, block);
    }
    bool logged = Log(block);
    if (env_.progress) env_.progress(progress_);
    return logged;
  }

  const BatchEnvironment& env_;
  Settings settings_;
  std::string banner_;
  KeywordTable table_;
  RecipientRecord record_;
  std::FILE* log_;
  LineReader list_;
  BatchProgress progress_;
  std::size_t lost_in_row_ = 0;  // records in a row lost to a connection failure
  bool stopped_ = false;         // the run stops after the record in hand
  std::string log_error_;
};

}  // namespace

BatchEnvironment DefaultBatchEnvironment(std::string app_folder, std::string list_path) {
  BatchEnvironment env;
  env.app_folder = std::move(app_folder);
  env.list_path = std::move(list_path);
  std::string settings_path = env.app_folder + std::string(kSettingsFileName);
  env.open_profile = [settings_path] { return OpenProfile(settings_path); };
  std::string folder = env.app_folder;
  env.make_transport = [folder](const Settings& settings, std::string* reason) {
    return MakeTransport(settings, folder, reason);
  };
  env.now = LocalTimestamp;
  return env;
}

BatchOutcome RunBatch(const BatchEnvironment& env, BatchProgress* totals) {
  Settings settings = LoadRunSettings(env);
  std::string log_path = env.app_folder + std::string(kLogFileName);
  std::string list_path = ResolvePath(env.list_path, env.app_folder);

  // Both opens are tried, so that the warning names every file at fault.
  std::vector<OpenFailure> failures;
  File log = OpenLog(log_path, failures);
  File list = OpenList(list_path, failures);
  if (!failures.empty()) {
    if (env.warn) env.warn(failures);
    if (totals) *totals = BatchProgress{};
    return BatchOutcome::kStoppedEarly;
  }

  BatchRun run(env, std::move(settings), log.get(), list.get());
  BatchOutcome outcome = run.Run();
  if (totals) *totals = run.progress();
  if (!run.log_error().empty() && env.warn) env.warn({{log_path, run.log_error()}});
  return outcome;
}

std::string LocalTimestamp() {
  std::time_t now = std::time(nullptr);
  // The program has one thread, so the shared buffer of localtime is safe.
  const std::tm* local = std::localtime(&now);
  char text[32] = {};
  if (local == nullptr || std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", local) == 0) {
    return "0000/00/00 00:00:00";
  }
  return text;
}

}  // namespace pinemail
