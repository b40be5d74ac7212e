// A count in a setting's value: ASCII digits alone, one or more.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

namespace pinemail {

// True with `*count` set when `text` is a whole number of at least one,
// written in digits alone (no sign, no blanks) and within `Count`'s range.
template <typename Count>
bool ParseCount(std::string_view text, Count* count) {
  Count value{};
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < Count{1}) return false;
  *count = value;
  return true;
}

}  // namespace pinemail
