// "Password Command": runs the command with a deadline and takes the first
// line of its output as the secret.
#include "mail/signon/password_command.h"

#include <algorithm>

#include "mail/net/child_process.h"

namespace pinemail {
namespace {

bool HasFirstLine(std::string_view output) {
  return output.find_first_of("\r\n") != std::string_view::npos;
}

std::string TooSlowReason() {
  return "Password Command が " + std::to_string(kPasswordCommandDeadline.count()) +
         " 秒以内に終わりませんでした";
}

// What the command's run means: the secret, or why there is none.
bool JudgeRun(ChildProcess::ReadEnd read, bool ended, const ChildProcess::Exit& exit,
              const std::string& output, std::string* secret, std::string* reason) {
  if (read == ChildProcess::ReadEnd::kTooLong) return TakeFirstLine(output, false, secret, reason);
  if (!ended) {
    *reason = TooSlowReason();
    return false;
  }
  if (!exit.exited) {
    *reason = "Password Command がシグナルで終了しました";
    return false;
  }
  if (exit.code != 0) {
    *reason = ExitReason(exit.code);  // 127: the shell found no such program
    return false;
  }
  return TakeFirstLine(output, true, secret, reason);
}

}  // namespace

bool TakeFirstLine(const std::string& output, bool complete, std::string* secret,
                   std::string* reason) {
  if (!complete) {
    *reason = "Password Command の出力が長すぎます";
    return false;
  }
  std::string line = output.substr(0, output.find_first_of("\r\n"));
  if (line.empty()) {
    *reason = "Password Command が何も出力しませんでした";
    return false;
  }
  *secret = std::move(line);
  return true;
}

std::string ExitReason(long status) {
  return "Password Command が失敗しました (終了コード " + std::to_string(status) + ")";
}

bool RunPasswordCommand(const std::string& command, std::chrono::milliseconds time_limit,
                        std::string* secret, std::string* reason) {
  ChildProcess child;
  if (!child.Start(command, reason)) {
    *reason = "Password Command を起動できません: " + *reason;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  // The first line is taken as soon as it is there: a background process the
  // command started may hold the output open long after it has exited.
  std::string output;
  const ChildProcess::ReadEnd read =
      child.Read(&output, kPasswordCommandOutputLimit, deadline, HasFirstLine);
  ChildProcess::Exit exit;
  const bool ended = read != ChildProcess::ReadEnd::kDeadline &&
                     read != ChildProcess::ReadEnd::kTooLong && child.Wait(deadline, &exit);
  child.End();  // and whatever it left running
  const bool ok = JudgeRun(read, ended, exit, output, secret, reason);
  std::fill(output.begin(), output.end(), '\0');
  return ok;
}

}  // namespace pinemail
