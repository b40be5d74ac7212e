// Masks the password and its SASL and URL encodings in texts meant for people.
#include "text/credential_mask.h"

#include <algorithm>
#include <optional>

#include "text/base64.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

std::optional<int> HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

// The byte that a "%XX" at `at` stands for, when there is one.
std::optional<char> EscapedByte(std::string_view text, std::size_t at) {
  if (at + 2 >= text.size() || text[at] != '%') return std::nullopt;
  const std::optional<int> high = HexValue(text[at + 1]);
  const std::optional<int> low = HexValue(text[at + 2]);
  if (!high || !low) return std::nullopt;
  return static_cast<char>(*high << 4 | *low);
}

// How many bytes of `text` from `at` spell `secret`, each of its bytes as it
// is, as "%XX", or (a blank) as "+"; nothing when they do not.
std::optional<std::size_t> SpelledLength(std::string_view text, std::size_t at,
                                         std::string_view secret) {
  std::size_t end = at;
  for (const char wanted : secret) {
    if (end >= text.size()) return std::nullopt;
    if (EscapedByte(text, end) == wanted) {
      end += 3;
    } else if (text[end] == wanted || (wanted == ' ' && text[end] == '+')) {
      ++end;
    } else {
      return std::nullopt;
    }
  }
  return end - at;
}

void ReplaceAll(std::string* text, std::string_view secret, std::string_view mask) {
  if (secret.empty()) return;
  for (std::size_t at = 0; at < text->size(); ++at) {
    if (const std::optional<std::size_t> length = SpelledLength(*text, at, secret)) {
      text->replace(at, *length, mask);
      at += mask.size() - 1;
    }
  }
}

}  // namespace

std::string PasswordMask(std::string_view password) {
  return std::string(CountCodePoints(password), '*');
}

std::string MaskCredentials(std::string_view text, std::string_view user_name,
                            std::string_view password) {
  std::string masked(text);
  if (password.empty()) return masked;
  const std::string mask = PasswordMask(password);
  std::string plain(1, '\0');
  plain.append(user_name);
  plain += '\0';
  plain.append(password);
  // SASL XOAUTH2's message, when the password is an access token.
  const std::string bearer = "user=" + std::string(user_name) + "\x01" + "auth=Bearer " +
                             std::string(password) + "\x01\x01";
  // The longest forms first: they may contain the others.
  ReplaceAll(&masked, EncodeBase64(bearer), mask);
  ReplaceAll(&masked, EncodeBase64(plain), mask);
  ReplaceAll(&masked, EncodeBase64(password), mask);
  ReplaceAll(&masked, password, mask);
  return masked;
}

std::string MaskSecrets(std::string_view text, std::string_view user_name,
                        std::vector<std::string> secrets) {
  std::sort(secrets.begin(), secrets.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::string masked(text);
  for (const std::string& secret : secrets) masked = MaskCredentials(masked, user_name, secret);
  return masked;
}

}  // namespace pinemail
