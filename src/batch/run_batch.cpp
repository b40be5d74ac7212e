// The batch run: loads the settings, opens the run log and the list, signs on
// and sends one message per list record, reporting each step in the log.
#include "batch/run_batch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "batch/journal.h"
#include "batch/refusals.h"
#include "batch/run_log.h"
#include "config/product.h"
#include "config/startup.h"
#include "mail/message/message_stamps.h"
#include "mail/net/waits.h"
#include "mail/transport_factory.h"
#include "merge/banner.h"
#include "merge/compose.h"
#include "merge/keywords.h"
#include "merge/record.h"
#include "merge/template_reader.h"
#include "text/codepage.h"
#include "text/credential_mask.h"
#include "text/file_io.h"
#include "text/line_reader.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// A transport's reason goes into one log line: control characters would
// break the line apart, and no secret of the settings must ever reach the log
// even if a transport echoed it.
std::string CleanReason(std::string_view reason, const Settings& settings) {
  return BlankControls(
      MaskSecrets(reason, settings.user_name,
                  {settings.password, settings.oauth_client_secret, settings.oauth_refresh_token}));
}

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

// How many messages the run reads ahead of the one in hand (the transport
// may hand them over early), and how many records at most, whatever they
// hold.
constexpr std::size_t kLookahead = 8;
constexpr std::size_t kMaxPending = 64;

// A record read from the list and waiting for its turn.
struct PendingRecord {
  enum class Kind { kSend, kSentBefore, kRejected };
  Kind kind = Kind::kSend;
  LogBlock block;
  RecordIdentity identity;
  std::optional<OutgoingMessage> message;  // kSend: the message to send
};

// One run over an opened log and list.
class BatchRun {
 public:
  BatchRun(const BatchEnvironment& env, Settings settings, RunLog& log, std::FILE* list,
           std::string list_path, JournalFile& journal)
      : env_(env),
        settings_(std::move(settings)),
        log_(log),
        list_(list),
        list_path_(std::move(list_path)),
        journal_(journal),
        journal_list_path_(JournalListPath(list_path_)) {
    if (!settings_.SuppressBanner) banner_ = MailBanner();
    BuildKeywordTable(TrimBlanks(settings_.keyword_list), table_);
  }

  // A log that cannot be written stops the run: mail sent after that point
  // would leave no record of having been sent.
  BatchOutcome Run() {
    if (!WriteHeader() || !CheckFirstLine() || !SurveyList()) return BatchOutcome::kStoppedEarly;
    std::unique_ptr<MailTransport> transport = SignOn();
    if (!transport) return BatchOutcome::kStoppedEarly;
    const BatchOutcome outcome = SendRecords(*transport);
    transport->SignOff();
    return outcome;
  }

  const BatchProgress& progress() const { return progress_; }

 private:
  bool WriteHeader() {
    return log_.Write(LogBlock().RunHeader(env_.now ? env_.now() : LocalTimestamp()));
  }

