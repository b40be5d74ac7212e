// Shows a batch run in the progress window (Windows, no console): the run's
// callbacks feed a meter that the window reads on its own thread, the
// window's Stop asks the run to stop, and the summary shows once the run has
// closed its log and journal.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "batch/pacing.h"
#include "batch/progress_line.h"
#include "batch/run_batch.h"
#include "ui/progress_window.h"

namespace pinemail {

class WindowProgress {
 public:
  // Opens the window for the list `list_name` (a path shows its file name),
  // whose Stop asks `stop`; false, and nothing shown, where no window can be.
  bool Open(const std::string& list_name, std::shared_ptr<StopRequest> stop);

  // Points the run's callbacks (progress, waits, notices, sign-on failure,
  // the open-failure warning) here as well; leaves `env` as it is without a
  // window.
  void Attach(BatchEnvironment& env);

  // The summary, until the person closes the window or it closes itself.
  void Finish(BatchOutcome outcome, const BatchProgress& totals, const std::string& log_path);

 private:
  // What the window shows now; called on the window's thread.
  ProgressWindowView View();
  // A line of the run for the window; kept for the summary too when asked.
  void Note(const std::string& text, bool keep_for_summary);
  void Refresh();

  std::mutex mutex_;  // guards what the run's thread and the window's share below
  ProgressMeter meter_;
  std::string note_;            // the last notice of the run
  std::string sign_on_failed_;  // the sign-on's failure, for the summary
  bool sending_ = false;        // the run has counted the list and begun
  PaceClock::time_point started_ = PaceClock::now();
  // Last, so that it goes first: its thread ends before what it reads.
  std::unique_ptr<ProgressWindow> window_;
};

}  // namespace pinemail
