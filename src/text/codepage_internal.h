// The pieces of code-page conversion that each platform provides, and the
// portable helpers they share.
#pragma once

#include <string>
#include <string_view>

namespace pinemail::detail {

enum class CodePageKind { kUtf8, kCp932, kOther };

// A code page as the conversions need it: which of the three kinds it is, its
// iconv name (POSIX) and its number (Windows).
struct CodePage {
  CodePageKind kind = CodePageKind::kUtf8;
  std::string iconv_name = "UTF-8";
  unsigned number = 65001;
};

// Classifies a character set name or code page number: "UTF-8", "65001",
// "C" and plain ASCII are UTF-8; "932", "CP932" and the Shift-JIS names are
// CP932; "1252", "CP1252" and other names are converted as they are.
CodePage ClassifyCodePage(std::string_view name_or_number);

// The system's code page, or the one a test chose.
const CodePage& SystemCodePage();

// The system's own code page (platform file): the locale's character set on
// POSIX, GetACP() on Windows.
CodePage DetectSystemCodePage();

// Conversions between UTF-8 and a code page of kind kOther (platform file).
// Undecodable bytes become U+FFFD; unencodable characters become "?".
std::string DecodeCodePage(const CodePage& code_page, std::string_view bytes);
std::string EncodeCodePage(const CodePage& code_page, std::string_view utf8);

// CP932 conversions after the shared fast paths (platform file): `bytes` and
// `utf8` hold at least one non-ASCII byte, and `utf8` has had its look-alikes
// applied.
std::string DecodeCp932Bytes(std::string_view bytes);
std::string EncodeCp932Text(std::string_view utf8);

// True when every byte is below 0x80.
bool IsAscii(std::string_view bytes);

// True for the bytes that stand alone in CP932 but mean nothing: 0x80, 0xA0
// and 0xFD..0xFF. (Windows maps some of them to private-use characters;
// treating them as undecodable makes both platforms agree.)
inline bool IsUndefinedCp932Byte(unsigned char byte) {
  return byte == 0x80 || byte == 0xA0 || byte >= 0xFD;
}

}  // namespace pinemail::detail
