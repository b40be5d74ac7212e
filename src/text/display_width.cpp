// Terminal column widths of UTF-8 text: the East Asian wide ranges of
// Unicode's EastAsianWidth (W and F), the combining marks as zero.
#include "text/display_width.h"

#include <array>
#include <utility>

#include "text/utf8.h"

namespace pinemail {
namespace {

using Range = std::pair<char32_t, char32_t>;

constexpr std::array kZeroWidth{
    Range{0x0300, 0x036F},    // combining diacritical marks
    Range{0x200B, 0x200F},    // zero-width space, joiners, marks
    Range{0x3099, 0x309A},    // combining kana voiced marks
    Range{0xFE00, 0xFE0F},    // variation selectors
    Range{0xFEFF, 0xFEFF},    // zero-width no-break space
    Range{0xE0100, 0xE01EF},  // variation selectors supplement
};

constexpr std::array kWide{
    Range{0x1100, 0x115F},    // hangul jamo leading consonants
    Range{0x2E80, 0x303E},    // CJK radicals, symbols and punctuation (U+3000 too)
    Range{0x3041, 0x33FF},    // kana, bopomofo, compatibility jamo, CJK letters
    Range{0x3400, 0x4DBF},    // CJK extension A
    Range{0x4E00, 0x9FFF},    // CJK unified ideographs
    Range{0xA000, 0xA4CF},    // Yi
    Range{0xA960, 0xA97F},    // hangul jamo extended A
    Range{0xAC00, 0xD7A3},    // hangul syllables
    Range{0xF900, 0xFAFF},    // CJK compatibility ideographs
    Range{0xFE10, 0xFE19},    // vertical forms
    Range{0xFE30, 0xFE6F},    // CJK compatibility and small forms
    Range{0xFF00, 0xFF60},    // full-width forms
    Range{0xFFE0, 0xFFE6},    // full-width signs
    Range{0x1F300, 0x1F64F},  // pictographs, emoticons
    Range{0x1F900, 0x1F9FF},  // supplemental pictographs
    Range{0x20000, 0x2FFFD},  // CJK extensions B and beyond
    Range{0x30000, 0x3FFFD},
};

template <std::size_t N>
bool InRanges(const std::array<Range, N>& ranges, char32_t code_point) {
  for (const Range& range : ranges) {
    if (code_point >= range.first && code_point <= range.second) return true;
  }
  return false;
}

}  // namespace

int CodePointWidth(char32_t code_point) {
  if (code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0)) return 0;
  if (InRanges(kZeroWidth, code_point)) return 0;
  return InRanges(kWide, code_point) ? 2 : 1;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t code_point = 0;
    pos += DecodeCodePoint(text, pos, &code_point);
    width += static_cast<std::size_t>(CodePointWidth(code_point));
  }
  return width;
}

std::string_view CutToWidth(std::string_view text, std::size_t columns) {
  std::size_t width = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t code_point = 0;
    const std::size_t length = DecodeCodePoint(text, pos, &code_point);
    width += static_cast<std::size_t>(CodePointWidth(code_point));
    if (width > columns) return text.substr(0, pos);
    pos += length;
  }
  return text;
}

}  // namespace pinemail
