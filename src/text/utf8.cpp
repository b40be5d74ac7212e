// UTF-8 helpers: code point counting and cutting, blank trimming, validation.
#include "text/utf8.h"

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

std::string BlankControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < text.size()) {
    const std::size_t length = DecodeCodePoint(text, pos, &code_point);
    const bool control = code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F) ||
                         code_point == 0x2028 || code_point == 0x2029;
    if (control) {
      out += ' ';
    } else {
      out.append(text.substr(pos, length));
    }
    pos += length;
  }
  return out;
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

}  // namespace pinemail
