// Code-page conversion on Windows: the ANSI code page (GetACP) and CP932
// through MultiByteToWideChar / WideCharToMultiByte, with UTF-16 between.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>

#include "text/codepage.h"
#include "text/codepage_internal.h"
#include "text/utf8.h"
#include "text/wide_win32.h"

namespace pinemail {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Decodes `bytes` in `code_page` with `flags`; false when the call refuses
// (with MB_ERR_INVALID_CHARS: an undecodable byte).
bool ToWide(UINT code_page, DWORD flags, std::string_view bytes, std::wstring* wide) {
  wide->clear();
  if (bytes.empty()) return true;
  if (bytes.size() > INT_MAX / 2) return false;  // the calls take int sizes
  const int in_size = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(code_page, flags, bytes.data(), in_size, nullptr, 0);
  if (size <= 0) return false;
  wide->resize(static_cast<std::size_t>(size));
  return MultiByteToWideChar(code_page, flags, bytes.data(), in_size, wide->data(), size) == size;
}

// Encodes `wide` in `code_page`; `lossy` tells whether a character had no
// form there and was replaced by "?".
std::string FromWide(UINT code_page, std::wstring_view wide, bool* lossy) {
  if (wide.empty()) return {};
  if (wide.size() > INT_MAX / 4) {
    if (lossy) *lossy = true;
    return std::string(wide.size(), '?');
  }
  const bool is_utf8 = code_page == CP_UTF8;
  const DWORD flags = is_utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used_default_ptr = is_utf8 ? nullptr : &used_default;
  const char* default_char = is_utf8 ? nullptr : "?";
  const int in_size = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(code_page, flags, wide.data(), in_size, nullptr, 0,
                                       default_char, used_default_ptr);
  if (size <= 0) {
    if (lossy) *lossy = true;
    return std::string(wide.size(), '?');
  }
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), in_size, out.data(), size, default_char,
                      used_default_ptr);
  if (lossy) *lossy = used_default != FALSE;
  return out;
}

// Decodes one CP932 piece character by character, so that each undecodable
// byte becomes one U+FFFD and the bytes after it are still read (the whole-
// text call either refuses everything or substitutes Windows' own marks).
std::wstring DecodeCp932Slowly(std::string_view bytes) {
  std::wstring wide;
  std::wstring one;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[pos]);
    std::size_t length = IsCp932LeadByte(byte) ? 2 : 1;
    if (detail::IsUndefinedCp932Byte(byte) || pos + length > bytes.size() ||
        !ToWide(932, MB_ERR_INVALID_CHARS, bytes.substr(pos, length), &one)) {
      wide += kReplacement;
      length = 1;
    } else {
      wide += one;
    }
    pos += length;
  }
  return wide;
}

std::wstring DecodeCp932Wide(std::string_view bytes) {
  std::wstring wide;
  const bool has_undefined = std::any_of(bytes.begin(), bytes.end(), [](char c) {
    return detail::IsUndefinedCp932Byte(static_cast<unsigned char>(c));
  });
  if (!has_undefined && ToWide(932, MB_ERR_INVALID_CHARS, bytes, &wide)) return wide;
  return DecodeCp932Slowly(bytes);
}

// Encodes code point by code point, so that each character the code page
// lacks becomes exactly one "?" (a surrogate pair too).
std::string EncodeSlowly(UINT code_page, std::string_view utf8) {
  std::string out;
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < utf8.size()) {
    const std::size_t length = DecodeCodePoint(utf8, pos, &code_point);
    bool lossy = false;
    std::string piece = FromWide(code_page, Utf8ToWide(utf8.substr(pos, length)), &lossy);
    out += lossy ? std::string("?") : piece;
    pos += length;
  }
  return out;
}

std::string Encode(UINT code_page, std::string_view utf8) {
  bool lossy = false;
  std::string out = FromWide(code_page, Utf8ToWide(utf8), &lossy);
  return lossy ? EncodeSlowly(code_page, utf8) : out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring wide;
  // Invalid bytes would be replaced by the call too, but only whole-text
  // sanitizing gives one U+FFFD per byte on every Windows version.
  const std::string clean = SanitizeUtf8(utf8);
  ToWide(CP_UTF8, 0, clean, &wide);
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  // Lone surrogates become U+FFFD here (Vista and later, and Wine).
  return FromWide(CP_UTF8, wide, nullptr);
}

std::wstring AnsiToWide(std::string_view ansi) {
  std::wstring wide;
  ToWide(CP_ACP, 0, ansi, &wide);
  return wide;
}

bool WideToAnsi(std::wstring_view wide, std::string* ansi) {
  // The UTF-8 code page refuses the lossy check; every character has a form.
  if (GetACP() == CP_UTF8) {
    *ansi = WideToUtf8(wide);
    return true;
  }
  bool lossy = false;
  *ansi = FromWide(CP_ACP, wide, &lossy);
  if (lossy) ansi->clear();
  return !lossy;
}

namespace detail {

CodePage DetectSystemCodePage() { return ClassifyCodePage(std::to_string(GetACP())); }

std::string DecodeCodePage(const CodePage& code_page, std::string_view bytes) {
  std::wstring wide;
  if (!ToWide(code_page.number, 0, bytes, &wide)) return SanitizeUtf8(bytes);
  return WideToUtf8(wide);
}

std::string EncodeCodePage(const CodePage& code_page, std::string_view utf8) {
  return Encode(code_page.number, utf8);
}

std::string DecodeCp932Bytes(std::string_view bytes) { return WideToUtf8(DecodeCp932Wide(bytes)); }

std::string EncodeCp932Text(std::string_view utf8) { return Encode(932, utf8); }

}  // namespace detail
}  // namespace pinemail
