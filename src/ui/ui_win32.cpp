// The warning box and the help on Windows.
#include "ui/ui.h"

#include <windows.h>

#include <string>

#include "text/wide_win32.h"
#include "ui/help_window.h"
#include "ui/window_support_win32.h"

namespace pinemail {
// The box carries only the fixed text; which file failed and why is not
// shown anywhere. Where nobody can see the desktop there is no box: it would
// wait forever, and an unattended run must end; its exit status still tells
// the scheduler what happened. Where no display exists at all (Wine without
// X) MessageBoxW fails at once.
void ShowOpenFailure(const std::vector<OpenFailure>& /*failures*/) {
  if (!DesktopIsVisible()) return;
  std::wstring text = Utf8ToWide(kOpenFailedText);
  std::wstring title = Utf8ToWide(kWarningTitle);
  MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// When no window can be shown there is nowhere else to put the help on a
// GUI-subsystem program, so this simply returns.
void ShowHelp() {
  if (!DesktopIsVisible()) return;
  ShowHelpWindow();
}

}  // namespace pinemail
