// The progress of a run as a person at a terminal sees it: one line with
// the records done of the list's total, the counts, the rate, the time left
// and why the run waits, made to fit the terminal's width; and the summary.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "batch/pacing.h"
#include "batch/run_batch.h"

namespace pinemail {

// What the line shows at one moment.
struct ProgressView {
  BatchProgress counts;
  std::optional<double> per_minute;               // records handled per minute
  std::optional<std::chrono::seconds> time_left;  // until the end of the list
  std::optional<BatchWait::Kind> wait;            // the wait in hand
  std::chrono::seconds wait_left{};               // what is left of it
  std::string reply;                              // the server's refusal behind a retry
  std::string until;                              // when a wait for a time ends, "H:MM"
};

// Follows a run's progress and waits by the monotonic clock and works out
// the rate and the time left. The rate is measured over the last records
// handled (those skipped on a resume take no time and do not count); the
// time left is the records left at that rate, never less than the records
// left times the pacing's gap, plus what is left of a retry's pause.
class ProgressMeter {
 public:
  // The counts after a record (or before the first one).
  void Update(const BatchProgress& progress, PaceClock::time_point now);
  // A wait starts at `now`; it lasts until EndWait.
  void StartWait(const BatchWait& wait, PaceClock::time_point now);
  void EndWait() { wait_.reset(); }
  bool waiting() const { return wait_.has_value(); }

  ProgressView View(PaceClock::time_point now) const;

 private:
  static constexpr std::size_t kWindow = 20;  // records the rate is measured over

  std::optional<double> PerMinute() const;

  BatchProgress progress_;
  std::size_t handled_ = 0;                 // records handled and not skipped
  std::deque<PaceClock::time_point> done_;  // when the last of them were done
  std::optional<BatchWait> wait_;
  PaceClock::time_point wait_end_{};
};

// A duration as "9 秒", "8 分 12 秒", "2 時間 5 分"; compact, rounded up to
// the unit shown: "9秒", "9分", "2時間5分".
std::string DurationText(std::chrono::seconds length, bool compact = false);

// The parts of the line's full form, in its order; each empty when there is
// nothing to show (no rate measured yet, no wait). A window shows them on
// lines of their own.
struct ProgressParts {
  std::string counts;     // "12/500 件処理　送信 10　不備 1　送信失敗 1"
  std::string rate;       // "20 通/分"
  std::string time_left;  // "残り 8 分 12 秒"
  std::string wait;  // "次の送信まで 3 秒", "40 秒後にもう一度送ります: " + the reply
};
ProgressParts ProgressLineParts(const ProgressView& view);

// The progress line, at most `columns` - 1 columns wide so that the terminal
// never wraps it (a full-width character takes two). The full form when it
// fits (a server's reply cut to fit), else the short form
// "12/500 送信12 残り3分", its least useful parts dropped until it fits.
// Control characters of the server's reply are shown as blanks.
std::string ProgressLineText(const ProgressView& view, std::size_t columns);

// The parts of the summary, as SummaryText joins them.
struct SummaryParts {
  std::string outcome;    // "完了", or "中断しました" when the run stopped early
  std::string counts;     // as the progress line's
  std::string elapsed;    // "経過 3 分 5 秒"
  std::string log;        // "ログ: " and the log's path
  std::string stop_line;  // "送信を中断しました。(reason)"; empty without a reason
};
SummaryParts SummaryLineParts(BatchOutcome outcome, const BatchProgress& totals,
                              std::chrono::seconds elapsed, const std::string& log_path);

// The line at the end of a terminal run: how it ended, the counts, the time
// it took and the log's path, and the reason on a line of its own when the
// run was stopped.
std::string SummaryText(BatchOutcome outcome, const BatchProgress& totals,
                        std::chrono::seconds elapsed, const std::string& log_path);

}  // namespace pinemail
