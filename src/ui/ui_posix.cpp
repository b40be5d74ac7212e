// The warning and the help on POSIX: standard error and standard output, in
// the locale's character set, unless a help window can be shown.
#include <cstdio>
#include <string>

#include "text/codepage.h"
#include "ui/help_text.h"
#include "ui/help_window.h"
#include "ui/ui.h"

namespace pinemail {
namespace {

void Print(std::FILE* stream, const std::string& utf8) {
  std::string bytes = EncodeSystemText(utf8);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

}  // namespace

void ShowOpenFailure(const std::vector<OpenFailure>& failures) {
  std::string text(kOpenFailedText);
  text += '\n';
  for (const OpenFailure& failure : failures) {
    // A path is the file system's bytes, decoded only to be shown.
    text += DecodeSystemText(failure.path) + ": " + failure.reason + '\n';
  }
  Print(stderr, text);
  std::fflush(stderr);
}

void ShowHelp() {
  if (ShowHelpWindow()) return;
  // A terminal wants LF line ends.
  Print(stdout, HelpTextWithLfLines());
  std::fflush(stdout);
}

}  // namespace pinemail
