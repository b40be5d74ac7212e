// UTF-8 helpers: code point counting and cutting, blank trimming, validation,
// and UTF-16 conversion for files that carry a UTF-16 byte-order mark.
#include "text/utf8.h"

#include <algorithm>

namespace pinemail {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The sequence length that a lead byte announces; 0 for a byte that cannot
// start a well-formed sequence (a continuation byte, C0, C1, F5..FF).
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The marks and embeddings that reorder the text around them (left-to-right
// and right-to-left marks, embeddings, overrides and isolates): a name or a
// reason holding one could show a person a line other than the one stored.
bool IsBidiControl(char32_t code_point) {
  return code_point == 0x200E || code_point == 0x200F ||
         (code_point >= 0x202A && code_point <= 0x202E) ||
         (code_point >= 0x2066 && code_point <= 0x2069);
}

bool IsBlanked(char32_t code_point, Controls controls) {
  const bool c0_c1_del = code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
  switch (controls) {
    case Controls::kLogLine:
      return c0_c1_del || code_point == 0x2028 || code_point == 0x2029 || IsBidiControl(code_point);
    case Controls::kHeader:
      return c0_c1_del;
    case Controls::kHeaderButTab:
      return c0_c1_del && code_point != '\t';
  }
  return c0_c1_del;
}

}  // namespace

std::size_t DecodeCodePoint(std::string_view text, std::size_t pos, char32_t* code_point) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const std::size_t length = SequenceLength(lead);
  *code_point = kReplacement;
  if (length == 0 || pos + length > text.size()) return 1;
  if (length == 1) {
    *code_point = lead;
    return 1;
  }
  char32_t value = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuation(byte)) return 1;
    value = (value << 6) | (byte & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return 1;
  }
  *code_point = value;
  return length;
}

std::size_t CountCodePoints(std::string_view text) {
  std::size_t count = 0;
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < text.size()) {
    pos += DecodeCodePoint(text, pos, &code_point);
    ++count;
  }
  return count;
}

std::string_view CutCodePoints(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  char32_t code_point = 0;
  for (std::size_t taken = 0; taken < count && pos < text.size(); ++taken) {
    pos += DecodeCodePoint(text, pos, &code_point);
  }
  return text.substr(0, pos);
}

std::string_view TrimBlanks(std::string_view text) {
  static constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  for (;;) {
    if (text.starts_with(' ')) {
      text.remove_prefix(1);
    } else if (text.starts_with(kIdeographicSpace)) {
      text.remove_prefix(kIdeographicSpace.size());
    } else {
      break;
    }
  }
  for (;;) {
    if (text.ends_with(' ')) {
      text.remove_suffix(1);
    } else if (text.ends_with(kIdeographicSpace)) {
      text.remove_suffix(kIdeographicSpace.size());
    } else {
      break;
    }
  }
  return text;
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < bytes.size()) {
    // Runs of ASCII are the common case; step over them without decoding.
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const std::size_t length = DecodeCodePoint(bytes, pos, &code_point);
    if (length == 1) return false;
    pos += length;
  }
  return true;
}

std::string BlankControls(std::string_view text, Controls controls) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < text.size()) {
    const std::size_t length = DecodeCodePoint(text, pos, &code_point);
    // An invalid byte decodes as U+FFFD, which is no control: it stays.
    if (IsBlanked(code_point, controls)) {
      out += ' ';
    } else {
      out.append(text.substr(pos, length));
    }
    pos += length;
  }
  return out;
}

std::string PrintableText(std::string_view text) {
  if (IsValidUtf8(text)) return BlankControls(text);
  std::string ascii(text);
  for (char& c : ascii) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return BlankControls(ascii);
}

void AppendUtf8(std::string& out, char32_t code_point) {
  if ((code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF) {
    code_point = kReplacement;
  }
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

std::string SanitizeUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < bytes.size()) {
    const std::size_t length = DecodeCodePoint(bytes, pos, &code_point);
    if (code_point == kReplacement && length == 1) {
      AppendUtf8(out, kReplacement);
    } else {
      out.append(bytes.substr(pos, length));
    }
    pos += length;
  }
  return out;
}

void Utf8Checker::Add(std::string_view bytes) {
  if (!valid_) return;
  if (!carry_.empty()) {
    // Complete the sequence that the last piece cut off, and check it whole.
    const std::size_t needed = SequenceLength(static_cast<unsigned char>(carry_[0]));
    const std::size_t taken = std::min(needed - carry_.size(), bytes.size());
    carry_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    if (carry_.size() < needed) return;
    valid_ = IsValidUtf8(carry_);
    carry_.clear();
    if (!valid_) return;
  }
  // A sequence cut off at the end starts at one of the last three bytes.
  std::size_t cut = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if (IsContinuation(byte)) continue;
    if (SequenceLength(byte) > back) cut = bytes.size() - back;
    break;
  }
  valid_ = IsValidUtf8(bytes.substr(0, cut));
  if (valid_) carry_.assign(bytes.substr(cut));
}

bool Utf8Checker::Finish() {
  if (!carry_.empty()) valid_ = false;
  carry_.clear();
  return valid_;
}

std::size_t AppendUtf16AsUtf8(std::string_view bytes, ByteOrder order, bool at_end,
                              std::string& out) {
  auto unit_at = [&](std::size_t pos) {
    const auto first = static_cast<unsigned char>(bytes[pos]);
    const auto second = static_cast<unsigned char>(bytes[pos + 1]);
    return static_cast<char32_t>(order == ByteOrder::kLittleEndian ? second << 8 | first
                                                                   : first << 8 | second);
  };
  auto is_high = [](char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  auto is_low = [](char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  std::size_t pos = 0;
  while (pos + 2 <= bytes.size()) {
    const char32_t unit = unit_at(pos);
    if (!is_high(unit)) {
      AppendUtf8(out, unit);  // a lone low surrogate becomes U+FFFD here
      pos += 2;
    } else if (pos + 4 <= bytes.size() && is_low(unit_at(pos + 2))) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unit_at(pos + 2) - 0xDC00));
      pos += 4;
    } else if (pos + 4 > bytes.size() && !at_end) {
      return pos;  // the pair's second half comes with the next piece
    } else {
      AppendUtf8(out, kReplacement);
      pos += 2;
    }
  }
  if (pos < bytes.size() && at_end) {
    AppendUtf8(out, kReplacement);
    pos = bytes.size();
  }
  return pos;
}

std::string Utf8ToUtf16(std::string_view utf8, ByteOrder order) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto append_unit = [&](char32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += order == ByteOrder::kLittleEndian ? low : high;
    out += order == ByteOrder::kLittleEndian ? high : low;
  };
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < utf8.size()) {
    pos += DecodeCodePoint(utf8, pos, &code_point);
    if (code_point < 0x10000) {
      append_unit(code_point);
    } else {
      append_unit(0xD800 + ((code_point - 0x10000) >> 10));
      append_unit(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    }
  }
  return out;
}

}  // namespace pinemail
