// The Windows entry point: decides between the batch run and the help, and
// hands back the exit status.
#include <windows.h>

#include <string>
#include <thread>

#include "app/terminal_progress.h"
#include "batch/exit_status.h"
#include "batch/run_batch.h"
#include "config/product.h"
#include "config/startup.h"
#include "mail/signon/oauth.h"
#include "mail/signon/signin.h"
#include "text/browser_opener.h"
#include "text/wide_win32.h"
#include "ui/terminal.h"
#include "ui/ui.h"

namespace pinemail {
namespace {

// Text for a person at the console of the command prompt this program was
// started from (none when it was started from Explorer).
void WriteConsoleText(const std::string& utf8) {
  static const bool console = OpenTerminal() != TerminalKind::kNone;
  if (console) WriteTerminal(utf8);
}

void ShowBox(const std::string& text, UINT icon) {
  MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(kWarningTitle).c_str(),
              MB_OK | icon | MB_SETFOREGROUND);
}

// `/signin`: the address and the code in a message box (on a thread of its
// own, so that polling goes on while it is open) and on the console, and the
// browser opened; then the outcome in a box.
int SignInWithWindow(const std::string& app_folder) {
  SignInIo io;
  io.show = [](const std::string& url, const std::string& code) {
    const std::string text =
        code.empty()
            ? "ブラウザで次のページを開いてサインインしてください:\r\n" + url
            : "ブラウザで次のページを開き、コード " + code + " を入力してください:\r\n" + url;
    WriteConsoleText(text + "\n");
    std::thread([text] { ShowBox(text, MB_ICONINFORMATION); }).detach();
  };
  io.open_browser = [](const std::string& url) { OpenBrowser(url); };
  io.sleep = [](std::chrono::seconds length) { std::this_thread::sleep_for(length); };
  std::string reason;
  const bool ok = SignIn(app_folder + std::string(kSettingsFileName), io,
                         HttpsOAuthPoster(TransportTuningFromEnvironment().ca_file), &reason);
  const std::string text =
      ok ? "サインインしました。リフレッシュトークンを設定ファイルに保存しました。"
         : "サインインできませんでした。(" + reason + ")";
  WriteConsoleText(text + "\n");
  ShowBox(text, ok ? MB_ICONINFORMATION : MB_ICONWARNING);
  return ExitStatus(ok ? BatchOutcome::kAllSent : BatchOutcome::kStoppedEarly);
}

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
  if (decision.mode == StartMode::kSignIn) return SignInWithWindow(input.app_folder);
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
