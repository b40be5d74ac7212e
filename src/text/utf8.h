// UTF-8 helpers: code point counting and cutting, blank trimming, validation.
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

// `text` with every character that could break or forge a line turned into
// one blank: the C0 controls (NUL, LF, ESC, ...), DEL, the C1 controls
// (U+0080..U+009F) and the line and paragraph separators (U+2028, U+2029).
// Bytes that are not UTF-8 stay as they are. Every field of the run log, and
// every reason shown with it, goes through here.
std::string BlankControls(std::string_view text);

// Appends the UTF-8 form of a code point (U+FFFD for an invalid one).
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace pinemail
