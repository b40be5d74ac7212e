// UTF-16 for the Win32 calls, from UTF-8 and from the ANSI code page (used
// by the *_win32 files only).
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// UTF-16 form of UTF-8 text; an invalid byte becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);

// UTF-8 form of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// ANSI code-page bytes to UTF-16, for the profile calls.
std::wstring AnsiToWide(std::string_view ansi);

// UTF-16 to the ANSI code page. False when some character has no ANSI form,
// so that a caller never uses a path with "?" in place of a character.
bool WideToAnsi(std::wstring_view wide, std::string* ansi);

}  // namespace pinemail
