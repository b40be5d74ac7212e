// The progress window's side of a batch run: the meter behind a mutex, the
// window's view made of the progress line's parts and its summary of the
// terminal summary's.
#include "app/window_progress.h"

#include <thread>
#include <utility>
#include <vector>

#include "batch/run_log.h"

namespace pinemail {
namespace {

constexpr std::string_view kPreparingText = "送信の準備をしています…";

// The list's file name, without its folders.
std::string FileName(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Two parts on one line, as the progress line sets them apart.
std::string Joined(const std::string& first, const std::string& second) {
  if (first.empty() || second.empty()) return first + second;
  return first + "　" + second;
}

}  // namespace

bool WindowProgress::Open(const std::string& list_name, std::shared_ptr<StopRequest> stop) {
  ProgressWindow::Callbacks callbacks;
  callbacks.view = [this] { return View(); };
  callbacks.stop = [stop = std::move(stop)] {
    if (stop) stop->Request();
  };
  window_ = ProgressWindow::Open(FileName(list_name), std::move(callbacks));
  return window_ != nullptr;
}

void WindowProgress::Attach(BatchEnvironment& env) {
  if (!window_) return;
  // An open failure comes before the window shows: the warning box alone
  // then says what went wrong.
  env.warn = [this, warn = env.warn](const std::vector<OpenFailure>& failures) {
    if (window_ && window_->CloseIfHidden()) window_.reset();
    if (warn) warn(failures);
  };
  env.progress = [this](const BatchProgress& progress) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      meter_.Update(progress, PaceClock::now());
      sending_ = true;
    }
    Refresh();
  };
  env.waiting = [this](const BatchWait& wait) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      meter_.StartWait(wait, PaceClock::now());
    }
    Refresh();
  };
  env.sleep = [this, sleep = env.sleep](std::chrono::nanoseconds length) {
    if (sleep) {
      sleep(length);
    } else {
      std::this_thread::sleep_for(length);
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      meter_.EndWait();
    }
    Refresh();
  };
  env.notice = [this](const std::string& text) { Note(text, false); };
  env.sign_on_failed = [this](const std::string& reason) {
    std::string line(kSignOnFailedLine);
    if (!reason.empty()) line += "(" + reason + ")";
    Note(line, true);
  };
}

void WindowProgress::Note(const std::string& text, bool keep_for_summary) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    note_ = text;
    if (keep_for_summary) sign_on_failed_ = text;
  }
  Refresh();
}

void WindowProgress::Refresh() {
  if (window_) window_->Refresh();
}

ProgressWindowView WindowProgress::View() {
  const std::lock_guard<std::mutex> lock(mutex_);
  const ProgressView view = meter_.View(PaceClock::now());
  const ProgressParts parts = ProgressLineParts(view);
  ProgressWindowView shown;
  shown.done = view.counts.records;
  shown.total = view.counts.total;
  shown.counts = parts.counts;
  shown.times = Joined(parts.rate, parts.time_left);
  shown.wait = sending_ ? parts.wait : std::string(kPreparingText);
  shown.note = note_;
  // Pacing is the speed asked for; a pause is the server's doing.
  shown.paused = view.wait && *view.wait != BatchWait::Kind::kPacing;
  shown.failed = view.counts.failed > 0;
  return shown;
}

void WindowProgress::Finish(BatchOutcome outcome, const BatchProgress& totals,
                            const std::string& log_path) {
  if (!window_) return;
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(PaceClock::now() - started_);
  const SummaryParts parts = SummaryLineParts(outcome, totals, elapsed, log_path);
  ProgressWindowSummary summary;
  summary.counts = Joined(parts.outcome, parts.counts);
  summary.times = parts.elapsed;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    summary.reason = parts.stop_line.empty() ? sign_on_failed_ : parts.stop_line;
  }
  summary.log_line = parts.log;
  summary.log_path = log_path;
  summary.trouble = outcome != BatchOutcome::kAllSent;
  window_->ShowSummaryUntilClosed(summary);
  window_.reset();
}

}  // namespace pinemail
