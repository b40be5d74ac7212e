// Conversion between the text files' encoding (the system's ANSI code page)
// and the UTF-8 that the program holds in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pinemail {

// The encoding of one text file.
enum class TextEncoding {
  kSystem,   // the system's code page
  kUtf8,     // a UTF-8 byte-order mark, or valid UTF-8 under a UTF-8 code page
  kCp932,    // not valid UTF-8 under a UTF-8 code page: made on Japanese Windows
  kUtf16Le,  // a UTF-16 byte-order mark (Notepad's "Unicode"), little-endian
  kUtf16Be,  // the same, big-endian
};

// A byte-order mark at the start of a file: what it announces and its size.
struct ByteOrderMark {
  TextEncoding encoding = TextEncoding::kSystem;
  std::size_t size = 0;  // 0: no mark
};

// The byte-order mark (UTF-8, UTF-16 LE or BE) that `head` starts with.
ByteOrderMark FindByteOrderMark(std::string_view head);

// Decodes the lines of one text file once its encoding is known. Text from
// a UTF-16 file reaches the decoder as UTF-8 already. kSystem under a UTF-8
// code page stands for a file that could not be checked whole beforehand:
// the first line that is not valid UTF-8 switches the rest of the file to
// CP932. Undecodable bytes become U+FFFD.
class TextDecoder {
 public:
  explicit TextDecoder(TextEncoding encoding = TextEncoding::kSystem) : encoding_(encoding) {}

  std::string Decode(std::string_view bytes);

 private:
  TextEncoding encoding_;
};

// Decodes a value from the settings file or the command line (system code
// page, with the same CP932 fallback under UTF-8).
std::string DecodeSystemText(std::string_view bytes);

// Encodes UTF-8 text for a text file in the system's code page (the log, the
// settings file). Characters the code page lacks become a visible "?" (or a
// look-alike where the code page has one), never dropped.
std::string EncodeSystemText(std::string_view utf8);

// `utf8` with each character CP932 lacks but has a look-alike for (the wave
// dash U+301C, the minus sign U+2212, ...) replaced by that look-alike: the
// text as saving it in Shift-JIS and reading it back gives it.
std::string FoldCp932LookAlikes(std::string_view utf8);

// True for a CP932 lead byte (the first of a two-byte character).
constexpr bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// CP932 (Shift-JIS, Windows flavour) conversions, independent of the system.
std::string DecodeCp932(std::string_view bytes);
std::string EncodeCp932(std::string_view utf8);

// True when the system's code page is UTF-8 (POSIX: the locale's character
// set, with the C/POSIX locale counting as UTF-8; Windows: GetACP() == 65001).
bool SystemCodePageIsUtf8();

}  // namespace pinemail
