// "Password Command": runs the command with a deadline and takes the first
// line of its output as the secret.
#include "mail/signon/password_command.h"

#include <algorithm>

#include "text/child_process.h"

namespace pinemail {
namespace {

// The output is read until its first line is there, or until it is too long
// to hold one.
bool HasFirstLineOrIsCut(const ChildOutput& output) {
  return output.cut || output.text.find_first_of("\r\n") != std::string::npos;
}

std::string TooSlowReason() {
  return "Password Command が " + std::to_string(kPasswordCommandDeadline.count()) +
         " 秒以内に終わりませんでした";
}

// What the command's run means: the secret, or why there is none.
bool JudgeRun(const ChildOutput& output, bool ended, const ChildProcess::Exit& exit,
              std::string* secret, std::string* reason) {
  if (output.cut) return TakeFirstLine(output.text, false, secret, reason);
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
  return TakeFirstLine(output.text, true, secret, reason);
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
  if (!child.Start(ChildCommand::Shell(command), reason)) {
    *reason = "Password Command を起動できません: " + *reason;
    return false;
  }
  ChildLimits limits;
  limits.deadline = std::chrono::steady_clock::now() + time_limit;
  limits.kept = kPasswordCommandOutputLimit;
  // The first line is taken as soon as it is there: a background process the
  // command started may hold the output open long after it has exited.
  limits.enough = HasFirstLineOrIsCut;
  ChildOutput output;
  const ChildEnd end = child.Exchange({}, limits, &output).end;
  ChildProcess::Exit exit;
  const bool ended =
      end != ChildEnd::kDeadline && !output.cut && child.Wait(limits.deadline, &exit);
  child.End();  // and whatever it left running
  const bool ok = JudgeRun(output, ended, exit, secret, reason);
  std::fill(output.text.begin(), output.text.end(), '\0');
  return ok;
}

}  // namespace pinemail
