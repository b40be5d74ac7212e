// What the run tells: the log's blocks and the progress for a person
// watching, with the counts of records sent, sent before, rejected and
// failed.
#pragma once

#include <string>

#include "batch/read_ahead.h"
#include "batch/run_batch.h"
#include "batch/run_log.h"

namespace pinemail {

class RunReport {
 public:
  RunReport(const BatchEnvironment& env, RunLog& log) : env_(env), log_(log) {}

  BatchProgress& progress() { return progress_; }
  const BatchProgress& progress() const { return progress_; }

  // False when the log could not be written: mail sent after that point
  // would leave no record of having been sent.
  bool Write(const LogBlock& block);
  // The progress as it stands, for a person watching.
  void Show() const;
  // A line for a person watching.
  void Notice(const std::string& text) const;

  // The record's block goes to the log and the record counts as handled.
  // False when the block could not be logged.
  bool Finish(const PendingRecord& record);
  // The record's message went; it failed, with the reason (cleaned).
  void Sent(PendingRecord& record);
  void Failed(PendingRecord& record, const std::string& reason);

  // The run stops before its records, for `reason`, said in the log.
  // Always false, for the step that stops.
  bool StopBeforeRecords(const std::string& reason);
  // The run ended at the end of the list.
  BatchOutcome EndOfList() const;

 private:
  const BatchEnvironment& env_;
  RunLog& log_;
  BatchProgress progress_;
};

}  // namespace pinemail