  // The list must have a first line, and that line must carry the mark and
  // end before the first line feed.
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
    if (first.find('\n') != std::string::npos) return RefuseLineFeedList();
    return true;
  }

  bool RefuseLineFeedList() {
    log_.Write(LogBlock().Line(kLineFeedListLine).Line());
    progress_.stop_reason = std::string(kLineFeedListLine);
    return false;
  }

  // Before sign-on, so that a run with nothing it may send never reaches a
  // server: one pass over the list counts its records, surveys their
  // identities for the journal and, for `/resume`, finds the run to resume.
  // False, with the log saying why, when the list has no record while its
  // text holds line feeds (a list saved with LF line ends), or `/resume`
  // finds no run to resume.
  bool SurveyList() {
    std::optional<ResumeSearch> search;
    if (env_.keep_journal && env_.resume && !ReadJournal(&search)) return false;
    std::string reason;
    if (!CountRecords(search ? &*search : nullptr, &reason) && env_.keep_journal) {
      return StopBeforeRecords("リストを読み直せません: " + reason);
    }
    if (line_feeds_ && progress_.total == 0) return RefuseLineFeedList();
    return !search || ChooseRun(*search);
  }

  bool ReadJournal(std::optional<ResumeSearch>* search) {
    JournalScan scan(journal_list_path_);
    std::string reason;
    if (!journal_.Read(&scan, &reason)) {
      return StopBeforeRecords(std::string(kJournalFileName) + " を読めません: " + reason);
    }
    std::vector<JournalRun> runs = scan.Finish();
    if (scan.bad_lines() > 0) {
      Notice(std::string(kJournalFileName) + ": 読めない行を " + std::to_string(scan.bad_lines()) +
             " 行飛ばしました (最初は " + std::to_string(scan.first_bad_line()) + " 行目)");
    }
    search->emplace(std::move(runs));
    return true;
  }

  // The run the journal names for this list, or the run stopped with the
  // reason: a `/resume` without a run to resume sends nothing, since sending
  // everyone would mail again all that the lost run sent.
  bool ChooseRun(ResumeSearch& search) {
    resume_ = search.Choose();
    const std::string list_name = "「" + FileNameOf(list_path_) + "」";
    switch (resume_.missing) {
      case ResumePoint::Missing::kNoRunOfList:
        return StopBeforeRecords("/resume: " + std::string(kJournalFileName) + " にリスト" +
                                 list_name + "の実行がありません");
      case ResumePoint::Missing::kOtherRecords:
        return StopBeforeRecords("/resume: " + std::string(kJournalFileName) + " にあるリスト" +
                                 list_name + "の実行は、送った宛先がこのリストにありません");
      case ResumePoint::Missing::kNone:
        break;
    }
    run_id_ = resume_.run_id;
    scheme_ = resume_.scheme;
    if (scheme_ == IdentityScheme::kLineBytes) records_ = std::move(line_byte_records_);
    Notice("前回の実行 (" + run_id_ + ") の続きから送ります。送信済み " +
           std::to_string(resume_.sent.size()) + " 件");
    return true;
  }

  // Null when the pacing cannot be read, the transport cannot be made or it
  // refuses the sign-on; the log then says so, and why, and the run ends
  // without a sign-off. A value the run cannot use never lets it send unpaced.
  std::unique_ptr<MailTransport> SignOn() {
    std::string reason;
    std::chrono::nanoseconds gap{};
    std::unique_ptr<MailTransport> transport;
    if (ParseSendRate(settings_.send_rate, &gap, &reason)) {
      pacer_ = Pacer(gap);
      progress_.send_gap = gap;
      if (env_.make_transport) transport = env_.make_transport(settings_, &reason);
    }
    if (!log_.Write(
            LogBlock().Credentials(settings_.user_name, PasswordMask(settings_.password)))) {
      return nullptr;
    }
    const MailResult signed_on = transport
                                     ? transport->SignOn(settings_.user_name, settings_.password)
                                     : MailResult::Failed(reason);
    if (signed_on.ok()) return transport;
    const std::string cleaned = CleanReason(signed_on.reason, settings_);
    log_.Write(LogBlock().SignOnFailed(signed_on.reason_logged ? cleaned : std::string()));
    if (env_.sign_on_failed) env_.sign_on_failed(cleaned);
    return nullptr;
  }

  // The records are read a few ahead of the one in hand, so that the
  // transport may hand their messages to the server before the outcome of
  // the one in hand is known (SendAhead); each record is still sent, judged,
  // journaled and logged in the list's order.
  BatchOutcome SendRecords(MailTransport& transport) {
    if (env_.keep_journal && !WriteStartLine()) return BatchOutcome::kStoppedEarly;
    if (env_.progress) env_.progress(progress_);
    for (;;) {
      ReadAhead();
      if (pending_.empty()) break;
      PendingRecord& record = pending_.front();
      // A person's stop: nothing more is tried, and what was handed over settles.
      if (StopAsked() || (record.message && !Send(record, transport))) {
        Stop(std::string(kStopAskedReason));
        return Settle(transport, Front::kUnjudged);
      }
      if (stopped_) return Settle(transport, Front::kJudged);
      if (!Finish(record)) return BatchOutcome::kStoppedEarly;
      pending_.pop_front();
    }
    return progress_.rejected + progress_.failed == 0 ? BatchOutcome::kAllSent
                                                      : BatchOutcome::kSomeNotSent;
  }

  // Reads records until kLookahead messages wait, or kMaxPending records, or
  // the list ends.
  void ReadAhead() {
    std::size_t messages = 0;
    for (const PendingRecord& record : pending_) messages += record.message ? 1 : 0;
    std::string line;
    while (messages < kLookahead && pending_.size() < kMaxPending && list_.Next(&line)) {
      std::string_view record_line = RecordLine(line);
      if (record_line.empty()) continue;
      Prepare(record_line, list_.raw());
      messages += pending_.back().message ? 1 : 0;
    }
  }

  // The record in front when the run stops: judged (its block says how it
  // ended), or not: then only what was handed over is logged, and a message
  // not tried, or refused and not tried again, is left out for /resume.
  enum class Front { kJudged, kUnjudged };

  using Outcomes = std::vector<std::pair<const OutgoingMessage*, MailResult>>;

  static const MailResult* OutcomeOf(const PendingRecord& record, const Outcomes& outcomes) {
    if (!record.message) return nullptr;
    const auto found = std::find_if(outcomes.begin(), outcomes.end(), [&](const auto& outcome) {
      return outcome.first == &*record.message;
    });
    return found == outcomes.end() ? nullptr : &found->second;
  }

  // The run stopped with the record in front: the messages already handed to
  // the server behind it get their outcomes logged (and journaled) in order,
  // the records between them too, and the line saying the run stopped comes
  // last. A judged record and nothing handed over: the stop line ends the
  // record's block.
  BatchOutcome Settle(MailTransport& transport, Front front) {
    const Outcomes outcomes = transport.Settle();
    if (front == Front::kJudged && outcomes.empty()) {
      pending_.front().block.Stopped(progress_.stop_reason);
      Finish(pending_.front());
      return BatchOutcome::kStoppedEarly;
    }
    if (front == Front::kJudged) {
      if (!Finish(pending_.front())) return BatchOutcome::kStoppedEarly;
      pending_.pop_front();
    } else if (!OutcomeOf(pending_.front(), outcomes)) {
      pending_.pop_front();
    }
    std::size_t settled = 0;
    for (PendingRecord& record : pending_) {
      if (settled == outcomes.size()) break;
      if (record.message) {
        const MailResult* result = OutcomeOf(record, outcomes);
        if (!result) break;
        ++settled;
        if (result->ok()) {
          Sent(record, result->message_id);
        } else {
          record.block.SendFailed(record.message->subject, CleanReason(result->reason, settings_));
          ++progress_.failed;
        }
      }
      if (!Finish(record)) return BatchOutcome::kStoppedEarly;
    }
    log_.Write(LogBlock().Stopped(progress_.stop_reason));
    return BatchOutcome::kStoppedEarly;
  }

  void Notice(const std::string& text) const {
    if (env_.notice) env_.notice(text);
  }

  // The journal's line saying that this run (or the run it resumes) starts
  // sending. False, with the run stopped in the log, when it cannot be
  // written: a run whose sending the journal cannot follow could not be
  // resumed without mailing some twice.
  bool WriteStartLine() {
    if (run_id_.empty()) run_id_ = NewRunId();
    JournalEntry start;
    start.scheme = scheme_;
    start.run_id = run_id_;
    start.list_path = journal_list_path_;
    std::string reason;
    if (!journal_.Append(start, &reason)) {
      return StopBeforeRecords(std::string(kJournalFileName) + " に書き込めません: " + reason);
    }
    return true;
  }

  // Every line of the list once, before the first record is sent: counts
  // the records by the run's own rules for the progress's total, notes a
  // line feed in any line and, for the journal, surveys the records so that
  // those that repeat a text get their occurrence counted (by both schemes
  // when the run to resume may be a pmj1 run), and shows each to `search`.
  // False when the list cannot be opened again: the total is then unknown.
  bool CountRecords(ResumeSearch* search, std::string* reason) {
    File list = OpenFile(list_path_, "rb", reason);
    if (!list) return false;
    const bool line_bytes = search != nullptr && search->NeedsLineBytes();
    LineReader reader(list.get());
    std::string line;
    std::size_t total = 0;
    if (reader.Next(&line)) {  // line 1: the mark
      while (reader.Next(&line)) {
        line_feeds_ = line_feeds_ || line.find('\n') != std::string::npos;
        const std::string_view record = RecordLine(line);
        if (record.empty()) continue;
        ++total;
        if (!env_.keep_journal) continue;
        records_.Survey(IdentityText(IdentityScheme::kRecordText, record, {}));
        if (line_bytes) line_byte_records_.Survey(reader.raw());
        if (search != nullptr) search->Record(record, reader.raw());
      }
    }
    // A read error ends the lines early: a total would then be short.
    if (std::ferror(list.get()) == 0) progress_.total = total;
    return true;
  }

  bool StopBeforeRecords(const std::string& reason) {
    progress_.stop_reason = BlankControls(reason);
    log_.Write(LogBlock().Stopped(progress_.stop_reason));
    return false;
  }

  // Reads one record and composes its message; what it needs is decided
  // later, in turn (Send, Finish).
  void Prepare(std::string_view line, std::string_view raw_line) {
    const RecipientRecord record = ParseRecord(line, table_);
    PendingRecord& pending = pending_.emplace_back();
    pending.block.Record(record);
    // Read in every case, even when the name or address is already empty.
    MessageTemplate message_template;
    const bool have_template =
        ReadTemplate(ResolveTemplatePath(record.template_name, env_.app_folder),
                     message_template.subject, message_template.body);
    if (env_.keep_journal) pending.identity = records_.Next(IdentityText(scheme_, line, raw_line));
    if (resume_.found() && resume_.WasSent(pending.identity)) {
      pending.block.SentBefore(have_template ? &message_template.subject : nullptr);
      pending.kind = PendingRecord::Kind::kSentBefore;
    } else if (std::optional<OutgoingMessage> message = ComposeMessage(
                   record, have_template ? &message_template : nullptr, table_, banner_)) {
      if (env_.keep_journal) message->message_key = MessageKey(run_id_, pending.identity);
      pending.message = std::move(message);
    } else {
      pending.block.Rejected();
      pending.kind = PendingRecord::Kind::kRejected;
    }
  }

  // The record's block goes to the log and the record counts as handled.
  // False when the block could not be logged.
  bool Finish(const PendingRecord& record) {
    ++progress_.records;
    if (record.kind == PendingRecord::Kind::kSentBefore) ++progress_.sent_before;
    if (record.kind == PendingRecord::Kind::kRejected) ++progress_.rejected;
    const bool logged = log_.Write(record.block);
    if (env_.progress) env_.progress(progress_);
    return logged;
  }

  // Tries the message until it goes, fails or stops the run, as the refusal
  // rules say, pacing every try. Without pacing the messages of the records
  // read ahead may go before this one's outcome is known; with it each
  // message waits for its time, and none goes ahead. False, with nothing
  // logged, when a person stopped the run during a wait before the message
  // went.
  bool Send(PendingRecord& record, MailTransport& transport) {
    const OutgoingMessage& message = *record.message;
    std::vector<const OutgoingMessage*> ahead;
    if (!pacer_.paced()) {
      for (std::size_t i = 1; i < pending_.size(); ++i) {
        if (pending_[i].message) ahead.push_back(&*pending_[i].message);
      }
    }
    refusals_.StartRecord();
    for (;;) {
      if (!Pace()) return false;
      const MailResult result = transport.SendAhead(message, ahead);
      const SendStep step = refusals_.Judge(result);
      switch (step.action) {
        case SendStep::Action::kSent:
          Sent(record, result.message_id);
          return true;
        case SendStep::Action::kTryAgain:
          Pause(step, result);
          if (StopAsked()) return false;
          continue;
        case SendStep::Action::kFail:
        case SendStep::Action::kStop:
          record.block.SendFailed(message.subject, CleanReason(step.reason, settings_));
          ++progress_.failed;
          if (step.action == SendStep::Action::kStop) {
            Stop(CleanReason(step.stop_reason, settings_));
          }
          return true;
      }
    }
  }

  // The message went: the journal says so before the next outcome is taken.
  // A journal that cannot follow stops the run.
  void Sent(PendingRecord& record, const std::string& message_id) {
    record.block.Sent(record.message->subject);
    ++progress_.sent;
    if (!env_.keep_journal) return;
    JournalEntry sent;
    sent.kind = JournalEntry::Kind::kSent;
    sent.scheme = scheme_;
    sent.run_id = run_id_;
    sent.list_path = journal_list_path_;
    sent.record = record.identity;
    sent.message_id = message_id;
    std::string reason;
    if (!journal_.Append(sent, &reason) && !stopped_) {
      Stop(BlankControls(std::string(kJournalFileName) + " に書き込めません: " + reason));
    }
  }

  // The run stops after the record in hand (and the messages handed over
  // behind it: Settle).
  void Stop(const std::string& reason) {
    progress_.stop_reason = reason;
    stopped_ = true;
  }

  bool StopAsked() const { return env_.stop && env_.stop->requested(); }

  PaceClock::time_point Now() const { return env_.clock ? env_.clock() : PaceClock::now(); }

  void Sleep(std::chrono::nanoseconds length) const {
    if (StopAsked()) return;
    if (env_.sleep) {
      env_.sleep(length);
    } else {
      std::this_thread::sleep_for(length);
    }
  }

  // Keeps the gap "Send Rate" asks for; nothing at all without one. False
  // when a person stopped the run meanwhile: nothing may start then.
  bool Pace() {
    if (!pacer_.paced()) return true;
    const std::chrono::nanoseconds wait = pacer_.WaitAt(Now());
    if (wait.count() > 0) {
      if (env_.waiting) {
        BatchWait pacing;
        pacing.length = std::chrono::ceil<std::chrono::milliseconds>(wait);
        env_.waiting(pacing);
      }
      Sleep(wait);
      if (StopAsked()) return false;
    }
    pacer_.Started(Now());
    return true;
  }

  void Pause(const SendStep& step, const MailResult& result) {
    BatchWait pause;
    pause.kind = step.back_off ? BatchWait::Kind::kBackOff : BatchWait::Kind::kRetry;
    pause.length = ScaledWait(step.pause, env_.tuning.wait_scale);
    pause.reply = CleanReason(result.reason, settings_);
    if (env_.waiting) env_.waiting(pause);
    Sleep(pause.length);
  }

  const BatchEnvironment& env_;
  Settings settings_;
  std::string banner_;
  KeywordTable table_;
  RunLog& log_;
  LineReader list_;
  std::string list_path_;
  BatchProgress progress_;
  Pacer pacer_;
  RefusalPolicy refusals_;
  JournalFile& journal_;
  std::string journal_list_path_;
  std::string run_id_;
  IdentityScheme scheme_ = IdentityScheme::kRecordText;  // the run's, or the resumed run's
  ResumePoint resume_;
  RecordCounter records_;              // the identities by the run's scheme
  RecordCounter line_byte_records_;    // by pmj1's, while the run to resume may be a pmj1 run
  bool line_feeds_ = false;            // a line of the list holds a line feed
  bool stopped_ = false;               // the run stops after the record in hand
  std::deque<PendingRecord> pending_;  // the record in hand first, then those read ahead
};

}  // namespace

