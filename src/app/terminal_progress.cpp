// The progress line of a terminal run: redrawn on every change of state (a
// record done, a wait begun or over) but at most a few times a second, and
// every second while the run waits, so that a slow run never looks stuck.
#include "app/terminal_progress.h"

#include <thread>
#include <vector>

#include "batch/dry_runs.h"
#include "batch/run_log.h"

namespace pinemail {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kRedrawEvery{250};
// A dumb terminal gets a plain line at most this often.
constexpr milliseconds kDumbLineEvery{10000};
// A wait at least this long is worth a drawing of its own.
constexpr milliseconds kShownWait{500};

}  // namespace

std::vector<std::string> DryRunEndLines(RunKind kind, BatchOutcome outcome,
                                        const BatchProgress& totals, const std::string& log_path,
                                        const std::string& preview_folder) {
  if (kind == RunKind::kSend || outcome == BatchOutcome::kStoppedEarly) return {};
  if (kind == RunKind::kPreview) {
    return PreviewSummaryLines(totals.sent, totals.rejected + totals.failed, preview_folder);
  }
  std::vector<std::string> lines = totals.summary;
  lines.push_back("ログ: " + log_path);
  return lines;
}

TerminalProgress::TerminalProgress(TerminalKind kind) : kind_(kind), started_(PaceClock::now()) {}

void TerminalProgress::Attach(BatchEnvironment& env) {
  if (kind_ == TerminalKind::kNone) return;
  if (env.warn) {
    env.warn = [this, warn = env.warn](const std::vector<OpenFailure>& failures) {
      ClearLine();  // the warning's lines take the progress line's place
      warn(failures);
    };
  }
  env.sign_on_failed = [this](const std::string& reason) {
    std::string line(kSignOnFailedLine);
    if (!reason.empty()) line += "(" + reason + ")";
    Line(line);
  };
  env.notice = [this](const std::string& text) { Line(text); };
  env.caution = env.notice;
  env.progress = [this](const BatchProgress& progress) {
    meter_.Update(progress, PaceClock::now());
    Draw(false);
  };
  env.waiting = [this](const BatchWait& wait) {
    meter_.StartWait(wait, PaceClock::now());
    Draw(wait.kind != BatchWait::Kind::kPacing || wait.length >= kShownWait);
  };
  env.sleep = [this](std::chrono::nanoseconds length) { SleepShowing(length); };
}

void TerminalProgress::SleepShowing(std::chrono::nanoseconds length) {
  const PaceClock::time_point end = PaceClock::now() + length;
  for (PaceClock::time_point now = PaceClock::now(); now < end; now = PaceClock::now()) {
    // Wakes when the count-down shows one second less.
    const auto left = end - now;
    const auto into_second = left % std::chrono::seconds{1};
    std::this_thread::sleep_for(into_second.count() > 0 ? into_second : std::chrono::seconds{1});
    if (PaceClock::now() < end) Draw(true);
  }
  const bool was_shown = length >= kShownWait;
  meter_.EndWait();
  Draw(was_shown);
}

void TerminalProgress::Draw(bool force) {
  const PaceClock::time_point now = PaceClock::now();
  const bool dumb = kind_ == TerminalKind::kDumb;
  const milliseconds every = dumb ? kDumbLineEvery : kRedrawEvery;
  if (drawn_once_ && now - drawn_at_ < every && (dumb || !force)) return;
  const std::string text = ProgressLineText(meter_.View(now), TerminalColumns());
  if (text == drawn_ && line_shown_) return;
  drawn_once_ = true;
  drawn_at_ = now;
  drawn_ = text;
  if (dumb) {
    WriteTerminal(text + "\n");
    return;
  }
  RedrawTerminalLine(text);
  line_shown_ = true;
}

void TerminalProgress::ClearLine() {
  if (line_shown_) ClearTerminalLine();
  line_shown_ = false;
}

void TerminalProgress::Line(const std::string& text) {
  ClearLine();
  WriteTerminal(text + "\n");
}

void TerminalProgress::Finish(BatchOutcome outcome, const BatchProgress& totals,
                              const std::string& log_path,
                              const std::vector<std::string>& end_lines) {
  if (kind_ == TerminalKind::kNone) return;
  if (!end_lines.empty()) {
    ClearLine();
    for (const std::string& line : end_lines) WriteTerminal(line + "\n");
    return;
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(PaceClock::now() - started_);
  Line(SummaryText(outcome, totals, elapsed, log_path));
}

}  // namespace pinemail
