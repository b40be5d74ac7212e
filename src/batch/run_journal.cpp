// The run's journal over the journal file, and the null journal.
#include "batch/run_journal.h"

#include <optional>
#include <utility>
#include <vector>

namespace pinemail {
namespace {

class FileRunJournal : public RunJournal {
 public:
  FileRunJournal(JournalFile& file, const std::string& list_path,
                 std::function<void(const std::string&)> notice)
      : file_(file),
        list_name_("「" + FileNameOf(list_path) + "」"),
        list_path_(JournalListPath(list_path)),
        notice_(std::move(notice)) {}

  bool NeedsSurvey() const override { return true; }

  bool BeginSurvey(bool resume, std::string* stop) override {
    if (!resume) return true;
    JournalScan scan(list_path_);
    std::string reason;
    if (!file_.Read(&scan, &reason)) {
      *stop = std::string(kJournalFileName) + " を読めません: " + reason;
      return false;
    }
    std::vector<JournalRun> runs = scan.Finish();
    if (scan.bad_lines() > 0) {
      Notice(std::string(kJournalFileName) + ": 読めない行を " + std::to_string(scan.bad_lines()) +
             " 行飛ばしました (最初は " + std::to_string(scan.first_bad_line()) + " 行目)");
    }
    search_.emplace(std::move(runs));
    line_bytes_ = search_->NeedsLineBytes();
    return true;
  }

  // Every record is surveyed so that those that repeat a text get their
  // occurrence counted (by both schemes while the run to resume may be a
  // pmj1 run), and shown to the search for the run to resume.
  void Survey(std::string_view record, std::string_view line_bytes) override {
    records_.Survey(IdentityText(IdentityScheme::kRecordText, record, {}));
    if (line_bytes_) line_byte_records_.Survey(line_bytes);
    if (search_) search_->Record(record, line_bytes);
  }

  bool EndSurvey(std::string* stop) override { return !search_ || ChooseRun(stop); }

  bool Start(std::string* stop) override {
    if (run_id_.empty()) run_id_ = NewRunId();
    JournalEntry start;
    start.scheme = scheme_;
    start.run_id = run_id_;
    start.list_path = list_path_;
    return Append(start, stop);
  }

  RecordIdentity Identify(std::string_view record, std::string_view line_bytes) override {
    return records_.Next(IdentityText(scheme_, record, line_bytes));
  }

  bool SentBefore(const RecordIdentity& record) const override {
    return resume_.found() && resume_.WasSent(record);
  }

  std::string MessageKeyOf(const RecordIdentity& record) const override {
    return MessageKey(run_id_, record);
  }

  bool Sent(const RecordIdentity& record, const std::string& message_id, std::int64_t sent_at,
            std::string* stop) override {
    JournalEntry sent;
    sent.kind = JournalEntry::Kind::kSent;
    sent.scheme = scheme_;
    sent.run_id = run_id_;
    sent.list_path = list_path_;
    sent.record = record;
    sent.message_id = message_id;
    sent.sent_at = sent_at;
    return Append(sent, stop);
  }

  bool SentTimes(std::vector<std::int64_t>* times, std::string* stop) override {
    JournalScan scan(list_path_);
    std::string reason;
    if (!file_.Read(&scan, &reason)) {
      *stop = std::string(kJournalFileName) + " を読めません: " + reason;
      return false;
    }
    *times = scan.sent_times();
    return true;
  }

 private:
  // The run the journal names for this list, or the run stopped with the
  // reason: a `/resume` without a run to resume sends nothing, since sending
  // everyone would mail again all that the lost run sent.
  bool ChooseRun(std::string* stop) {
    resume_ = search_->Choose();
    switch (resume_.missing) {
      case ResumePoint::Missing::kNoRunOfList:
        *stop = "/resume: " + std::string(kJournalFileName) + " にリスト" + list_name_ +
                "の実行がありません";
        return false;
      case ResumePoint::Missing::kOtherRecords:
        *stop = "/resume: " + std::string(kJournalFileName) + " にあるリスト" + list_name_ +
                "の実行は、送った宛先がこのリストにありません";
        return false;
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

  bool Append(const JournalEntry& entry, std::string* stop) {
    std::string reason;
    if (file_.Append(entry, &reason)) return true;
    *stop = std::string(kJournalFileName) + " に書き込めません: " + reason;
    return false;
  }

  void Notice(const std::string& text) const {
    if (notice_) notice_(text);
  }

  JournalFile& file_;
  std::string list_name_;  // the list's file name as given, for the stop reasons
  std::string list_path_;  // as the journal names it
  std::function<void(const std::string&)> notice_;
  std::string run_id_;
  IdentityScheme scheme_ = IdentityScheme::kRecordText;  // the run's, or the resumed run's
  std::optional<ResumeSearch> search_;                   // `/resume` only
  ResumePoint resume_;
  bool line_bytes_ = false;          // the run to resume may be a pmj1 run
  RecordCounter records_;            // the identities by the run's scheme
  RecordCounter line_byte_records_;  // by pmj1's, while line_bytes_
};

class NullRunJournal : public RunJournal {
 public:
  bool NeedsSurvey() const override { return false; }
  bool BeginSurvey(bool, std::string*) override { return true; }
  void Survey(std::string_view, std::string_view) override {}
  bool EndSurvey(std::string*) override { return true; }
  bool Start(std::string*) override { return true; }
  RecordIdentity Identify(std::string_view, std::string_view) override { return {}; }
  bool SentBefore(const RecordIdentity&) const override { return false; }
  std::string MessageKeyOf(const RecordIdentity&) const override { return {}; }
  bool Sent(const RecordIdentity&, const std::string&, std::int64_t, std::string*) override {
    return true;
  }
  bool SentTimes(std::vector<std::int64_t>* times, std::string*) override {
    times->clear();
    return true;
  }
};

}  // namespace

std::unique_ptr<RunJournal> MakeFileRunJournal(JournalFile& file, const std::string& list_path,
                                               std::function<void(const std::string&)> notice) {
  return std::make_unique<FileRunJournal>(file, list_path, std::move(notice));
}

std::unique_ptr<RunJournal> MakeNullRunJournal() { return std::make_unique<NullRunJournal>(); }

}  // namespace pinemail
