// Case rules for ASCII letters only, for the names that are compared without
// regard to case: settings names, URL schemes, SMTP keywords, code page names.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace pinemail {

// `c` in lower (upper) case when it is an ASCII letter; any other byte as it is.
constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// `text` with its ASCII letters in upper case.
inline std::string AsciiUpperCase(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), AsciiUpper);
  return upper;
}

// `text` with its ASCII letters in lower case.
inline std::string AsciiLowerCase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
  return lower;
}

// True when `a` and `b` differ at most in the case of ASCII letters.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// True when `text` starts with `prefix` but for the case of ASCII letters.
constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace pinemail
