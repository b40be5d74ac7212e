// UTF-8 <-> UTF-16 for the Win32 calls (used by the *_win32 files only).
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// UTF-16 form of UTF-8 text; an invalid byte becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);

// UTF-8 form of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

}  // namespace pinemail
