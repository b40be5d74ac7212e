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

}  // namespace

// The box carries only the fixed text: which file failed and why is not
// shown anywhere, as the box is all a user of the old tool ever saw. Without
// a desktop (a scheduled run) MessageBoxW returns at once with an error.
void ShowOpenFailure(const std::vector<OpenFailure>& /*failures*/) {
  std::wstring text = Widen(kOpenFailedText);
  std::wstring title = Widen(kWarningTitle);
  MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// When no window can be shown (no desktop) there is nowhere else to put the
// help on a GUI-subsystem program, so this simply returns.
void ShowHelp() { ShowHelpWindow(); }

}  // namespace pinemail
