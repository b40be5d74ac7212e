// The browser on POSIX: xdg-open, run as a child without a shell.
#include <chrono>

#include "text/browser_opener.h"
#include "text/child_process.h"

namespace pinemail {
namespace {

// xdg-open hands the address on and exits, unless no desktop is known and it
// runs a browser itself; that one is not waited for longer than this.
constexpr std::chrono::seconds kOpenerWait{5};

}  // namespace

bool OpenBrowser(const std::string& url) {
  ChildCommand command = ChildCommand::Program("xdg-open", {url});
  command.output = ChildOutputStream::kNone;
  ChildProcess opener;
  std::string reason;
  if (!opener.Start(command, &reason)) return false;
  ChildProcess::Exit exit;
  const bool ended = opener.Wait(std::chrono::steady_clock::now() + kOpenerWait, &exit);
  // The browser it started, and a browser it still runs, stay open.
  opener.Leave();
  return !ended || (exit.exited && exit.code == 0);
}

}  // namespace pinemail
