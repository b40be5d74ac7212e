// Masks the password and its SASL encodings in texts meant for people.
#include "mail/credential_mask.h"

#include "mail/message_writer.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

void ReplaceAll(std::string* text, std::string_view secret, std::string_view mask) {
  if (secret.empty()) return;
  for (std::size_t at = text->find(secret); at != std::string::npos;
       at = text->find(secret, at + mask.size())) {
    text->replace(at, secret.size(), mask);
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

}  // namespace pinemail
