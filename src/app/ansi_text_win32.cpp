// Win32 string conversions used where the app files call the system.
#include <windows.h>

#include <climits>

#include "app/wide_text.h"

namespace pinemail {

std::wstring WidenUtf8(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  int length = static_cast<int>(utf8.size());
  int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count > 0 ? count : 0), L'\0');
  if (count > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), count);
  return wide;
}

std::string NarrowToUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  int length = static_cast<int>(wide.size());
  int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(count > 0 ? count : 0), '\0');
  if (count > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), count, nullptr, nullptr);
  }
  return utf8;
}

bool NarrowToAnsi(std::wstring_view wide, std::string* ansi) {
  ansi->clear();
  if (wide.empty()) return true;
  if (wide.size() > INT_MAX) return false;
  if (GetACP() == CP_UTF8) {
    // The UTF-8 code page refuses the lossy flag; every character has a form.
    *ansi = NarrowToUtf8(wide);
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
