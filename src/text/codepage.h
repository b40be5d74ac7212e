// Conversion between the text files' encoding (the system's ANSI code page)
// and the UTF-8 that the program holds in memory.
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// How the bytes of one text file are decoded. A decoder starts from the
// system's code page; a UTF-8 byte-order mark switches it to UTF-8, and under
// a UTF-8 code page bytes that are not valid UTF-8 switch it to CP932 for the
// rest of the file (files made on Japanese Windows read correctly anywhere).
class TextDecoder {
 public:
  TextDecoder();

  // Decodes one piece of the file (a line; the first one may carry the BOM,
  // which is dropped). Undecodable bytes become U+FFFD.
  std::string Decode(std::string_view bytes);

 private:
  enum class Mode { kSystem, kUtf8, kCp932 };
  Mode mode_;
  bool at_start_ = true;
};

// Decodes a value from the settings file or the command line (system code
// page, with the same CP932 fallback under UTF-8).
std::string DecodeSystemText(std::string_view bytes);

// Encodes UTF-8 text for a text file in the system's code page (the log, the
// settings file). Characters the code page lacks become a visible "?" (or a
// look-alike where the code page has one), never dropped.
std::string EncodeSystemText(std::string_view utf8);

// CP932 (Shift-JIS, Windows flavour) conversions, independent of the system.
std::string DecodeCp932(std::string_view bytes);
std::string EncodeCp932(std::string_view utf8);

// True when the system's code page is UTF-8 (POSIX: the locale's character
// set, with the C/POSIX locale counting as UTF-8; Windows: GetACP() == 65001).
bool SystemCodePageIsUtf8();

}  // namespace pinemail