BatchEnvironment DefaultBatchEnvironment(std::string app_folder, std::string list_path) {
  BatchEnvironment env;
  env.app_folder = std::move(app_folder);
  env.list_path = std::move(list_path);
  std::string settings_path = env.app_folder + std::string(kSettingsFileName);
  env.open_profile = [settings_path] { return OpenProfile(settings_path); };
  env.tuning = TransportTuningFromEnvironment();
  env.make_transport = [folder = env.app_folder, stamps = SystemMessageStamps(),
                        tuning = env.tuning](const Settings& settings, std::string* reason) {
    return MakeTransport(settings, folder, stamps, tuning, reason);
  };
  env.now = LocalTimestamp;
  env.clock = [] { return PaceClock::now(); };
  env.stop = std::make_shared<StopRequest>();
  env.sleep = [stop = env.stop](std::chrono::nanoseconds length) { stop->Wait(length); };
  env.keep_journal = std::getenv("PINEMAIL_BENCH_NO_JOURNAL") == nullptr;
  return env;
}

TransportTuning TransportTuningFromEnvironment() {
  TransportTuning tuning;
  if (const char* scale = std::getenv("PINEMAIL_SMTP_TIMEOUT_SCALE")) {
    tuning.wait_scale = ParseWaitScale(scale);
  }
  for (const char* name : {"PINEMAIL_CA_FILE", "CURL_CA_BUNDLE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      tuning.ca_file = value;
      break;
    }
  }
  return tuning;
}

BatchOutcome RunBatch(const BatchEnvironment& env, BatchProgress* totals) {
  Settings settings = LoadRunSettings(env);
  WarnOfReadableSecrets(env, settings);
  std::string log_path = env.app_folder + std::string(kLogFileName);
  std::string list_path = ResolvePath(env.list_path, env.app_folder);

  // Both opens are tried, so that the warning names every file at fault.
  std::vector<OpenFailure> failures;
  RunLog log;
  OpenFailure log_failure;
  if (!log.Open(log_path, &log_failure)) failures.push_back(std::move(log_failure));
  File list = OpenList(list_path, failures);
  // The journal belongs to the run holding the log: it is opened once the
  // log and the list are, so that a run finding the log in use names the
  // log alone and a failed run leaves no journal behind.
  JournalFile journal;
  if (env.keep_journal && failures.empty()) {
    OpenJournal(env.app_folder + std::string(kJournalFileName), journal, failures);
  }
  if (!failures.empty()) {
    if (env.warn) env.warn(failures);
    if (totals) *totals = BatchProgress{};
    return BatchOutcome::kStoppedEarly;
  }

  BatchRun run(env, std::move(settings), log, list.get(), list_path, journal);
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
