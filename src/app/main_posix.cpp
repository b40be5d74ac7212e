// The POSIX entry point: decides between the help and a batch run, shows a
// person at a terminal how the run goes, and hands back the exit status.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/start_up_switches.h"
#include "app/terminal_progress.h"
#include "batch/exit_status.h"
#include "batch/run_batch.h"
#include "config/product.h"
#include "config/startup.h"
#include "mail/signon/oauth.h"
#include "mail/signon/signin.h"
#include "text/browser_opener.h"
#include "text/codepage.h"
#include "ui/terminal.h"
#include "ui/ui.h"

namespace {

using pinemail::BatchOutcome;
using pinemail::BatchProgress;

void PrintError(const std::string& utf8) {
  std::string bytes = pinemail::EncodeSystemText(utf8);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

// A preview's folder is opened on a desktop, for a person at its terminal.
void OpenPreview(const BatchProgress& totals) {
  if (totals.preview_folder.empty() || isatty(fileno(stderr)) == 0) return;
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) return;
  pinemail::OpenBrowser(totals.preview_folder);
}

BatchOutcome RunBatchFromTerminal(const pinemail::StartDecision& decision,
                                  const std::string& app_folder) {
  // Progress and summary go to a person only; scheduled runs stay quiet, and
  // so does a run asked to be (--quiet).
  pinemail::TerminalProgress shown(decision.quiet ? pinemail::TerminalKind::kNone
                                                  : pinemail::OpenTerminal());
  pinemail::BatchEnvironment env = pinemail::DefaultBatchEnvironment(
      app_folder, decision.list_path, pinemail::TransportTuningFromEnvironment());
  env.warn = pinemail::ShowOpenFailure;
  env.resume = decision.resume;
  env.start_at = decision.start_at;
  env.kind = decision.kind;
  env.test_address = decision.test_address;
  pinemail::ApplyStartUpSwitches(env);
  shown.Attach(env);
  BatchProgress totals;
  BatchOutcome outcome = pinemail::RunBatch(env, &totals);
  // Paths are bytes here; they are decoded only to be shown.
  const std::string log_path =
      pinemail::DecodeSystemText(app_folder + std::string(pinemail::kLogFileName));
  const std::string preview_folder = pinemail::DecodeSystemText(totals.preview_folder);
  shown.Finish(outcome, totals, log_path,
               pinemail::DryRunEndLines(decision.kind, outcome, totals, log_path, preview_folder));
  if (!decision.quiet && outcome != BatchOutcome::kStoppedEarly) OpenPreview(totals);
  return outcome;
}

// The home made ready, or the open-failure warning naming it. Help asked for
// needs no home, so nothing is created for it.
bool HomeIsReady(const pinemail::StartInput& input) {
  std::string reason;
  if (pinemail::PrepareHome({input.home, input.app_folder}, &reason)) return true;
  std::string folder = input.app_folder;
  if (folder.size() > 1) folder.pop_back();
  pinemail::ShowOpenFailure({{folder, reason}});
  return false;
}

// A user of an installed program learns where its files are.
void AnnounceConfigHome(const pinemail::StartInput& input) {
  if (input.home != pinemail::HomeKind::kConfigHome || isatty(fileno(stderr)) == 0) return;
  std::string folder = input.app_folder;
  folder.pop_back();
  PrintError("ホームフォルダ: " + pinemail::DecodeSystemText(folder) + "\n");
}

// `--signin`: the address and code on the terminal, the browser opened.
int SignInFromTerminal(const std::string& app_folder) {
  pinemail::SignInIo io;
  io.show = [](const std::string& url, const std::string& code) {
    std::string text =
        code.empty()
            ? "ブラウザで次のページを開いてサインインしてください:\n  " + url
            : "ブラウザで次のページを開き、コード " + code + " を入力してください:\n  " + url;
    text = pinemail::EncodeSystemText(text + "\n");
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  };
  io.open_browser = [](const std::string& url) { pinemail::OpenBrowser(url); };
  io.sleep = [](std::chrono::seconds length) { std::this_thread::sleep_for(length); };
  std::string reason;
  const pinemail::OAuthPoster post =
      pinemail::HttpsOAuthPoster(pinemail::TransportTuningFromEnvironment().ca_file);
  if (pinemail::SignIn(app_folder + std::string(pinemail::kSettingsFileName), io, post, &reason)) {
    PrintError("サインインしました。リフレッシュトークンを設定ファイルに保存しました。\n");
    return pinemail::ExitStatus(BatchOutcome::kAllSent);
  }
  PrintError("サインインできませんでした。(" + reason + ")\n");
  return pinemail::ExitStatus(BatchOutcome::kStoppedEarly);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  pinemail::StartInput input = pinemail::NativeStartInput(argc, argv);
  pinemail::StartDecision decision = pinemail::DecideStart(input, pinemail::NativeFileSystem());
  if (decision.mode != pinemail::StartMode::kHelpAsked && !HomeIsReady(input)) {
    return pinemail::ExitStatus(BatchOutcome::kStoppedEarly);
  }
  if (decision.mode == pinemail::StartMode::kSignIn) return SignInFromTerminal(input.app_folder);
  if (decision.mode == pinemail::StartMode::kBatch) {
    if (!decision.quiet) AnnounceConfigHome(input);
    return pinemail::ExitStatus(RunBatchFromTerminal(decision, input.app_folder));
  }
  if (decision.mode == pinemail::StartMode::kListMissing) {
    // A mistyped path in a scheduled task must leave a trace and fail.
    // Paths are bytes here; they are decoded only to be shown.
    PrintError("指定ファイルが見つかりません: " + pinemail::DecodeSystemText(decision.list_path) +
               "\n");
  }
  pinemail::ShowHelp();
  return pinemail::HelpExitStatus(decision.mode);
}
