// How many terminal columns a UTF-8 text takes, for a line that must fit the
// terminal's width.
#pragma once

#include <cstddef>
#include <string_view>

namespace pinemail {

// Columns one code point takes: 2 for the East Asian wide and full-width
// characters (kana, kanji, hangul, the ideographic space, full-width forms),
// 0 for combining marks and controls, 1 for the rest.
int CodePointWidth(char32_t code_point);

// Columns the text takes (an invalid byte counts as U+FFFD, one column).
std::size_t DisplayWidth(std::string_view text);

// The longest start of `text` that takes at most `columns` columns; never
// ends inside a UTF-8 sequence.
std::string_view CutToWidth(std::string_view text, std::size_t columns);

}  // namespace pinemail
