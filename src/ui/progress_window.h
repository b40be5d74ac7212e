// The progress window of a batch run started without a console (a list
// dropped on the program, a shortcut): the list's name, a bar, the progress
// line's parts on lines of their own and a Stop button; at the end the
// summary, with buttons that open the log and close the window. It lives on a
// thread of its own, so that a slow server never freezes it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pinemail {

// The window's controls in creation order; a control's id is
// kProgressControlIdBase plus its value.
enum class ProgressControl {
  kList,     // the list's name
  kBar,      // records done of the list's total
  kCounts,   // the counts; at the end how the run ended and the counts
  kTimes,    // the rate and the time left; at the end the time it took
  kWait,     // why the run waits; at the end why it stopped
  kNote,     // a notice of the run (the journal, /resume); at the end the log's path
  kStop,     // "中止"
  kOpenLog,  // at the end: opens the log
  kClose,    // at the end: closes the window
};
inline constexpr int kProgressControlIdBase = 2001;
inline constexpr std::string_view kProgressWindowClass = "pinemailProgress";
inline constexpr std::string_view kStopButtonText = "中止";
// The summary closes itself after this long, so that a run never waits for a
// person to end.
inline constexpr std::chrono::minutes kSummaryShownFor{10};

// What the window shows while the run goes on.
struct ProgressWindowView {
  std::size_t done = 0;              // records handled
  std::optional<std::size_t> total;  // records in the list, when known
  std::string counts;
  std::string times;
  std::string wait;
  std::string note;
  bool paused = false;  // the server asked the run to wait: bar and taskbar show a pause
  bool failed = false;  // a record failed: bar and taskbar show an error from now on
};

// What it shows at the end.
struct ProgressWindowSummary {
  std::string counts;    // how the run ended and the counts
  std::string times;     // the time it took
  std::string reason;    // why it stopped, or nothing
  std::string log_line;  // the log's path as shown
  std::string log_path;  // the log, opened by the window's button
  bool trouble = false;  // stopped early or some record not sent: shown as an error
};

class ProgressWindow {
 public:
  // `view` is called on the window's thread whenever it redraws (after a
  // Refresh, and twice a second so that count-downs move); `stop` there too,
  // when the person asks the run to stop.
  struct Callbacks {
    std::function<ProgressWindowView()> view;
    std::function<void()> stop;
  };

  // Opens the window for the list `list_name` (hidden until the first
  // Refresh, or a moment later); null when no window can be shown here (no
  // display, a desktop nobody sees, a platform without this window).
  static std::unique_ptr<ProgressWindow> Open(const std::string& list_name, Callbacks callbacks);

  // Closes the window and ends its thread.
  virtual ~ProgressWindow() = default;

  // Shows the window, with the view read now. Any thread.
  virtual void Refresh() = 0;

  // Closes the window if it was not shown yet (a warning box is to take its
  // place) and says whether it did.
  virtual bool CloseIfHidden() = 0;

  // Shows the summary in place of the progress and returns once the person
  // closed the window, or after kSummaryShownFor.
  virtual void ShowSummaryUntilClosed(const ProgressWindowSummary& summary) = 0;
};

}  // namespace pinemail
