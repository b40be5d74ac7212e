// base64 (RFC 4648), the one codec of the program: message bodies and
// encoded-words, SASL texts, sealed tokens and the PKCE challenge.
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// `bytes` in base64 (RFC 4648 4), "=" padded, without line breaks.
std::string EncodeBase64(std::string_view bytes);

// `bytes` in base64url (RFC 4648 5) without padding, as PKCE uses it.
std::string EncodeBase64Url(std::string_view bytes);

// base64 (RFC 4648 4, "=" padding required) to bytes; false for anything
// else: a length that is no multiple of 4, a character outside the
// alphabet, "=" anywhere but in the last two places.
bool DecodeBase64(std::string_view text, std::string* bytes);

}  // namespace pinemail
