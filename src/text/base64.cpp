// Encodes and decodes base64 in groups of three bytes to four characters.
#include "text/base64.h"

#include <cstdint>

namespace pinemail {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUrlAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Up to three bytes from `at` as the high bits of a 24-bit group.
std::uint32_t GroupAt(std::string_view bytes, std::size_t at) {
  std::uint32_t group = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::uint32_t byte =
        at + k < bytes.size() ? static_cast<unsigned char>(bytes[at + k]) : 0;
    group |= byte << (16 - 8 * k);
  }
  return group;
}

// Each group of three bytes as four characters of `alphabet`; a last,
// shorter group gives one character more than its bytes, then "=" up to
// four when `pad`.
std::string Encode(std::string_view bytes, std::string_view alphabet, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::uint32_t group = GroupAt(bytes, at);
    const std::size_t characters = bytes.size() - at >= 3 ? 4 : bytes.size() - at + 1;
    for (std::size_t k = 0; k < 4; ++k) {
      if (k < characters) {
        out += alphabet[group >> (18 - 6 * k) & 63];
      } else if (pad) {
        out += '=';
      }
    }
  }
  return out;
}

int ValueOf(char c) {
  const std::size_t at = kAlphabet.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// The bytes of one group of four characters, the last group of the text
// when `last` (only there may "=" stand, in its last two places).
bool DecodeGroup(std::string_view four, bool last, std::string* out) {
  const std::size_t padding = four.ends_with("==") ? 2 : four.ends_with('=') ? 1 : 0;
  if (padding > 0 && !last) return false;
  std::uint32_t group = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const int value = k < 4 - padding ? ValueOf(four[k]) : 0;
    if (value < 0) return false;
    group = group << 6 | static_cast<std::uint32_t>(value);
  }
  for (std::size_t k = 0; k < 3 - padding; ++k)
    out->push_back(static_cast<char>(group >> (16 - 8 * k)));
  return true;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) { return Encode(bytes, kAlphabet, true); }

std::string EncodeBase64Url(std::string_view bytes) { return Encode(bytes, kUrlAlphabet, false); }

bool DecodeBase64(std::string_view text, std::string* bytes) {
  if (text.size() % 4 != 0) return false;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t at = 0; at < text.size(); at += 4) {
    if (!DecodeGroup(text.substr(at, 4), at + 4 == text.size(), &out)) return false;
  }
  *bytes = std::move(out);
  return true;
}

}  // namespace pinemail
