// The batch run: loads the settings, opens the run log, the list and the
// journal, checks and surveys the list, signs on and sends one message per
// list record, reporting each step in the log.
#include "batch/run_batch.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/daily_limit.h"
#include "batch/dry_runs.h"
#include "batch/journal.h"
#include "batch/message_sender.h"
#include "batch/read_ahead.h"
#include "batch/run_journal.h"
#include "batch/run_log.h"
#include "batch/run_report.h"
#include "batch/wall_wait.h"
#include "config/product.h"
#include "config/startup.h"
#include "mail/message/message_stamps.h"
#include "mail/transport_factory.h"
#include "merge/keywords.h"
#include "merge/record.h"
#include "text/codepage.h"
#include "text/credential_mask.h"
#include "text/file_io.h"
#include "text/line_reader.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// A settings file with a secret that others may read is named on the
// terminal; the next time it is written it is narrowed to its owner.
void WarnOfReadableSecrets(const BatchEnvironment& env, const Settings& settings) {
  if (!env.caution || (settings.password.empty() && settings.oauth_refresh_token.empty())) return;
  const std::string path = env.app_folder + std::string(kSettingsFileName);
  if (!ReadableByOthers(path)) return;
  env.caution("警告: " + DecodeSystemText(path) +
              " にはパスワードかリフレッシュトークンがあり、ほかのユーザーも読めます。"
              "chmod 600 で所有者だけが読めるようにしてください");
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

// Opens the journal beside the log, noting the failure: a journal that is
// not a regular file takes the same path as a log or list that cannot be
// opened, before anything is written or sent.
void OpenJournal(const std::string& path, JournalFile& journal,
                 std::vector<OpenFailure>& failures) {
  std::string reason;
  if (!journal.Open(path, &reason)) failures.push_back({path, reason});
}

// The log's line for a list whose lines end in LF alone: read by the line
// rule, such a list is one long line, and nothing in it could be sent.
constexpr std::string_view kLineFeedListLine =
    "指定のファイルの改行が LF だけです。改行を CR LF にして保存してください。";

// One run over an opened log and list: the list is checked and surveyed,
// the transport signs on, and the records are sent in turn.
class BatchRun {
 public:
  BatchRun(const BatchEnvironment& env, Settings settings, RunLog& log, std::FILE* list,
           std::string list_path, RunJournal& journal, std::optional<WallClock::time_point> start)
      : env_(env),
        settings_(std::move(settings)),
        report_(env, log),
        list_(list),
        list_path_(std::move(list_path)),
        journal_(journal),
        queue_(list_, settings_, env.app_folder, journal,
               env.kind == RunKind::kTest ? &env.test_address : nullptr),
        sender_(env, settings_),
        start_(start) {}

  // A log that cannot be written stops the run: mail sent after that point
  // would leave no record of having been sent.
  BatchOutcome Run() {
    if (!WriteHeader() || !CheckFirstLine() || !CheckSetup() || !SurveyList() || !WaitForStart()) {
      return BatchOutcome::kStoppedEarly;
    }
    std::unique_ptr<MailTransport> transport = SignOn();
    if (!transport) return BatchOutcome::kStoppedEarly;
    const BatchOutcome outcome = SendRecords(*transport);
    transport->SignOff();
    return Conclude(outcome);
  }

  const BatchProgress& progress() const { return report_.progress(); }

 private:
  // A check's and a test's block say under the time what they are.
  bool WriteHeader() {
    LogBlock header;
    header.RunHeader(env_.now ? env_.now() : LocalTimestamp());
    if (env_.kind == RunKind::kCheck) header.Line(kCheckHeaderLine).Line();
    if (env_.kind == RunKind::kTest) header.Line(kTestHeaderLine, env_.test_address).Line();
    return report_.Write(header);
  }

  // The list must have a first line, and that line must carry the mark and
  // end before the first line feed.
  bool CheckFirstLine() {
    std::string first;
    if (!list_.Next(&first)) {
      report_.Write(LogBlock().Line(kEmptyListLine).Line());
      return false;
    }
    if (!IsListMarked(first)) {
      report_.Write(LogBlock().Line(kNotRecognisedLine).Line());
      return false;
    }
    if (first.find('\n') != std::string::npos) return RefuseLineFeedList();
    return true;
  }

  // Settings that would send every message short of what it must carry
  // (an attachment keyword that is not a keyword) stop the run here.
  // A test to an address no list could name stops here too.
  bool CheckSetup() {
    std::string problem = queue_.SetupProblem();
    if (problem.empty() && env_.kind == RunKind::kTest && !IsPlainAddress(env_.test_address)) {
      problem = "テスト送信先 " + env_.test_address + ": " + std::string(kBadAddressReason);
    }
    return problem.empty() || report_.StopBeforeRecords(problem);
  }

  bool RefuseLineFeedList() {
    report_.Write(LogBlock().Line(kLineFeedListLine).Line());
    report_.progress().stop_reason = std::string(kLineFeedListLine);
    return false;
  }

  // Before sign-on, so that a run with nothing it may send never reaches a
  // server: one pass over the list counts its records and shows each to the
  // journal, which for `/resume` finds the run to resume. False, with the
  // log saying why, when the list has no record while its text holds line
  // feeds (a list saved with LF line ends), or `/resume` finds no run to
  // resume.
  bool SurveyList() {
    std::string stop;
    if (!journal_.BeginSurvey(env_.resume, &stop)) return report_.StopBeforeRecords(stop);
    std::string reason;
    if (!CountRecords(&reason) && journal_.NeedsSurvey()) {
      return report_.StopBeforeRecords("リストを読み直せません: " + reason);
    }
    if (line_feeds_ && report_.progress().total == 0) return RefuseLineFeedList();
    return journal_.EndSurvey(&stop) || report_.StopBeforeRecords(stop);
  }

  // Every line of the list once, before the first record is sent: counts
  // the records by the run's own rules for the progress's total, notes a
  // line feed in any line and shows each record to the journal. False when
  // the list cannot be opened again: the total is then unknown.
  bool CountRecords(std::string* reason) {
    File list = OpenFile(list_path_, "rb", reason);
    if (!list) return false;
    LineReader reader(list.get());
    std::string line;
    std::size_t total = 0;
    if (reader.Next(&line)) {  // line 1: the mark
      while (reader.Next(&line)) {
        line_feeds_ = line_feeds_ || line.find('\n') != std::string::npos;
        const std::string_view record = RecordLine(line);
        if (record.empty() || !Takes(record)) continue;
        ++total;
        journal_.Survey(record, reader.raw());
      }
    }
    // A read error ends the lines early: a total would then be short.
    if (std::ferror(list.get()) == 0) report_.progress().total = total;
    return true;
  }

  // `/at`: the run has been checked (RunBatch); it waits for its time
  // holding the log, so that no other run starts meanwhile. A time that
  // cannot be read, or has passed, stops it with the reason.
  bool WaitForStart() {
    if (env_.start_at.empty() || env_.kind != RunKind::kSend) return true;
    if (!start_) {
      WallClock::time_point ignored;
      std::string reason;
      ParseStartTime(env_.start_at, wall_.Now(), &ignored, &reason);
      return report_.StopBeforeRecords(reason);
    }
    report_.Show();  // nothing sent yet, of the list's total
    return wall_.Until(*start_, BatchWait::Kind::kStart) ||
           report_.StopBeforeRecords(std::string(kStopAskedReason));
  }

  // Whether the run takes the record: a test takes the first of each
  // template, any other run every record.
  bool Takes(std::string_view record) {
    if (env_.kind != RunKind::kTest) return true;
    const std::string name = ParseRecord(record, KeywordTable{}).template_name;
    return counted_templates_.Takes(ResolveTemplatePath(name, env_.app_folder));
  }

  // A check's and a test's block end with their findings and summary.
  BatchOutcome Conclude(BatchOutcome outcome) {
    if (outcome == BatchOutcome::kStoppedEarly) return outcome;
    LogBlock block;
    outcome = ConcludeDryRun(env_, settings_, checked_, outcome, &report_.progress(), &block);
    if (!block.text().empty()) report_.Write(block);
    return outcome;
  }

  // Null when the limits cannot be read, the transport cannot be made or it
  // refuses the sign-on; the log then says so, and why, and the run ends
  // without a sign-off.
  std::unique_ptr<MailTransport> SignOn() {
    std::string reason;
    std::unique_ptr<MailTransport> transport;
    if (ReadLimits(&reason)) {
      transport = MakeRunTransport(env_, settings_, &checked_, &report_.progress(), &reason);
    }
    if (!report_.Write(
            LogBlock().Credentials(settings_.user_name, PasswordMask(settings_.password)))) {
      return nullptr;
    }
    const MailResult signed_on = transport
                                     ? transport->SignOn(settings_.user_name, settings_.password)
                                     : MailResult::Failed(reason);
    if (signed_on.ok()) return transport;
    const std::string cleaned = CleanReason(signed_on.reason, settings_);
    report_.Write(LogBlock().SignOnFailed(signed_on.reason_logged ? cleaned : std::string()));
    if (env_.sign_on_failed) env_.sign_on_failed(cleaned);
    return nullptr;
  }

  // "Send Rate", "Daily Limit" and the times of the messages the journal
  // shows sent in the last 24 hours. A value the run cannot use never lets
  // it send unpaced or unlimited: false, with the reason.
  bool ReadLimits(std::string* reason) {
    std::chrono::nanoseconds gap{};
    std::size_t limit = 0;
    if (!ParseSendRate(settings_.send_rate, &gap, reason) ||
        !ParseDailyLimit(settings_.daily_limit, &limit, reason)) {
      return false;
    }
    // A check and a preview send nothing, so nothing need wait its turn;
    // a test keeps no journal, so only a run counts for the day.
    if (env_.kind == RunKind::kSend || env_.kind == RunKind::kTest) {
      sender_.Pace(gap);
      report_.progress().send_gap = gap;
    }
    if (env_.kind != RunKind::kSend) limit = 0;
    std::vector<std::int64_t> seconds;
    if (limit > 0 && !journal_.SentTimes(&seconds, reason)) return false;
    std::vector<WallClock::time_point> times;
    for (const std::int64_t sent : seconds) times.push_back(FromJournalSeconds(sent));
    window_ = SendWindow(limit, std::move(times));
    return true;
  }

  // "Daily Limit": true while the last 24 hours have room for one more
  // message. When they have none, a run without `/at` stops, to go on with
  // `/resume`; one with `/at` signs off, waits for room and signs on again.
  // False, the run stopped and the message not tried, otherwise.
  bool RoomInWindow(MailTransport& transport) {
    const WallClock::time_point now = wall_.Now();
    const WallClock::time_point next = window_.NextAt(now);
    if (next <= now) return true;
    if (env_.start_at.empty()) {
      Stop(DailyLimitReason(window_.limit(), next));
      return false;
    }
    transport.SignOff();
    if (!wall_.Until(next, BatchWait::Kind::kDailyLimit)) {
      Stop(std::string(kStopAskedReason));
      return false;
    }
    const MailResult again = transport.SignOn(settings_.user_name, settings_.password);
    if (!again.ok()) Stop(std::string(kSignOnFailedLine) + CleanReason(again.reason, settings_));
    return again.ok();
  }

  // The records are read a few ahead of the one in hand, so that the
  // transport may hand their messages to the server before the outcome of
  // the one in hand is known (SendAhead); each record is still sent, judged,
  // journaled and logged in the list's order.
  BatchOutcome SendRecords(MailTransport& transport) {
    std::string stop;
    if (!journal_.Start(&stop)) return StoppedBeforeRecords(stop);
    report_.Show();
    for (;;) {
      queue_.Fill();
      if (queue_.empty()) break;
      PendingRecord& record = queue_.front();
      if (record.message() && !RoomInWindow(transport)) {
        return Settle(transport, Front::kUnjudged);
      }
      // A person's stop: nothing more is tried, and what was handed over settles.
      if (sender_.StopAsked() || (record.message() && !Send(record, transport))) {
        Stop(std::string(kStopAskedReason));
        return Settle(transport, Front::kUnjudged);
      }
      if (stopped_) return Settle(transport, Front::kJudged);
      if (!report_.Finish(record)) return BatchOutcome::kStoppedEarly;
      queue_.pop_front();
    }
    return report_.EndOfList();
  }

  BatchOutcome StoppedBeforeRecords(const std::string& reason) {
    report_.StopBeforeRecords(reason);
    return BatchOutcome::kStoppedEarly;
  }

  // Tries the record's message until it goes, fails or stops the run.
  // Without pacing the messages of the records read ahead may go before this
  // one's outcome is known; with it each message waits for its time, and
  // none goes ahead. False, with nothing logged, when a person stopped the
  // run during a wait before the message went.
  bool Send(PendingRecord& record, MailTransport& transport) {
    const SendEnd end =
        sender_.Send(*record.message(),
                     sender_.paced() || window_.limited() ? std::vector<const OutgoingMessage*>{}
                                                          : queue_.MessagesBehind(),
                     transport);
    switch (end.kind) {
      case SendEnd::Kind::kSent:
        Sent(record, end.message_id);
        return true;
      case SendEnd::Kind::kStopsRun:
        Stop(end.stop_reason);
        [[fallthrough]];
      case SendEnd::Kind::kFailed:
        report_.Failed(record, end.reason);
        return true;
      case SendEnd::Kind::kStopAsked:
        break;
    }
    return false;
  }

  // The message went: the journal says so before the next outcome is taken.
  // A journal that cannot follow stops the run.
  void Sent(PendingRecord& record, const std::string& message_id) {
    report_.Sent(record);
    const WallClock::time_point now = wall_.Now();
    window_.Sent(now);
    std::string reason;
    if (!journal_.Sent(record.identity, message_id, JournalSeconds(now), &reason) && !stopped_) {
      Stop(BlankControls(reason));
    }
  }

  // The run stops after the record in hand (and the messages handed over
  // behind it: Settle).
  void Stop(const std::string& reason) {
    report_.progress().stop_reason = reason;
    stopped_ = true;
  }

  // The record in front when the run stops: judged (its block says how it
  // ended), or not: then only what was handed over is logged, and a message
  // not tried, or refused and not tried again, is left out for /resume.
  enum class Front { kJudged, kUnjudged };

  using Outcomes = std::vector<std::pair<const OutgoingMessage*, MailResult>>;

  static const MailResult* OutcomeOf(const PendingRecord& record, const Outcomes& outcomes) {
    const OutgoingMessage* message = record.message();
    if (!message) return nullptr;
    const auto found = std::find_if(outcomes.begin(), outcomes.end(),
                                    [&](const auto& outcome) { return outcome.first == message; });
    return found == outcomes.end() ? nullptr : &found->second;
  }

  // The run stopped with the record in front: the messages already handed to
  // the server behind it get their outcomes logged (and journaled) in order,
  // the records between them too, and the line saying the run stopped comes
  // last. A judged record and nothing handed over: the stop line ends the
  // record's block.
  BatchOutcome Settle(MailTransport& transport, Front front) {
    const Outcomes outcomes = transport.Settle();
    std::deque<PendingRecord>& pending = queue_.records();
    if (front == Front::kJudged && outcomes.empty()) {
      pending.front().block.Stopped(report_.progress().stop_reason);
      report_.Finish(pending.front());
      return BatchOutcome::kStoppedEarly;
    }
    if (front == Front::kJudged) {
      if (!report_.Finish(pending.front())) return BatchOutcome::kStoppedEarly;
      pending.pop_front();
    } else if (!OutcomeOf(pending.front(), outcomes)) {
      pending.pop_front();
    }
    if (!SettleHandedOver(pending, outcomes)) return BatchOutcome::kStoppedEarly;
    report_.Write(LogBlock().Stopped(report_.progress().stop_reason));
    return BatchOutcome::kStoppedEarly;
  }

  // The records up to the last message handed over, each with its outcome.
  // False when a block could not be logged.
  bool SettleHandedOver(std::deque<PendingRecord>& pending, const Outcomes& outcomes) {
    std::size_t settled = 0;
    for (PendingRecord& record : pending) {
      if (settled == outcomes.size()) break;
      if (record.message()) {
        const MailResult* result = OutcomeOf(record, outcomes);
        if (!result) break;
        ++settled;
        if (result->ok()) {
          Sent(record, result->message_id);
        } else {
          report_.Failed(record, CleanReason(result->reason, settings_));
        }
      }
      if (!report_.Finish(record)) return false;
    }
    return true;
  }

  const BatchEnvironment& env_;
  Settings settings_;
  RunReport report_;
  LineReader list_;
  std::string list_path_;
  RunJournal& journal_;
  ReadAhead queue_;  // the record in hand first, then those read ahead
  MessageSender sender_;
  WallWait wall_{env_};
  SendWindow window_;                             // "Daily Limit"'s last 24 hours
  std::optional<WallClock::time_point> start_;    // `/at`'s time, when it could be read
  TemplateChooser counted_templates_;             // a test's records, as counted
  std::vector<DeliverabilityRecipient> checked_;  // a check's messages, as noted
  bool line_feeds_ = false;                       // a line of the list holds a line feed
  bool stopped_ = false;                          // the run stops after the record in hand
};

// One run over the log that RunBatch holds (or failed to open: then
// `log_failure` says why); `start`: `/at`'s time.
BatchOutcome RunOnTheLog(const BatchEnvironment& env, RunLog& log, const std::string& log_path,
                         const OpenFailure* log_failure, std::optional<WallClock::time_point> start,
                         BatchProgress* totals) {
  Settings settings = LoadRunSettings(env);
  if (!start) WarnOfReadableSecrets(env, settings);  // `/at`'s check has warned
  std::string list_path = ResolvePath(env.list_path, env.app_folder);

  // Both opens are tried, so that the warning names every file at fault.
  std::vector<OpenFailure> failures;
  if (log_failure) failures.push_back(*log_failure);
  File list = OpenList(list_path, failures);
  // The journal belongs to the run holding the log: it is opened once the
  // log and the list are, so that a run finding the log in use names the
  // log alone and a failed run leaves no journal behind.
  JournalFile journal;
  const bool keep_journal = env.keep_journal && env.kind == RunKind::kSend;
  if (keep_journal && failures.empty()) {
    OpenJournal(env.app_folder + std::string(kJournalFileName), journal, failures);
  }
  if (!failures.empty()) {
    if (env.warn) env.warn(failures);
    if (totals) *totals = BatchProgress{};
    return BatchOutcome::kStoppedEarly;
  }

  const std::unique_ptr<RunJournal> run_journal =
      keep_journal ? MakeFileRunJournal(journal, list_path, env.notice) : MakeNullRunJournal();
  BatchRun run(env, std::move(settings), log, list.get(), list_path, *run_journal, start);
  BatchOutcome outcome = run.Run();
  if (totals) *totals = run.progress();
  if (!log.error().empty() && env.warn) env.warn({{log_path, log.error()}});
  return outcome;
}

}  // namespace

