// The batch run: loads the settings, opens the run log and the list, signs on
// and sends one message per list record, reporting each step in the log.
#include "batch/run_batch.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>

#include "batch/run_log.h"
#include "config/product.h"
#include "config/startup.h"
#include "mail/credential_mask.h"
#include "merge/banner.h"
#include "merge/compose.h"
#include "merge/keywords.h"
#include "merge/record.h"
#include "merge/template_reader.h"
#include "text/file_io.h"
#include "text/line_reader.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// Records lost in a row to a connection failure before the run stops: a
// server that stalls would otherwise cost its full wait on every record.
constexpr std::size_t kLostConnectionsToStop = 3;

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
  File file = OpenFile(path, "rb", &reason);
  if (!file) failures.push_back({path, reason});
  return file;
}

// One run over an opened log and list.
class BatchRun {
 public:
  BatchRun(const BatchEnvironment& env, Settings settings, RunLog& log, std::FILE* list)
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

 private:
  bool WriteHeader() {
    return log_.Write(LogBlock().RunHeader(env_.now ? env_.now() : LocalTimestamp()));
  }

  // The list must have a first line, and that line must carry the mark.
  bool CheckFirstLine() {
    std::string first;
    if (!list_.Next(&first)) {
      log_.Write(LogBlock().Line(kEmptyListLine).Line());
      return false;
    }
    if (!IsListMarked(first)) {
      log_.Write(LogBlock().Line(kNotRecognisedLine).Line());
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
    if (!log_.Write(
            LogBlock().Credentials(settings_.user_name, PasswordMask(settings_.password)))) {
      return nullptr;
    }
    const MailResult signed_on = transport
                                     ? transport->SignOn(settings_.user_name, settings_.password)
                                     : MailResult::Failed(reason);
    if (signed_on.ok()) return transport;
    log_.Write(LogBlock().Line(kSignOnFailedLine));
    if (env_.sign_on_failed) env_.sign_on_failed(CleanReason(signed_on.reason, settings_));
    return nullptr;
  }

  // False when the record's lines could not be logged. A record that stops
  // the run sets stopped_.
  bool HandleRecord(std::string_view line, MailTransport& transport) {
    const RecipientRecord record = ParseRecord(line, table_);
    LogBlock block;
    block.Record(record);
    // Read in every case, even when the name or address is already empty.
    MessageTemplate message_template;
    const bool have_template =
        ReadTemplate(ResolveTemplatePath(record.template_name, env_.app_folder),
                     message_template.subject, message_template.body);
    ++progress_.records;
    const std::optional<OutgoingMessage> message =
        ComposeMessage(record, have_template ? &message_template : nullptr, table_, banner_);
    if (message) {
      Send(*message, transport, block);
    } else {
      block.Rejected();
      ++progress_.rejected;
    }
    const bool logged = log_.Write(block);
    if (env_.progress) env_.progress(progress_);
    return logged;
  }

  void Send(const OutgoingMessage& message, MailTransport& transport, LogBlock& block) {
    const MailResult result = transport.Send(message);
    if (result.ok()) {
      block.Sent(message.subject);
      ++progress_.sent;
    } else {
      block.SendFailed(message.subject, CleanReason(result.reason, settings_));
      ++progress_.failed;
    }
    CountConnectionLoss(result, block);
  }

  // Stops the run, with its closing lines after the record's block, once
  // kLostConnectionsToStop records in a row were lost to a connection failure.
  void CountConnectionLoss(const MailResult& result, LogBlock& block) {
    const bool lost = result.outcome == MailOutcome::kConnectionLost;
    lost_in_row_ = lost ? lost_in_row_ + 1 : 0;
    if (lost_in_row_ < kLostConnectionsToStop) return;
    block.Stopped("サーバーとの接続に " + std::to_string(kLostConnectionsToStop) +
                  " 件続けて失敗しました");
    stopped_ = true;
  }

  const BatchEnvironment& env_;
  Settings settings_;
  std::string banner_;
  KeywordTable table_;
  RunLog& log_;
  LineReader list_;
  BatchProgress progress_;
  std::size_t lost_in_row_ = 0;  // records in a row lost to a connection failure
  bool stopped_ = false;         // the run stops after the record in hand
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
  RunLog log;
  OpenFailure log_failure;
  if (!log.Open(log_path, &log_failure)) failures.push_back(std::move(log_failure));
  File list = OpenList(list_path, failures);
  if (!failures.empty()) {
    if (env.warn) env.warn(failures);
    if (totals) *totals = BatchProgress{};
    return BatchOutcome::kStoppedEarly;
  }

  BatchRun run(env, std::move(settings), log, list.get());
  BatchOutcome outcome = run.Run();
  if (totals) *totals = run.progress();
  if (!log.error().empty() && env.warn) env.warn({{log_path, log.error()}});
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
