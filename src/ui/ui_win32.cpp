// The warning box and the help on Windows.
#include "ui/ui.h"

#include <windows.h>

#include <string>

#include "ui/help_window.h"

namespace pinemail {
namespace {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                 nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

// False when the process runs on a window station nobody sees: a task run
// "whether the user is logged on or not", a service. A box or window there
// would wait forever for a click that cannot come, and an unattended run
// must end; its exit status still tells the scheduler what happened.
bool DesktopIsVisible() {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

// The box carries only the fixed text; which file failed and why is not
// shown anywhere. Where no display exists at all (Wine without X) MessageBoxW
// fails at once.
void ShowOpenFailure(const std::vector<OpenFailure>& /*failures*/) {
  if (!DesktopIsVisible()) return;
  std::wstring text = Widen(kOpenFailedText);
  std::wstring title = Widen(kWarningTitle);
  MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// When no window can be shown there is nowhere else to put the help on a
// GUI-subsystem program, so this simply returns.
void ShowHelp() {
  if (!DesktopIsVisible()) return;
  ShowHelpWindow();
}

}  // namespace pinemail
