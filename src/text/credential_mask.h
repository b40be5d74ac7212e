// Keeps the credentials out of every text a person can see: failure reasons
// in the log and on a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pinemail {

// The password as the log shows it: one "*" per character.
std::string PasswordMask(std::string_view password);

// `text` with every form in which the credentials can travel replaced by the
// password's mask: the password itself, the SASL PLAIN message in base64 (an
// empty authorization identity, `user_name`, the password) and the password in
// base64 as SASL LOGIN sends it, and the SASL XOAUTH2 message in base64 (the
// password being an access token). Each form is also found URL-encoded, as a
// server that echoes a request may send it back: any of its bytes written
// "%XX" (hex digits in either case), a blank written "+". A server may echo
// any of them. Mask before cutting a text short: a cut can leave a piece that
// no longer matches.
std::string MaskCredentials(std::string_view text, std::string_view user_name,
                            std::string_view password);

// MaskCredentials with each of `secrets` (passwords, tokens, client
// secrets) as the password, the longest first, so that a secret that holds
// another is still masked whole. Empty secrets are passed over.
std::string MaskSecrets(std::string_view text, std::string_view user_name,
                        std::vector<std::string> secrets);

}  // namespace pinemail
