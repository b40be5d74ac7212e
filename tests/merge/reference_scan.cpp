// A slow, literal model of the keyword scan (see reference_scan.h).
#include "merge/reference_scan.h"

#include <cstddef>
#include <cstdint>

namespace pinemail::testing {
namespace {

// Characters are code points here, so that positions count characters the way
// the design does, independently of the byte-wise scan under test.
std::u32string Decode(std::string_view utf8) {
  std::u32string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code_point = length == 1   ? lead
                          : length == 2 ? lead & 0x1Fu
                          : length == 3 ? lead & 0x0Fu
                                        : lead & 0x07u;
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      code_point = (code_point << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3Fu);
    }
    out += code_point;
    i += length;
  }
  return out;
}

std::string Encode(const std::u32string& text) {
  std::string out;
  for (const char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Position (1-based) of the first "%" at or after `start`; 0 when there is
// none or `start` lies past the end.
std::size_t FindPercent(std::size_t start, const std::u32string& text) {
  if (start > text.size()) return 0;
  const std::size_t at = text.find(U'%', start - 1);
  return at == std::u32string::npos ? 0 : at + 1;
}

// Up to `length` characters from 1-based position `start`.
std::u32string Mid(const std::u32string& text, std::size_t start, std::size_t length) {
  if (start > text.size()) return {};
  return text.substr(start - 1, length);
}

// Everything after 1-based position `position`.
std::u32string After(const std::u32string& text, std::size_t position) {
  if (position >= text.size()) return {};
  return text.substr(position);
}

}  // namespace

std::string ReferenceScan(std::string_view body_utf8, const std::vector<std::string>& key_texts,
                          const std::vector<std::string>& value_texts) {
  if (key_texts.empty()) return std::string(body_utf8);
  std::vector<std::u32string> keys;
  std::vector<std::u32string> values;
  for (std::size_t i = 0; i < key_texts.size(); ++i) {
    keys.push_back(Decode(key_texts[i]));
    values.push_back(i < value_texts.size() ? Decode(value_texts[i]) : std::u32string());
  }

  std::u32string body = Decode(body_utf8);
  std::size_t b = FindPercent(1, body);
  if (b == 0) b = body.size() + 1;  // the design's start rule for a body without "%"
  while (b > 0) {
    const std::u32string head = Mid(body, 1, b - 1);
    std::size_t c = FindPercent(b + 1, body);
    if (c == 0) c = body.size() + 1;
    std::u32string token = Mid(body, b, c - b + 1);
    const std::u32string tail = After(body, c);
    if (token.empty()) token.push_back(U'%');  // the design's empty token
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == token) {
        token = values[i];
        break;
      }
    }
    body = head + token + tail;
    b = FindPercent(b + token.size(), body);
  }
  return Encode(body);
}

}  // namespace pinemail::testing
