// Shows a batch run to a person at a terminal: the progress line redrawn in
// place, the lines about sign-on and the journal, and the summary at the end.
// Shared by the entry points of both platforms.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "batch/pacing.h"
#include "batch/progress_line.h"
#include "batch/run_batch.h"
#include "ui/terminal.h"

namespace pinemail {

// What a check, a test or a preview tells a person at its end, one line
// each: a check's or a test's summary, what the check found and the log's
// path; a preview's count and folder. Paths as they are to be shown. Empty
// for a run that sends and for one that stopped early, whose own summary
// says why.
std::vector<std::string> DryRunEndLines(RunKind kind, BatchOutcome outcome,
                                        const BatchProgress& totals, const std::string& log_path,
                                        const std::string& preview_folder);

class TerminalProgress {
 public:
  explicit TerminalProgress(TerminalKind kind);

  // Points the run's callbacks (progress, waits, notices, sign-on failure)
  // and its sleep here; leaves `env` as it is when there is no terminal.
  void Attach(BatchEnvironment& env);

  // The summary with the log's path as it is to be shown; `end_lines`, when
  // there are any (DryRunEndLines), in its place.
  void Finish(BatchOutcome outcome, const BatchProgress& totals, const std::string& log_path,
              const std::vector<std::string>& end_lines = {});

 private:
  // Draws the line now when `force`, else when the last drawing is old
  // enough (a few times a second; a dumb terminal a line now and then).
  void Draw(bool force);
  // Takes the progress line off the screen until the next drawing.
  void ClearLine();
  // A line of its own; the progress line comes back at the next drawing.
  void Line(const std::string& text);
  // Sleeps through a wait, drawing the count-down every second.
  void SleepShowing(std::chrono::nanoseconds length);

  TerminalKind kind_;
  PaceClock::time_point started_;
  PaceClock::time_point drawn_at_{};
  bool drawn_once_ = false;
  bool line_shown_ = false;  // the progress line is on the screen
  std::string drawn_;        // what it shows
  ProgressMeter meter_;
};

}  // namespace pinemail
