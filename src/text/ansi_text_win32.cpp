// ANSI code-page conversions for the profile functions.
#include <windows.h>

#include <climits>

#include "text/ansi_text.h"
#include "text/wide_win32.h"

namespace pinemail {

std::wstring AnsiToWide(std::string_view ansi) {
  if (ansi.empty() || ansi.size() > INT_MAX) return {};
  int length = static_cast<int>(ansi.size());
  int count = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count > 0 ? count : 0), L'\0');
  if (count > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), count);
  return wide;
}

bool WideToAnsi(std::wstring_view wide, std::string* ansi) {
  ansi->clear();
  if (wide.empty()) return true;
  if (wide.size() > INT_MAX) return false;
  if (GetACP() == CP_UTF8) {
    // The UTF-8 code page refuses the lossy flag; every character has a form.
    *ansi = WideToUtf8(wide);
    return true;
  }
  int length = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                  nullptr, &lossy);
  if (count <= 0 || lossy) return false;
  ansi->resize(static_cast<std::size_t>(count));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, ansi->data(), count,
                      nullptr, &lossy);
  return !lossy;
}

}  // namespace pinemail