BatchEnvironment DefaultBatchEnvironment(std::string app_folder, std::string list_path,
                                         TransportTuning tuning) {
  BatchEnvironment env;
  env.app_folder = std::move(app_folder);
  env.list_path = std::move(list_path);
  std::string settings_path = env.app_folder + std::string(kSettingsFileName);
  env.open_profile = [settings_path] { return OpenProfile(settings_path); };
  env.tuning = std::move(tuning);
  env.make_transport = [folder = env.app_folder, stamps = SystemMessageStamps(),
                        tuning = env.tuning](const Settings& settings, std::string* reason) {
    return MakeTransport(settings, folder, stamps, tuning, reason);
  };
  env.now = LocalTimestamp;
  env.wall_clock = [] { return WallClock::now(); };
  env.clock = [] { return PaceClock::now(); };
  env.stop = std::make_shared<StopRequest>();
  env.dns = std::make_shared<SystemTxtLookup>(env.tuning.dns_server);
  env.sleep = [stop = env.stop](std::chrono::nanoseconds length) { stop->Wait(length); };
  return env;
}

BatchOutcome RunBatch(const BatchEnvironment& env, BatchProgress* totals) {
  // The log is held from here to the end, so that no other run starts
  // while this one checks, waits or sends.
  const std::string log_path = env.app_folder + std::string(kLogFileName);
  RunLog log;
  OpenFailure log_failure;
  const OpenFailure* failed = log.Open(log_path, &log_failure) ? nullptr : &log_failure;
  if (env.start_at.empty() || env.kind != RunKind::kSend) {
    return RunOnTheLog(env, log, log_path, failed, std::nullopt, totals);
  }
  // `/at`: first what `/check` does, so that a run that could not start
  // stops now, not at the time; then the run waits. The time is read before
  // the check, which must not move it to the next day.
  WallClock::time_point start;
  std::string reason;
  if (!ParseStartTime(env.start_at, env.wall_clock ? env.wall_clock() : WallClock::now(), &start,
                      &reason)) {
    return RunOnTheLog(env, log, log_path, failed, std::nullopt, totals);  // which says why
  }
  BatchEnvironment check = env;
  check.kind = RunKind::kCheck;
  check.progress = nullptr;  // its counts are not the run's: none would be sent yet
  BatchProgress checked;
  if (RunOnTheLog(check, log, log_path, failed, std::nullopt, &checked) ==
      BatchOutcome::kStoppedEarly) {
    if (totals) *totals = checked;
    return BatchOutcome::kStoppedEarly;
  }
  // What the check found, told now, while there is still time to mend it:
  // its findings, then its summary line (first in `summary`), as in the log.
  if (env.notice && !checked.summary.empty()) {
    std::for_each(checked.summary.begin() + 1, checked.summary.end(), env.notice);
    env.notice(checked.summary.front());
  }
  return RunOnTheLog(env, log, log_path, nullptr, start, totals);
}

std::string LocalTimestamp() { return LocalTimestampAt(WallClock::now()); }

}  // namespace pinemail
