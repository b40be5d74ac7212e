// The Windows entry point: decides between the batch run and the help, and
// hands back the exit status.
#include <windows.h>

#include <string>

#include "app/terminal_progress.h"
#include "batch/exit_status.h"
#include "batch/run_batch.h"
#include "config/product.h"
#include "config/startup.h"
#include "ui/terminal.h"
#include "ui/ui.h"

namespace pinemail {
namespace {

// A batch run creates no window: under Task Scheduler there may be no
// desktop, and nothing in the run needs one. Only the open-failure warning
// reaches the screen, and the progress when a console started the program.
int Run() {
  // Keep the current folder out of the DLL search: a program started by
  // dropping a list on it runs with the list's folder as current folder.
  SetDllDirectoryW(L"");

  StartInput input = NativeStartInput(0, nullptr);
  StartDecision decision = DecideStart(input, NativeFileSystem());
  // A named home that cannot be made or is no folder: the open-failure
  // warning. Help asked for needs no home.
  std::string reason;
  if (decision.mode != StartMode::kHelpAsked &&
      !PrepareHome({input.home, input.app_folder}, &reason)) {
    ShowOpenFailure({{input.app_folder, reason}});
    return ExitStatus(BatchOutcome::kStoppedEarly);
  }
  if (decision.mode != StartMode::kBatch) {
    ShowHelp();
    return HelpExitStatus(decision.mode);
  }
  // Started from a command prompt, the run shows its progress on the
  // prompt's console; started otherwise, it shows nothing.
  TerminalProgress shown(OpenTerminal());
  BatchEnvironment env = DefaultBatchEnvironment(input.app_folder, decision.list_path);
  env.warn = ShowOpenFailure;
  env.resume = decision.resume;
  shown.Attach(env);
  BatchProgress totals;
  const BatchOutcome outcome = RunBatch(env, &totals);
  shown.Finish(outcome, totals, input.app_folder + std::string(kLogFileName));
  return ExitStatus(outcome);
}

}  // namespace
}  // namespace pinemail

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return pinemail::Run(); }
