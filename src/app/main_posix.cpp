// The POSIX entry point: decides between the help and a batch run, shows a
// person at a terminal how the run goes, and hands back the exit status.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <thread>

#include "batch/exit_status.h"
#include "batch/run_batch.h"
#include "batch/run_log.h"
#include "config/product.h"
#include "config/startup.h"
#include "mail/loopback.h"
#include "mail/oauth.h"
#include "text/codepage.h"
#include "ui/ui.h"

namespace {

using pinemail::BatchOutcome;
using pinemail::BatchProgress;

void PrintError(const std::string& utf8) {
  std::string bytes = pinemail::EncodeSystemText(utf8);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

std::string ProgressText(const BatchProgress& progress) {
  std::string text = std::to_string(progress.records) + " 件処理　送信 " +
                     std::to_string(progress.sent) + "　不備 " + std::to_string(progress.rejected) +
                     "　送信失敗 " + std::to_string(progress.failed);
  if (progress.sent_before > 0) text += "　送信済み " + std::to_string(progress.sent_before);
  return text;
}

std::string SummaryText(BatchOutcome outcome, const BatchProgress& totals,
                        const std::string& log_path) {
  std::string head = outcome == BatchOutcome::kStoppedEarly ? "中断しました　" : "完了　";
  std::string text =
      head + ProgressText(totals) + "　ログ: " + pinemail::DecodeSystemText(log_path);
  if (!totals.stop_reason.empty()) text += "\n送信を中断しました。(" + totals.stop_reason + ")";
  return text;
}

// A line of its own below the progress line, which the next progress
// redraws under it.
void PrintLine(const std::string& text, bool* progress_shown) {
  PrintError((*progress_shown ? "\n" : "") + text + "\n");
  *progress_shown = false;
}

// A pause before the same message goes again, with the server's words; the
// gaps of the pacing are not shown one by one.
std::string WaitText(const pinemail::BatchWait& wait) {
  const auto seconds = (wait.length.count() + 999) / 1000;
  return std::to_string(seconds) + " 秒後にもう一度送ります: " + wait.reply;
}

BatchOutcome RunBatchFromTerminal(const pinemail::StartDecision& decision,
                                  const std::string& app_folder) {
  // Progress and summary go to a person only; scheduled runs stay quiet.
  bool on_terminal = isatty(fileno(stderr)) != 0;
  pinemail::BatchEnvironment env =
      pinemail::DefaultBatchEnvironment(app_folder, decision.list_path);
  env.warn = pinemail::ShowOpenFailure;
  env.resume = decision.resume;
  bool progress_shown = false;
  if (on_terminal) {
    env.sign_on_failed = [](const std::string& reason) {
      std::string line(pinemail::kSignOnFailedLine);
      if (!reason.empty()) line += "(" + reason + ")";
      PrintError(line + "\n");
    };
    env.progress = [&progress_shown](const BatchProgress& progress) {
      std::string line(1, '\r');
      line += ProgressText(progress);
      PrintError(line);
      progress_shown = true;
    };
    env.notice = [&progress_shown](const std::string& text) { PrintLine(text, &progress_shown); };
    env.waiting = [&progress_shown](const pinemail::BatchWait& wait) {
      if (wait.kind != pinemail::BatchWait::Kind::kPacing) {
        PrintLine(WaitText(wait), &progress_shown);
      }
    };
  }
  BatchProgress totals;
  BatchOutcome outcome = pinemail::RunBatch(env, &totals);
  if (on_terminal) {
    std::string log_path = app_folder + std::string(pinemail::kLogFileName);
    std::string summary = progress_shown ? "\n" : "";
    summary += SummaryText(outcome, totals, log_path);
    summary += '\n';
    PrintError(summary);
  }
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
  if (pinemail::SignIn(app_folder + std::string(pinemail::kSettingsFileName), io, &reason)) {
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
    AnnounceConfigHome(input);
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
