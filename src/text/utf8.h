// UTF-8 helpers: code point counting and cutting, blank trimming, validation,
// and UTF-16 conversion for files that carry a UTF-16 byte-order mark.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pinemail {

// Number of code points in a UTF-8 text (an invalid byte counts as one).
std::size_t CountCodePoints(std::string_view text);

// The first `count` code points of `text`; never ends inside a sequence.
std::string_view CutCodePoints(std::string_view text, std::size_t count);

// Removes blanks at both ends: U+0020 and the ideographic space U+3000.
// A tab is not a blank.
std::string_view TrimBlanks(std::string_view text);

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// Decodes the code point that starts at byte `pos` (< text.size()) and
// returns its length in bytes. An invalid byte has length 1 and decodes as
// U+FFFD.
std::size_t DecodeCodePoint(std::string_view text, std::size_t pos, char32_t* code_point);

// `bytes` with every invalid byte replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

// Which characters BlankControls turns into blanks.
enum class Controls {
  // Everything that could break or forge a line: the C0 controls (NUL, LF,
  // ESC, ...), DEL, the C1 controls (U+0080..U+009F), the line and
  // paragraph separators (U+2028, U+2029) and the bidirectional controls
  // (U+200E, U+200F, U+202A..U+202E, U+2066..U+2069), which would show a line
  // in another order than it is written. Every field of the run log, and
  // every reason shown with it, is cleaned so.
  kLogLine,
  // The C0 controls, DEL and the C1 controls: what must never stand in a
  // message header's value.
  kHeader,
  // The same but the tab, which an unstructured header (a subject) may carry.
  kHeaderButTab,
};

// `text` with each character of `controls` turned into one blank. Bytes
// that are not UTF-8 stay as they are.
std::string BlankControls(std::string_view text, Controls controls = Controls::kLogLine);

// `text` made one printable line: when it is not valid UTF-8 every byte
// above 0x7F becomes "?" (its encoding is unknown), then every control
// becomes a blank (Controls::kLogLine). For texts from other programs and
// servers.
std::string PrintableText(std::string_view text);

// Appends the UTF-8 form of a code point (U+FFFD for an invalid one).
void AppendUtf8(std::string& out, char32_t code_point);

// Checks UTF-8 validity piece by piece, so that a file of any size can be
// checked in blocks: a sequence may be split between two pieces.
class Utf8Checker {
 public:
  // Checks the next piece; nothing is kept but a cut-off sequence's start.
  void Add(std::string_view bytes);
  // False once a piece held a malformed sequence.
  bool valid() const { return valid_; }
  // True when every piece so far, taken together, is well-formed UTF-8 (a
  // sequence left incomplete at the end is not).
  bool Finish();

 private:
  std::string carry_;  // the start of a sequence that the next piece ends
  bool valid_ = true;
};

enum class ByteOrder { kLittleEndian, kBigEndian };

// Appends the UTF-8 form of the UTF-16 text in `bytes` to `out` and returns
// how many bytes were used. Unless `at_end`, a final odd byte or a high
// surrogate whose pair is not complete is left for the next call. A lone
// surrogate, or an odd byte at the end, becomes U+FFFD.
std::size_t AppendUtf16AsUtf8(std::string_view bytes, ByteOrder order, bool at_end,
                              std::string& out);

// The UTF-16 bytes of UTF-8 text (an invalid byte becomes U+FFFD).
std::string Utf8ToUtf16(std::string_view utf8, ByteOrder order);

}  // namespace pinemail
