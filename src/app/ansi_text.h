// UTF-8 / UTF-16 / ANSI conversions at the Win32 calls of the app files
// (Windows builds only).
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring WidenUtf8(std::string_view utf8);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string NarrowToUtf8(std::wstring_view wide);

// UTF-16 to the ANSI code page. False when some character has no ANSI form,
// so that a caller never uses a path with "?" in place of a character.
bool NarrowToAnsi(std::wstring_view wide, std::string* ansi);

}  // namespace pinemail
