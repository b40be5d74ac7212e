// The run's log blocks and progress counts.
#include "batch/run_report.h"

#include "text/utf8.h"

namespace pinemail {

void RunReport::Show() const {
  if (env_.progress) env_.progress(progress_);
}

void RunReport::Notice(const std::string& text) const {
  if (env_.notice) env_.notice(text);
}

bool RunReport::Write(const LogBlock& block) {
  // A preview writes nothing into the log (it holds it all the same, so
  // that no run or other preview works beside it).
  return env_.kind == RunKind::kPreview || log_.Write(block);
}

bool RunReport::Finish(const PendingRecord& record) {
  ++progress_.records;
  if (record.sent_before()) ++progress_.sent_before;
  if (record.rejected()) ++progress_.rejected;
  // A check logs only the records that would not go.
  const bool logged =
      (env_.kind == RunKind::kCheck && !record.rejected() && !record.failed) || Write(record.block);
  Show();
  return logged;
}

void RunReport::Sent(PendingRecord& record) {
  record.block.Sent(record.message()->subject);
  ++progress_.sent;
}

void RunReport::Failed(PendingRecord& record, const std::string& reason) {
  record.block.SendFailed(record.message()->subject, reason);
  record.failed = true;
  ++progress_.failed;
}

bool RunReport::StopBeforeRecords(const std::string& reason) {
  progress_.stop_reason = BlankControls(reason);
  Write(LogBlock().Stopped(progress_.stop_reason));
  return false;
}

BatchOutcome RunReport::EndOfList() const {
  return progress_.rejected + progress_.failed == 0 ? BatchOutcome::kAllSent
                                                    : BatchOutcome::kSomeNotSent;
}

}  // namespace pinemail
