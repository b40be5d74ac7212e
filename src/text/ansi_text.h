// Conversions between UTF-16 and the ANSI code page at the profile calls
// (Windows builds only).
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// ANSI code-page bytes to UTF-16.
std::wstring AnsiToWide(std::string_view ansi);

// UTF-16 to the ANSI code page. False when some character has no ANSI form,
// so that a caller never uses a path with "?" in place of a character.
bool WideToAnsi(std::wstring_view wide, std::string* ansi);

}  // namespace pinemail
