// The browser on Windows: the shell's "open" verb on the address.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "text/browser_opener.h"
#include "text/scoped_win32.h"
#include "text/wide_win32.h"

namespace pinemail {

bool OpenBrowser(const std::string& url) {
  // The shell may hand the address to COM-based handlers.
  const ScopedCom com;
  const std::wstring address = Utf8ToWide(url);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(GetDesktopWindow(), L"open", address.c_str(), nullptr, L"", SW_SHOWNORMAL));
  return result > 32;
}

}  // namespace pinemail
