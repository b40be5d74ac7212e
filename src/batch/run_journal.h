// The run's side of the journal: which run it continues, each record's
// identity and Message-ID key, and the lines saying what the run sent; or,
// when the run keeps no journal, a null journal that does none of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "batch/journal.h"
#include "batch/record_identity.h"

namespace pinemail {

// Every step but Identify and MessageKey returns false, with `stop` saying
// why in one line, when the run must stop before its records: a run whose
// sending the journal cannot follow could not be resumed without mailing
// some twice.
class RunJournal {
 public:
  virtual ~RunJournal() = default;

  // The list must be read through before sending: a list that cannot be
  // read again stops the run.
  virtual bool NeedsSurvey() const = 0;
  // Before the survey; `resume`: the run continues the journal's most
  // recent run of the list, whose runs are read now.
  virtual bool BeginSurvey(bool resume, std::string* stop) = 0;
  // Each record of the list, in order: its text and its line's bytes.
  virtual void Survey(std::string_view record, std::string_view line_bytes) = 0;
  // After the survey: chooses the run to resume, if asked to.
  virtual bool EndSurvey(std::string* stop) = 0;
  // The run (or the run it resumes) starts sending.
  virtual bool Start(std::string* stop) = 0;
  // Each record's identity, in list order, once sending has started.
  virtual RecordIdentity Identify(std::string_view record, std::string_view line_bytes) = 0;
  // True when the run resumed sent the record.
  virtual bool SentBefore(const RecordIdentity& record) const = 0;
  // The left part of the record's Message-ID; empty: the transport's own.
  virtual std::string MessageKeyOf(const RecordIdentity& record) const = 0;
  // The transport took the record's message at `sent_at` (JournalSeconds).
  virtual bool Sent(const RecordIdentity& record, const std::string& message_id,
                    std::int64_t sent_at, std::string* stop) = 0;
  // When the journal's messages went, of every run and list ("Daily Limit").
  virtual bool SentTimes(std::vector<std::int64_t>* times, std::string* stop) = 0;
};

// The journal in `file` (open) for the list at `list_path`; `notice` (may be
// empty) gets the lines for a person watching about skipped lines and the
// run resumed.
std::unique_ptr<RunJournal> MakeFileRunJournal(JournalFile& file, const std::string& list_path,
                                               std::function<void(const std::string&)> notice);

// A run without a journal (measuring only): nothing is read or written, no
// record was sent before, and the transports make their own Message-IDs.
std::unique_ptr<RunJournal> MakeNullRunJournal();

}  // namespace pinemail
