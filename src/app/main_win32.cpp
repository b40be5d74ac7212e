// The Windows entry point: decides between the batch run and the help, and
// turns the outcome into the exit status.
#include <windows.h>

#include "config/startup.h"
#include "batch/run_batch.h"
#include "ui/ui.h"

namespace pinemail {
namespace {

int ExitStatus(BatchOutcome outcome) {
  switch (outcome) {
    case BatchOutcome::kAllSent:
      return 0;
    case BatchOutcome::kSomeNotSent:
      return 1;
    case BatchOutcome::kStoppedEarly:
      return 2;
  }
  return 2;
}

// A batch run creates no window: under Task Scheduler there may be no
// desktop, and nothing in the run needs one. Only the open-failure warning
// reaches the screen.
int Run() {
  // Keep the current folder out of the DLL search: a program started by
  // dropping a list on it runs with the list's folder as current folder.
  SetDllDirectoryW(L"");

  StartInput input = NativeStartInput(0, nullptr);
  StartDecision decision = DecideStart(input, NativeFileSystem());
  switch (decision.mode) {
    case StartMode::kHelpAsked:
      ShowHelp();
      return 0;
    case StartMode::kListMissing:
      // A mistyped path in a scheduled task must not look like success.
      ShowHelp();
      return 2;
    case StartMode::kBatch:
      break;
  }
  BatchEnvironment env = DefaultBatchEnvironment(input.app_folder, decision.list_path);
  env.warn = ShowOpenFailure;
  return ExitStatus(RunBatch(env));
}

}  // namespace
}  // namespace pinemail

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return pinemail::Run(); }
