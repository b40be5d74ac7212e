// The Windows entry point: decides between the batch run and the help, and
// hands back the exit status.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "app/start_up_switches.h"
#include "app/terminal_progress.h"
#include "app/window_progress.h"
#include "batch/exit_status.h"
#include "batch/progress_line.h"
#include "batch/run_batch.h"
#include "batch/run_log.h"
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

// The list's file name as the file system spells it: the command text that
// names it is upper-cased.
std::string ShownListName(const std::string& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Utf8ToWide(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return path;
  FindClose(search);
  return WideToUtf8(found.cFileName);
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

// Keeps the sign-on's failure for the box at the end of a check or a test.
void NoteSignOnFailure(BatchEnvironment& env, std::string* kept) {
  env.sign_on_failed = [kept, shown = env.sign_on_failed](const std::string& reason) {
    *kept = std::string(kSignOnFailedLine);
    if (!reason.empty()) *kept += "(" + reason + ")";
    if (shown) shown(reason);
  };
}

// A check, a test or a preview on a desktop, with neither a console nor
// /quiet: a preview that wrote its messages opens their folder in Explorer;
// anything else ends with its summary (or why it stopped) in a box.
void ShowDryRunEnd(BatchOutcome outcome, const BatchProgress& totals,
                   const std::vector<std::string>& end_lines, const std::string& sign_on_failure,
                   const std::string& log_path) {
  if (!totals.preview_folder.empty() && outcome != BatchOutcome::kStoppedEarly &&
      OpenBrowser(totals.preview_folder)) {
    return;
  }
  std::string text;
  for (const std::string& line : end_lines) text += line + "\r\n";
  if (end_lines.empty()) {
    const SummaryParts parts = SummaryLineParts(outcome, totals, {}, log_path);
    text = parts.outcome + "\r\n";
    if (!sign_on_failure.empty()) text += sign_on_failure + "\r\n";
    if (!parts.stop_line.empty()) text += parts.stop_line + "\r\n";
    text += parts.log;
  }
  ShowBox(text, outcome == BatchOutcome::kAllSent ? MB_ICONINFORMATION : MB_ICONWARNING);
}

// A batch run started from a command prompt shows its progress on the
// prompt's console; started otherwise (a dropped list, a shortcut) in the
// progress window, where a person can see the desktop. /quiet shows neither.
// No window is needed for sending: where none can be made (no desktop), the
// run goes on without it.
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
  const TerminalKind terminal = decision.quiet ? TerminalKind::kNone : OpenTerminal();
  TerminalProgress shown(terminal);
  BatchEnvironment env = DefaultBatchEnvironment(input.app_folder, decision.list_path,
                                                 TransportTuningFromEnvironment());
  env.warn = ShowOpenFailure;
  env.resume = decision.resume;
  env.start_at = decision.start_at;
  env.kind = decision.kind;
  env.test_address = decision.test_address;
  ApplyStartUpSwitches(env);
  const bool on_desktop = !decision.quiet && terminal == TerminalKind::kNone;
  WindowProgress window;
  if (on_desktop && decision.kind == RunKind::kSend)
    window.Open(ShownListName(decision.list_path), env.stop);
  shown.Attach(env);
  window.Attach(env);
  std::string sign_on_failure;
  if (on_desktop) NoteSignOnFailure(env, &sign_on_failure);
  BatchProgress totals;
  const BatchOutcome outcome = RunBatch(env, &totals);
  // RunBatch has closed the log and the journal by now.
  const std::string log_path = input.app_folder + std::string(kLogFileName);
  const std::vector<std::string> end_lines =
      DryRunEndLines(decision.kind, outcome, totals, log_path, totals.preview_folder);
  shown.Finish(outcome, totals, log_path, end_lines);
  window.Finish(outcome, totals, log_path);
  if (on_desktop && decision.kind != RunKind::kSend) {
    ShowDryRunEnd(outcome, totals, end_lines, sign_on_failure, log_path);
  }
  return ExitStatus(outcome);
}

}  // namespace
}  // namespace pinemail

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return pinemail::Run(); }
